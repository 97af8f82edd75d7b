#pragma once

// Helpers for the tests that put the built lurko under stress in a terminal:
// hostile logs, faults of the log file, signals and load. lurko runs in a
// pseudo-terminal (tests/terminal_harness.hpp) in a home directory of its
// own; the waits are generous, since these tests also run under the
// sanitizers on a busy machine.

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace robust {

using test::Key;
using test::Milliseconds;
using test::Terminal;

inline const std::string version = "v0.5.5 (2004-12-17)";
inline const std::string keys_whole =
    "q:Quit ?:Help r:Clear h:Expand/Contract b:Toggle beep m:Mark as read d:Remove folder";

// How long a change may take to show: the loop looks at the log at least
// every 0.4 seconds; the rest is room for a loaded machine and the sanitizers.
inline constexpr Milliseconds change_wait{20000};
// How long a check that nothing happens watches: a few passes of the loop.
inline constexpr Milliseconds quiet_time{1500};

// One delivery as Procmail logs it.
inline std::string log_entry(const std::string& from, const std::string& subject,
                             const std::string& folder) {
    return "From " + from + "  Mon Dec  8 07:19:03 2025\n Subject: " + subject +
           "\n  Folder: " + folder + "\t\t\t\t\t\t\t    273\n";
}

// The top bar for `mails` in `folders`.
inline std::string status_line(std::uint64_t mails, std::uint64_t folders) {
    return "Lurko -- New mail: " + std::to_string(mails) + " in " + std::to_string(folders) +
           (folders == 1 ? " folder" : " folders");
}

// Waits until `condition` holds on a screen at rest: a redraw may reach the
// terminal in pieces, so it must still hold once the program is quiet.
inline bool wait_drawn(Terminal& term, const std::function<bool()>& condition,
                       Milliseconds timeout = change_wait) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !term.wait_until(condition, left)) {
            return false;
        }
        term.settle(Milliseconds(200), left);
        if (condition()) {
            return true;
        }
    }
}

// Row `row` reads exactly `text` (trailing blanks aside) on a screen at rest.
inline ::testing::AssertionResult shows_row(Terminal& term, int row, const std::string& text,
                                            Milliseconds timeout = change_wait) {
    if (wait_drawn(
            term, [&] { return term.row_text(row) == text; }, timeout)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "row " << row << " is not \"" << text << "\"" << term.screen();
}

inline ::testing::AssertionResult shows_status(Terminal& term, const std::string& text,
                                               Milliseconds timeout = change_wait) {
    return shows_row(term, 0, text, timeout);
}

// The terminal modes are the same, flag for flag and control character for
// control character (what `stty -g` prints).
inline ::testing::AssertionResult same_modes(const termios& expected, const termios& actual) {
    if (expected.c_iflag == actual.c_iflag && expected.c_oflag == actual.c_oflag &&
        expected.c_cflag == actual.c_cflag && expected.c_lflag == actual.c_lflag &&
        std::memcmp(expected.c_cc, actual.c_cc, sizeof expected.c_cc) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << std::hex << "modes differ: iflag " << expected.c_iflag << "/" << actual.c_iflag
           << " oflag " << expected.c_oflag << "/" << actual.c_oflag << " cflag "
           << expected.c_cflag << "/" << actual.c_cflag << " lflag " << expected.c_lflag << "/"
           << actual.c_lflag;
}

// The modes of a new pseudo-terminal, before any program changed them: what
// lurko must leave behind.
inline termios fresh_modes() {
    Terminal fresh({"/bin/sleep", "30"});
    return fresh.modes();
}

struct Start {
    std::vector<std::string> args;  // the options and the log
    std::string home;               // HOME and working directory
    int rows = 24;
    int cols = 80;
    std::string locale = "C";
    bool keep_output = false;
    test::EnvChanges env = {};  // applied last
    std::string term = "xterm-256color";
};

inline std::unique_ptr<Terminal> start_lurko(const Start& how) {
    std::vector<std::string> argv{test::lurko_binary()};
    argv.insert(argv.end(), how.args.begin(), how.args.end());
    test::TerminalOptions options;
    options.rows = how.rows;
    options.cols = how.cols;
    options.term = how.term;
    options.keep_output = how.keep_output;
    options.env = {{"LC_ALL", how.locale}, {"HOME", how.home}};
    for (const auto& [name, value] : how.env) {
        options.env[name] = value;
    }
    options.cwd = how.home;
    return std::make_unique<Terminal>(argv, options);
}

// Quits with q: status 0, nothing on standard error (unless `errors_allowed`:
// what the programs it ran wrote there), the modes of `before` back, the
// main screen back.
inline void quit_cleanly(Terminal& term, const termios& before,
                         Milliseconds timeout = test::default_wait, bool errors_allowed = false) {
    term.type("q");
    ASSERT_TRUE(term.wait_exit(timeout)) << "q did not end it" << term.screen();
    EXPECT_EQ(term.exit_status(), 0) << term.error_output();
    if (!errors_allowed) {
        EXPECT_EQ(term.error_output(), "");
    }
    EXPECT_TRUE(same_modes(before, term.modes()));
    EXPECT_FALSE(term.alternate_screen());
    EXPECT_TRUE(term.cursor_visible());
}

}  // namespace robust
