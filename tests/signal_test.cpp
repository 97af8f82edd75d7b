// Signals at any moment of the monitor's life: an interrupt in the middle of
// the first read of a large log, in the middle of drawing a large screen,
// while the help screen is up; the other signals that end a process (SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, a real-time one) and the crash signals
// sent with kill. Every time the terminal must get back the exact modes it
// had, the alternate screen must be left, and the process must end as the
// signal says: status 0 after an interrupt, by the signal itself otherwise.
// A signal ignored from the start, as under nohup, stays ignored.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "monitor_support.hpp"

namespace monitor_test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string interrupted = "Caught signal (SIGINT - Interrupt)\n";

// The seed of this run's random moments, printed so that a failure can be
// replayed with LURKO_SIGNAL_SEED.
unsigned run_seed() {
    static const unsigned seed = [] {
        const char* given = std::getenv("LURKO_SIGNAL_SEED");
        const unsigned value =
            given != nullptr ? static_cast<unsigned>(std::stoul(given)) : std::random_device()();
        std::printf("[ seed     ] LURKO_SIGNAL_SEED=%u\n", value);
        return value;
    }();
    return seed;
}

// Waits `delay` from now, reading the terminal meanwhile (when there is
// time for it) so that the program never blocks on a full terminal.
void wait_reading(Terminal& term, std::chrono::microseconds delay) {
    const auto until = Clock::now() + delay;
    if (delay < Milliseconds(5)) {
        std::this_thread::sleep_until(until);
        return;
    }
    while (Clock::now() + Milliseconds(1) < until) {
        term.pump(std::chrono::duration_cast<Milliseconds>(until - Clock::now()));
    }
    std::this_thread::sleep_until(until);
}

// The end that a signal must leave: the exit status or signal, its line on
// standard error, and the terminal as it was.
void expect_handed_back(Terminal& term, const termios& before, int number,
                        const std::string& error_line) {
    ASSERT_TRUE(term.wait_exit()) << "still running after signal " << number << term.screen();
    if (number == SIGINT) {
        EXPECT_EQ(term.exit_status(), 0);
    } else {
        EXPECT_EQ(term.exit_signal(), number) << "status " << term.exit_status();
    }
    EXPECT_EQ(term.error_output(), error_line);
    EXPECT_TRUE(handed_back(term, before));
}

class Signals : public ::testing::Test {
protected:
    std::unique_ptr<Terminal> start(const std::string& path, int rows = 24, int cols = 80) {
        return start_lurko({{path}, home.path(), rows, cols, "C", true});
    }

    // Whether the monitor had drawn its list when the signal came.
    static bool list_drawn(const Terminal& term) {
        return term.output().find("New mail") != std::string::npos;
    }

    test::TempDir home;
    termios before = fresh_modes();
};

TEST_F(Signals, InterruptDuringTheFirstReadOfALargeLog) {
    // A generated log of about 60 MB.
    const std::string big_log = home / "big.log";
    const test::RunResult made =
        test::run({test::gen_log(), "--size", "60M", "--seed", "3", "-o", big_log});
    ASSERT_EQ(made.status, 0) << made.err;
    // How long the first screen takes: the span in which the interrupts fall.
    Milliseconds first_screen{0};
    {
        std::unique_ptr<Terminal> term = start(big_log);
        ASSERT_TRUE(term->wait_until([&] { return term->output_size() > 0; }));
        const auto started = Clock::now();
        ASSERT_TRUE(term->wait_for_text("New mail", Milliseconds(60000))) << term->screen();
        first_screen = std::chrono::duration_cast<Milliseconds>(Clock::now() - started);
        quit_cleanly(*term, before);
    }
    std::mt19937 random(run_seed());
    std::uniform_int_distribution<long long> moment(0, first_screen.count() * 1000);
    int during_read = 0;
    const int trials = 10;
    for (int trial = 0; trial < trials; ++trial) {
        const std::chrono::microseconds delay(moment(random));
        SCOPED_TRACE("interrupt " + std::to_string(delay.count()) + " us after the start");
        std::unique_ptr<Terminal> term = start(big_log);
        // From its first output on, lurko has its handler in place.
        ASSERT_TRUE(term->wait_until([&] { return term->output_size() > 0; }));
        wait_reading(*term, delay);
        term->send_signal(SIGINT);
        expect_handed_back(*term, before, SIGINT, interrupted);
        during_read += list_drawn(*term) ? 0 : 1;
    }
    std::printf(
        "[ figures  ] first screen of the %lld-byte log after %lld ms; %d of %d interrupts "
        "came during the read\n",
        static_cast<long long>(std::filesystem::file_size(big_log)),
        static_cast<long long>(first_screen.count()), during_read, trials);
}

