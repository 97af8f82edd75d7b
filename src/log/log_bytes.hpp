#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string_view>

#include "log/line_scanner.hpp"

// What tells a reader whether the log is still the file it read before.
struct LogStatus {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    timespec modified{};
};

// The log as a reader sees it: an open file, or bytes in memory that stand
// for one, so that the incremental reading can be tested and fuzzed without
// a file system.
class LogBytes {
public:
    // An open file, which stays the caller's.
    static LogBytes file(int fd);
    // `bytes` as the whole file, with the identity and modification time of
    // `status` (its size is that of `bytes`).
    static LogBytes memory(std::string_view bytes, const LogStatus& status);

    // The log's status now; false when it cannot be had.
    bool status(LogStatus& out) const;

    // Up to `count` bytes from `offset`: the number read, or -1 on an error.
    ssize_t read_at(char* buffer, std::size_t count, std::uint64_t offset) const;

    // Scans the bytes from `offset` to the end with `scanner`.
    ScanResult scan_from(LineScanner& scanner, std::uint64_t offset) const;

private:
    int fd_ = -1;
    bool in_memory_ = false;
    std::string_view bytes_;
    LogStatus memory_status_;
};
