#include "log/log_maintenance.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "log/fd_io.hpp"
#include "log/line_scanner.hpp"
#include "log/mail_log_scanner.hpp"
#include "log/unique_fd.hpp"

namespace {

// How long to try for the lease while deliveries hold the log open; then
// the rewrite goes ahead without it. Short enough that the screen does not
// seem to freeze.
constexpr auto lease_patience = std::chrono::milliseconds(300);

// How many times what was appended during a rewrite without a lease is moved
// after the result before the log is cut. Each pass moves what came during
// the one before, so they get shorter quickly.
constexpr int append_passes = 16;

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
// a kill) for as long as it lives, so that the log is never left half
// rewritten; they are handled as usual once it is whole again. The signals
// of a crash cannot wait and are not held.
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

// The log open for a rewrite: a regular file, with a write lease when one
// could be had.
struct OpenLog {
    UniqueFd fd;
    bool leased = false;
    std::uint64_t size = 0;
};

// Opens the log and takes a write lease on it. The lease is granted only
// while no other process has the file open, so the attempt is repeated for a
// while: Procmail holds the log open for the whole of a delivery, and when
// several deliver one after the other the moments when none holds it are
// short, so the attempts come close together. Between attempts the file is
// closed and the pause is random, so that two Lurkos trying at once cannot
// keep each other from it. A log that is not a regular file gives an empty
// descriptor.
OpenLog open_leased(const std::string& path, int flags) {
    std::minstd_rand jitter(static_cast<unsigned>(::getpid()));
    const auto deadline = std::chrono::steady_clock::now() + lease_patience;
    for (;;) {
        OpenLog log{open_log(path, flags, 0666)};
        struct stat status {};
        if (!log.fd || ::fstat(log.fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return {};
        }
        log.size = static_cast<std::uint64_t>(status.st_size);
        if (::fcntl(log.fd.get(), F_SETLEASE, F_WRLCK) == 0) {
            log.leased = true;
            return log;
        }
        if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
            return log;  // no lease to be had here: on without it
        }
        log.fd.reset();
        std::this_thread::sleep_for(std::chrono::microseconds(100 + jitter() % 400));
    }
}

// Moves runs of the log towards its start while it is streamed through.
// The destination never passes the source, so every byte is read before
// anything is written over it.
class Compactor {
public:
    // Runs that began in an earlier block are read again through a buffer
    // of a sixteenth of the block.
    Compactor(int fd, std::size_t block_size)
        : fd_(fd),
          copy_size_(std::max<std::size_t>(1, block_size / 16)),
          buffer_(std::make_unique_for_overwrite<char[]>(block_size)),
          copy_(std::make_unique_for_overwrite<char[]>(copy_size_)) {}

    char* buffer() const { return buffer_.get(); }

    // The block now in the buffer starts at `start`.
    void set_block(std::uint64_t start) { block_start_ = start; }

    // Puts the run of the log [begin, end) at the write position, from the
    // buffer where it holds it, else read again from the file. A run that
    // is already in place is not written at all.
    bool move(std::uint64_t begin, std::uint64_t end) {
        if (begin == written_) {
            written_ = end;
            return true;
        }
        if (!held_) {
            held_.emplace();  // from the first write until the log is whole again
        }
        const std::uint64_t before_block = std::min(end, block_start_);
        if (begin < before_block && !copy_from_file(begin, before_block)) {
            return false;
        }
        begin = std::max(begin, block_start_);
        if (begin < end) {
            const std::string_view part(buffer_.get() + (begin - block_start_), end - begin);
            if (!write_all_at(fd_, part, static_cast<off_t>(written_))) {
                next_ = begin;
                return false;
            }
            written_ += part.size();
        }
        return true;
    }

    // Moves everything from `from` up to the end of the file (as the file is
    // now) to the write position, unfiltered; the end of what was moved.
    bool move_rest(std::uint64_t from, std::uint64_t& end) {
        struct stat status {};
        if (::fstat(fd_, &status) != 0) {
            return false;
        }
        end = std::max<std::uint64_t>(from, static_cast<std::uint64_t>(status.st_size));
        block_start_ = end;  // the buffer holds nothing of it
        return move(from, end);
    }