TEST_F(Signals, InterruptWhileDrawing) {
    // A large screen full of one expanded folder of 100,000 mails: every
    // move redraws all of it.
    std::string text;
    text.reserve(100200 * 110);
    for (int i = 0; i < 100000; ++i) {
        text += log_entry("sender" + std::to_string(i) + "@example.org",
                          "mail number " + std::to_string(i), "big");
    }
    for (int i = 0; i < 200; ++i) {
        text += log_entry("other@example.org", "other", "folder" + std::to_string(i));
    }
    const std::string log = home / "procmail.log";
    test::write_file(log, text);

    std::mt19937 random(run_seed() + 1);
    std::uniform_int_distribution<int> moment(0, 40000);
    int reached_terminal = 0;
    const int trials = 10;
    for (int trial = 0; trial < trials; ++trial) {
        std::unique_ptr<Terminal> term = start(log, 100, 300);
        ASSERT_TRUE(term->wait_for_text("New mail: 100200 in 201 folders")) << term->screen();
        term->type("h");
        ASSERT_TRUE(term->wait_for_text("sender95@example.org")) << term->screen();
        ASSERT_TRUE(term->settle());
        const std::size_t drawn = term->output().size();
        const std::chrono::microseconds delay(moment(random));
        SCOPED_TRACE("interrupt " + std::to_string(delay.count()) + " us after the redraw began");
        // A redraw asked for, or a new size: either erases and draws the
        // whole screen again, going through all the mails.
        if (trial % 2 == 0) {
            term->type("l");
        } else {
            term->resize(100, 299);
        }
        wait_reading(*term, delay);
        term->send_signal(SIGINT);
        expect_handed_back(*term, before, SIGINT, interrupted);
        reached_terminal += term->output().find("New mail", drawn) != std::string::npos ? 1 : 0;
    }
    std::printf("[ figures  ] %d of %d redraws had reached the terminal when the interrupt came\n",
                reached_terminal, trials);
}

TEST_F(Signals, InterruptWithTheHelpScreenUp) {
    const std::string log = home / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    for (const bool from_keyboard : {false, true}) {
        std::unique_ptr<Terminal> term = start(log);
        ASSERT_TRUE(term->wait_for_text("New mail")) << term->screen();
        term->type("?");
        ASSERT_TRUE(term->wait_for_text("Help for index")) << term->screen();
        ASSERT_TRUE(term->settle());
        if (from_keyboard) {
            term->type("\x03");  // Ctrl-C, as the user types it
        } else {
            term->send_signal(SIGINT);
        }
        expect_handed_back(*term, before, SIGINT, interrupted);
    }
}

TEST_F(Signals, SignalsThatEndItHandTheTerminalBack) {
    const std::string log = home / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    const std::vector<std::pair<int, std::string>> requests = {
        {SIGTERM, "Caught signal (SIGTERM - Terminated)\n"},
        {SIGHUP, "Caught signal (SIGHUP - Hangup)\n"},
        {SIGQUIT, "Caught signal (SIGQUIT - Quit)\n"},
        {SIGUSR1, "Caught signal (SIGUSR1 - User defined signal 1)\n"},
        {SIGALRM, "Caught signal (SIGALRM - Alarm clock)\n"},
        {SIGRTMIN + 1, "Caught signal (SIGRTMIN+1 - Real-time signal 1)\n"},
        {SIGPIPE, "Caught signal (SIGPIPE - Broken pipe)\n"},
    };
    for (const auto& [number, line] : requests) {
        SCOPED_TRACE(line);
        for (const bool in_help : {false, true}) {
            std::unique_ptr<Terminal> term = start(log);
            ASSERT_TRUE(term->wait_for_text("New mail")) << term->screen();
            if (in_help) {
                term->type("?");
                ASSERT_TRUE(term->wait_for_text("Help for index")) << term->screen();
            }
            term->send_signal(number);
            expect_handed_back(*term, before, number, line);
            // The terminal is usable: a shell started in the same state
            // would echo and edit lines again.
            EXPECT_NE(term->modes().c_lflag & ECHO, 0u);
            EXPECT_NE(term->modes().c_lflag & ICANON, 0u);
        }
    }
}

// SIGIO, which only a lease asks for, ends nothing either.
TEST_F(Signals, HangupIgnoredFromTheStartStaysIgnored) {
    const std::string log = home / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    // Started as nohup starts it: with SIGHUP ignored.
    test::TerminalOptions options;
    options.env = {{"LC_ALL", "C"}, {"HOME", home.path()}};
    options.cwd = home.path();
    Terminal term({"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$@\"", test::lurko_binary(), log},
                  options);
    ASSERT_TRUE(term.wait_for_text("New mail")) << term.screen();
    term.send_signal(SIGHUP);
    term.send_signal(SIGIO);
    term.pump(quiet_time);
    EXPECT_TRUE(term.running()) << term.error_output();
    quit_cleanly(term, before);
}

// AddressSanitizer may take over the crash signals for its own reports; in
// that build its handler can stand between kill and lurko's.
bool sanitizer_build() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

TEST_F(Signals, CrashSignalsEndAsCrashesAfterHandingTheTerminalBack) {
    const std::string log = home / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    const std::vector<std::pair<int, std::string>> crashes = {
        {SIGSEGV, "Caught signal (SIGSEGV - Segmentation fault)\n"},
        {SIGABRT, "Caught signal (SIGABRT - Aborted)\n"},
        {SIGBUS, "Caught signal (SIGBUS - Bus error)\n"},
        {SIGFPE, "Caught signal (SIGFPE - Floating point exception)\n"},
        {SIGILL, "Caught signal (SIGILL - Illegal instruction)\n"},
    };
    for (const auto& [number, line] : crashes) {
        SCOPED_TRACE(line);
        std::unique_ptr<Terminal> term = start(log);
        ASSERT_TRUE(term->wait_for_text("New mail")) << term->screen();
        term->send_signal(number);
        ASSERT_TRUE(term->wait_exit()) << term->screen();
        if (sanitizer_build() && term->exit_signal() != number) {
            // The sanitizer reported the signal itself and ended the process
            // in its own way; lurko's handler never ran.
            EXPECT_NE(term->exit_status(), 0);
            std::printf("[ note     ] the sanitizer ended lurko after signal %d: %s\n", number,
                        term->error_output().substr(0, 200).c_str());
            continue;
        }
        expect_handed_back(*term, before, number, line);
    }
}

}  // namespace
}  // namespace monitor_test
