// A small program for the terminal tests: it drives the screen code of the
// project (start_screen, Window, draw_folders, show_help, end_screen) in a
// pseudo-terminal the way the monitor does, without the monitor loop.
//
//   ui_driver keys
//       Starts the screen; shows "colour=0|1" in the top bar and, on row 2,
//       the code of every key read ("key 259"); q ends it.
//   ui_driver folders LOG SELECTED EXPANDED
//       Reads LOG and draws the main screen once and after every resize: top
//       bar, folder view, marker, bottom bar, version line, cursor at the
//       right end of the selected row; "?" shows the help screen, q ends it.
//   ui_driver help
//       Shows the help screen until it is left.
// After the screen has ended, "ended" is printed on standard output.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/monitor.hpp"
#include "app/settings.hpp"
#include "app/signals.hpp"
#include "log/mail_log_scanner.hpp"
#include "ui/key_bindings.hpp"
#include "ui/screen.hpp"
#include "ui/window.hpp"

#include <curses.h>

namespace {

int usage() {
    std::fputs("usage: ui_driver keys | folders LOG SELECTED EXPANDED | help\n", stderr);
    return 2;
}

void show_keys(bool colour) {
    Window screen(stdscr);
    int key = ERR;
    for (;;) {
        if (screen.resized()) {
            werase(screen.handle());
            screen.draw_bar(colour, 0, 0, colour ? "colour=1" : "colour=0");
            screen.draw_version();
        }
        if (key != ERR) {
            wattrset(screen.handle(), A_NORMAL);
            mvwprintw(screen.handle(), 2, 0, "key %d", key);
            wclrtoeol(screen.handle());
        }
        wmove(screen.handle(), 0, screen.width() - 1);
        wrefresh(screen.handle());
        key = wgetch(screen.handle());
        if (key == 'q') {
            break;
        }
    }
    screen.close();
}

void draw_main(Monitor& monitor, Window& screen) {
    const bool colour = monitor.colour;
    screen.draw_bar(colour, 0, 0, "driver top bar");
    if (!monitor.log.folders().empty()) {
        monitor.draw_folders(screen.handle(), monitor.settings.expanded, screen.width(), colour);
        screen.draw_arrow(colour, static_cast<int>(monitor.selected));
    }
    screen.draw_bar(colour, screen.height() - 2, 0, "driver bottom bar");
    screen.draw_version();
    const int row = monitor.log.folders().empty() ? 0 : static_cast<int>(monitor.selected) + 1;
    wmove(screen.handle(), row, screen.width() - 1);
}

void show_folders(Monitor& monitor) {
    Window screen(stdscr);
    bool redraw = true;
    for (;;) {
        if (screen.resized() || redraw) {
            werase(screen.handle());
            draw_main(monitor, screen);
            redraw = false;
        }
        wrefresh(screen.handle());
        const Command command = key_to_command(wgetch(screen.handle()));
        if (command == Command::Quit) {
            break;
        }
        if (command == Command::Help) {
            monitor.show_help(monitor.colour);
            redraw = true;
        }
    }
    screen.close();
}

}  // namespace

int main(int argc, char* argv[]) {
    install_signal_handlers();
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        return usage();
    }
    const std::string mode = argv[1];
    Settings settings;
    MailLogScanner log;
    Monitor monitor(settings, log);
    if (mode == "keys") {
        start_screen(monitor.colour);
        show_keys(monitor.colour);
    } else if (mode == "folders" && argc == 5) {
        settings.logfile = argv[2];
        log.reload(settings.logfile);
        monitor.selected = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        settings.expanded = static_cast<std::int32_t>(std::strtol(argv[4], nullptr, 10));
        start_screen(monitor.colour);
        show_folders(monitor);
    } else if (mode == "help") {
        start_screen(monitor.colour);
        monitor.show_help(monitor.colour);
    } else {
        return usage();
    }
    end_screen();
    std::puts("ended");
    return 0;
}
