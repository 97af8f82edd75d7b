#include "ui/screen_text.hpp"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "app/inert_text.hpp"

bool ScreenText::add(std::string_view shown, int columns) {
    if (cut_ || columns > max_columns_ - columns_) {
        cut_ = true;
        return false;
    }
    text_.append(shown);
    columns_ += columns;
    return true;
}

bool ScreenText::append(std::string_view raw) {
    const bool multibyte = MB_CUR_MAX > 1;
    std::size_t i = 0;
    while (i < raw.size() && !cut_) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (const std::size_t control = control_length(raw.substr(i)); control > 0) {
            std::string inert;
            append_control(inert, raw.substr(i, control));
            add(inert, static_cast<int>(inert.size()));
            i += control;
        } else if (c < 0x80) {
            add(raw.substr(i, 1), 1);
            ++i;
        } else if (!multibyte) {
            add(std::isprint(c) ? raw.substr(i, 1) : "?", 1);
            ++i;
        } else {
            std::mbstate_t state{};
            wchar_t wide = 0;
            const std::size_t length = std::mbrtowc(&wide, raw.data() + i, raw.size() - i, &state);
            if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2) ||
                length == 0) {
                add("?", 1);  // a byte that begins no whole character
                ++i;
                continue;
            }
            const int width = ::wcwidth(wide);
            if (std::iswprint(static_cast<wint_t>(wide)) && width >= 0) {
                add(raw.substr(i, length), width);
            } else {
                add("?", 1);
            }
            i += length;
        }
    }
    return !cut_;
}
