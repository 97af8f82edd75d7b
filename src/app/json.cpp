#include "app/json.hpp"

#include <array>
#include <charconv>

#include "log/encoded_words.hpp"

namespace {}  // namespace

std::size_t utf8_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2) || (lead == 0xE0 && byte(1) < 0xA0) ||
            (lead == 0xED && byte(1) >= 0xA0)) {
            return 0;
        }
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3) ||
            (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

namespace {

void append_escape(std::string& out, unsigned code) {
    constexpr std::string_view hex = "0123456789abcdef";
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(hex[code >> shift & 0xF]);
    }
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8_length(text.substr(at));
        if (length == 0) {
            out.append("\xEF\xBF\xBD");  // U+FFFD for a byte that is no character
            ++at;
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[at]);
        if (length == 1) {
            switch (lead) {
                case '"':
                    out.append("\\\"");
                    break;
                case '\\':
                    out.append("\\\\");
                    break;
                case '\n':
                    out.append("\\n");
                    break;
                case '\t':
                    out.append("\\t");
                    break;
                case '\r':
                    out.append("\\r");
                    break;
                default:
                    if (lead < 0x20 || lead == 0x7F) {
                        append_escape(out, lead);
                    } else {
                        out.push_back(static_cast<char>(lead));
                    }
            }
        } else if (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            append_escape(out, static_cast<unsigned char>(text[at + 1]));  // C1: U+0080..U+009F
        } else if (text.substr(at, length) == "\u2028" || text.substr(at, length) == "\u2029") {
            append_escape(out, text[at + 2] == '\xA8' ? 0x2028 : 0x2029);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    out.push_back('"');
}

void append_json_member(std::string& out, std::string_view name, std::string_view text) {
    append_json_string(out, name);
    out.push_back(':');
    append_json_string(out, text);
}

void append_json_member(std::string& out, std::string_view name, std::uint64_t number) {
    append_json_string(out, name);
    out.push_back(':');
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
    out.append(digits.data(), result.ptr);
}

void append_json_mail(std::string& out, std::string_view folder, std::string_view from,
                      std::string_view subject) {
    out.push_back('{');
    append_json_member(out, "folder", folder);
    out.push_back(',');
    append_json_member(out, "from", from);
    out.push_back(',');
    append_json_member(out, "subject", decode_encoded_words(subject, DecodeTo::Utf8));
    out.push_back(',');
    append_json_member(out, "subject_raw", subject);
    out.push_back('}');
}
