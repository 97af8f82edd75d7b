#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

// The loops around read(2) and write(2) that every user of a descriptor
// needs: short transfers go on, interrupted calls are made again. All of
// them are async-signal-safe.

// Writes all of `bytes`; false when a write fails.
bool write_all(int fd, std::string_view bytes);

// Writes all of `bytes` at `offset` without moving the file offset; false
// when a write fails.
bool write_all_at(int fd, std::string_view bytes, off_t offset);

// Reads until `count` bytes are in, the end of the file or an error; the
// number of bytes read. An error ends the input like the end of the file.
std::size_t read_fully(int fd, char* buffer, std::size_t count);

// The same from `offset`, without moving the file offset; -1 on an error
// before anything was read.
ssize_t read_fully_at(int fd, char* buffer, std::size_t count, off_t offset);
