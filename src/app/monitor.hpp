#pragma once

#include <cstdint>

#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"

// The controller of one run: it refers to the settings and the log scanner,
// owned by the program entry, and holds the selection of the monitor.
class Monitor {
public:
    Monitor(Settings& run_settings, MailLogScanner& scanner)
        : settings(run_settings), log(scanner) {}

    // Runs the mode the settings ask for: empties the log and ends the
    // process, prints the report, or runs the interactive monitor.
    void run();

    // Prints the folder report (with `wide`, every mail) on standard output.
    void print_report(bool wide);

    Settings& settings;
    MailLogScanner& log;
    std::uint32_t selected = 0;  // the selected row of the folder list
    bool colour = false;         // the terminal shows colours
};
