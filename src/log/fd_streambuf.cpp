#include "log/fd_streambuf.hpp"

#include <algorithm>
#include <cstring>

#include "log/fd_io.hpp"

std::streamsize FdStreamBuf::xsgetn(char* buffer, std::streamsize count) {
    std::streamsize taken = 0;
    if (gptr() < egptr()) {  // bytes left over from a one-character read
        taken = std::min<std::streamsize>(count, egptr() - gptr());
        std::memcpy(buffer, gptr(), static_cast<std::size_t>(taken));
        gbump(static_cast<int>(taken));
    }
    return taken + static_cast<std::streamsize>(
                       read_fully(fd_, buffer + taken, static_cast<std::size_t>(count - taken)));
}

FdStreamBuf::int_type FdStreamBuf::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    const std::size_t got = read_fully(fd_, small_, sizeof small_);
    if (got == 0) {
        return traits_type::eof();
    }
    setg(small_, small_, small_ + got);
    return traits_type::to_int_type(*gptr());
}
