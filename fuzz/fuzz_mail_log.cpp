// Fuzzes the reading of the Procmail log, now and then with a line stretched
// past the line limit: the line scanner fed in short reads, the folder list
// that MailLogScanner builds from a log that grows in pieces (held in memory)
// and is now and then edited at its head, and remove_folder.
// Every result is held against the invariants of the list and against a plain
// reading of the log straight from the rules (fuzz_support.cpp).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "log/line_scanner.hpp"
#include "log/mail_log_scanner.hpp"

namespace {

using fuzz::check;

// The log's keywords, plus one that is a prefix of another so that a line can
// match two keywords.
constexpr std::array<std::string_view, 4> scanner_keywords = {MailLogScanner::from_keyword,
                                                              MailLogScanner::subject_keyword,
                                                              MailLogScanner::folder_keyword, "F"};

void record_call(std::string& calls, std::string_view line, int index) {
    calls += std::to_string(index);
    calls += ' ';
    calls += std::to_string(line.size());
    calls += ':';
    calls.append(line);
    calls += '\n';
}

// Writes down every on_match call it gets.
class RecordingScanner : public LineScanner {
public:
    RecordingScanner() {
        for (const std::string_view keyword : scanner_keywords) {
            keywords.emplace_back(keyword);
        }
    }

