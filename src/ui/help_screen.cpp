#include "ui/help_screen.hpp"

#include <string_view>

#include "app/monitor.hpp"
#include "app/texts.hpp"
#include "ui/key_bindings.hpp"
#include "ui/screen.hpp"
#include "ui/window.hpp"

#include <curses.h>

namespace {

constexpr std::string_view title = "Help for index";

void draw_page(Window& window, Highlight highlight, const std::string& bar_text) {
    WINDOW* handle = window.handle();
    window.draw_bar(highlight, 0, title);

    wattrset(handle, COLOR_PAIR(text_pair));
    wattr_on(handle, A_BOLD | A_UNDERLINE, nullptr);
    if (wmove(handle, 2, 2) == OK) {
        waddstr(handle, "Main menu keys:");
    }
    wattr_off(handle, A_BOLD | A_UNDERLINE, nullptr);

    // The key list and the homepage flow on from row 4 as curses writes them;
    // when row 4 lies outside the window none of it has a place.
    if (wmove(handle, 4, 0) == OK) {
        print_key_list(handle);
        wprintw(handle, "\n\n  ");
        wattr_on(handle, A_BOLD | A_UNDERLINE, nullptr);
        wprintw(handle, "Homepage:\n");
        wattr_off(handle, A_BOLD | A_UNDERLINE, nullptr);
        wprintw(handle, "\n    %.*s", static_cast<int>(homepage.size()), homepage.data());
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

}  // namespace

void print_key_list(WINDOW* window) {
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (!row->description.empty()) {
            wprintw(window, "     %c     %.*s\n", row->key,
                    static_cast<int>(row->description.size()), row->description.data());
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
    bool first_pass = true;
    for (;;) {
        if (window.resized()) {
            werase(window.handle());
            draw_page(window, highlight, bar_text);
        } else if (first_pass) {
            draw_page(window, highlight, bar_text);
        }
        first_pass = false;
        wrefresh(window.handle());
        if (key_to_command(wgetch(window.handle())) == Command::Quit) {
            break;
        }
    }
    window.close();
}
