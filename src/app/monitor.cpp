#include "app/monitor.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/report.hpp"
#include "app/signals.hpp"
#include "app/texts.hpp"
#include "log/fd_io.hpp"
#include "log/log_maintenance.hpp"
#include "log/unique_fd.hpp"
#include "ui/screen.hpp"

namespace {

void say(const std::string& line) {
    write_all(STDERR_FILENO, line + "\n");
}

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
    // A change to the log that a crash cut short is finished (or taken back)
    // before anything reads the log.
    if (const std::optional<std::string> recovered = recover_log(settings.logfile)) {
        say(*recovered);
        message = recovered->substr(recovered->find(' ') + 1);  // without "lurko: "
        message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
    }
    if (settings.clear_log) {
        const MaintenanceResult cleared = settings.truncate_log();
        if (cleared.outcome == RewriteOutcome::Failed) {
            say("lurko error: Could not clear Procmail logfile '" + settings.logfile +
                "': " + cleared.reason);
            std::exit(1);
        }
        std::exit(0);
    }
    if (settings.undo) {
        const MaintenanceResult undone = undo_log(settings.logfile);
        if (undone.outcome != RewriteOutcome::Rewritten) {
            say(undone.outcome == RewriteOutcome::Failed
                    ? "lurko error: Could not undo the last change of Procmail logfile '" +
                          settings.logfile + "': " + undone.reason
                    : "lurko: " + undone.reason);
            std::exit(1);
        }
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
    // Told on standard error, as a failed -c is: standard output is the
    // report, which a script reads.
    if (const int error = read_error(settings.logfile); error != 0) {
        say("lurko error: Could not read Procmail logfile '" + settings.logfile +
            "': " + std::strerror(error));
        std::exit(1);
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