    // After a failed write: the unfiltered rest of the file, from the first
    // byte not yet written, moved after what was, so that nothing is lost or
    // doubled; then cut. When even that fails there is nothing left to try.
    void finish_unfiltered() {
        std::uint64_t end = 0;
        if (move_rest(next_, end)) {
            static_cast<void>(truncate());
        }
    }

    // Cuts the file after what was written, and lets held signals through.
    bool truncate() {
        const bool cut = ::ftruncate(fd_, static_cast<off_t>(written_)) == 0;
        held_.reset();
        return cut;
    }

    bool wrote() const { return held_.has_value(); }

private:
    bool copy_from_file(std::uint64_t begin, std::uint64_t end) {
        while (begin < end) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(copy_size_, end - begin));
            const ssize_t got = read_fully_at(fd_, copy_.get(), want, static_cast<off_t>(begin));
            if (got <= 0 ||
                !write_all_at(fd_, std::string_view(copy_.get(), static_cast<std::size_t>(got)),
                              static_cast<off_t>(written_))) {
                next_ = begin;
                return false;
            }
            begin += static_cast<std::uint64_t>(got);
            written_ += static_cast<std::uint64_t>(got);
        }
        return true;
    }

    int fd_;
    std::size_t copy_size_;
    std::unique_ptr<char[]> buffer_;  // the block being filtered
    std::unique_ptr<char[]> copy_;    // what is read again
    std::uint64_t block_start_ = 0;
    std::uint64_t written_ = 0;  // where the next kept byte goes
    std::uint64_t next_ = 0;     // after a failed write: the first byte not moved
    std::optional<HeldSignals> held_;
};

}  // namespace

void LogFilter::hold(std::string_view part) {
    if (too_long_) {
        return;
    }
    if (held_.size() + part.size() > LineScanner::line_limit) {
        too_long_ = true;  // judged by its first bytes, as the scanner cuts it
        part = part.substr(0, LineScanner::line_limit - held_.size());
    }
    held_.append(part);
}

void LogFilter::end_line(std::string_view line, std::uint64_t line_begin, std::uint64_t line_end,
                         std::vector<Run>& keep) {
    // (A NUL in a keyword's place would not match either, so the lines are
    // cut at a NUL only once they match.)
    const bool from = line.starts_with(MailLogScanner::from_keyword);
    if (from || line.starts_with(MailLogScanner::subject_keyword)) {
        ++(from ? froms_ : subjects_);
        if (tracked_.size() < max_tracked) {
            tracked_.push_back({line_begin, line_end});
        }
        return;
    }
    if (!line.starts_with(MailLogScanner::folder_keyword)) {
        return;
    }
    line = line.substr(0, line.find('\0'));
    if (folder_name_of(line) == folder_) {
        if (entry_start_ > kept_to_) {
            keep.push_back({kept_to_, entry_start_});
        }
        if (froms_ > 1 || subjects_ > 1) {
            keep.insert(keep.end(), tracked_.begin(), tracked_.end());  // interleaved
        }
        kept_to_ = line_end;
        dropped_ = true;
    }
    entry_start_ = line_end;
    tracked_.clear();
    froms_ = 0;
    subjects_ = 0;
}

void LogFilter::feed(std::string_view bytes, std::vector<Run>& keep) {
    const char* const base = bytes.data();
    const char* at = base;
    const char* const end = base + bytes.size();
    while (at < end) {
        const auto* newline = static_cast<const char*>(std::memchr(at, '\n', end - at));
        if (newline == nullptr) {
            hold(std::string_view(at, end - at));
            break;
        }
        std::string_view line(at, newline - at);
        if (!held_.empty() || too_long_) {
            hold(line);
            line = held_;
        }
        const std::uint64_t line_end = fed_ + static_cast<std::uint64_t>(newline + 1 - base);
        end_line(line.substr(0, LineScanner::line_limit), line_begin_, line_end, keep);
        line_begin_ = line_end;
        held_.clear();
        too_long_ = false;
        at = newline + 1;
    }
    fed_ += bytes.size();
    if (entry_start_ > kept_to_) {
        keep.push_back({kept_to_, entry_start_});
        kept_to_ = entry_start_;
    }
}

