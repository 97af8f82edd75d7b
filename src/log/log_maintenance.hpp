#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Splits a log into entries as it streams past and tells which bytes stay
// when the entries of one folder go. An entry is the run of lines after the
// previous "  Folder: " line (or the start) up to and including its own
// "  Folder: " line, and it goes exactly when that line names the folder as
// the mail log scanner reads it (the same line rules: a line over the line
// limit is judged by its first line_limit bytes, a line ends at a NUL). A last line without its
// newline ends no entry: it may still be being written.
//
// An entry that holds more than one From line or more than one Subject line
// was written by deliveries that ended at the same moment, whose lines
// Procmail interleaved; which of those lines is whose cannot be told. So of
// such an entry, its From and Subject lines all stay, and only its other
// lines go: no other delivery loses a line.
class LogFilter {
public:
    // A run of bytes of the log that stays, by offsets in the log.
    struct Run {
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        bool operator==(const Run&) const = default;
    };

    explicit LogFilter(std::string_view folder_name) : folder_(folder_name) {}

    // Takes the next bytes of the log, which begin at offset fed(), and
    // appends to `keep`, in order, the runs now known to stay.
    void feed(std::string_view bytes, std::vector<Run>& keep);

    // At the end of the log: what is still undecided stays.
    void finish(std::vector<Run>& keep);

    // Bytes fed so far.
    std::uint64_t fed() const { return fed_; }
    // Whether an entry of the folder was found.
    bool dropped_any() const { return dropped_; }

private:
    // At most this many From and Subject lines of one entry are kept track
    // of; in a log that has more between two Folder lines, the rest go with
    // the entry.
    static constexpr std::size_t max_tracked = 4096;

    void end_line(std::string_view line, std::uint64_t line_begin, std::uint64_t line_end,
                  std::vector<Run>& keep);
    void hold(std::string_view part);

    std::string folder_;
    std::uint64_t fed_ = 0;
    std::uint64_t kept_to_ = 0;      // every byte before this is decided and told
    std::uint64_t entry_start_ = 0;  // the first byte of the entry in progress
    std::uint64_t line_begin_ = 0;   // and of the line in progress
    std::string held_;               // the start of a line that goes on in the next bytes
    bool too_long_ = false;          // that line is over the line limit: held_ is its start
    bool dropped_ = false;
    std::vector<Run> tracked_;  // the From and Subject lines of the entry in progress
    int froms_ = 0;             // how many From lines it holds
    int subjects_ = 0;          // and Subject lines
};

// The log without the entries of the folder `folder_name` (see LogFilter).
std::string filter_log(std::string_view log, std::string_view folder_name);

// What a change to the log did.
enum class RewriteOutcome {
    Rewritten,  // the log was changed
    Unchanged,  // nothing to change: the log was not written at all
    Failed,     // the log could not be changed; it holds what it held
};

struct MaintenanceResult {
    RewriteOutcome outcome = RewriteOutcome::Unchanged;
    // Failed: why, for the user ("No space left on device"). Unchanged, of
    // an undo: what there was not to do.
    std::string reason;
};

// The changes below are one at a time per log, between all Lurkos (a lock
// file), and journalled: before the log is touched, what is removed and the
// new bytes are on disk under $XDG_STATE_HOME/lurko, so that a change cut
// short by a crash is finished by the next start (recover_log), one that
// fails is rolled back, and the last one can be undone. The log keeps its
// inode, owner, permissions and links.
//
// Writers are held off with a Linux write lease where one can be had: while
// it is held every other open of the file waits, so no delivery can come in
// between. Where none can be had (the log belongs to another user, a file
// system without leases, a program that keeps the log open), what was
// appended meanwhile is moved after the result, pass after pass, and the log
// is cut only when nothing came since the last look; when deliveries keep
// coming for seconds, the change is rolled back instead. Another program
// that cuts or replaces the log meanwhile wins: nothing more is written.

// Removes the entries of `folder_name` (see LogFilter), streamed through in
// blocks of `block_size` bytes: the memory it takes does not grow with the
// log.
MaintenanceResult rewrite_log(const std::string& path, std::string_view folder_name,
                              std::size_t block_size = std::size_t{1} << 20);

// Empties the log, creating it when it is missing.
MaintenanceResult truncate_log(const std::string& path);

// Undoes the last removal or emptying of the log: the removed entries back
// in their places and what was delivered since after them. Unchanged, with
// the reason, when there is none to undo or the log has changed since.
MaintenanceResult undo_log(const std::string& path);

// Finishes (or rolls back) a change to the log that a crash or a failed write
// left unfinished; what was done, for the user, when there was one.
std::optional<std::string> recover_log(const std::string& path);
