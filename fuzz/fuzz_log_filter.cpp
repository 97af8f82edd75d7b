// Fuzzes the removal of a folder's entries from the log: filter_log on the
// bytes, the filter fed them in pieces, and the rewrite of a file streamed
// through in small blocks, with a write failing at a chosen step (rolled
// back from the journal) and undone (the journal replayed backwards). The filtered log must read
// back as the old list without that folder (every other mail kept, in order), never grow, stay the
// same byte for byte when no entry names the folder, and be left as it is by a second filtering.
// Folders are then filtered away one after the other.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "log/log_maintenance.hpp"

namespace {

using fuzz::check;
using fuzz::ModelFolder;

// At most this many folders are filtered away one after the other.
constexpr std::size_t max_filtered = 3;

// The log file the rewrites work on, and the journals beside it, in memory
// where the system has a place for that: the journal syncs cost nothing there.
struct Scratch {
    std::string dir;
    std::string log;
    Scratch() {
        std::string pattern = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                              "/fuzz-log-filter-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr, "a scratch directory is made");
        dir = pattern;
        log = dir + "/procmail.log";
        ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

const Scratch& scratch() {
    static const Scratch files;
    return files;
}

const ModelFolder* find_folder(const std::vector<ModelFolder>& folders, std::string_view name) {
    const auto found =
        std::find_if(folders.begin(), folders.end(),
                     [name](const ModelFolder& folder) { return folder.name == name; });
    return found == folders.end() ? nullptr : &*found;
}

// What a log that reads as `folders` reads as once the entries of `name` are
// filtered out. An unended last Folder line stays, and with it its mail: the
// folder's last one.
std::vector<ModelFolder> expected_without(const std::vector<ModelFolder>& folders,
                                          std::string_view name,
                                          const std::optional<std::string>& unended) {
    std::vector<ModelFolder> kept;
    for (const ModelFolder& folder : folders) {
        if (folder.name != name) {
            kept.push_back(folder);
        } else if (unended && *unended == name) {
            kept.push_back(ModelFolder{folder.name, {folder.mails.back()}});
        }
    }
    fuzz::sort_for_display(kept);
    return kept;
}

// Whether `got` is `want` but that a mail may have gained a sender or a
// subject it lacked: the From and Subject lines of a removed entry that held
// several of them stay, and go to the next mail if that has none of its own.
bool gained_only(const std::vector<ModelFolder>& got, const std::vector<ModelFolder>& want) {
    if (got.size() != want.size()) {
        return false;
    }
    for (std::size_t f = 0; f < got.size(); ++f) {
        if (got[f].name != want[f].name || got[f].mails.size() != want[f].mails.size()) {
            return false;
        }
        for (std::size_t m = 0; m < got[f].mails.size(); ++m) {
            const fuzz::ModelMail& a = got[f].mails[m];
            const fuzz::ModelMail& b = want[f].mails[m];
            if ((a.from != b.from && !b.from.empty()) ||
                (a.subject != b.subject && !b.subject.empty())) {
                return false;
            }
        }
    }
    return true;
}

// How many complete Folder lines name the folder.
std::size_t ended_entries(const std::vector<ModelFolder>& folders, std::string_view name,
                          const std::optional<std::string>& unended) {
    const ModelFolder* folder = find_folder(folders, name);
    if (folder == nullptr) {
        return 0;
    }
    return folder->mails.size() - (unended && *unended == name ? 1 : 0);
}

// True when `kept` is `log` with some whole lines left out.
bool drops_whole_lines(std::string_view log, std::string_view kept) {
    std::size_t at = 0;
    while (!log.empty()) {
        const std::size_t newline = log.find('\n');
        const std::size_t size = newline == std::string_view::npos ? log.size() : newline + 1;
        const std::string_view line = log.substr(0, size);
        if (kept.substr(at, size) == line) {
            at += size;
        }
        log.remove_prefix(size);
    }
    return at == kept.size();
}

// Filters `name` out of `log`, which reads as `model`; returns the result.
std::string check_filter(std::string_view log, const fuzz::LogModel& model, std::string_view name) {
    const std::string kept = filter_log(log, name);
    check(kept.size() <= log.size(), "filtering never makes the log longer");
    check(drops_whole_lines(log, kept), "filtering drops whole lines and keeps the rest in order");
    const bool named = ended_entries(model.folders, name, model.unended_folder) > 0;
    check(named == (kept != log), "the log changes exactly when an entry names the folder");
    check(filter_log(kept, name) == kept, "filtering twice equals filtering once");

    const fuzz::LogModel read_back = fuzz::model_of(kept);
    check(
        gained_only(read_back.folders, expected_without(model.folders, name, model.unended_folder)),
        "the filtered log reads as the old list without the folder");
    check(read_back.unended_folder == model.unended_folder, "an unended last line stays");
    return kept;
}

// The filter fed `log` in pieces tells runs in order that make what
// filter_log gives (which check_filter holds against the rules); and the
// rewrite of a file holding `log`, streamed in blocks of a few bytes, leaves
// the same.
void check_streaming(std::string_view log, const fuzz::LogModel& model, std::string_view name,
                     fuzz::Choices& choices) {
    const std::string whole = filter_log(log, name);
    LogFilter filter(name);
    std::vector<LogFilter::Run> keep;
    const std::size_t max_piece = 1 + choices.below(choices.below(2) == 0 ? 16 : 5000);
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t piece = std::min(log.size() - at, 1 + choices.below(max_piece));
        filter.feed(log.substr(at, piece), keep);
        at += piece;
    }
    filter.finish(keep);
    std::string kept;
    std::uint64_t last_end = 0;
    for (const LogFilter::Run& run : keep) {
        check(run.begin >= last_end && run.begin < run.end && run.end <= log.size(),
              "runs are in order, not empty and inside the log");
        last_end = run.end;
        kept.append(log.substr(run.begin, run.end - run.begin));
    }
    check(kept == whole, "the filter fed in pieces keeps what filter_log keeps");

    // Blocks of a few bytes now and then: each costs system calls.
    const std::size_t block =
        choices.below(8) == 0 ? 1 + choices.below(16) : 17 + choices.below(4096);
    const std::string& path = scratch().log;
    const auto contents = [&path] {
        std::string text(std::filesystem::file_size(path), '\0');
        std::ifstream(path, std::ios::binary)
            .read(text.data(), static_cast<std::streamsize>(text.size()));
        return text;
    };
    const auto write_log = [&path, log] {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(log.data(), static_cast<std::streamsize>(log.size()));
    };
    // A write that fails at a step of the input's choosing: the change is
    // taken back from the journal, and the log is as it was.
    write_log();
    const std::string failing = "fail:" + std::to_string(1 + choices.below(40));
    ::setenv("LURKO_FAULT", failing.c_str(), 1);
    const MaintenanceResult failed = rewrite_log(path, name, block);
    ::unsetenv("LURKO_FAULT");
    static_cast<void>(recover_log(path));  // what the next start does
    check(contents() == (failed.outcome == RewriteOutcome::Failed ? std::string(log) : whole),
          "a failed rewrite leaves the log as it was");

    write_log();
    const MaintenanceResult result = rewrite_log(path, name, block);
    check(contents() == whole, "the rewrite streamed in blocks leaves what filter_log gives");
    const bool named = ended_entries(model.folders, name, model.unended_folder) > 0;
    check(result.outcome == (named ? RewriteOutcome::Rewritten : RewriteOutcome::Unchanged),
          "the rewrite says whether it wrote");
    if (named) {
        // The journal replayed backwards: the removed runs merged with the
        // kept bytes give the old log back, byte for byte.
        check(undo_log(path).outcome == RewriteOutcome::Rewritten && contents() == log,
              "an undo brings every removed byte back in its place");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    fuzz::Choices choices(fuzz::hash_of(data));
    const fuzz::LogModel model = fuzz::model_of(data);

    // Names that no entry has: near a present one, and one that no Folder
    // line can give (names are cut before "/new/").
    const std::string seed = model.folders.empty() ? std::string() : model.folders.front().name;
    for (const std::string& absent : {seed + "x", seed + "/new/", std::string(1, '\0')}) {
        if (find_folder(model.folders, absent) == nullptr) {
            check(filter_log(data, absent) == data, "a folder not in the log leaves every byte");
        }
    }
    if (model.folders.empty()) {
        check_streaming(data, model, seed, choices);
        return 0;
    }

    const std::string first = model.folders[choices.below(model.folders.size())].name;
    check_streaming(data, model, first, choices);

    // Folders filtered away one after the other, in an order of the input's
    // choosing; each step reads as the step before without one more folder.
    std::vector<std::string> names;
    for (const ModelFolder& folder : model.folders) {
        names.push_back(folder.name);
    }
    std::string log(data);
    fuzz::LogModel current = model;
    for (std::size_t step = 0; step < max_filtered && !names.empty(); ++step) {
        const std::size_t index =
            step == 0 ? static_cast<std::size_t>(std::find(names.begin(), names.end(), first) -
                                                 names.begin())
                      : choices.below(names.size());
        const std::string name = names[index];
        names.erase(names.begin() + static_cast<std::ptrdiff_t>(index));
        log = check_filter(log, current, name);
        current = fuzz::model_of(log);
    }
    return 0;
}
