// Fuzzes the JSON string encoder. Whatever the bytes, the output is one JSON
// string: quoted, valid UTF-8, without a raw control character (C0, DEL,
// C1) or U+2028/U+2029, every backslash starting a known escape. Read back,
// it gives the input, each byte that was no part of a valid UTF-8 character
// replaced by U+FFFD. A mail object built from the input as folder, sender
// and subject is valid UTF-8 too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/json.hpp"
#include "fuzz_support.hpp"

namespace {

using fuzz::check;

int hex(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

void append_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | code >> 6));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | code >> 12));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Checks that `text` is valid UTF-8 without raw control characters.
void check_clean_utf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_length(text.substr(at));
        check(length > 0, "output is valid UTF-8");
        const auto lead = static_cast<unsigned char>(text[at]);
        check(!(length == 1 && (lead < 0x20 || lead == 0x7F)), "no raw C0 or DEL");
        check(!(length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0),
              "no raw C1");
        check(text.substr(at, length) != "\u2028" && text.substr(at, length) != "\u2029",
              "no raw line separators");
        at += length;
    }
}

// Reads the JSON string at the front of `json` back into bytes.
std::string read_back(std::string_view json) {
    check(json.size() >= 2 && json.front() == '"' && json.back() == '"', "quoted");
    std::string bytes;
    for (std::size_t at = 1; at + 1 < json.size(); ++at) {
        const char c = json[at];
        check(c != '"', "no bare quote inside");
        if (c != '\\') {
            bytes.push_back(c);
            continue;
        }
        check(at + 2 < json.size(), "escape complete");
        const char kind = json[++at];
        switch (kind) {
            case '"':
                bytes.push_back('"');
                break;
            case '\\':
                bytes.push_back('\\');
                break;
            case 'n':
                bytes.push_back('\n');
                break;
            case 't':
                bytes.push_back('\t');
                break;
            case 'r':
                bytes.push_back('\r');
                break;
            case 'u': {
                check(at + 5 < json.size(), "\\u has four digits");
                unsigned code = 0;
                for (int i = 1; i <= 4; ++i) {
                    const int digit = hex(json[at + static_cast<std::size_t>(i)]);
                    check(digit >= 0, "\\u digits are hexadecimal");
                    code = code << 4 | static_cast<unsigned>(digit);
                }
                check(code < 0xD800 || code > 0xDFFF, "no surrogate escapes");
                append_utf8(bytes, code);
                at += 4;
                break;
            }
            default:
                check(false, "known escape");
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string json;
    append_json_string(json, input);
    check_clean_utf8(json);

    std::string expected;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t length = utf8_length(input.substr(at));
        expected.append(length == 0 ? std::string_view("\xEF\xBF\xBD") : input.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    check(read_back(json) == expected, "reads back as the input, U+FFFD for invalid bytes");

    const std::size_t third = size / 3;
    std::string mail;
    append_json_mail(mail, input.substr(0, third), input.substr(third, third),
                     input.substr(2 * third));
    check_clean_utf8(mail);
    check(mail.front() == '{' && mail.back() == '}', "a mail is one object");
    return 0;
}
