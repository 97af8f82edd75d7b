#include "app/monitor.hpp"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/report.hpp"
#include "log/fd_io.hpp"
#include "log/log_maintenance.hpp"
#include "ui/screen.hpp"

namespace {

void say(const std::string& line) {
    write_all(STDERR_FILENO, line + "\n");
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
        const MaintenanceResult cleared = truncate_log(settings.logfile);
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
