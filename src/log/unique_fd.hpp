#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <utility>

// Owns an open file descriptor and closes it when it goes. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes the descriptor now and tells whether the close went well (for a
    // writer, whether its writes are known to have gone through). Never
    // retried: on Linux the descriptor is gone either way.
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

    // Closes the descriptor held, if any, and takes `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);  // writers check their writes before they let the descriptor go
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Opens a file for reading. Non-blocking, so that a FIFO or a device put in
// the place of a log or an rc file reads as empty instead of hanging the
// program; for a regular file it changes nothing.
inline UniqueFd open_to_read(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}