    std::string calls;

protected:
    void on_match(std::string_view line, int index) override { record_call(calls, line, index); }
};

std::string expected_calls(std::string_view data) {
    std::string calls;
    for (const std::string_view line : fuzz::scanned_lines(data)) {
        for (std::size_t index = 0; index < scanner_keywords.size(); ++index) {
            if (!line.empty() && line.starts_with(scanner_keywords[index])) {
                record_call(calls, line, static_cast<int>(index));
            }
        }
    }
    return calls;
}

void check_scan(RecordingScanner& scanner, std::istream& in, std::string_view data,
                const std::string& want, const char* what) {
    const ScanResult result = scanner.scan(in);
    if (scanner.calls != want) {
        fuzz::fail(what, "got:\n" + scanner.calls + "want:\n" + want);
    }
    check(result.bytes_read == data.size(), "the scan reads every byte");
    const std::size_t last_newline = data.rfind('\n');
    const std::size_t complete = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    check(result.complete_bytes == complete, "complete_bytes ends at the last newline");
}

// One scan, fed in short reads (pieces of up to 16 bytes, or up to three
// times the line limit), must report the lines the rules give.
void check_line_scanner(std::string_view data, fuzz::Choices& choices) {
    const std::string want = expected_calls(data);
    const std::size_t max_piece = choices.below(2) == 0
                                      ? 1 + choices.below(16)
                                      : 1 + choices.below(3 * LineScanner::line_limit);
    fuzz::PieceStreamBuf pieces(data, choices.next(), max_piece);
    std::istream in(&pieces);
    RecordingScanner scanner;
    check_scan(scanner, in, data, want, "the line scanner reports the lines of its input");

    RecordingScanner unread;
    std::istringstream failed{std::string(data)};
    failed.setstate(std::ios::failbit);
    unread.scan(failed);
    check(unread.calls.empty(), "a failed stream is not read");
}

// The list, total and last folder that a scanner which has read `text` shows.
void expect_read(const MailLogScanner& log, std::string_view text, const char* what) {
    fuzz::check_folder_list(log);
    const fuzz::LogModel model = fuzz::model_of(text);
    fuzz::expect_same(fuzz::folders_of(log), model.folders, what);
    check(log.read_total() == log.total(), "nothing removed: read_total() equals total()");
    // last_folder keeps its value over a read without Folder lines.
    if (!model.folders.empty()) {
        check(log.last_folder() == model.last_folder, "last_folder names the last Folder line");
    }
}

// The log as read in the end: its bytes, with the edits, and its status.
struct ReadLog {
    std::string bytes;
    LogStatus status{1, 1, 0, {}};
};

// A scanner that keeps counts only must show the names, counts, totals and
// last folder of one that keeps mails, and list no mail.
void expect_counted(const MailLogScanner& counted, const MailLogScanner& log) {
    check(fuzz::counts_of(counted) == fuzz::counts_of(log) && counted.total() == log.total() &&
              counted.read_total() == log.read_total() &&
              counted.last_folder() == log.last_folder(),
          "a counting scanner shows the counts of one that keeps mails");
    check(std::all_of(counted.folders().begin(), counted.folders().end(),
                      [](const Folder* folder) { return folder->mails.empty(); }),
          "a counting scanner lists no mail");
}

// Reads the log into `log` as a stream cut into pieces: after each piece the
// bytes so far are handed to update() as a file in memory, and a read must
// show what a full read of the bytes so far shows, and in the end what the
// rules say; a scanner that counts only, fed the same, the same counts. Now
// and then a byte among the log's first ones is changed before the next
// piece, an edit in place that the reader must notice and read whole.
ReadLog read_log(MailLogScanner& log, std::string_view data, fuzz::Choices& choices) {
    MailLogScanner counted(MailLogScanner::Keep::Counts);
    ReadLog read;
    std::vector<std::size_t> cuts(1 + choices.below(8));
    for (std::size_t& cut : cuts) {
        cut = choices.below(data.size() + 1);
    }
    cuts.push_back(data.size());
    std::sort(cuts.begin(), cuts.end());
    // A full read at one step of the input's choosing: one at every step
    // would cost as much as the rest of the target together.
    const std::size_t compared = choices.below(cuts.size());
    for (const std::size_t cut : cuts) {
        if (!read.bytes.empty() && choices.below(4) == 0) {
            read.bytes[choices.below(std::min<std::size_t>(64, read.bytes.size()))] ^= 0x20;
        }
        read.bytes.append(data.substr(read.bytes.size(), cut - read.bytes.size()));
        ++read.status.modified.tv_nsec;  // every write moves the modification time
        const LogBytes bytes = LogBytes::memory(read.bytes, read.status);
        log.update(bytes);
        counted.update(bytes);
        expect_counted(counted, log);
        if (&cut == &cuts[compared]) {
            MailLogScanner whole;
            whole.update(bytes);
            check(fuzz::same_list(log, whole),
                  "an update after a piece equals a full read of the bytes so far");
        }
    }
    log.update(LogBytes::memory(read.bytes, read.status));
    expect_read(log, read.bytes, "an update without a change keeps the list");
    return read;
}

void expect_unchanged(const MailLogScanner& log, const std::vector<const Folder*>& before,
                      std::uint64_t total, const char* what) {
    check(log.folders() == before, what);
    check(log.total() == total, what);
}

void check_removal(MailLogScanner& log, const ReadLog& read, fuzz::Choices& choices) {
    const std::uint64_t read_total = log.read_total();
    const std::string last_folder = log.last_folder();

    // A name that is in no folder: a present name with a byte more or less,
    // or one that no Folder line can give (names are cut before "/new/").
    std::vector<const Folder*> before = log.folders();
    const std::uint64_t total_before = log.total();
    const std::string seed = before.empty() ? std::string() : before.front()->name;
    for (const std::string& absent :
         {seed + "x", seed.substr(0, seed.empty() ? 0 : seed.size() - 1), seed + "/new/", seed}) {
        const bool present = std::any_of(before.begin(), before.end(), [&](const Folder* folder) {
            return folder->name == absent;
        });
        if (!present) {
            log.remove_folder(absent);
            expect_unchanged(log, before, total_before, "removing an absent name changes nothing");
        }
    }

    // Every folder removed, in an order of the input's choosing. The whole
    // list is checked after the first few removals only: checking it after
    // each would make a log of many folders cost their number squared.
    constexpr int fully_checked = 3;
    for (int removal = 0; !before.empty(); ++removal) {
        const std::size_t index = choices.below(before.size());
        const Folder* gone = before[index];
        const std::uint64_t total = log.total();
        log.remove_folder(gone->name);
        std::vector<const Folder*> expected = before;
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(index));
        check(log.folders() == expected, "remove_folder drops that folder and keeps the order");
        check(log.total() == total - gone->count, "remove_folder lowers total");
        check(log.read_total() == read_total, "remove_folder keeps read_total");
        check(log.last_folder() == last_folder, "remove_folder keeps last_folder");
        if (removal < fully_checked) {
            fuzz::check_folder_list(log);
        }
        const std::uint64_t total_after = log.total();
        log.remove_folder(gone->name);
        expect_unchanged(log, expected, total_after, "removing a name twice changes nothing");
        before = std::move(expected);
    }
    check(log.total() == 0, "with every folder removed total() is 0");

    // The log did not change, so an update brings back what was removed.
    log.update(LogBytes::memory(read.bytes, read.status));
    check(log.total() == read_total, "an update brings removed folders back");
    fuzz::check_folder_list(log);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view data(reinterpret_cast<const char*>(bytes), size);
    fuzz::Choices choices(fuzz::hash_of(data));

    // Now and then a line is stretched past the line limit (which the input
    // alone reaches only at its longest) by a run of one byte put in
    // anywhere: a long From, Subject or Folder line, a long line of noise.
    std::string stretched;
    if (choices.below(4) == 0) {
        constexpr char fillers[] = {'x', ' ', '\t', '\0'};
        const std::size_t at = choices.below(size + 1);
        const std::size_t length = LineScanner::line_limit + 1 - choices.below(16) +
                                   choices.below(2 * LineScanner::line_limit);
        stretched.append(data.substr(0, at))
            .append(length, fillers[choices.below(sizeof fillers)])
            .append(data.substr(at));
        data = stretched;
    }

    check_line_scanner(data, choices);

    MailLogScanner log;
    const ReadLog read = read_log(log, data, choices);
    check_removal(log, read, choices);
    return 0;
}
