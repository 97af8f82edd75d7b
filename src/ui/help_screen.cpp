#include "ui/help_screen.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/monitor.hpp"
#include "app/texts.hpp"
#include "ui/key_bindings.hpp"
#include "ui/rows.hpp"
#include "ui/screen.hpp"
#include "ui/window.hpp"

#include <curses.h>

namespace {

constexpr std::string_view title = "Help for index";

// "     K     DESCRIPTION": the key's name in a field of six columns.
std::string key_line(const KeyBinding& row) {
    std::string line = "     " + key_name(row.key);
    line.resize(std::max<std::size_t>(line.size() + 1, 11), ' ');
    return line.append(row.description);
}

// The page below the top bar: the heading, a line for every described key,
// and the homepage.
std::vector<Row> page_rows() {
    std::vector<Row> rows(3);
    rows[1].spans.push_back({2, "Main menu keys:", Paint::Heading});
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (!row->description.empty()) {
            rows.push_back({Row::Fill::None, {{0, key_line(*row), Paint::Text}}});
        }
    }
    rows.resize(rows.size() + 2);
    rows.push_back({Row::Fill::None, {{0, "  ", Paint::Text}, {2, "Homepage:", Paint::Heading}}});
    rows.emplace_back();
    rows.push_back({Row::Fill::None, {{0, "    " + std::string(homepage), Paint::Text}}});
    return rows;
}

// The rows of the page the window shows between its bars.
std::uint64_t rows_shown(const Window& window) {
    return static_cast<std::uint64_t>(std::max(window.height() - 3, 0));
}

void draw_page(Window& window, Highlight highlight, const std::string& bar_text,
               const std::vector<Row>& rows, std::uint64_t top) {
    WINDOW* handle = window.handle();
    window.draw_bar(highlight, 0, title);
    const std::uint64_t shown = rows_shown(window);
    window.draw_view_position(highlight, top, shown, rows.size(), title.size());
    for (std::uint64_t i = top; i < rows.size() && i - top < shown; ++i) {
        window.draw_row(highlight, static_cast<int>(i - top) + 1, rows[i]);
    }
    window.draw_bar(highlight, window.height() - 2, bar_text);
    window.draw_version();

    const std::string credit = credit_text();
    wattrset(handle, COLOR_PAIR(text_pair));
    if (wmove(handle, window.height() - 1, window.width() - static_cast<int>(credit.size())) ==
        OK) {
        waddnstr(handle, credit.data(), static_cast<int>(credit.size()));
    }

    wattrset(handle, COLOR_PAIR(bar_pair));
    wmove(handle, 0, window.width() - 1);
    wattr_off(handle, A_BOLD, nullptr);
}

// Where the page starts after `command`, when it is one that scrolls.
std::uint64_t scrolled(Command command, std::uint64_t top, std::uint64_t rows,
                       std::uint64_t shown) {
    switch (command) {
        case Command::Up:
            return top > 0 ? top - 1 : 0;
        case Command::Down:
            return clamped_top(top + 1, rows, shown);
        case Command::PageUp:
            return top > shown ? top - shown : 0;
        case Command::PageDown:
            return clamped_top(top + shown, rows, shown);
        case Command::First:
            return 0;
        case Command::Last:
            return clamped_top(rows, rows, shown);
        default:
            return top;
    }
}

}  // namespace

void print_key_list(WINDOW* window) {
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (!row->description.empty()) {
            const std::string line = key_line(*row) + "\n";
            waddnstr(window, line.data(), static_cast<int>(line.size()));
        }
    }
}

std::string help_bar_text() {
    std::string text(1, static_cast<char>(command_to_key(Command::Quit)));
    text.append(":Exit");
    return text;
}

void Monitor::show_help() const {
    const Highlight highlight = highlight_for(colour);
    Window window;
    if (!window.is_open()) {
        return;  // no window to read the quit key from: back to the main screen
    }
    wtimeout(window.handle(), 400);  // a pass at least every 0.4 seconds
    const std::string bar_text = help_bar_text();
    const std::vector<Row> rows = page_rows();
    std::uint64_t first = 0;
    bool draw = true;
    for (;;) {
        if (window.resized()) {
            first = clamped_top(first, rows.size(), rows_shown(window));
            werase(window.handle());
            draw = true;
        }
        if (std::exchange(draw, false)) {
            draw_page(window, highlight, bar_text, rows, first);
        }
        wrefresh(window.handle());
        const int key = wgetch(window.handle());
        const Command command = key_to_command(key);
        if (command == Command::Quit || key == '?' || key == key_code::escape) {
            break;
        }
        const std::uint64_t moved = scrolled(command, first, rows.size(), rows_shown(window));
        if (moved != first) {
            first = moved;
            werase(window.handle());
            draw = true;
        }
    }
    window.close();
}
