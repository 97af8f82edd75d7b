#include "log/change_notifier.hpp"

#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::uint32_t log_events =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t directory_events =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;

// File systems where the log may be written from another machine, or by a
// process the kernel here does not see write: no events come for that.
bool may_change_unseen(const std::string& directory) {
    struct statfs info {};
    if (::statfs(directory.c_str(), &info) != 0) {
        return true;
    }
    switch (static_cast<unsigned long>(info.f_type)) {
        case NFS_SUPER_MAGIC:
        case SMB_SUPER_MAGIC:
        case CIFS_SUPER_MAGIC:
        case SMB2_SUPER_MAGIC:
        case FUSE_SUPER_MAGIC:
        case V9FS_MAGIC:
        case CEPH_SUPER_MAGIC:
        case AFS_SUPER_MAGIC:
        case AFS_FS_MAGIC:
        case CODA_SUPER_MAGIC:
        case OCFS2_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

// The directory part of a path ("." for a bare name) and the name in it.
std::pair<std::string, std::string> split_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

ChangeNotifier::ChangeNotifier(const std::string& path) : path_(path) {
    auto [directory, name] = split_path(path);
    name_ = std::move(name);
    UniqueFd inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify || may_change_unseen(directory) ||
        ::inotify_add_watch(inotify.get(), directory.c_str(), directory_events) < 0) {
        return;  // not active: the monitor looks on a timer
    }
    // A log reached through a symbolic link is also renamed or re-created in
    // the directory of the file it names.
    if (const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                               &std::free);
        real) {
        auto [target_directory, target_name] = split_path(real.get());
        target_name_ = std::move(target_name);
        if (target_directory != directory &&
            (may_change_unseen(target_directory) ||
             ::inotify_add_watch(inotify.get(), target_directory.c_str(), directory_events) < 0)) {
            return;
        }
    }
    inotify_ = std::move(inotify);
    watch_log();
    if (log_watch_ < 0 && errno != ENOENT) {
        inotify_.reset();  // a log that is there but cannot be watched
    }
}

void ChangeNotifier::watch_log() {
    const int watch = ::inotify_add_watch(inotify_.get(), path_.c_str(), log_events);
    if (watch >= 0 && watch != log_watch_ && log_watch_ >= 0) {
        ::inotify_rm_watch(inotify_.get(), log_watch_);  // the file that was the log before
    }
    if (watch >= 0 || errno == ENOENT) {
        log_watch_ = watch;
    }
}

int ChangeNotifier::take_events() {
    if (!inotify_) {
        return 0;
    }
    alignas(inotify_event) char buffer[4096];
    int concerns_log = 0;
    for (;;) {
        const ssize_t got = ::read(inotify_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // EAGAIN: all taken
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += sizeof(inotify_event) + event->len;
            if ((event->mask & IN_Q_OVERFLOW) != 0 || event->wd == log_watch_) {
                ++concerns_log;
                if ((event->mask & IN_IGNORED) != 0) {
                    log_watch_ = -1;  // that file is gone; watch_log finds the next
                }
            } else if (event->len > 0 && (name_ == event->name || target_name_ == event->name)) {
                ++concerns_log;
            }
        }
    }
    if (concerns_log > 0) {
        watch_log();
    }
    return concerns_log;
}
