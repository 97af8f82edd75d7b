#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MaintenanceResult;  // log/log_maintenance.hpp

// How new mail is announced (--notify).
enum class Notify : unsigned char {
    Off,       // not at all
    Auto,      // on the desktop when a session bus is reachable, else through the terminal
    Terminal,  // escape sequences that terminals show as desktop notifications
    Desktop,   // org.freedesktop.Notifications on the session bus
};

// Every setting of one run, filled from the command line (and the log path
// possibly from ~/.procmailrc). Nothing is saved between runs.
struct Settings {
    std::string mail_program = "mutt";     // -m: the mail client
    std::string mail_prefix = "-f";        // -p: client words before a folder path
    std::string mail_dir = "$HOME/mail/";  // -M: where the folders are, else the rc's MAILDIR
    bool mail_dir_given = false;           // -M was on the command line
    std::string compose_args = "-e 'unset autoedit' -s ''";  // -C: client words to write a mail
    std::string logfile;                                     // last positional argument
    bool loop = true;              // -l / -o: interactive monitor, or one-shot report
    bool clear_log = false;        // -c: empty the log and exit
    bool verbose = false;          // -V: accepted, read by nothing
    std::int32_t expanded = -1;    // -1: no folder expanded; else the row it was switched on at
    bool wide = false;             // -w: the report lists every mail
    bool beep = false;             // -b: ring the bell on new mail (toggled with 'b')
    bool no_beep_devnull = false;  // -s: no bell when the newest mail went to /dev/null
    bool hide_devnull = false;     // -H: leave /dev/null out of the list
    bool mouse = true;             // clicks and the wheel for the monitor

    bool follow = false;                     // --follow: print each new mail as it is logged
    bool json = false;                       // --json: the report and the follow stream as JSON
    bool status = false;                     // --status: one line for a status bar, then exit
    std::string status_format = "%n in %f";  // --status=FORMAT
    Notify notify = Notify::Off;             // --notify
    std::string on_new;                      // --on-new: shell command run per new mail
    std::vector<std::string> ignore;         // --ignore: folder globs that announce nothing

    bool undo = false;  // --undo: take back the last d, r or -c, then exit

    // Empties the file named by logfile (created when missing), journalled;
    // says how it went.
    MaintenanceResult truncate_log() const;
};
