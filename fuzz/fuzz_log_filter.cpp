// Fuzzes the removal of a folder's entries from the log: filter_log on the
// bytes, the filter fed them in pieces, and the rewrite of a file in memory
// (memfd) streamed through in small blocks. The filtered log must read back as
// the old list without that folder (every other mail kept, in order), never
// grow, stay the same byte for byte when no entry names the folder, and be
// left as it is by a second filtering. Folders are then filtered away one
// after the other.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

    static const int file = ::memfd_create("procmail.log", MFD_CLOEXEC);
    check(file >= 0 && ::ftruncate(file, 0) == 0 &&
              ::pwrite(file, log.data(), log.size(), 0) == static_cast<ssize_t>(log.size()),
          "the log is written to a file in memory");
    // Blocks of a few bytes now and then: each costs system calls.
    const std::size_t block =
        choices.below(8) == 0 ? 1 + choices.below(16) : 17 + choices.below(4096);
    const RewriteOutcome outcome = rewrite_open_log(file, log.size(), name, block);
    std::string rewritten(log.size() + 1, '\0');
    const ssize_t got = ::pread(file, rewritten.data(), rewritten.size(), 0);
    rewritten.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    check(rewritten == whole, "the rewrite streamed in blocks leaves what filter_log gives");
    const bool named = ended_entries(model.folders, name, model.unended_folder) > 0;
    check(outcome == (named ? RewriteOutcome::Rewritten : RewriteOutcome::Unchanged),
          "the rewrite says whether it wrote");
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
