#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct Folder;

// Finds folders by name: an open-addressing hash table of folder pointers
// with each name's hash kept beside it, so that a lookup compares names only
// when their hashes agree. The folders are owned elsewhere and must not move.
class FolderIndex {
public:
    // The folder of that name, or nullptr.
    Folder* find(std::string_view name) const;

    // Adds a folder whose name is not in the index yet.
    void insert(Folder* folder);

    void clear();

    // A quick hash of a name, eight bytes at a time.
    static std::uint64_t hash(std::string_view name);

private:
    struct Slot {
        std::uint64_t hash = 0;
        Folder* folder = nullptr;
    };

    void grow();

    std::vector<Slot> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
};
