#include "app/signals.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "log/fd_io.hpp"

namespace {

// Filled before curses starts, read only by the handler. The handler may
// interrupt anything, so it touches nothing but these plain bytes and
// async-signal-safe calls.
struct TerminalRestore {
    termios modes;
    int fd;
    std::size_t leave_size;
    char leave_text[512];
};

TerminalRestore restore;
volatile std::sig_atomic_t restore_armed = 0;

extern "C" void handle_signal(int number) {
    catch_signal(number);
}

}  // namespace

std::string_view signal_name(int number) {
    switch (number) {
        case SIGINT:
            return "SIGINT - Interrupt";
        case SIGSEGV:
            return "SIGSEGV - Segmentation fault";
        case SIGTERM:
            return "SIGTERM - Terminated";
        case SIGHUP:
            return "SIGHUP - Hangup";
        default:
            return "Unknown signal";
    }
}

void install_signal_handlers() {
    // Besides an interrupt and a crash, the usual requests to end (kill, a
    // closed terminal) and the other crashes hand the terminal back too.
    for (const int number : {SIGINT, SIGSEGV, SIGTERM, SIGHUP, SIGABRT, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(number, handle_signal);
    }
}

void catch_signal(int number) {
    if (restore_armed) {
        write_all(restore.fd, std::string_view(restore.leave_text, restore.leave_size));
        ::tcsetattr(restore.fd, TCSADRAIN, &restore.modes);
    }
    const std::string_view name = signal_name(number);
    char line[128];
    std::size_t size = 0;
    for (const std::string_view piece :
         {std::string_view("Caught signal ("), name, std::string_view(")\n")}) {
        std::memcpy(line + size, piece.data(), piece.size());
        size += piece.size();
    }
    write_all(STDERR_FILENO, std::string_view(line, size));
    if (number == SIGINT) {
        ::_exit(0);
    }
    // Anything else ends as the signal would have ended it unhandled.
    std::signal(number, SIG_DFL);
    sigset_t self;
    sigemptyset(&self);
    sigaddset(&self, number);
    ::sigprocmask(SIG_UNBLOCK, &self, nullptr);  // the handler runs with it blocked
    std::raise(number);
    ::_exit(128 + number);  // only if the default action let us live
}

void prepare_terminal_restore(int fd, const termios& modes, std::string_view leave_text) {
    restore_armed = 0;
    restore.modes = modes;
    restore.fd = fd;
    restore.leave_size = std::min(leave_text.size(), sizeof restore.leave_text);
    std::memcpy(restore.leave_text, leave_text.data(), restore.leave_size);
    restore_armed = 1;
}

void forget_terminal_restore() {
    restore_armed = 0;
}
