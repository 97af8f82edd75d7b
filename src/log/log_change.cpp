// Changes to the log (a folder's entries removed, the log emptied, the last
// of those undone), made safe by the journal: see log_maintenance.hpp.
//
// A removal, from start to end:
//   1. take the lock, finish what an earlier change left, open the log and
//      take a write lease on it (see open_leased);
//   2. stream through the log: each removed run goes to the journal with its
//      offset, each kept run after the first removed one to the redo file
//      with the offset it goes to; nothing is written to the log yet, so a
//      failure here (a full disk) refuses the change with the log untouched;
//   3. mark the journal ready (synced) and write the redo records into the
//      log, each where it goes: the destination never passes the source, so
//      what is still to be moved is never written over;
//   4. move what was appended meanwhile after the result, through the redo
//      file too, until a look finds nothing new (at once, under a lease);
//   5. note the cut in the journal, look once more and cut the log; mark the
//      journal done. The journal stays: it is what an undo needs.
// From step 3 on the log is only written with everything needed to finish
// the change (the redo file) or to take it back (the journal and the redo
// file) on disk, so a crash leaves nothing that the next start cannot mend.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "log/fd_io.hpp"
#include "log/journal.hpp"
#include "log/log_maintenance.hpp"
#include "log/unique_fd.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// How long to try for the lease while deliveries hold the log open; then
// the change goes ahead without it. Short enough that the screen does not
// seem to freeze.
constexpr auto lease_patience = std::chrono::milliseconds(300);

// An undo cannot go ahead without the lease, so it tries longer: between
// deliveries that come one after the other, the moments without one are
// short.
constexpr auto undo_lease_patience = std::chrono::seconds(1);

// Without a lease: how long deliveries may keep coming before the change is
// rolled back rather than cut.
constexpr auto growth_bound = std::chrono::seconds(5);

// How long to wait for another Lurko's change to the same log.
constexpr auto lock_patience = std::chrono::seconds(30);

// How many bytes after the cut point a cut note hashes: enough to tell the
// old bytes there from deliveries that came after the cut.
constexpr std::uint64_t cut_sample = 256;

enum class Kind : std::uint64_t { Remove = 1, Empty = 2, Undo = 3 };

// Ignores a signal for as long as it lives: the kernel tells the holder of a
// lease with SIGIO that someone waits for the file, and by default SIGIO
// would end the program.
class IgnoredSignal {
public:
    explicit IgnoredSignal(int number) : number_(number) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(number_, &ignore, &saved_);
    }
    ~IgnoredSignal() { ::sigaction(number_, &saved_, nullptr); }
    IgnoredSignal(const IgnoredSignal&) = delete;
    IgnoredSignal& operator=(const IgnoredSignal&) = delete;

private:
    int number_;
    struct sigaction saved_ {};
};

// Holds back the signals that ask the program to end (an interrupt, a hangup,
// a kill) for as long as it lives, so that a change is not left for the next
// start to finish when it need not be; they are handled as usual once it is
// done. The signals of a crash cannot wait and are not held.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigfillset(&held);
        for (const int crash : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
            sigdelset(&held, crash);
        }
        ::sigprocmask(SIG_BLOCK, &held, &saved_);
    }
    ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t saved_{};
};

// The log open for a change: a regular file, with a write lease when one
// could be had.
struct OpenLog {
    UniqueFd fd;
    bool leased = false;
    struct stat status {};
};

// Opens the log and takes a write lease on it. The lease is granted only
// while no other process has the file open, so the attempt is repeated for a
// while: Procmail holds the log open for the whole of a delivery, and when
// several deliver one after the other the moments when none holds it are
// short, so the attempts come close together. Between attempts the file is
// closed and the pause is random, so that two Lurkos trying at once cannot
// keep each other from it. A log that is not a regular file gives an empty
// descriptor, errno set.
OpenLog open_leased(const std::string& path, int flags, Clock::duration patience = lease_patience) {
    std::minstd_rand jitter(static_cast<unsigned>(::getpid()));
    const auto deadline = Clock::now() + patience;
    for (;;) {
        OpenLog log{open_log(path, flags, 0666)};
        if (!log.fd || ::fstat(log.fd.get(), &log.status) != 0) {
            return {};
        }
        if (!S_ISREG(log.status.st_mode)) {
            errno = S_ISDIR(log.status.st_mode) ? EISDIR : EINVAL;
            return {};
        }
        if (::fcntl(log.fd.get(), F_SETLEASE, F_WRLCK) == 0) {
            log.leased = true;
            return log;
        }
        if (errno != EAGAIN || Clock::now() >= deadline) {
            return log;  // no lease to be had here: on without it
        }
        log.fd.reset();
        std::this_thread::sleep_for(std::chrono::microseconds(100 + jitter() % 400));
    }
}

