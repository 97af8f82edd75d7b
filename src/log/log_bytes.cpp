#include "log/log_bytes.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <istream>
#include <streambuf>

#include "log/fd_io.hpp"
#include "log/fd_streambuf.hpp"

namespace {

// A read-only stream buffer over bytes in memory.
class MemoryStreamBuf : public std::streambuf {
public:
    explicit MemoryStreamBuf(std::string_view bytes) {
        // The buffer is only ever read; streambuf merely wants char*.
        char* begin = const_cast<char*>(bytes.data());
        setg(begin, begin, begin + bytes.size());
    }
};

}  // namespace

LogBytes LogBytes::file(int fd) {
    LogBytes log;
    log.fd_ = fd;
    return log;
}

LogBytes LogBytes::memory(std::string_view bytes, const LogStatus& status) {
    LogBytes log;
    log.in_memory_ = true;
    log.bytes_ = bytes;
    log.memory_status_ = status;
    log.memory_status_.size = bytes.size();
    return log;
}

bool LogBytes::status(LogStatus& out) const {
    if (in_memory_) {
        out = memory_status_;
        return true;
    }
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0) {
        return false;
    }
    out = {status.st_dev, status.st_ino, static_cast<std::uint64_t>(status.st_size),
           status.st_mtim};
    return true;
}

ssize_t LogBytes::read_at(char* buffer, std::size_t count, std::uint64_t offset) const {
    if (!in_memory_) {
        return read_fully_at(fd_, buffer, count, static_cast<off_t>(offset));
    }
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::size_t got = std::min<std::size_t>(count, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, got);
    return static_cast<ssize_t>(got);
}

ScanResult LogBytes::scan_from(LineScanner& scanner, std::uint64_t offset) const {
    if (in_memory_) {
        MemoryStreamBuf buffer(bytes_.substr(std::min<std::uint64_t>(offset, bytes_.size())));
        std::istream in(&buffer);
        return scanner.scan(in);
    }
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
        return {};
    }
    FdStreamBuf buffer(fd_);
    std::istream in(&buffer);
    return scanner.scan(in);
}
