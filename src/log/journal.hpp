#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log/unique_fd.hpp"

// The files that make a change to the log safe: before the log is touched,
// the journal holds what the change removes (each run with the place it
// stood) and the redo file the new bytes (each with the place it goes), so
// that a change cut short by a crash or a failed write can be finished or
// rolled back from any point, and the last one undone. Both are sequences of
// checksummed records; a record cut short by a crash reads as the end.
struct JournalFiles {
    std::string dir;      // $XDG_STATE_HOME/lurko, made 0700 when missing
    std::string journal;  // what was removed and how far the change went
    std::string redo;     // the new bytes of the change in progress
    std::string lock;     // held while the log is changed
};

// The journal files of the log at `log_path`, named after its real path;
// nullopt when there is no place for them (neither XDG_STATE_HOME nor HOME
// set).
std::optional<JournalFiles> journal_files(const std::string& log_path);

enum class RecordType : std::uint32_t {
    // journal
    Begin = 1,   // the change and the log it was made to
    Removed,     // removed bytes and their offset
    Ready,       // everything needed is on disk: the log is about to be written
    Extended,    // an undo made the log as long as it will be
    Cut,         // the log is about to be cut
    Rollback,    // the change is being taken back
    Done,        // the change is complete
    RolledBack,  // the log holds its old content again
    Abandoned,   // another program cut or replaced the log meanwhile
    Undone,      // the change was undone (the journal of that undo)
    // redo
    Image = 32,  // new bytes, the offset they go to and the one they came from
};

struct Record {
    RecordType type{};
    std::string payload;
};

// Appends records to a file.
class RecordWriter {
public:
    RecordWriter() = default;
    explicit RecordWriter(UniqueFd fd) : fd_(std::move(fd)) {}

    // Appends one record; false with errno set when it could not be written.
    bool append(RecordType type, std::string_view payload);
    // Makes what was appended durable.
    bool sync() const;
    int fd() const { return fd_.get(); }
    explicit operator bool() const { return static_cast<bool>(fd_); }

private:
    UniqueFd fd_;
};

// Reads the records of a file in order, up to the first one that is
// incomplete or damaged.
class RecordReader {
public:
    explicit RecordReader(int fd) : fd_(fd) {}
    // The next record; one of type `skip` comes without its payload, unread
    // and unchecked (the removed bytes, when only the marks matter).
    std::optional<Record> next(RecordType skip = RecordType{});

private:
    int fd_;
    off_t offset_ = 0;
};

// Numbers in records: eight bytes, least significant first, on every machine.
void put_u64(std::string& out, std::uint64_t value);
std::uint64_t get_u64(std::string_view in, std::size_t at);

// A 64-bit hash of `bytes` (FNV-1a over words), going on from `hash`: the
// same bytes cut into the same pieces give the same hash.
std::uint64_t hash_bytes(std::string_view bytes, std::uint64_t hash = 14695981039346656037ULL);

// For tests of the paths a change takes when the process dies or a write
// fails: with LURKO_FAULT=crash:N the process kills itself at the Nth step
// of a change (a write or sync of the journal, the redo file or the log),
// with LURKO_FAULT=fail:N that step fails with EIO, and with
// LURKO_FAULT=cut:N another program is to cut the log to nothing there. Read
// afresh for each change.
class FaultPoint {
public:
    FaultPoint();
    // Counts a step; false (errno EIO) when it is to fail.
    bool step();
    // Whether the step just counted is where the log is cut.
    bool cut_now() const { return steps_ == cut_at_; }

private:
    long crash_at_ = 0;
    long fail_at_ = 0;
    long cut_at_ = 0;
    long steps_ = 0;
};
