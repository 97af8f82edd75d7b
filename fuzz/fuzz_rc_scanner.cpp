// Fuzzes the reading of ~/.procmailrc: the input is the rc file. RcScanner
// reads it from a HOME of this process's own, and scans it again from a
// stream fed in short reads with other home directories; the log path it finds
// must be the one the rules give: the value of the last line that starts with
// "LOGFILE=", among the lines the line scanner hands on (at most 4095 bytes,
// cut at a NUL), with its first "$HOME" replaced by the home directory.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/log_discovery.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr std::string_view home_variable = "$HOME";

std::string expected_logfile(std::string_view rc, std::string_view home) {
    std::string found;
    for (const std::string_view line : fuzz::scanned_lines(rc)) {
        if (line.starts_with(RcScanner::logfile_keyword)) {
            found = line.substr(RcScanner::logfile_keyword.size());
            if (const std::size_t at = found.find(home_variable); at != std::string::npos) {
                found.replace(at, home_variable.size(), home);
            }
        }
    }
    return found;
}

void expect_logfile(const RcScanner& rc, std::string_view data, const char* what) {
    const std::string want = expected_logfile(data, rc.home);
    if (rc.found_logfile != want) {
        fuzz::fail(what,
                   "home [" + rc.home + "]\ngot  [" + rc.found_logfile + "]\nwant [" + want + "]");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // RcScanner reads $HOME/.procmailrc: the scratch directory holds it.
    if (::setenv("HOME", fuzz::scratch_dir().c_str(), 1) != 0) {
        fuzz::fail("cannot set HOME");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    fuzz::write_file(fuzz::scratch_path(".procmailrc"), data);
    RcScanner rc;
    fuzz::check(rc.home == fuzz::scratch_dir(), "the home directory is HOME");
    expect_logfile(rc, data, "RcScanner finds the rc file's log path");

    // The same text scanned again, from a stream fed in short reads, with
    // another home: one holding "$HOME" (the replacement is not expanded
    // again), an empty one, or one from the input.
    fuzz::Choices choices(fuzz::hash_of(data));
    const std::string homes[] = {"/home/$HOME/x", "",
                                 std::string(data.substr(0, choices.below(64)))};
    rc.home = homes[choices.below(std::size(homes))];
    rc.found_logfile.clear();
    fuzz::PieceStreamBuf pieces(data, choices.next(), 1 + choices.below(4 * 4096));
    std::istream in(&pieces);
    rc.scan(in);
    expect_logfile(rc, data, "RcScanner::scan finds the log path in a stream");
    return 0;
}
