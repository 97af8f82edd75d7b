#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

// Append-only store for the bytes of senders and subjects. Text is copied into
// fixed chunks that never move, so views handed out stay valid for as long as
// the arena lives, however much is appended later.
class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // Copies the pieces one after the other into one contiguous run and
    // returns a pointer to its first byte.
    const char* append(std::string_view first, std::string_view second);

    // Forgets all text; every view handed out before becomes invalid.
    void clear();

    // Bytes held by the chunks.
    std::size_t capacity() const { return capacity_; }

private:
    struct FreeChunk {
        void operator()(char* chunk) const { std::free(chunk); }
    };
    using Chunk = std::unique_ptr<char[], FreeChunk>;

    static Chunk allocate(std::size_t size);

    std::vector<Chunk> chunks_;
    char* cursor_ = nullptr;
    std::size_t room_ = 0;
    std::size_t capacity_ = 0;
};
