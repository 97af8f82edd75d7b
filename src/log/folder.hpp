#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The folder of the mails Procmail threw away, which -H hides.
inline constexpr std::string_view devnull_folder = "/dev/null";

// One logged mail. Sender and subject live one after the other in the
// scanner's arena; the entry only points at them.
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

// One destination named in the log, with its mails oldest first.
struct Folder {
    std::string name;
    std::vector<MailEntry> mails;
};

// Display order: true when `a` has fewer mails than `b`, or as many and a
// name that is less byte for byte (unsigned; a prefix is less).
inline bool folder_less(const Folder& a, const Folder& b) {
    if (a.mails.size() != b.mails.size()) {
        return a.mails.size() < b.mails.size();
    }
    return a.name < b.name;  // char_traits<char>::compare compares as unsigned bytes
}
