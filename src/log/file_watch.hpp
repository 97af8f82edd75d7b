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

    // The watched path.
    const std::string& path() const { return path_; }
    // The device of the file as last recorded (0 when never seen).
    dev_t device() const { return status_.st_dev; }
    // The inode of the file as last recorded (0 when never seen).
    ino_t inode() const { return status_.st_ino; }
    // The size of the file as last recorded, in bytes.
    off_t size() const { return status_.st_size; }

private:
    struct stat status_ {};
    std::string path_;
};
