#include "app/inert_text.hpp"

namespace {

bool is_c0(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}
bool is_c1(unsigned char c) {
    return c >= 0x80 && c < 0xa0;
}

void append_caret(std::string& out, unsigned char c) {
    out.push_back('^');
    out.push_back(c == 0x7f ? '?' : static_cast<char>(c + 0x40));
}

}  // namespace

void append_text(std::string& out, std::string_view text, ControlBytes mode) {
    if (mode == ControlBytes::Raw) {
        out.append(text);
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (is_c0(c)) {
            append_caret(out, c);
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   is_c1(static_cast<unsigned char>(text[i + 1]))) {
            out.append("M-");
            const auto low =
                static_cast<unsigned char>(static_cast<unsigned char>(text[++i]) - 0x80);
            append_caret(out, low);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
}
