#include "log/text_arena.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Chunks are the size and alignment of a transparent huge page, so a large
// log costs few page faults where the kernel offers huge pages on request.
constexpr std::size_t chunk_size = std::size_t{2} << 20;

}  // namespace

TextArena::Chunk TextArena::allocate(std::size_t size) {
    const std::size_t length = (size + chunk_size - 1) / chunk_size * chunk_size;
    void* memory = std::aligned_alloc(chunk_size, length);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    ::madvise(memory, length, MADV_HUGEPAGE);  // only advice: without it, plain pages
    return Chunk(static_cast<char*>(memory));
}

const char* TextArena::append(std::string_view first, std::string_view second) {
    const std::size_t size = first.size() + second.size();
    if (size > room_) {
        // A fresh chunk; the tail of the old one stays unused.
        const std::size_t length = std::max(chunk_size, size);
        chunks_.push_back(allocate(length));
        cursor_ = chunks_.back().get();
        room_ = (length + chunk_size - 1) / chunk_size * chunk_size;
        capacity_ += room_;
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
