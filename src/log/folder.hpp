#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log/mail_list.hpp"

// The folder of the mails Procmail threw away, which -H hides.
inline constexpr std::string_view devnull_folder = "/dev/null";

// One destination named in the log.
struct Folder {
    std::string name;
    // The mails the log delivered to it: what the list shows and sorts by.
    std::uint64_t count = 0;
    // Those mails, oldest first, when the scanner keeps mails; empty when it
    // keeps counts only (for a report without senders and subjects).
    MailList mails;
};

// Display order: true when `a` has fewer mails than `b`, or as many and a
// name that is less byte for byte (unsigned; a prefix is less).
inline bool folder_less(const Folder& a, const Folder& b) {
    if (a.count != b.count) {
        return a.count < b.count;
    }
    return a.name < b.name;  // char_traits<char>::compare compares as unsigned bytes
}
