#include <clocale>
#include <cstdlib>

#include "app/command_line.hpp"
#include "app/monitor.hpp"
#include "app/signals.hpp"
#include "log/mail_log_scanner.hpp"
#include "ui/screen.hpp"

int main(int argc, char* argv[]) {
    install_signal_handlers();
    std::setlocale(LC_ALL, "");
    CommandLine command_line(argc, argv);
    command_line.find_logfile();
    // The report without -w, the status line and the follow stream show
    // counts only, or each mail as it is read: they keep no sender or subject.
    const Settings& settings = command_line.settings;
    const bool counts = settings.status || settings.follow || (!settings.loop && !settings.wide);
    MailLogScanner log(counts ? MailLogScanner::Keep::Counts : MailLogScanner::Keep::Mails);
    Monitor monitor(command_line.settings, log);
    monitor.run();
    end_screen();
    // Ends here, without freeing the folders of a large log one by one: the
    // system takes the memory back at once.
    std::exit(0);
}
