#include "ui/screen.hpp"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/fatal.hpp"
#include "app/signals.hpp"

#include <curses.h>
#include <term.h>

namespace {

SCREEN* running_screen = nullptr;

// A terminfo string capability of the current terminal, or nothing.
std::string_view capability(const char* name) {
    const char* value = tigetstr(name);
    // (char*)-1 is how terminfo says "not a string capability".
    if (value == nullptr ||
        value == reinterpret_cast<const char*>(-1)) {  // NOLINT(performance-no-int-to-ptr)
        return {};
    }
    return value;
}

// Whether the terminal that TERM names can carry a full-screen program: it
// has to be known and must be able to put the cursor anywhere. Curses itself
// refuses only unknown and generic types, and would draw a mess on the rest.
bool terminal_usable() {
    int status = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) {
        return false;
    }
    const bool usable = !capability("cup").empty();
    del_curterm(cur_term);
    return usable;
}

// What the signal handler writes to hand the terminal back without curses:
// the same as clear() and endwin() would send, in that order.
std::string leave_text() {
    std::string text;
    for (const char* name : {"clear", "op", "sgr0", "cnorm", "rmkx", "rmcup"}) {
        text += without_padding(capability(name));
    }
    return text;
}

void end_screen_at_exit() {
    end_screen();
}

}  // namespace

std::string without_padding(std::string_view capability) {
    std::string text;
    for (std::size_t i = 0; i < capability.size(); ++i) {
        if (capability.compare(i, 2, "$<") == 0) {
            const std::size_t close = capability.find('>', i);
            if (close != std::string_view::npos) {
                i = close;
                continue;
            }
        }
        text.push_back(capability[i]);
    }
    return text;
}

void start_screen(bool& colour, bool mouse) {
    // The modes the shell left the terminal in, before curses changes them.
    termios shell_modes{};
    ::tcgetattr(STDOUT_FILENO, &shell_modes);  // not a terminal: nothing to restore

    if (!terminal_usable()) {
        fatal_error("Could not start up curses");
    }
    running_screen = newterm(nullptr, stdout, stdin);
    if (running_screen == nullptr) {
        fatal_error("Could not start up curses");
    }
    prepare_terminal_restore(STDOUT_FILENO, shell_modes, leave_text());
    set_fatal_cleanup(end_screen);
    static bool exit_hook = false;
    if (!exit_hook) {
        // Whatever way the process ends from here, the terminal gets its
        // modes back.
        std::atexit(end_screen_at_exit);
        exit_hook = true;
    }

    // The terminal modes of the whole run, set here alone: keys one at a
    // time without echo, Return as carriage return, and the output queue
    // flushed on an interrupt key. How long a key read waits is the
    // keyboard's business (poll), never the terminal driver's.
    cbreak();
    noecho();
    nonl();
    intrflush(stdscr, TRUE);
    keypad(stdscr, TRUE);
    // A lone Escape (which cancels a search) is told from the start of a
    // key's sequence after this long.
    set_escdelay(100);
    // Clicks as single events at once, not held back to be told from a
    // double click.
    mousemask(mouse ? BUTTON1_PRESSED | BUTTON1_CLICKED | BUTTON4_PRESSED | BUTTON5_PRESSED : 0,
              nullptr);
    mouseinterval(0);
    // NO_COLOR set and not empty: the user asks for no colours, and gets the
    // highlighting of a terminal that has none.
    const char* no_colour = std::getenv("NO_COLOR");
    colour = has_colors() && (no_colour == nullptr || *no_colour == '\0');
    if (colour) {
        start_color();
    }
    define_colour_pairs(highlight_for(colour));
}

void define_colour_pairs(Highlight highlight) {
    const bool colour = highlight == Highlight::Colour;
    // Made in both cases; without colour they fail, which changes nothing.
    init_pair(text_pair, COLOR_WHITE, COLOR_BLACK);
    init_pair(bar_pair, COLOR_WHITE, colour ? COLOR_BLUE : COLOR_BLACK);
    init_pair(selection_pair, colour ? COLOR_YELLOW : COLOR_WHITE,
              colour ? COLOR_RED : COLOR_BLACK);
}

void end_screen() {
    if (running_screen == nullptr) {
        return;
    }
    clear();
    endwin();
    forget_terminal_restore();
    delscreen(running_screen);
    running_screen = nullptr;
}
