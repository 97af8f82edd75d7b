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
    if (c == 0xc2 && text.size() > 1 && is_c1(static_cast<unsigned char>(text[1]))) {
        return 2;
    }
    return 0;
}

void append_control(std::string& out, std::string_view control) {
    const auto last = static_cast<unsigned char>(control.back());
    if (control.size() == 2) {
        out.append("M-");
        append_caret(out, static_cast<unsigned char>(last - 0x80));
    } else {
        append_caret(out, last);
    }
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
