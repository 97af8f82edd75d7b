#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <utility>

#include "app/alerts.hpp"
#include "app/monitor.hpp"
#include "app/new_mails.hpp"
#include "log/log_bytes.hpp"
#include "log/log_look.hpp"
#include "log/unique_fd.hpp"

namespace {

// Whether two open descriptors are the same file.
bool same_file(const UniqueFd& a, const UniqueFd& b) {
    struct stat first {};
    struct stat second {};
    return ::fstat(a.get(), &first) == 0 && ::fstat(b.get(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

// Sleeps until the log changes (or the bus or a hook needs a look), reads
// what is new and writes it out at once; ends when standard output has no
// reader any more, noticed while it sleeps as well as when a write fails.
void Monitor::follow() {
    std::signal(SIGPIPE, SIG_IGN);  // a reader gone is a failed write
    NewMails stream(settings, NewMails::Rule::Tail,
                    settings.json ? NewMails::Format::Json : NewMails::Format::Text, STDOUT_FILENO);
    Alerts alerts(settings, Alerts::HookOutput::ToStderr);
    LogLook look(settings.logfile);  // before the first read: no change is missed
    // The log is kept open, so that when it is renamed away what was written
    // to it before its successor began is still read, as tail -F reads it.
    UniqueFd held = open_to_read(settings.logfile);
    log.update(LogBytes::file(held.get()));  // what is logged already is not printed
    log.set_observer(&stream);
    std::uint64_t mails_read = log.read_total();
    // Reads what is new in the log held open and writes it out.
    const auto read_held = [&] {
        log.update(LogBytes::file(held.get()));
        if (!stream.flush()) {
            std::exit(0);
        }
        const std::uint64_t read = log.read_total();
        look.read(read > mails_read ? read - mails_read : 0);
        mails_read = read;
        alerts.announce(stream.take());
    };
    for (;;) {
        if (look.changed()) {
            if (UniqueFd now = open_to_read(settings.logfile); now && !same_file(held, now)) {
                read_held();  // the rest of the log rotated away, then its successor
                held = std::move(now);
            }
            read_held();
        }
        // Standard output asks for no event: a pipe whose reader went away
        // reports an error all the same.
        pollfd waits[3] = {
            {look.event_fd(), POLLIN, 0}, {STDOUT_FILENO, 0, 0}, {alerts.fd(), alerts.events(), 0}};
        if (::poll(waits, 3, shorter_wait(look.wait_ms(), alerts.timeout_ms())) > 0 &&
            (waits[1].revents & (POLLERR | POLLHUP)) != 0) {
            std::exit(0);
        }
        look.take_events();
        alerts.process();
    }
}
