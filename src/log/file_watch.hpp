#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

// Watches one file (the log) for changes with one stat call per look.
class FileWatch {
public:
    // Records the file's present status; when it cannot be had, a zeroed
    // record, so that the first successful look reports a change.
    explicit FileWatch(std::string path);

    // True when the status-change time (to the nanosecond), the size, the inode
    // or the device differ from the record, which then takes the new status.
    // A file that cannot be looked at (gone, say) is no change; the record stays.
    bool changed();

    // Whether the last look could examine the file at all. One that could
    // not (a log gone, a directory closed) must be looked at again later.
    bool reachable() const { return reachable_; }

private:
    struct stat status_ {};
    std::string path_;
    bool reachable_ = true;
};
