#pragma once

// Helpers for the tests of the interactive monitor: the built lurko run in a
// pseudo-terminal (tests/terminal_harness.hpp) on a log in a home directory of
// its own, and small checks on what the screen shows. The waits are generous,
// since these tests also run under the sanitizers on a busy machine.

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace monitor_test {

using test::black;
using test::blue;
using test::fresh_modes;
using test::handed_back;
using test::Key;
using test::log_entry;
using test::Milliseconds;
using test::quit;
using test::red;
using test::Terminal;
using test::yellow;

inline const std::string version = test::version_tag;
// The bottom bar as it fits on a row of 80 columns, and whole (a row's text
// leaves out its trailing blank).
inline const std::string keys_at_80 = test::key_bar.substr(0, 80);
inline const std::string keys_whole = test::key_bar.substr(0, test::key_bar.size() - 1);

// How long a change of the log may take to show: the loop looks at the log
// at least every 0.4 seconds; the rest is room for a loaded machine and the
// sanitizers.
inline constexpr Milliseconds change_wait{20000};
// How long a check that nothing happens watches the screen: a few passes of
// the loop.
inline constexpr Milliseconds quiet_time{1500};

// The top bar for `mails` in `folders`.
inline std::string status_line(std::uint64_t mails, std::uint64_t folders) {
    return "Lurko -- New mail: " + std::to_string(mails) + " in " + std::to_string(folders) +
           (folders == 1 ? " folder" : " folders");
}

// Waits until `condition` holds on a screen that has come to rest: a redraw
// may reach the terminal in pieces, so the condition must still hold once
// the program has written nothing for a moment.
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

// Row `row` of the screen reads exactly `text` (trailing blanks aside) within
// `timeout`, and the screen is at rest.
inline ::testing::AssertionResult shows_row(Terminal& term, int row, const std::string& text,
                                            Milliseconds timeout = change_wait) {
    if (wait_drawn(
            term, [&] { return term.row_text(row) == text; }, timeout)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "row " << row << " is not \"" << text << "\"" << term.screen();
}

// The top bar reads `text` within the time a change of the log may take.
inline ::testing::AssertionResult shows_status(Terminal& term, const std::string& text,
                                               Milliseconds timeout = change_wait) {
    return shows_row(term, 0, text, timeout);
}

// The row that carries the selection marker, or -1.
inline int marker_row(const Terminal& term) {
    for (int row = 1; row < term.rows(); ++row) {
        if (term.text(row, 0, 2) == "->") {
            return row;
        }
    }
    return -1;
}

// The marker reaches `row`, with the cursor resting at that row's end, as
// the monitor leaves it after drawing.
inline ::testing::AssertionResult marker_at(Terminal& term, int row) {
    const auto there = [&] {
        return marker_row(term) == row && term.cursor() == test::Position{row, term.cols() - 1};
    };
    if (wait_drawn(term, there)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "the marker is on row " << marker_row(term) << ", not " << row << term.screen();
}

// Every row of the screen as text.
inline std::vector<std::string> all_rows(const Terminal& term) {
    std::vector<std::string> rows;
    for (int row = 0; row < term.rows(); ++row) {
        rows.push_back(term.row_text(row));
    }
    return rows;
}

// The screen from its top row on reads `rows` within the wait.
inline ::testing::AssertionResult shows_rows(Terminal& term, const std::vector<std::string>& rows) {
    const auto top_rows = [&] {
        std::vector<std::string> shown = all_rows(term);
        shown.resize(rows.size());
        return shown;
    };
    if (wait_drawn(term, [&] { return top_rows() == rows; })) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the screen is not as expected" << term.screen();
}

// The CPU time a process has used so far (user and system), from /proc.
inline Milliseconds cpu_time(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14 || index == 15) {  // utime, stime
            ticks += std::stoll(field);
        }
    }
    return Milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

// How often a process has been woken so far (its context switches), from
// /proc.
inline long wakeups(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    long count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("ctxt_switches:") != std::string::npos) {
            count += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return count;
}

// How to start lurko in a terminal.
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

// Quits with q (see test::quit) and checks that the terminal is handed back
// with the modes of `before`.
inline void quit_cleanly(Terminal& term, const termios& before,
                         Milliseconds timeout = test::default_wait, bool errors_allowed = false) {
    quit(term, timeout, errors_allowed);
    if (!::testing::Test::HasFatalFailure()) {
        EXPECT_TRUE(handed_back(term, before));
    }
}

// A home directory with a log in it, and lurko started on that log in a
// terminal, with HOME and the working directory set to that directory and
// the C locale.
class MonitorTest : public ::testing::Test {
protected:
    // Starts lurko with `options` before the log's path.
    std::unique_ptr<Terminal> start(const std::vector<std::string>& options, int rows = 24,
                                    int cols = 80, const std::string& term = "xterm-256color") {
        std::vector<std::string> args = options;
        args.push_back(log);
        return start_lurko(
            {.args = args, .home = home.path(), .rows = rows, .cols = cols, .term = term});
    }

    // Starts lurko with `options` and waits until its first screen is drawn.
    std::unique_ptr<Terminal> start_drawn(const std::vector<std::string>& options, int rows = 24,
                                          int cols = 80) {
        std::unique_ptr<Terminal> term = start(options, rows, cols);
        EXPECT_TRUE(term->wait_for_text_at(rows - 1, 0, version)) << term->screen();
        return term;
    }

    // Puts `text` in place of the log at once, as a new file renamed over it,
    // so that the monitor never reads a half-written log.
    void replace_log(const std::string& text) {
        test::write_file(log + ".new", text);
        std::filesystem::rename(log + ".new", log);
    }

    // Uses the sample log of the examples directory.
    void use_sample_log() { test::write_file(log, test::read_file(sample_path())); }

    static std::string sample_path() { return test::source_file("examples/sample-procmail.log"); }

    test::TempDir home;
    std::string log = home / "procmail.log";
};

}  // namespace monitor_test
