#pragma once

#include <string>

#include "log/unique_fd.hpp"

// Wakes the monitor when the log may have changed, instead of a timer: the
// kernel (inotify) tells when the log is written, its attributes change, a
// writer closes it, or it is moved away, deleted, re-created or renamed into
// place in its directory. It only wakes: whether the log really changed is
// FileWatch's to judge.
//
// Where that cannot be had (inotify not there or its limit reached, a file
// system whose changes may come from elsewhere without events, a directory
// that cannot be watched), the notifier is not `active` and the monitor
// looks at the log on a timer instead.
class ChangeNotifier {
public:
    explicit ChangeNotifier(const std::string& path);

    // Whether events come; when not, the log must be looked at on a timer.
    bool active() const { return static_cast<bool>(inotify_); }

    // The descriptor to wait on: readable when events have come.
    int fd() const { return inotify_.get(); }

    // Takes the events that came; how many may concern the log. Watches the
    // log anew when it is another file now (re-created, renamed into place),
    // so that its writes wake the monitor too.
    int take_events();

private:
    void watch_log();

    std::string path_;
    std::string name_;         // the log's name in its directory
    std::string target_name_;  // and the name of the file it links to, if it is a link
    UniqueFd inotify_;
    int log_watch_ = -1;
};