std::string real_path(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string real(resolved);
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own
    return real;
}

// A hash of the log's bytes [begin, end), read in pieces of one size
// whatever the change's block.
std::optional<std::uint64_t> hash_range(int fd, std::uint64_t begin, std::uint64_t end) {
    std::string buffer(std::size_t{1} << 20, '\0');
    std::uint64_t hash = hash_bytes({});
    while (begin < end) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - begin));
        if (read_fully_at(fd, buffer.data(), want, static_cast<off_t>(begin)) !=
            static_cast<ssize_t>(want)) {
            return std::nullopt;
        }
        hash = hash_bytes(std::string_view(buffer.data(), want), hash);
        begin += want;
    }
    return hash;
}

// What the journal tells of the last change.
struct JournalState {
    bool begun = false;
    Kind kind{};
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string path;  // the log's real path
    bool ready = false;
    std::uint64_t first = 0;   // the first byte the change writes
    std::uint64_t dest = 0;    // where the new bytes staged at the start end
    std::uint64_t source = 0;  // where the old bytes staged at the start end
    bool extended = false;
    bool cut = false;
    std::uint64_t cut_size = 0;    // where the log was to be cut
    std::uint64_t cut_source = 0;  // its length then
    std::uint64_t cut_hash = 0;    // of the bytes after the cut point then
    bool rollback = false;
    RecordType end{};  // Done, RolledBack, Abandoned or Undone; nothing while unfinished
    std::uint64_t done_size = 0;
    std::uint64_t done_hash = 0;  // of the log's bytes [first, done_size) when done
};

JournalState read_state(int fd) {
    JournalState state;
    RecordReader reader(fd);
    while (std::optional<Record> record = reader.next(RecordType::Removed)) {
        const std::string& p = record->payload;
        const auto number = [&p](std::size_t index) {
            return p.size() >= 8 * (index + 1) ? get_u64(p, 8 * index) : 0;
        };
        switch (record->type) {
            case RecordType::Begin:
                state.begun = p.size() >= 32;
                state.kind = static_cast<Kind>(number(0));
                state.device = number(1);
                state.inode = number(2);
                state.path = p.size() > 32 ? p.substr(32) : std::string();
                break;
            case RecordType::Ready:
                state.ready = true;
                state.first = number(0);
                state.dest = number(1);
                state.source = number(2);
                break;
            case RecordType::Extended:
                state.extended = true;
                break;
            case RecordType::Cut:
                state.cut = true;
                state.cut_size = number(0);
                state.cut_source = number(1);
                state.cut_hash = number(2);
                break;
            case RecordType::Rollback:
                state.rollback = true;
                break;
            case RecordType::Done:
            case RecordType::Undone:
                state.done_size = number(0);
                state.done_hash = number(1);
                state.end = record->type;
                break;
            case RecordType::RolledBack:
            case RecordType::Abandoned:
                state.end = record->type;
                break;
            default:
                break;
        }
    }
    return state;
}

// The runs of a Removed record, each offset with its bytes, in order: the
// number of runs, their offsets and lengths, then their bytes one after the
// other.
std::vector<std::pair<std::uint64_t, std::string_view>> removed_runs(std::string_view payload) {
    std::vector<std::pair<std::uint64_t, std::string_view>> runs;
    const std::uint64_t count = payload.size() >= 8 ? get_u64(payload, 0) : 0;
    if (count > (payload.size() - 8) / 16) {
        return runs;
    }
    std::size_t bytes_at = 8 + count * 16;
    for (std::size_t run = 0; run < count; ++run) {
        const std::uint64_t length = get_u64(payload, 16 + 16 * run);
        if (length > payload.size() - bytes_at) {
            return {};
        }
        runs.emplace_back(get_u64(payload, 8 + 16 * run), payload.substr(bytes_at, length));
        bytes_at += length;
    }
    return runs;
}

std::string numbers(std::initializer_list<std::uint64_t> values) {
    std::string payload;
    for (const std::uint64_t value : values) {
        put_u64(payload, value);
    }
    return payload;
}

// One change to one log, from the lock to the end.
class Change {
public:
    Change(std::string path, std::size_t block_size)
        : path_(std::move(path)), buffer_(block_size, '\0') {}

    // Takes the lock; false, with the reason, when the journal has no place
    // or the lock is not had.
    bool prepare();

    // Finishes what an earlier change left, then forgets it: the change
    // that follows starts afresh.
    void clear_pending();

    // Opens the log for the change; false with the reason when it cannot be.
    bool open(int flags, Clock::duration patience = lease_patience);

