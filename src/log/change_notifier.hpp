#pragma once

#include <string>
#include <vector>

#include "log/unique_fd.hpp"

// Wakes the monitor when the log may have changed, instead of a timer: the
// kernel (inotify) tells when the log is written, its attributes change, a
// writer closes it, or it is moved away, deleted, re-created or renamed into
// place in its directory. It only wakes: whether the log really changed is
// FileWatch's to judge.
//
// The log's directory (and, for a log reached through a symbolic link, the
// directory of the file it names) is watched; while a directory is missing
// (removed, renamed away), the nearest one above it that exists is watched
// instead, until the path is there again, and then the directory itself.
//
// Where a watch cannot be had (inotify not there or its limit reached, a
// directory that cannot be read, a file system whose changes may come from
// elsewhere without events), the notifier is not `complete`: the monitor
// then looks at the log on a timer, and calls rearm now and then, which
// puts every watch in place again once it can be.
class ChangeNotifier {
public:
    explicit ChangeNotifier(std::string path);

    // Whether every watch the path needs is in place, so that no change can
    // come without an event; when not, the log must be looked at on a timer.
    bool complete() const { return complete_; }

    // The descriptor to wait on (-1: none): readable when events have come.
    int fd() const { return inotify_.get(); }

    // Takes the events that came: how many may concern the log, and in
    // `others` how many concerned other names. Watches anew what the events
    // moved (the log re-created or renamed into place, a directory removed
    // or made again).
    int take_events(int& others);

    // Sets every watch up again from the path as it is now.
    void rearm();

private:
    // What a directory watch is for: the log's own directory, where events
    // for the log's name concern it, or a directory above a missing one,
    // where they tell that the path may be there again.
    enum class Role { LogDirectory, Above };
    struct DirectoryWatch {
        int wd;
        std::string name;  // the name in it that matters
        Role role;
    };

    // Watches the directory of `path`, or the nearest one above it that
    // exists; false when that cannot be done.
    bool watch_directory_of(const std::string& path, std::vector<DirectoryWatch>& watches);

    std::string path_;
    UniqueFd inotify_;
    std::vector<DirectoryWatch> directories_;
    int log_watch_ = -1;
    bool complete_ = false;
};
