#include "log/change_notifier.hpp"

#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t log_events =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t directory_events = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// What tells that a watched file or directory is no longer where it was.
constexpr std::uint32_t gone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// File systems where the log may be written from another machine, or by a
// process the kernel here does not see write: no events come for that.
bool may_change_unseen(const struct statfs& info) {
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

bool missing(int error) {
    return error == ENOENT || error == ENOTDIR;
}

}  // namespace

ChangeNotifier::ChangeNotifier(std::string path) : path_(std::move(path)) {
    rearm();
}

bool ChangeNotifier::watch_directory_of(const std::string& path,
                                        std::vector<DirectoryWatch>& watches) {
    auto [directory, name] = split_path(path);
    Role role = Role::LogDirectory;
    for (;;) {
        struct statfs info {};
        if (::statfs(directory.c_str(), &info) == 0) {
            if (may_change_unseen(info)) {
                return false;
            }
            const int wd = ::inotify_add_watch(inotify_.get(), directory.c_str(), directory_events);
            if (wd >= 0) {
                watches.push_back({wd, std::move(name), role});
                return true;
            }
        }
        if (!missing(errno) || directory == "/" || directory == ".") {
            return false;  // a limit, a permission: only a timer can tell
        }
        // Gone for now: the directory above tells when it is back.
        auto [above, directory_name] = split_path(directory);
        directory = std::move(above);
        name = std::move(directory_name);
        role = Role::Above;
    }
}

void ChangeNotifier::rearm() {
    if (!inotify_) {
        inotify_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (!inotify_) {
            complete_ = false;
            return;
        }
    }
    std::vector<DirectoryWatch> watches;
    bool complete = watch_directory_of(path_, watches);
    // A log reached through a symbolic link is also renamed or re-created in
    // the directory of the file it names.
    if (const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path_.c_str(), nullptr),
                                                               &std::free);
        real && path_ != real.get()) {
        complete = watch_directory_of(real.get(), watches) && complete;
    }
    const int log_watch = ::inotify_add_watch(inotify_.get(), path_.c_str(), log_events);
    if (log_watch < 0 && !missing(errno)) {
        complete = false;  // a log that is there but cannot be watched
    }
    // The watches of before that are not watches now: a log renamed away, a
    // directory that was above a missing one.
    const auto kept = [&](int wd) {
        return wd == log_watch || std::any_of(watches.begin(), watches.end(),
                                              [wd](const DirectoryWatch& w) { return w.wd == wd; });
    };
    if (log_watch_ >= 0 && !kept(log_watch_)) {
        ::inotify_rm_watch(inotify_.get(), log_watch_);
    }
    for (const DirectoryWatch& old : directories_) {
        if (!kept(old.wd)) {
            ::inotify_rm_watch(inotify_.get(), old.wd);
        }
    }
    directories_ = std::move(watches);
    log_watch_ = log_watch;
    complete_ = complete;
}

int ChangeNotifier::take_events(int& others) {
    others = 0;
    if (!inotify_) {
        return 0;
    }
    alignas(inotify_event) char buffer[16384];
    int concerns_log = 0;
    bool moved = false;  // a watch must be set up again
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
            bool concerns = false;
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                concerns = moved = true;  // events were lost
            } else if (event->wd == log_watch_) {
                concerns = true;
                moved = moved || (event->mask & gone) != 0;
            } else {
                for (const DirectoryWatch& directory : directories_) {
                    if (directory.wd == event->wd &&
                        ((event->mask & gone) != 0 ||
                         (event->len > 0 && directory.name == event->name))) {
                        concerns = moved = true;
                    }
                }
            }
            ++(concerns ? concerns_log : others);
        }
    }
    if (moved) {
        rearm();
    }
    return concerns_log;
}