    // A removal from the log opened: `scan` stages what goes (with
    // stage_removed) and what moves (with stage_kept), and the log is then
    // changed as the header comment says.
    template <class Scan>
    MaintenanceResult shrink(Kind kind, Scan scan);

    // Takes the last removal back, as undo_log says.
    MaintenanceResult undo();

    // The unfinished change left in the journal, finished or rolled back;
    // what was done, for the user.
    std::optional<std::string> finish_pending();

    const std::string& reason() const { return reason_; }
    int log_fd() const { return log_.fd.get(); }
    std::uint64_t log_size() const { return static_cast<std::uint64_t>(log_.status.st_size); }
    std::string& buffer() { return buffer_; }

    // Stages removed bytes [begin, end) of the log in the journal.
    bool stage_removed(std::uint64_t begin, std::uint64_t end);
    // The bytes the scan has in memory, from `at` in the log: staging takes
    // them from there rather than reading them again.
    void set_window(std::string_view bytes, std::uint64_t at) {
        window_ = bytes;
        window_at_ = at;
    }
    // Stages the log's bytes [begin, end) in the redo file, to go to `to`
    // on; `to` moves on past them.
    bool stage_kept(std::uint64_t begin, std::uint64_t end, std::uint64_t& to);

    std::uint64_t first = UINT64_MAX;  // the first byte removed
    std::uint64_t dest = 0;            // where the next kept byte goes

private:
    // Stages `bytes` to go to `to`, taken from before `source_end` in the
    // log; bytes for one place after the other make one record.
    bool stage_image(std::uint64_t to, std::uint64_t source_end, std::string_view bytes);
    // Makes what was staged in the redo file durable.
    bool sync_redo();
    // The log's bytes from `begin`, up to `end` or a block.
    std::optional<std::string_view> log_bytes(std::uint64_t begin, std::uint64_t end);
    bool stage_removed_run(std::uint64_t offset, std::string_view bytes);
    bool flush_removed();

    bool fail(const std::string& what = {});
    bool step();
    bool journal(RecordType type, const std::string& payload, bool sync = true);
    bool begin_files(Kind kind);
    bool publish();
    bool still_ours(std::uint64_t end);
    bool write_log(std::string_view bytes, std::uint64_t offset);
    bool apply_redo();
    bool settle(std::uint64_t source, Clock::time_point started);
    bool roll_back();
    bool finish(RecordType end, std::uint64_t size, std::uint64_t hash);
    void abandon();
    bool enough_space(std::uint64_t rewritten);
    bool reserve(std::uint64_t from, std::uint64_t to);
    bool finish_undo(const JournalState& state);

    std::string path_;
    std::string buffer_;
    std::optional<JournalFiles> files_;
    UniqueFd lock_;
    OpenLog log_;
    RecordWriter journal_;
    RecordWriter redo_;
    FaultPoint faults_;
    std::string reason_;
    bool abandoned_ = false;
    std::string_view window_;  // see set_window
    std::string cache_;        // the block last read by log_bytes
    std::uint64_t window_at_ = 0;
    std::string removed_runs_;        // offsets and lengths of removed runs not yet in the journal
    std::string removed_bytes_;       // and their bytes
    std::string image_;               // staged bytes not yet in the redo file
    std::uint64_t image_dest_ = 0;    // where they go
    std::uint64_t image_source_ = 0;  // where the last of them came from
};

bool Change::fail(const std::string& what) {
    if (reason_.empty()) {
        reason_ = what.empty() ? std::string(std::strerror(errno)) : what;
    }
    return false;
}

bool Change::step() {
    const bool ok = faults_.step();
    if (faults_.cut_now()) {
        static_cast<void>(::ftruncate(log_.fd.get(), 0));
    }
    return ok || fail();
}

