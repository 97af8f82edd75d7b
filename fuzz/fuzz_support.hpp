#pragma once

// Shared by the fuzz targets: failing loudly, a private scratch directory,
// files, a stream that hands out its bytes in small pieces, and a plain
// reference reading of the Procmail log to hold the real scanner against.

#include <cstdint>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class MailLogScanner;

namespace fuzz {

// Prints what broke and aborts, so that libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, const std::string& detail = {});

// Aborts through fail() when `ok` is false.
inline void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

// A directory of this process alone, made on first use and removed at exit.
const std::string& scratch_dir();

// The path of `name` inside scratch_dir().
std::string scratch_path(std::string_view name);

// Replaces the file's contents with `bytes` (same inode when it exists).
void write_file(const std::string& path, std::string_view bytes);
// Appends `bytes` to the file.
void append_file(const std::string& path, std::string_view bytes);
// The whole file.
std::string read_file(const std::string& path);

// A stable hash of the input, for choices (cut points, names) that must be the
// same each time the input is replayed.
std::uint64_t hash_of(std::string_view bytes);

// A small deterministic generator for those choices.
class Choices {
public:
    explicit Choices(std::uint64_t seed) : state_(seed | 1) {}
    std::uint64_t next();
    // A number in [0, bound); 0 when bound is 0.
    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : next() % bound; }

private:
    std::uint64_t state_;
};

// A read-only stream buffer over `bytes` whose reads return at most a few
// bytes at a time, like a pipe: a scanner reading it meets the end of its
// buffer inside lines and keywords.
class PieceStreamBuf : public std::streambuf {
public:
    PieceStreamBuf(std::string_view bytes, std::uint64_t seed, std::size_t max_piece);

protected:
    std::streamsize xsgetn(char* buffer, std::streamsize count) override;
    int_type underflow() override;

private:
    std::size_t piece();

    std::string_view bytes_;
    std::size_t at_ = 0;
    Choices choices_;
    std::size_t max_piece_;
};

// The lines a line scanner hands on, in order: split at newlines, a last line
// without one included, each line cut at the line limit and at its first NUL.
std::vector<std::string_view> scanned_lines(std::string_view text);

// One mail as the list shows it.
struct ModelMail {
    std::string from;
    std::string subject;
    bool operator==(const ModelMail&) const = default;
};

// One folder as the list shows it.
struct ModelFolder {
    std::string name;
    std::vector<ModelMail> mails;
    bool operator==(const ModelFolder&) const = default;
};

// The folder list in display order, and the folder of the last Folder line.
struct LogModel {
    std::vector<ModelFolder> folders;
    std::string last_folder;
    // The folder named by a Folder line that ends the text without its
    // newline (it may still be being written), if there is one.
    std::optional<std::string> unended_folder;
};

// The log read the simple way, straight from the rules: what a fresh
// MailLogScanner must show after reading `log`.
LogModel model_of(std::string_view log);

// Puts folders in display order: most mails first, then the greater name
// (unsigned bytes; a name before any of its prefixes).
void sort_for_display(std::vector<ModelFolder>& folders);

// What the scanner shows, in the model's terms.
std::vector<ModelFolder> folders_of(const MailLogScanner& log);

// The names and mail counts of the list, in display order.
std::vector<std::pair<std::string, std::uint64_t>> counts_of(const MailLogScanner& log);

// Whether two scanners show the same list (names, counts, mails, order),
// total and read total; cheap, for comparing after every step.
bool same_list(const MailLogScanner& a, const MailLogScanner& b);

// Aborts with both lists printed when they differ.
void expect_same(const std::vector<ModelFolder>& got, const std::vector<ModelFolder>& want,
                 const char* what);

// The invariants of a folder list that is not being read: names unique and
// free of "/new/", tabs, newlines and NULs; senders free of blanks and tabs;
// every folder has a mail, and lists them all or (counted only) none;
// display order; total() equals the sum of the counts, and is at most
// read_total().
void check_folder_list(const MailLogScanner& log);

}  // namespace fuzz
