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
            screen.draw_bar(highlight_for(colour), 0, colour ? "colour=1" : "colour=0");
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

void show_folders(Monitor& monitor) {
    Window screen(stdscr);
    bool redraw = true;
    for (;;) {
        if (screen.resized() || redraw) {
            werase(screen.handle());
            monitor.draw_screen(screen, "driver top bar", "driver bottom bar");
            redraw = false;
        }
        wrefresh(screen.handle());
        const Command command = key_to_command(wgetch(screen.handle()));
        if (command == Command::Quit) {
            break;
        }
        if (command == Command::Help) {
            monitor.show_help();
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
        monitor.show_help();
    } else {
        return usage();
    }
    end_screen();
    std::puts("ended");
    return 0;
}