bool Change::prepare() {
    files_ = journal_files(path_);
    if (!files_) {
        return fail("no place for the journal: neither XDG_STATE_HOME nor HOME is set");
    }
    lock_.reset(::open(files_->lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock_) {
        return fail("could not write the journal in " + files_->dir + ": " + std::strerror(errno));
    }
    const auto deadline = Clock::now() + lock_patience;
    while (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= deadline) {
            return fail("another Lurko is changing the log");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Change::clear_pending() {
    finish_pending();
    log_ = OpenLog{};
    journal_ = RecordWriter();
    redo_ = RecordWriter();
    first = UINT64_MAX;
    dest = 0;
    reason_.clear();  // what an earlier change could not do is not this one's failure
    abandoned_ = false;
    faults_ = FaultPoint();  // the steps counted are the change's own
}

bool Change::open(int flags, Clock::duration patience) {
    log_ = open_leased(path_, flags, patience);
    struct stat status {};
    if (!log_.fd && errno == EINVAL && ::stat(path_.c_str(), &status) == 0 &&
        !S_ISREG(status.st_mode)) {
        return fail("not a regular file");
    }
    return log_.fd || fail();
}

bool Change::journal(RecordType type, const std::string& payload, bool sync) {
    return step() && (journal_.append(type, payload) || fail()) &&
           (!sync || (step() && (journal_.sync() || fail())));
}

// The journal of a new change is written beside the old one, which an undo
// may still need, and takes its place when the change is ready.
bool Change::begin_files(Kind kind) {
    const std::string fresh = files_->journal + ".new";
    journal_ =
        RecordWriter(UniqueFd(::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)));
    redo_ = RecordWriter(
        UniqueFd(::open(files_->redo.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)));
    if (!journal_ || !redo_) {
        return fail("could not write the journal in " + files_->dir + ": " + std::strerror(errno));
    }
    std::string begin = numbers(
        {static_cast<std::uint64_t>(kind), log_.status.st_dev, log_.status.st_ino, log_size()});
    begin.append(real_path(path_));
    return journal(RecordType::Begin, begin, false);
}

std::optional<std::string_view> Change::log_bytes(std::uint64_t begin, std::uint64_t end) {
    if (begin >= window_at_ && end <= window_at_ + window_.size()) {
        return window_.substr(begin - window_at_, end - begin);
    }
    // A block from `begin` on, kept for the runs that follow.
    cache_.resize(buffer_.size());
    const ssize_t got =
        read_fully_at(log_.fd.get(), cache_.data(), cache_.size(), static_cast<off_t>(begin));
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(cache_.size(), end - begin));
    if (got < static_cast<ssize_t>(want)) {
        fail("the log could not be read");
        return std::nullopt;
    }
    set_window(std::string_view(cache_.data(), static_cast<std::size_t>(got)), begin);
    return window_.substr(0, want);
}

bool Change::stage_removed(std::uint64_t begin, std::uint64_t end) {
    if (first == UINT64_MAX) {
        first = begin;  // kept bytes before it stay where they are
        dest = begin;
    }
    while (begin < end) {
        const std::optional<std::string_view> bytes = log_bytes(begin, end);
        if (!bytes || !stage_removed_run(begin, *bytes)) {
            return false;
        }
        begin += bytes->size();
    }
    return true;
}

// Removed runs are gathered into records of about a block.
bool Change::stage_removed_run(std::uint64_t offset, std::string_view bytes) {
    put_u64(removed_runs_, offset);
    put_u64(removed_runs_, bytes.size());
    removed_bytes_.append(bytes);
    return removed_bytes_.size() < buffer_.size() || flush_removed();
}

bool Change::flush_removed() {
    if (removed_runs_.empty()) {
        return true;
    }
    std::string record = numbers({removed_runs_.size() / 16});
    record.append(removed_runs_).append(removed_bytes_);
    removed_runs_.clear();
    removed_bytes_.clear();
    return journal(RecordType::Removed, record, false);
}

bool Change::stage_kept(std::uint64_t begin, std::uint64_t end, std::uint64_t& to) {
    while (begin < end) {
        const std::optional<std::string_view> bytes = log_bytes(begin, end);
        if (!bytes || !stage_image(to, begin + bytes->size(), *bytes)) {
            return false;
        }
        begin += bytes->size();
        to += bytes->size();
    }
    return true;
}

bool Change::stage_image(std::uint64_t to, std::uint64_t source_end, std::string_view bytes) {
    if (!image_.empty() &&
        (image_dest_ + image_.size() != to || image_.size() + bytes.size() > buffer_.size())) {
        if (!sync_redo()) {
            return false;
        }
    }
    if (image_.empty()) {
        image_dest_ = to;
    }
    image_.append(bytes);
    image_source_ = source_end;
    return true;
}

// (Flushing the staged bytes and syncing are one step each.)
bool Change::sync_redo() {
    if (!image_.empty()) {
        std::string record = numbers({image_dest_, image_source_});
        record.append(image_);
        image_.clear();
        if (!step() || !(redo_.append(RecordType::Image, record) || fail())) {
            return false;
        }
    }
    return step() && (redo_.sync() || fail());
}

// Makes the staged change durable and the journal: from here on, the next
// start finishes it whatever happens.
bool Change::publish() {
    const std::string fresh = files_->journal + ".new";
    if (!flush_removed() || !sync_redo() ||
        !journal(RecordType::Ready, numbers({first, dest, log_size()})) || !step() ||
        ::rename(fresh.c_str(), files_->journal.c_str()) != 0) {
        return fail();
    }
    const UniqueFd dir(::open(files_->dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return !dir || ::fsync(dir.get()) == 0 || fail();
}

// Whether the log is still the file being changed and at least `end` bytes
// long: another program that cut or replaced it wins, and nothing more is
// written.
bool Change::still_ours(std::uint64_t end) {
    struct stat now {};
    struct stat named {};
    if (::fstat(log_.fd.get(), &now) != 0 || static_cast<std::uint64_t>(now.st_size) < end ||
        ::stat(path_.c_str(), &named) != 0 || named.st_dev != log_.status.st_dev ||
        named.st_ino != log_.status.st_ino) {
        abandon();
        return false;
    }
    return true;
}

bool Change::write_log(std::string_view bytes, std::uint64_t offset) {
    return step() && still_ours(offset + bytes.size()) &&
           (write_all_at(log_.fd.get(), bytes, static_cast<off_t>(offset)) || fail());
}

// Writes the redo file's records into the log where they go.
bool Change::apply_redo() {
    RecordReader reader(redo_.fd());
    while (std::optional<Record> record = reader.next()) {
        if (record->type != RecordType::Image || record->payload.size() < 16) {
            continue;
        }
        const std::uint64_t to = get_u64(record->payload, 0);
        if (!write_log(std::string_view(record->payload).substr(16), to)) {
            return false;
        }
        dest = std::max(dest, to + record->payload.size() - 16);
    }
    return true;
}

// Steps 4 and 5: what came after `source` moved to `dest`, until nothing
// comes; then the cut.
bool Change::settle(std::uint64_t source, Clock::time_point started) {
    for (;;) {
        if (!still_ours(source)) {
            return false;
        }
        std::uint64_t size = log_size();
        struct stat now {};
        if (::fstat(log_.fd.get(), &now) == 0) {
            size = static_cast<std::uint64_t>(now.st_size);
        }
        if (size == source) {
            // Note the cut and what the bytes after the cut point are now, so
            // that the next start can tell whether it was made; then look
            // once more, and cut: the window for a delivery to be lost is
            // the two calls.
            const auto hash = hash_range(log_.fd.get(), dest, std::min(source, dest + cut_sample));
            if (!hash) {
                return fail("the log could not be read");
            }
            if (!journal(RecordType::Cut, numbers({dest, source, *hash}))) {
                return false;
            }
            if (!step()) {
                return false;
            }
            if (::fstat(log_.fd.get(), &now) == 0 &&
                static_cast<std::uint64_t>(now.st_size) == source) {
                return ::ftruncate(log_.fd.get(), static_cast<off_t>(dest)) == 0 || fail();
            }
            continue;
        }
        if (!log_.leased && Clock::now() - started > growth_bound) {
            return fail("the log kept growing; nothing was removed");
        }
        const std::uint64_t from = dest;
        if (!stage_kept(source, size, dest) || !sync_redo()) {
            return false;
        }
        // The records just staged, written where they go.
        std::uint64_t at = source;
        std::uint64_t to = from;
        while (at < size) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), size - at));
            if (read_fully_at(log_.fd.get(), buffer_.data(), want, static_cast<off_t>(at)) !=
                    static_cast<ssize_t>(want) ||
                !write_log(std::string_view(buffer_.data(), want), to)) {
                return fail("the log could not be read");
            }
            at += want;
            to += want;
        }
        source = size;
    }
}

