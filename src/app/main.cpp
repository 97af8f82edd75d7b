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
    MailLogScanner log;
    Monitor monitor(command_line.settings, log);
    monitor.run();
    end_screen();
    // Ends here, without freeing the folders of a large log one by one: the
    // system takes the memory back at once.
    std::exit(0);
}
