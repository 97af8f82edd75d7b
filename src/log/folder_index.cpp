#include "log/folder_index.hpp"

#include <cstring>

#include "log/folder.hpp"

std::uint64_t FolderIndex::hash(std::string_view name) {
    constexpr std::uint64_t multiplier = 0x9e3779b97f4a7c15;
    std::uint64_t hash = name.size() * multiplier;
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, name.data() + at, sizeof word);
        hash = (hash ^ word) * multiplier;
        hash ^= hash >> 29;
    }
    if (at < name.size()) {
        // The last eight bytes, overlapping those hashed already: one load,
        // where a copy of just the bytes left would stall the load after it.
        std::uint64_t tail = 0;
        if (name.size() >= 8) {
            std::memcpy(&tail, name.data() + name.size() - 8, sizeof tail);
        } else if (name.size() >= 4) {
            std::uint32_t low;
            std::uint32_t high;
            std::memcpy(&low, name.data(), sizeof low);
            std::memcpy(&high, name.data() + name.size() - 4, sizeof high);
            tail = std::uint64_t{high} << 32 | low;
        } else {
            for (const char byte : name) {
                tail = tail << 8 | static_cast<unsigned char>(byte);
            }
        }
        hash = (hash ^ tail) * multiplier;
    }
    return hash ^ (hash >> 32);
}

Folder* FolderIndex::find(std::string_view name) const {
    if (slots_.empty()) {
        return nullptr;
    }
    const std::uint64_t wanted = hash(name);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = wanted & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.folder == nullptr) {
            return nullptr;
        }
        if (slot.hash == wanted && slot.folder->name == name) {
            return slot.folder;
        }
    }
}

void FolderIndex::insert(Folder* folder) {
    if (2 * (count_ + 1) > slots_.size()) {
        grow();
    }
    const std::uint64_t folder_hash = hash(folder->name);
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = folder_hash & mask;
    while (slots_[at].folder != nullptr) {
        at = (at + 1) & mask;
    }
    slots_[at] = Slot{folder_hash, folder};
    ++count_;
}

void FolderIndex::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.folder != nullptr) {
            std::size_t at = slot.hash & mask;
            while (slots_[at].folder != nullptr) {
                at = (at + 1) & mask;
            }
            slots_[at] = slot;
        }
    }
}

void FolderIndex::clear() {
    slots_.clear();
    count_ = 0;
}
