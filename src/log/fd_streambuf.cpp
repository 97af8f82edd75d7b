#include "log/fd_streambuf.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// read(2) until `count` bytes, the end of the file or an error (which ends
// the input like the end of the file).
std::streamsize read_fully(int fd, char* buffer, std::streamsize count) {
    std::streamsize total = 0;
    while (total < count) {
        const ssize_t got = ::read(fd, buffer + total, static_cast<std::size_t>(count - total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += got;
    }
    return total;
}

}  // namespace

std::streamsize FdStreamBuf::xsgetn(char* buffer, std::streamsize count) {
    std::streamsize taken = 0;
    if (gptr() < egptr()) {  // bytes left over from a one-character read
        taken = std::min<std::streamsize>(count, egptr() - gptr());
        std::memcpy(buffer, gptr(), static_cast<std::size_t>(taken));
        gbump(static_cast<int>(taken));
    }
    return taken + read_fully(fd_, buffer + taken, count - taken);
}

FdStreamBuf::int_type FdStreamBuf::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    const std::streamsize got = read_fully(fd_, small_, sizeof small_);
    if (got <= 0) {
        return traits_type::eof();
    }
    setg(small_, small_, small_ + got);
    return traits_type::to_int_type(*gptr());
}
