// Fuzzes the reading of ~/.procmailrc: the input is the rc file, read by
// RcScanner from a HOME of this process's own and evaluated as Procmail
// would. Nothing may crash or grow without bound: the log's path is empty or
// absolute and no longer than a directory the system can name plus one
// value. The evaluator run straight on the text gives what RcScanner gives
// through its line reading, when no line is cut or left out. And the log's
// path, written back as a single-quoted LOGFILE= line, reads back the same
// (when it fits in a value).

#include <limits.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/log_discovery.hpp"
#include "app/rc_evaluator.hpp"
#include "fuzz_support.hpp"

namespace {

// True when the line scanner hands on every byte of the text: no NUL, no
// line over the limit.
bool read_whole(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::size_t length = 0;
    for (const char c : text) {
        length = c == '\n' ? 0 : length + 1;
        if (length > LineScanner::line_limit) {
            return false;
        }
    }
    return true;
}

// `text` as one single-quoted Procmail word: a quote in it closes the quotes,
// stands escaped and opens them again.
std::string single_quoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string unknown_text(const std::optional<RcUnknown>& unknown) {
    return unknown ? unknown->message() : "(known)";
}

void expect_same(const RcScanner& scanner, const RcEvaluator& direct) {
    const std::optional<std::string> direct_dir = direct.mail_dir && !direct.mail_dir->unknown
                                                      ? std::optional(direct.mail_dir->text)
                                                      : std::nullopt;
    if (scanner.found_logfile != (direct.logfile.unknown ? "" : direct.logfile.text) ||
        unknown_text(scanner.unknown_logfile) != unknown_text(direct.logfile.unknown) ||
        scanner.mail_dir != direct_dir) {
        fuzz::fail("RcScanner and the evaluator on the text agree",
                   "scanner [" + scanner.found_logfile + "] " +
                       unknown_text(scanner.unknown_logfile) + "\ndirect  [" + direct.logfile.text +
                       "] " + unknown_text(direct.logfile.unknown));
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
    const std::string rc_path = fuzz::scratch_path(".procmailrc");
    fuzz::write_file(rc_path, data);
    RcScanner scanner(RcScanner::IfMissing::Ignore);
    fuzz::check(scanner.home == fuzz::scratch_dir(), "the home directory is HOME");
    const std::string& log = scanner.found_logfile;
    fuzz::check(log.empty() || log.starts_with('/'), "the log's path is absolute");
    fuzz::check(log.size() <= PATH_MAX + 1 + RcEvaluator::value_limit,
                "the log's path is no longer than a directory and a value");
    fuzz::check(!scanner.mail_dir || scanner.mail_dir->size() < PATH_MAX,
                "the folder directory is one the system can name");
    if (scanner.unknown_logfile) {
        const std::string message = scanner.unknown_logfile->message();
        fuzz::check(message.ends_with("; give the log as an argument"),
                    "an unknown log asks for the log as an argument");
    }

    if (read_whole(data)) {
        std::string text(data);
        if (!text.empty() && !text.ends_with('\n')) {
            text.push_back('\n');  // as the line reading ends the last line
        }
        const std::optional<RcEvaluator::Source> source = scanner.read(rc_path);
        fuzz::check(source.has_value(), "the rc file is read");
        RcEvaluator direct(scanner.home,
                           [&scanner](const std::string& path) { return scanner.read(path); });
        direct.evaluate(rc_path, RcEvaluator::Source{text, source->identity});
        expect_same(scanner, direct);
    }

    if (!log.empty() && !scanner.unknown_logfile && log.size() <= RcEvaluator::value_limit) {
        const std::string written = "LOGFILE=" + single_quoted(log) + "\n";
        if (read_whole(written)) {
            fuzz::write_file(rc_path, written);
            const RcScanner again(RcScanner::IfMissing::Ignore);
            if (again.found_logfile != log) {
                fuzz::fail("the log's path written back reads the same",
                           "was  [" + log + "]\ngot  [" + again.found_logfile + "]");
            }
        }
    }
    return 0;
}
