#include "app/signals.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
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
// Up while `restore` holds whole data. The fences around its changes keep the
// compiler from moving the writes of the data across them: a signal never
// finds the flag up over data half-written.
std::atomic<bool> restore_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads it");

extern "C" void handle_signal(int number) {
    catch_signal(number);
}

extern "C" void ignore_signal(int /*number*/) {}

struct SignalText {
    int number;
    std::string_view text;
};

// The signals whose default action ends the process, in the C library's
// words (strsignal itself may not be called from a handler).
constexpr SignalText signal_texts[] = {
    {SIGHUP, "SIGHUP - Hangup"},
    {SIGINT, "SIGINT - Interrupt"},
    {SIGQUIT, "SIGQUIT - Quit"},
    {SIGILL, "SIGILL - Illegal instruction"},
    {SIGTRAP, "SIGTRAP - Trace/breakpoint trap"},
    {SIGABRT, "SIGABRT - Aborted"},
    {SIGBUS, "SIGBUS - Bus error"},
    {SIGFPE, "SIGFPE - Floating point exception"},
    {SIGUSR1, "SIGUSR1 - User defined signal 1"},
    {SIGSEGV, "SIGSEGV - Segmentation fault"},
    {SIGUSR2, "SIGUSR2 - User defined signal 2"},
    // Installed by the monitor alone (catch_broken_pipe): a reader that stops
    // reading the report ends it quietly.
    {SIGPIPE, "SIGPIPE - Broken pipe"},
    {SIGALRM, "SIGALRM - Alarm clock"},
    {SIGTERM, "SIGTERM - Terminated"},
#ifdef SIGSTKFLT
    {SIGSTKFLT, "SIGSTKFLT - Stack fault"},
#endif
    {SIGXCPU, "SIGXCPU - CPU time limit exceeded"},
    {SIGXFSZ, "SIGXFSZ - File size limit exceeded"},
    {SIGVTALRM, "SIGVTALRM - Virtual timer expired"},
    {SIGPROF, "SIGPROF - Profiling timer expired"},
// SIGIO ends nothing: see install_signal_handlers.
#ifdef SIGPWR
    {SIGPWR, "SIGPWR - Power failure"},
#endif
    {SIGSYS, "SIGSYS - Bad system call"},
};

// The real-time signals run from SIGRTMIN to SIGRTMAX, which the C library
// decides at run time; Linux has at most this many of them.
constexpr int max_realtime = 33;

struct RealtimeText {
    char text[40];
    std::size_t size;

    constexpr void append(std::string_view piece) {
        for (const char c : piece) {
            text[size++] = c;
        }
    }
    constexpr void append_number(int number) {
        if (number >= 10) {
            append_number(number / 10);
        }
        text[size++] = static_cast<char>('0' + number % 10);
    }
};

// "SIGRTMIN - Real-time signal 0", "SIGRTMIN+1 - Real-time signal 1"...
constexpr std::array<RealtimeText, max_realtime> realtime_texts = [] {
    std::array<RealtimeText, max_realtime> texts{};
    for (int offset = 0; offset < max_realtime; ++offset) {
        RealtimeText& name = texts[static_cast<std::size_t>(offset)];
        name.append("SIGRTMIN");
        if (offset > 0) {
            name.append("+");
            name.append_number(offset);
        }
        name.append(" - Real-time signal ");
        name.append_number(offset);
    }
    return texts;
}();

// Read once before main, so that the handler only reads plain integers.
const int first_realtime = SIGRTMIN;
const int last_realtime = std::min(static_cast<int>(SIGRTMAX), SIGRTMIN + max_realtime - 1);

}  // namespace

std::string_view signal_name(int number) {
    for (const SignalText& signal : signal_texts) {
        if (signal.number == number) {
            return signal.text;
        }
    }
    if (number >= first_realtime && number <= last_realtime) {
        const RealtimeText& name =
            realtime_texts[static_cast<std::size_t>(number - first_realtime)];
        return {name.text, name.size};
    }
    return "Unknown signal";
}

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = handle_signal;
    // One handler at a time: a second signal waits until the first has ended
    // the process.
    sigfillset(&action.sa_mask);
    const auto install = [&action](int number) {
        struct sigaction inherited {};
        // Started as ignored (nohup ignores SIGHUP): that wish is kept, but an
        // interrupt and a crash always hand the terminal back.
        if (number != SIGINT && number != SIGSEGV &&
            ::sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
            return;
        }
        ::sigaction(number, &action, nullptr);
    };
    for (const SignalText& signal : signal_texts) {
        if (signal.number != SIGPIPE) {
            install(signal.number);
        }
    }
    for (int number = first_realtime; number <= last_realtime; ++number) {
        install(number);
    }
    // SIGIO tells the holder of a file lease that someone waits for the file;
    // the log maintenance ignores it while it holds one, and it means nothing
    // at any other time. A handler that does nothing, rather than SIG_IGN,
    // so that the programs started later do not inherit it ignored.
    action.sa_handler = ignore_signal;
    action.sa_flags = SA_RESTART;
    install(SIGIO);
}

void catch_broken_pipe() {
    struct sigaction action {};
    action.sa_handler = handle_signal;
    sigfillset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

void catch_signal(int number) {
    if (restore_armed.load(std::memory_order_relaxed)) {
        std::atomic_signal_fence(std::memory_order_acquire);
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
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(number, &default_action, nullptr);
    sigset_t self;
    sigemptyset(&self);
    sigaddset(&self, number);
    ::sigprocmask(SIG_UNBLOCK, &self, nullptr);  // the handler runs with it blocked
    std::raise(number);
    ::_exit(128 + number);  // only if the default action let us live
}

void prepare_terminal_restore(int fd, const termios& modes, std::string_view leave_text) {
    restore_armed.store(false, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // down before the data changes
    restore.modes = modes;
    restore.fd = fd;
    restore.leave_size = std::min(leave_text.size(), sizeof restore.leave_text);
    std::memcpy(restore.leave_text, leave_text.data(), restore.leave_size);
    std::atomic_signal_fence(std::memory_order_release);  // the data whole before it goes up
    restore_armed.store(true, std::memory_order_relaxed);
}

// Nothing is written after the flag goes down, so no fence is needed here.
void forget_terminal_restore() {
    restore_armed.store(false, std::memory_order_relaxed);
}