// Puts every byte the change took or moved back where it came from: the
// log as it was, and what came meanwhile still after it. Only before the cut.
bool Change::roll_back() {
    if (!journal(RecordType::Rollback, {})) {
        return false;
    }
    // The old bytes from `first` on: the removed runs at their offsets, and
    // the moved bytes, in their order, in the places between them.
    RecordReader removed(journal_.fd());
    RecordReader images(redo_.fd());
    std::string moved;
    std::size_t used = 0;  // of `moved`
    std::uint64_t at = first;
    // Puts the next `count` moved bytes (all that are left, with UINT64_MAX) at `at`.
    const auto put_moved = [&](std::uint64_t count) {
        while (count > 0) {
            if (used == moved.size()) {
                std::optional<Record> record = images.next();
                while (record &&
                       (record->type != RecordType::Image || record->payload.size() < 16)) {
                    record = images.next();
                }
                if (!record) {
                    return count == UINT64_MAX;
                }
                moved = record->payload.substr(16);
                used = 0;
                continue;
            }
            const auto part =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, moved.size() - used));
            if (!write_log(std::string_view(moved).substr(used, part), at)) {
                return false;
            }
            used += part;
            at += part;
            count -= count == UINT64_MAX ? 0 : part;
        }
        return true;
    };
    while (std::optional<Record> record = removed.next()) {
        if (record->type != RecordType::Removed) {
            continue;
        }
        for (const auto& [offset, bytes] : removed_runs(record->payload)) {
            if (!put_moved(offset - std::min(offset, at)) || !write_log(bytes, offset)) {
                return false;
            }
            at = offset + bytes.size();
        }
    }
    return put_moved(UINT64_MAX) && step() && (::fdatasync(log_.fd.get()) == 0 || fail()) &&
           finish(RecordType::RolledBack, 0, 0);
}

