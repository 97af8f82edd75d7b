#include "log/text_arena.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The first chunks are small, so that a small log costs little; they double
// up to the size and alignment of a transparent huge page, so that a large
// log costs few page faults where the kernel offers huge pages on request.
constexpr std::size_t first_chunk_size = std::size_t{16} << 10;
constexpr std::size_t chunk_size = std::size_t{2} << 20;

}  // namespace

TextArena::Chunk TextArena::allocate(std::size_t length) {
    const std::size_t alignment = length >= chunk_size ? chunk_size : 64;
    void* memory = std::aligned_alloc(alignment, length);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    if (alignment == chunk_size) {
        ::madvise(memory, length, MADV_HUGEPAGE);  // only advice: without it, plain pages
    }
    return Chunk(static_cast<char*>(memory));
}

const char* TextArena::append(std::string_view first, std::string_view second) {
    const std::size_t size = first.size() + second.size();
    if (size > room_) {
        // A fresh chunk; the tail of the old one stays unused. A text larger
        // than a chunk gets a chunk of its own, rounded up to whole chunks.
        // Each chunk as large as all before it: the chunks double.
        const std::size_t next = std::clamp(capacity_, first_chunk_size, chunk_size);
        std::size_t length = std::max(next, size);
        if (length > next) {
            length = (length + chunk_size - 1) / chunk_size * chunk_size;
        }
        chunks_.push_back(allocate(length));
        cursor_ = chunks_.back().get();
        room_ = length;
        capacity_ += length;
    }
    char* start = cursor_;
    if (!first.empty()) {
        std::memcpy(start, first.data(), first.size());
    }
    if (!second.empty()) {
        std::memcpy(start + first.size(), second.data(), second.size());
    }
    cursor_ += size;
    room_ -= size;
    return start;
}

void TextArena::clear() {
    chunks_.clear();
    cursor_ = nullptr;
    room_ = 0;
    capacity_ = 0;
}
