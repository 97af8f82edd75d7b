#include "log/fd_io.hpp"

#include <unistd.h>

#include <cerrno>

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool write_all_at(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t put = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(put));
        offset += put;
    }
    return true;
}

std::size_t read_fully(int fd, char* buffer, std::size_t count) {
    std::size_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd, buffer + total, count - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return total;
}

ssize_t read_fully_at(int fd, char* buffer, std::size_t count, off_t offset) {
    std::size_t total = 0;
    while (total < count) {
        const ssize_t got = ::pread(fd, buffer + total, count - total, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && total == 0) {
            return -1;
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
        offset += got;
    }
    return static_cast<ssize_t>(total);
}
