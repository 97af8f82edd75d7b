#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "log/text_arena.hpp"

// One logged mail. Sender and subject live one after the other in the
// store's arena; the entry only points at them.
class MailEntry {
public:
    MailEntry() = default;
    MailEntry(const char* text, std::uint32_t from_size, std::uint32_t subject_size)
        : text_(text), from_size_(from_size), subject_size_(subject_size) {}

    std::string_view from() const { return {text_, from_size_}; }
    std::string_view subject() const { return {text_ + from_size_, subject_size_}; }

private:
    const char* text_ = nullptr;
    std::uint32_t from_size_ = 0;
    std::uint32_t subject_size_ = 0;
};

// A run of mails of one folder, in log order: for each, the sizes of its
// sender and subject (two bytes each) and their bytes, one after the other.
// The bytes follow the header in the store's arena.
struct MailBlock {
    static constexpr std::size_t sizes_bytes = 4;

    MailBlock* next = nullptr;   // the block of the folder's next mails
    std::uint32_t capacity = 0;  // bytes of room after the header
    std::uint32_t used = 0;      // bytes filled

    char* bytes() { return reinterpret_cast<char*>(this + 1); }
    const char* bytes() const { return reinterpret_cast<const char*>(this + 1); }
};

// The mails of one folder, oldest first: a view of a chain of blocks in a
// MailStore, valid until the store is cleared. Appending a mail costs the
// same however many mails and folders the store holds, and a walk through
// the list reads its senders and subjects as they lie, side by side.
class MailList {
public:
    class Iterator {
    public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;  // yields entries by value
        using value_type = MailEntry;
        using difference_type = std::ptrdiff_t;

        Iterator() = default;

        MailEntry operator*() const {
            const char* record = block_->bytes() + offset_;
            return {record + MailBlock::sizes_bytes, size_at(record), size_at(record + 2)};
        }
        Iterator& operator++() {
            const char* record = block_->bytes() + offset_;
            offset_ += static_cast<std::uint32_t>(MailBlock::sizes_bytes) + size_at(record) +
                       size_at(record + 2);
            if (--left_ > 0 && offset_ == block_->used) {
                block_ = block_->next;
                offset_ = 0;
            }
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        // Iterators of one list are equal when as many mails are left.
        bool operator==(const Iterator& other) const { return left_ == other.left_; }

    private:
        friend class MailList;
        Iterator(const MailBlock* block, std::uint64_t left) : block_(block), left_(left) {}

        static std::uint32_t size_at(const char* bytes) {
            std::uint16_t size;
            std::memcpy(&size, bytes, sizeof size);
            return size;
        }

        const MailBlock* block_ = nullptr;
        std::uint32_t offset_ = 0;  // of this mail in its block
        std::uint64_t left_ = 0;    // mails from this one to the end
    };

    std::uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Iterator begin() const { return {first_, size_}; }
    Iterator end() const { return {}; }

private:
    friend class MailStore;

    MailBlock* first_ = nullptr;
    MailBlock* last_ = nullptr;
    std::uint64_t size_ = 0;
};

// Holds the mails of every folder of a log in one arena: each folder's in a
// chain of blocks that grow from small (a folder of one mail costs little) to
// 8 KiB, so that thousands of folders do not scatter memory and a folder's
// mails are read as runs.
class MailStore {
public:
    MailStore() = default;
    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    // Copies a mail into the store and appends it to `list`, which must be
    // empty or a list of this store.
    void append(MailList& list, std::string_view from, std::string_view subject);

    // Forgets every mail; the lists of this store must be dropped or emptied.
    void clear() { arena_.clear(); }

private:
    TextArena arena_;
};
