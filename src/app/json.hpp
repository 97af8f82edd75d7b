#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The length of the valid UTF-8 character at the front of `text` (shortest
// form, no surrogate, at most U+10FFFF), or 0 when it does not begin with one.
std::size_t utf8_length(std::string_view text);

// Appends `text` as a JSON string, quotes included, that is valid UTF-8
// whatever the bytes: a valid UTF-8 character is kept, every byte that is
// not part of one becomes U+FFFD, and every control character (C0, DEL,
// C1), the quote, the backslash and U+2028/U+2029 (line ends to JavaScript)
// are escaped.
void append_json_string(std::string& out, std::string_view text);

// Appends `"name":` and the string, for the members of an object.
void append_json_member(std::string& out, std::string_view name, std::string_view text);
void append_json_member(std::string& out, std::string_view name, std::uint64_t number);

// One mail as a JSON object: folder, sender, the subject decoded to UTF-8,
// and the subject as logged.
void append_json_mail(std::string& out, std::string_view folder, std::string_view from,
                      std::string_view subject);
