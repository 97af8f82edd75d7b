#include "log/log_maintenance.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <fstream>
#include <optional>

#include "log/fd_io.hpp"
#include "log/line_scanner.hpp"
#include "log/mail_log_scanner.hpp"
#include "log/unique_fd.hpp"

namespace {

constexpr std::size_t min_read = std::size_t{64} << 10;

// The folder named by a complete line (without its newline) when the mail log
// scanner takes it for a "  Folder: " line, else nothing. The same rules as the
// scanner's: an overlong line is skipped whole, and a line ends at a NUL.
std::optional<std::string_view> folder_of_line(std::string_view line) {
    if (line.size() > LineScanner::line_limit) {
        return std::nullopt;
    }
    line = line.substr(0, line.find('\0'));
    if (!line.starts_with(MailLogScanner::folder_keyword)) {
        return std::nullopt;
    }
    return folder_name_of(line);
}

// Appends the file's bytes from `offset` to its end to `out`. Reads into the
// room already reserved first, then into ever larger blocks.
bool read_to_end(int fd, std::string& out, off_t offset) {
    std::size_t room = std::max(min_read, out.capacity() - out.size());
    for (;;) {
        const std::size_t held = out.size();
        out.resize(held + room);
        const ssize_t got = read_fully_at(fd, out.data() + held, room, offset);
        out.resize(held + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0) {
            return false;
        }
        if (static_cast<std::size_t>(got) < room) {
            return true;
        }
        offset += got;
        room *= 2;
    }
}

// After a failed write or truncation: the log has not been shortened yet, so
// writing back what was read puts every byte where it was. When even that
// fails there is nothing left to try; the failure stays silent like the rest.
RewriteOutcome give_up(int fd, std::string_view original) {
    static_cast<void>(write_all_at(fd, original, 0));
    return RewriteOutcome::Failed;
}

}  // namespace

void truncate_log(const std::string& path) {
    std::ofstream log(path, std::ios::out | std::ios::trunc);
}

std::string filter_log(std::string_view log, std::string_view folder_name) {
    std::string kept;
    kept.reserve(log.size());
    std::size_t entry_start = 0;  // first byte of the entry in progress
    std::size_t copied_to = 0;    // every byte before this is copied or dropped
    std::size_t at = 0;
    // A last line without its newline ends no entry: it may be a Folder line
    // still being written, whose folder is not known yet.
    for (std::size_t newline; (newline = log.find('\n', at)) != std::string_view::npos;) {
        const std::optional<std::string_view> folder = folder_of_line(log.substr(at, newline - at));
        at = newline + 1;
        if (!folder) {
            continue;
        }
        if (*folder == folder_name) {
            kept.append(log.substr(copied_to, entry_start - copied_to));
            copied_to = at;
        }
        entry_start = at;
    }
    kept.append(log.substr(copied_to));
    return kept;
}

// Procmail appends to the log with O_APPEND, without a lock, and holds it open
// for the whole delivery. So the log is rewritten in place: same inode, and a
// writer that holds it goes on at the new end. Steps:
//   1. read the whole log and filter it;
//   2. read what was appended meanwhile and keep it, unfiltered, after it;
//   3. write the result from offset 0, which stays within the old length;
//   4. look at the size again; what arrived during the write is read and
//      written after the result, until the size holds still;
//   5. truncate to the result's length.
// The remaining race: bytes appended between the last size check of step 4
// and the truncation of step 5 land beyond the new length and are cut off.
// That window is two system calls long, not the length of a delivery.
RewriteOutcome rewrite_log(const std::string& path, std::string_view folder_name) {
    // Non-blocking, so that a FIFO put in the log's place cannot hang the
    // program before the check for a regular file below.
    UniqueFd log(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!log) {
        return RewriteOutcome::Failed;
    }
    struct stat status {};
    if (::fstat(log.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return RewriteOutcome::Failed;
    }
    std::string original;
    original.reserve(static_cast<std::size_t>(status.st_size) + min_read);
    if (!read_to_end(log.get(), original, 0)) {
        return RewriteOutcome::Failed;
    }
    std::string result = filter_log(original, folder_name);
    if (result.size() == original.size()) {
        return RewriteOutcome::Unchanged;  // filtering only ever drops bytes
    }

    const std::size_t filtered_size = original.size();
    if (!read_to_end(log.get(), original, static_cast<off_t>(filtered_size))) {
        return RewriteOutcome::Failed;  // nothing written yet
    }
    result.append(original, filtered_size);
    if (!write_all_at(log.get(), result, 0)) {
        return give_up(log.get(), original);
    }
    // The result is shorter than what was read, so these writes never reach
    // bytes that have not been read.
    for (;;) {
        struct stat now {};
        if (::fstat(log.get(), &now) != 0) {
            return give_up(log.get(), original);
        }
        if (now.st_size <= static_cast<off_t>(original.size())) {
            break;
        }
        const std::size_t seen = original.size();
        if (!read_to_end(log.get(), original, static_cast<off_t>(seen))) {
            return give_up(log.get(), original);
        }
        const std::string_view arrived = std::string_view(original).substr(seen);
        if (!write_all_at(log.get(), arrived, static_cast<off_t>(result.size()))) {
            return give_up(log.get(), original);
        }
        result.append(arrived);
    }
    if (::ftruncate(log.get(), static_cast<off_t>(result.size())) != 0) {
        return give_up(log.get(), original);
    }
    return log.close() ? RewriteOutcome::Rewritten : RewriteOutcome::Failed;
}
