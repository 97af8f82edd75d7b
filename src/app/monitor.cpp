#include "app/monitor.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/report.hpp"
#include "ui/screen.hpp"

void Monitor::run() {
    if (settings.clear_log) {
        settings.truncate_log();
        std::exit(0);
    }
    if (!settings.loop) {
        print_report(settings.wide);
        return;
    }
    start_screen(colour);
    run_screen();
}

void Monitor::refresh_list() {
    log.update(settings.logfile);
    if (settings.hide_devnull) {
        log.remove_folder(std::string(devnull_folder));
    }
}

void Monitor::print_report(bool wide) {
    refresh_list();
    // A terminal gets control characters in an inert form; a pipe or a file
    // gets the log's bytes unchanged.
    const ControlBytes mode = ::isatty(STDOUT_FILENO) ? ControlBytes::Caret : ControlBytes::Raw;
    std::fflush(stdout);
    write_report(STDOUT_FILENO, log, wide, mode);
}