bool Change::finish(RecordType end, std::uint64_t size, std::uint64_t hash) {
    if (!journal(end, numbers({size, hash}))) {
        return false;
    }
    ::unlink(files_->redo.c_str());
    return true;
}

void Change::abandon() {
    if (!abandoned_) {
        abandoned_ = true;
        fail("another program cut or replaced the log meanwhile");
        journal(RecordType::Abandoned, {});
        ::unlink(files_->redo.c_str());
    }
}

// On a copy-on-write file system a rewrite takes new space for every byte it
// writes: refused when there is not that much free.
bool Change::enough_space(std::uint64_t rewritten) {
    constexpr std::array<long, 3> copy_on_write = {0x9123683e /* btrfs */, 0x2fc12fc1 /* zfs */,
                                                   static_cast<long>(0xca451a4e) /* bcachefs */};
    struct statfs disk {};
    if (::fstatfs(log_.fd.get(), &disk) != 0 ||
        std::find(copy_on_write.begin(), copy_on_write.end(), static_cast<long>(disk.f_type)) ==
            copy_on_write.end() ||
        static_cast<std::uint64_t>(disk.f_bavail) * static_cast<std::uint64_t>(disk.f_bsize) >=
            rewritten + (std::uint64_t{1} << 20)) {
        return true;
    }
    errno = ENOSPC;
    return fail();
}

// Allocates the log's blocks [from, to) without making it longer, where the
// file system can.
bool Change::reserve(std::uint64_t from, std::uint64_t to) {
    if (to <= from ||
        ::fallocate(log_.fd.get(), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                    static_cast<off_t>(to - from)) == 0 ||
        errno == EOPNOTSUPP) {
        return true;
    }
    return fail();
}

template <class Scan>
MaintenanceResult Change::shrink(Kind kind, Scan scan) {
    const HeldSignals held;
    const auto started = Clock::now();
    const auto refused = [&] {
        ::unlink((files_->journal + ".new").c_str());
        ::unlink(files_->redo.c_str());
        return MaintenanceResult{RewriteOutcome::Failed, reason_};
    };
    const bool scanned = begin_files(kind) && scan(*this);
    set_window({}, 0);  // the scan's block is gone
    if (!scanned) {
        return refused();
    }
    if (first == UINT64_MAX) {
        ::unlink((files_->journal + ".new").c_str());
        ::unlink(files_->redo.c_str());
        return {};  // nothing to remove: the log was not touched
    }
    if (!enough_space(log_size() - first) || !publish()) {
        return refused();
    }
    // From here the log is written.
    if (apply_redo() && settle(log_size(), started)) {
        static_cast<void>(step() && ::fdatasync(log_.fd.get()) == 0);
        const auto hash = hash_range(log_.fd.get(), first, dest);
        finish(RecordType::Done, dest, hash.value_or(0));
        return {RewriteOutcome::Rewritten, {}};
    }
    if (!abandoned_) {
        const std::string failure = reason_;
        roll_back();
        reason_ = failure;
    }
    return {RewriteOutcome::Failed, reason_};
}