void LogFilter::finish(std::vector<Run>& keep) {
    if (fed_ > kept_to_) {
        keep.push_back({kept_to_, fed_});
        kept_to_ = fed_;
    }
}

std::string filter_log(std::string_view log, std::string_view folder_name) {
    LogFilter filter(folder_name);
    std::vector<LogFilter::Run> keep;
    filter.feed(log, keep);
    filter.finish(keep);
    std::string kept;
    kept.reserve(log.size());
    for (const LogFilter::Run& run : keep) {
        kept.append(log.substr(run.begin, run.end - run.begin));
    }
    return kept;
}

void truncate_log(const std::string& path) {
    const IgnoredSignal lease_breaks(SIGIO);
    const OpenLog log = open_leased(path, O_WRONLY | O_CREAT);
    if (log.fd) {
        static_cast<void>(::ftruncate(log.fd.get(), 0));  // silent, like every failure here
    }
}

// Steps:
//   1. open the log and take a write lease (see open_leased);
//   2. stream through the log as long as it was when opened, block by
//      block: the filter tells which runs stay, and they are written
//      behind what was read; nothing is written before the first entry
//      that goes;
//   3. move what was appended meanwhile after the result (nothing, under a
//      lease), a bounded number of times;
//   4. cut the file after the result; closing it lets the lease go.
// From the first write until the cut, the signals that end the program are
// held back.
RewriteOutcome rewrite_log(const std::string& path, std::string_view folder_name) {
    const IgnoredSignal lease_breaks(SIGIO);  // outlives the lease, released with the file
    const OpenLog log = open_leased(path, O_RDWR);
    if (!log.fd) {
        return RewriteOutcome::Failed;
    }
    constexpr std::size_t block_size = std::size_t{1} << 20;
    return rewrite_open_log(log.fd.get(), log.size, folder_name, block_size);
}

RewriteOutcome rewrite_open_log(int fd, std::uint64_t size, std::string_view folder_name,
                                std::size_t block_size) {
    Compactor compactor(fd, block_size);
    LogFilter filter(folder_name);
    std::vector<LogFilter::Run> keep;
    const auto move_kept = [&] {
        for (const LogFilter::Run& run : keep) {
            if (!compactor.move(run.begin, run.end)) {
                return false;
            }
        }
        keep.clear();
        return true;
    };
    const auto failed = [&] {
        if (compactor.wrote()) {
            compactor.finish_unfiltered();
        }
        return RewriteOutcome::Failed;
    };

    while (filter.fed() < size) {
        const std::uint64_t start = filter.fed();
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_size, size - start));
        const ssize_t got = read_fully_at(fd, compactor.buffer(), want, static_cast<off_t>(start));
        if (got < 0) {
            return failed();
        }
        if (got == 0) {
            break;  // shorter than it was: someone else cut it
        }
        compactor.set_block(start);
        filter.feed(std::string_view(compactor.buffer(), static_cast<std::size_t>(got)), keep);
        if (!move_kept()) {
            return failed();
        }
    }
    filter.finish(keep);
    if (!move_kept()) {
        return failed();
    }
    if (!filter.dropped_any()) {
        return RewriteOutcome::Unchanged;  // nothing was written
    }
    std::uint64_t read_to = filter.fed();
    for (int pass = 0; pass < append_passes; ++pass) {
        std::uint64_t end = 0;
        if (!compactor.move_rest(read_to, end)) {
            return failed();
        }
        if (end == read_to) {
            break;
        }
        read_to = end;
    }
    if (!compactor.truncate()) {
        return RewriteOutcome::Failed;  // nothing left to move: the log holds the result and a tail
    }
    return RewriteOutcome::Rewritten;
}
