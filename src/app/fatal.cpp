#include "app/fatal.hpp"

#include "ui/screen.hpp"

#include <cstdio>
#include <cstdlib>

void fatal_error(std::string_view message) {
    end_screen();  // the message belongs on the shell's screen, not under curses
    std::fputs("lurko error: ", stdout);
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    std::exit(1);
}
