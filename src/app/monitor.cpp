#include "app/monitor.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/fatal.hpp"
#include "app/report.hpp"
#include "app/signals.hpp"
#include "app/texts.hpp"
#include "log/fd_io.hpp"
#include "log/unique_fd.hpp"
#include "ui/screen.hpp"

namespace {

// Why the log cannot be read (an errno value), or 0 when it can.
int read_error(const std::string& path) {
    const UniqueFd log = open_to_read(path);
    struct stat status {};
    if (!log || ::fstat(log.get(), &status) != 0) {
        return errno;
    }
    return S_ISDIR(status.st_mode) ? EISDIR : 0;
}

}  // namespace

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
    // Without a terminal on both sides nothing could be read or shown: the
    // keys would never come and curses would write into a file or a pipe.
    if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0) {
        write_all(STDERR_FILENO, no_terminal_text());
        std::exit(1);
    }
    catch_broken_pipe();
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
    // A log that cannot be read would print as no mail at all: a script
    // must not take that for "nothing new". (A FIFO or a device in its place
    // reads as empty, without waiting.)
    if (const int error = read_error(settings.logfile); error != 0) {
        fatal_error("Could not read Procmail logfile '" + settings.logfile +
                    "': " + std::strerror(error));
    }
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