std::optional<std::string> Change::finish_pending() {
    const UniqueFd fd(::open(files_->journal.c_str(), O_RDWR | O_CLOEXEC));
    ::unlink((files_->journal + ".new").c_str());  // a change that never began
    if (!fd) {
        return std::nullopt;
    }
    const JournalState state = read_state(fd.get());
    if (!state.begun || !state.ready || state.end != RecordType{}) {
        return std::nullopt;  // nothing unfinished
    }
    journal_ = RecordWriter(UniqueFd(::dup(fd.get())));
    ::lseek(journal_.fd(), 0, SEEK_END);
    // A journal that is not about this log as it is now is left as it is,
    // marked so that it is told of once.
    const auto refuse = [this](const std::string& why) {
        static_cast<void>(journal(RecordType::Abandoned, {}));
        return why;
    };
    if (state.path != real_path(path_)) {
        return refuse("lurko: left alone a journal that is not this log's: " + files_->journal);
    }
    log_ = open_leased(path_, O_RDWR);
    if (!log_.fd || log_.status.st_dev != state.device || log_.status.st_ino != state.inode) {
        return refuse("lurko: could not finish an interrupted change of " + path_ +
                      ": the log was replaced since");
    }
    redo_ = RecordWriter(UniqueFd(::open(files_->redo.c_str(), O_RDWR | O_CLOEXEC)));
    if (!redo_) {
        return "lurko: could not finish an interrupted change of " + path_ + ": " +
               std::strerror(errno);
    }
    ::lseek(redo_.fd(), 0, SEEK_END);
    const HeldSignals held;
    const IgnoredSignal lease_breaks(SIGIO);
    first = state.first;
    dest = state.dest;
    if (state.kind == Kind::Undo) {
        return finish_undo(state)
                   ? std::optional<std::string>("lurko: completed an interrupted undo of " + path_)
                   : std::nullopt;
    }
    if (state.rollback) {
        return roll_back() ? std::optional<std::string>(
                                 "lurko: rolled back an interrupted removal from " + path_)
                           : std::nullopt;
    }
    // Redo what the change wrote (the same bytes again), then go on where it
    // stopped: after the bytes it had staged, or at the cut it noted.
    std::uint64_t source = state.source;
    {
        RecordReader reader(redo_.fd());
        while (std::optional<Record> record = reader.next()) {
            if (record->type == RecordType::Image && record->payload.size() >= 16) {
                source = std::max(source, get_u64(record->payload, 8));
            }
        }
    }
    bool cut_made = false;
    if (state.cut) {
        struct stat now {};
        ::fstat(log_.fd.get(), &now);
        const auto size = static_cast<std::uint64_t>(now.st_size);
        const auto after = hash_range(log_.fd.get(), state.cut_size,
                                      std::min(state.cut_source, state.cut_size + cut_sample));
        cut_made = size < state.cut_source || !after || *after != state.cut_hash;
        if (cut_made) {
            dest = state.cut_size;
        }
    }
    if (!apply_redo()) {
        return std::nullopt;
    }
    if (!cut_made && !settle(source, Clock::now())) {
        return std::nullopt;
    }
    dest = cut_made ? state.cut_size : dest;
    static_cast<void>(::fdatasync(log_.fd.get()));
    const auto hash = hash_range(log_.fd.get(), first, dest);
    finish(RecordType::Done, dest, hash.value_or(0));
    return "lurko: completed an interrupted removal from " + path_;
}

MaintenanceResult Change::undo() {
    const UniqueFd old(::open(files_->journal.c_str(), O_RDONLY | O_CLOEXEC));
    const JournalState state = old ? read_state(old.get()) : JournalState{};
    if (state.end != RecordType::Done || state.kind == Kind::Undo ||
        state.path != real_path(path_)) {
        return {RewriteOutcome::Unchanged, "Nothing to undo"};
    }
    if (!open(O_RDWR, undo_lease_patience)) {
        return {RewriteOutcome::Failed, reason_};
    }
    const auto size = log_size();
    if (log_.status.st_dev != state.device || log_.status.st_ino != state.inode ||
        size < state.done_size ||
        hash_range(log_.fd.get(), state.first, state.done_size) != state.done_hash) {
        return {RewriteOutcome::Unchanged, "Nothing undone: the log has changed since"};
    }
    if (!log_.leased) {
        // Growing the log in place while a writer appends could put its
        // delivery under the restored bytes.
        return {RewriteOutcome::Failed, "the log is held open by another program; try again"};
    }
    const HeldSignals held;
    if (!begin_files(Kind::Undo)) {
        ::unlink((files_->journal + ".new").c_str());
        return {RewriteOutcome::Failed, reason_};
    }
    // The log as it was: its kept bytes and the removed ones, merged by the
    // offsets they had, then what came since.
    std::uint64_t from = state.first;  // in the log as it is
    dest = state.first;                // in the log as it was
    RecordReader removed(old.get());
    bool staged = true;
    while (std::optional<Record> record = removed.next()) {
        if (record->type != RecordType::Removed) {
            continue;
        }
        for (const auto& [at, bytes] : removed_runs(record->payload)) {
            const std::uint64_t kept = at - std::min(at, dest);
            if (!(staged = stage_kept(from, from + kept, dest) && stage_image(dest, from, bytes))) {
                break;
            }
            from += kept;
            dest += bytes.size();
        }
    }
    first = state.first;
    // The space the log grows by is taken before it is written: a full disk
    // refuses the undo here, not halfway.
    if (!staged || !stage_kept(from, size, dest) || !enough_space(dest - first) ||
        !reserve(size, dest)) {
        ::unlink((files_->journal + ".new").c_str());
        ::unlink(files_->redo.c_str());
        return {RewriteOutcome::Failed, reason_};
    }
    if (!publish()) {
        ::unlink(files_->redo.c_str());
        return {RewriteOutcome::Failed, reason_};
    }
    JournalState ready;
    ready.first = first;
    ready.dest = dest;
    ready.source = size;
    if (!finish_undo(ready)) {
        return {RewriteOutcome::Failed, reason_};
    }
    return {RewriteOutcome::Rewritten, {}};
}

