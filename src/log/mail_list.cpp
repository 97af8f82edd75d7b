#include "log/mail_list.hpp"

#include <algorithm>
#include <limits>
#include <memory>

#include "log/line_scanner.hpp"

namespace {

// Blocks (header included) double from the first size to the last: a folder
// of one mail costs little, and the walk through a large folder reads runs
// long enough for the processor to fetch them ahead.
constexpr std::size_t first_block_size = 128;
constexpr std::size_t last_block_size = 8192;

void put_size(char* at, std::size_t size) {
    const auto value = static_cast<std::uint16_t>(size);
    std::memcpy(at, &value, sizeof value);
}

}  // namespace

void MailStore::append(MailList& list, std::string_view from, std::string_view subject) {
    // Both fields come from one line of at most LineScanner::line_limit bytes.
    static_assert(LineScanner::line_limit <= std::numeric_limits<std::uint16_t>::max());
    const std::size_t size = MailBlock::sizes_bytes + from.size() + subject.size();
    MailBlock* block = list.last_;
    if (block == nullptr || block->capacity - block->used < size) {
        const std::size_t grown =
            block == nullptr ? first_block_size
                             : std::min(2 * (sizeof(MailBlock) + block->capacity), last_block_size);
        const std::size_t capacity = std::max(grown - sizeof(MailBlock), size);
        void* memory = arena_.allocate(sizeof(MailBlock) + capacity, alignof(MailBlock));
        MailBlock* fresh = std::construct_at(static_cast<MailBlock*>(memory));
        fresh->capacity = static_cast<std::uint32_t>(capacity);
        (block != nullptr ? block->next : list.first_) = fresh;
        list.last_ = block = fresh;
    }
    char* at = block->bytes() + block->used;
    put_size(at, from.size());
    put_size(at + 2, subject.size());
    at += MailBlock::sizes_bytes;
    if (!from.empty()) {
        std::memcpy(at, from.data(), from.size());
    }
    if (!subject.empty()) {
        std::memcpy(at + from.size(), subject.data(), subject.size());
    }
    block->used += static_cast<std::uint32_t>(size);
    ++list.size_;
}
