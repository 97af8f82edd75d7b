#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

// Builds a line of text from the log (senders, subjects, folder names) as the
// screen can show it safely and predictably:
// - control characters in caret notation (^[, ^?, M-^[) and Unicode format
//   characters as their code point (<U+202E>), one column per byte, so that
//   nothing from a stranger can drive the terminal or reorder what it shows;
// - in the current locale, every whole printable character kept as it is
//   (UTF-8 shows as characters in a UTF-8 locale), and every byte that does
//   not begin one, or a character that cannot be printed, shown as '?'.
// The line is cut before the first character (or inert form) that would take
// it past `max_columns` screen columns; a character is never split.
class ScreenText {
public:
    explicit ScreenText(int max_columns = INT_MAX) : max_columns_(max_columns) {}

    // Adds `raw`; false when the line was cut here or before (then nothing
    // more is added).
    bool append(std::string_view raw);

    const std::string& text() const { return text_; }
    // The screen columns the text takes.
    int columns() const { return columns_; }

private:
    bool add(std::string_view shown, int columns);

    std::string text_;
    int max_columns_;
    int columns_ = 0;
    bool cut_ = false;
};
