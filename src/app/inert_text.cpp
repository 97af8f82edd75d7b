#include "app/inert_text.hpp"

#include <cstddef>

namespace {

bool is_c0(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}
bool is_c1(unsigned char c) {
    return c >= 0x80 && c < 0xa0;
}

// The length of the well-formed UTF-8 sequence at the front of `text` (2 to
// 4 bytes), or 0 when none begins there.
std::size_t utf8_length(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;   // bounds of the second byte, which rule out
    unsigned char high = 0xbf;  // overlong forms, surrogates and too-large values
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) {
            return 0;
        }
    }
    return length;
}

// The code point of a well-formed UTF-8 sequence that utf8_length measured.
char32_t code_point(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence[0]);
    char32_t code = lead & (0x7fu >> sequence.size());
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        code = (code << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3fu);
    }
    return code;
}

// The Unicode format characters (general category Cf) and the line and
// paragraph separators: invisible, yet they can reverse the text around them
// (U+202E), join it or hide what it says.
struct CodeRange {
    char32_t first;
    char32_t last;
};
constexpr CodeRange format_characters[] = {
    {0x00ad, 0x00ad},   {0x0600, 0x0605},   {0x061c, 0x061c},   {0x06dd, 0x06dd},
    {0x070f, 0x070f},   {0x0890, 0x0891},   {0x08e2, 0x08e2},   {0x180e, 0x180e},
    {0x200b, 0x200f},   {0x2028, 0x202e},   {0x2060, 0x2064},   {0x2066, 0x206f},
    {0xfeff, 0xfeff},   {0xfff9, 0xfffb},   {0x110bd, 0x110bd}, {0x110cd, 0x110cd},
    {0x13430, 0x1343f}, {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001},
    {0xe0020, 0xe007f},
};

bool is_format(char32_t code) {
    for (const CodeRange& range : format_characters) {
        if (code >= range.first && code <= range.last) {
            return true;
        }
    }
    return false;
}

void append_caret(std::string& out, unsigned char c) {
    out.push_back('^');
    out.push_back(c == 0x7f ? '?' : static_cast<char>(c + 0x40));
}

}  // namespace

std::size_t control_length(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto c = static_cast<unsigned char>(text[0]);
    if (is_c0(c)) {
        return 1;
    }
    const std::size_t length = utf8_length(text);
    if (length > 1) {
        const char32_t code = code_point(text.substr(0, length));
        if (code < 0xa0 || is_format(code)) {  // below 0xA0: a C1 control
            return length;
        }
    }
    return 0;
}

void append_control(std::string& out, std::string_view control) {
    if (control.size() == 1) {
        append_caret(out, static_cast<unsigned char>(control[0]));
        return;
    }
    const char32_t code = code_point(control);
    if (code < 0xa0) {
        out.append("M-");
        append_caret(out, static_cast<unsigned char>(code - 0x80));
        return;
    }
    out.append("<U+");
    for (int shift = code > 0xfffff ? 20 : code > 0xffff ? 16 : 12; shift >= 0; shift -= 4) {
        out.push_back("0123456789ABCDEF"[(code >> shift) & 0xfu]);
    }
    out.push_back('>');
}

void append_text(std::string& out, std::string_view text, ControlBytes mode) {
    if (mode == ControlBytes::Raw) {
        out.append(text);
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (const std::size_t control = control_length(text.substr(i)); control > 0) {
            append_control(out, text.substr(i, control));
            i += control - 1;
        } else if (const std::size_t length = utf8_length(text.substr(i)); length > 1) {
            out.append(text.substr(i, length));  // a whole character, its continuation included
            i += length - 1;
        } else if (is_c1(c)) {
            // A C1 control on its own, which a terminal in an 8-bit mode obeys.
            out.append("M-");
            append_caret(out, static_cast<unsigned char>(c - 0x80));
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
}
