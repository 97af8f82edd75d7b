#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

// Opens the log (or an rc file) without waiting: a FIFO or a device in its
// place must not hang the program, and reads as empty. When another program
// (another Lurko rewriting the log) holds a lease on the file, the open is
// refused with EWOULDBLOCK; then it waits until that program is done, which
// is short, and cannot hang on a FIFO: only regular files have leases.
// `mode` is for O_CREAT.
inline UniqueFd open_log(const std::string& path, int flags, mode_t mode = 0) {
    constexpr int always = O_CLOEXEC | O_NOCTTY;
    const int fd = ::open(path.c_str(), flags | always | O_NONBLOCK, mode);
    if (fd >= 0 || errno != EWOULDBLOCK) {
        return UniqueFd(fd);
    }
    for (;;) {
        const int waited = ::open(path.c_str(), flags | always, mode);
        if (waited >= 0 || errno != EINTR) {
            return UniqueFd(waited);
        }
    }
}

// Opens a file for reading, as open_log does.
inline UniqueFd open_to_read(const std::string& path) {
    return open_log(path, O_RDONLY);
}