// Makes the log as long as the undo makes it before anything is written, so
// that a delivery after a crash goes after the restored bytes; then writes
// them. After a crash, deliveries that came before the log was made longer
// are staged to go after them too.
bool Change::finish_undo(const JournalState& state) {
    struct stat now {};
    if (::fstat(log_.fd.get(), &now) != 0) {
        return fail();
    }
    const auto size = static_cast<std::uint64_t>(now.st_size);
    std::uint64_t end = state.dest;
    bool extended = state.extended;
    if (!extended && size >= end && size > state.source) {
        // Made longer (a hole, read as NULs) and not yet noted, or delivered to?
        const std::uint64_t sample = std::min(end, state.source + cut_sample) - state.source;
        extended =
            read_fully_at(log_.fd.get(), buffer_.data(), sample,
                          static_cast<off_t>(state.source)) == static_cast<ssize_t>(sample) &&
            std::all_of(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(sample),
                        [](char c) { return c == '\0'; });
    }
    if (!extended) {
        std::uint64_t to = end;
        if (!stage_kept(state.source, size, to) || !sync_redo()) {
            return false;
        }
        end = to;
        if (!step() || ::ftruncate(log_.fd.get(), static_cast<off_t>(end)) != 0 ||
            !journal(RecordType::Extended, numbers({end}))) {
            return fail();
        }
    }
    dest = 0;
    if (!apply_redo() || !step() || ::fdatasync(log_.fd.get()) != 0) {
        return fail();
    }
    return finish(RecordType::Undone, end, 0);
}

// Runs a change: the lock, what an earlier one left, the log opened.
template <class Body>
MaintenanceResult change_log(const std::string& path, std::size_t block_size, int flags,
                             Body body) {
    const IgnoredSignal lease_breaks(SIGIO);  // outlives the lease, released with the file
    Change change(path, block_size);
    if (!change.prepare()) {
        return {RewriteOutcome::Failed, change.reason()};
    }
    change.clear_pending();
    if (!change.open(flags)) {
        return {RewriteOutcome::Failed, change.reason()};
    }
    return body(change);
}

}  // namespace

MaintenanceResult rewrite_log(const std::string& path, std::string_view folder_name,
                              std::size_t block_size) {
    return change_log(path, block_size, O_RDWR, [&](Change& change) {
        return change.shrink(Kind::Remove, [&](Change& c) {
            LogFilter filter(folder_name);
            std::vector<LogFilter::Run> keep;
            std::uint64_t decided = 0;  // every byte before this is staged or left in place
            const auto stage = [&] {
                for (const LogFilter::Run& run : keep) {
                    if (run.begin > decided && !c.stage_removed(decided, run.begin)) {
                        return false;
                    }
                    if (c.first != UINT64_MAX && !c.stage_kept(run.begin, run.end, c.dest)) {
                        return false;
                    }
                    decided = run.end;
                }
                keep.clear();
                return true;
            };
            std::string block(c.buffer().size(), '\0');
            const std::uint64_t size = c.log_size();
            while (filter.fed() < size) {
                const std::uint64_t start = filter.fed();
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - start));
                if (read_fully_at(c.log_fd(), block.data(), want, static_cast<off_t>(start)) !=
                    static_cast<ssize_t>(want)) {
                    return false;
                }
                c.set_window(std::string_view(block.data(), want), start);
                filter.feed(std::string_view(block.data(), want), keep);
                if (!stage()) {
                    return false;
                }
            }
            filter.finish(keep);
            // A removed entry at the very end is followed by no kept run.
            return stage() && (decided == size || c.stage_removed(decided, size));
        });
    });
}

MaintenanceResult truncate_log(const std::string& path) {
    return change_log(path, std::size_t{1} << 20, O_RDWR | O_CREAT, [](Change& change) {
        if (change.log_size() == 0) {
            return MaintenanceResult{};
        }
        return change.shrink(Kind::Empty,
                             [](Change& c) { return c.stage_removed(0, c.log_size()); });
    });
}

MaintenanceResult undo_log(const std::string& path) {
    const IgnoredSignal lease_breaks(SIGIO);
    Change change(path, std::size_t{1} << 20);
    if (!change.prepare()) {
        return {RewriteOutcome::Failed, change.reason()};
    }
    change.clear_pending();
    return change.undo();
}

std::optional<std::string> recover_log(const std::string& path) {
    const std::optional<JournalFiles> files = journal_files(path);
    if (!files || ::access(files->journal.c_str(), F_OK) != 0) {
        return std::nullopt;  // the common case, without a lock
    }
    const IgnoredSignal lease_breaks(SIGIO);
    Change change(path, std::size_t{1} << 20);
    return change.prepare() ? change.finish_pending() : std::nullopt;
}
