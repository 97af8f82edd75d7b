#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a span of a row is painted; the window maps each to its colours.
enum class Paint : unsigned char {
    Text,       // ordinary text
    Bold,       // ordinary text, bold
    Heading,    // ordinary text, bold and underlined
    Selection,  // on the selected row: its colours, bold
    Bar,        // on a bar: its colours, bold
};

// Text at a column of a row, as the screen shows it (see ScreenText).
struct Span {
    int column = 0;
    std::string text;
    Paint paint = Paint::Text;
};

// One row of a screen as data: what is done to the whole row first, then
// its spans from left to right.
struct Row {
    enum class Fill : unsigned char {
        None,       // the row's cells stay as they are
        Clear,      // erased
        Selection,  // erased, then painted in the selection's colours
    };
    Fill fill = Fill::None;
    std::vector<Span> spans;
};

// The shape of the folder list: one row per folder and, under the selected
// folder while it is expanded, one row per mail of it.
struct ListShape {
    std::uint64_t folders = 0;
    std::uint64_t selected = 0;  // not below `folders` when no folder is selected
    std::uint64_t mails = 0;     // mail rows under the selected folder

    std::uint64_t rows() const { return folders + (selected < folders ? mails : 0); }
    // The row of folder `index`.
    std::uint64_t folder_row(std::uint64_t index) const {
        return index > selected ? index + mails : index;
    }
    // The folder whose row, or one of whose mail rows, is `row`.
    std::uint64_t folder_at(std::uint64_t row) const {
        if (row <= selected) {
            return row;
        }
        return row <= selected + mails ? selected : row - mails;
    }
};

// Where a view of `page` rows of a list of `rows` rows may start: at 0 when
// the list fits, else no further than its last page.
inline std::uint64_t clamped_top(std::uint64_t top, std::uint64_t rows, std::uint64_t page) {
    const std::uint64_t last = rows > page ? rows - page : 0;
    return top < last ? top : last;
}
