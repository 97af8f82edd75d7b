#include "app/monitor.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/report.hpp"
#include "log/fd_io.hpp"
#include "ui/screen.hpp"

void Monitor::run() {
    if (settings.clear_log) {
        settings.truncate_log();
        std::exit(0);
    }
    if (settings.status) {
        std::exit(print_status());
    }
    if (settings.follow) {
        follow();
    }
    if (!settings.loop) {
        print_report(settings.wide);
        return;
    }
    start_screen(colour, settings.mouse);
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
    // Standard output may be what failed, so the complaint goes to standard
    // error, and the status tells a script that the report is incomplete.
    const bool written =
        std::fflush(stdout) == 0 && (settings.json ? write_json_report(STDOUT_FILENO, log, wide)
                                                   : write_report(STDOUT_FILENO, log, wide, mode));
    if (!written) {
        const std::string line =
            "lurko error: Could not write the report: " + std::string(std::strerror(errno)) + "\n";
        write_all(STDERR_FILENO, line);
        std::exit(1);
    }
}
