#pragma once

#include <streambuf>

// A read-only stream buffer over an open file descriptor, which it does not
// own. Large reads go straight to read(2), so a scanner that reads in blocks
// pays for no extra copy, and the caller keeps the descriptor for fstat and
// for choosing the offset to read from.
class FdStreamBuf : public std::streambuf {
public:
    explicit FdStreamBuf(int fd) : fd_(fd) {}

protected:
    std::streamsize xsgetn(char* buffer, std::streamsize count) override;
    int_type underflow() override;

private:
    int fd_;
    char small_[512];
};
