#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

// Append-only memory for the blocks that hold senders and subjects. It is
// handed out from fixed chunks that never move, so views and pointers into it
// stay valid for as long as the arena lives, however much is added later.
class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // Room for `size` bytes at an address that is a multiple of `alignment`
    // (a power of two, at most 64), left as it is.
    void* allocate(std::size_t size, std::size_t alignment);

    // Forgets everything; every view handed out before becomes invalid.
    void clear();

private:
    struct FreeChunk {
        void operator()(char* chunk) const { std::free(chunk); }
    };
    using Chunk = std::unique_ptr<char[], FreeChunk>;

    static Chunk allocate_chunk(std::size_t length);

    std::vector<Chunk> chunks_;
    char* cursor_ = nullptr;
    std::size_t room_ = 0;
    std::size_t capacity_ = 0;
};
