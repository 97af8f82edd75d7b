#include "log/text_arena.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

// The first chunks are small, so that a small log costs little; they double
// up to the size and alignment of a transparent huge page, so that a large
// log costs few page faults where the kernel offers huge pages on request.
constexpr std::size_t first_chunk_size = std::size_t{16} << 10;
constexpr std::size_t chunk_size = std::size_t{2} << 20;

}  // namespace

TextArena::Chunk TextArena::allocate_chunk(std::size_t length) {
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

void* TextArena::allocate(std::size_t size, std::size_t alignment) {
    // Chunks start 64-byte aligned, so the padding is that of the cursor.
    std::size_t padding =
        (alignment - reinterpret_cast<std::uintptr_t>(cursor_) % alignment) % alignment;
    if (size + padding > room_) {
        // A fresh chunk; the tail of the old one stays unused. What is larger
        // than a chunk gets a chunk of its own, rounded up to whole chunks.
        // Each chunk as large as all before it: the chunks double.
        const std::size_t next = std::clamp(capacity_, first_chunk_size, chunk_size);
        std::size_t length = std::max(next, size);
        if (length > next) {
            length = (length + chunk_size - 1) / chunk_size * chunk_size;
        }
        chunks_.push_back(allocate_chunk(length));
        cursor_ = chunks_.back().get();
        room_ = length;
        capacity_ += length;
        padding = 0;
    }
    char* start = cursor_ + padding;
    cursor_ = start + size;
    room_ -= size + padding;
    return start;
}

void TextArena::clear() {
    chunks_.clear();
    cursor_ = nullptr;
    room_ = 0;
    capacity_ = 0;
}
