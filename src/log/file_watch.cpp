#include "log/file_watch.hpp"

#include <utility>

namespace {

// Whole-second times hide a second delivery within the same second, and the
// kernel's clock for these times is coarse (milliseconds), so the size and the
// file's identity are compared as well: an append always moves the size, and
// a log replaced under the same name is another inode.
bool same_status(const struct stat& a, const struct stat& b) {
    return a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec &&
           a.st_size == b.st_size && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

}  // namespace

FileWatch::FileWatch(std::string path) : path_(std::move(path)) {
    struct stat now {};
    if (::stat(path_.c_str(), &now) == 0) {
        status_ = now;
    }  // else the zeroed record stays: the log may not be there yet
}

bool FileWatch::changed() {
    struct stat now {};
    reachable_ = ::stat(path_.c_str(), &now) == 0;
    if (!reachable_) {
        return false;  // a log that is gone shows no change until it is back
    }
    if (same_status(now, status_)) {
        return false;
    }
    status_ = now;
    return true;
}
