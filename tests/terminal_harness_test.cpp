// The harness itself, with a shell as the program in the terminal: what the
// screen tests rely on beyond the screen contents.

#include "terminal_harness.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using test::Terminal;

test::TerminalOptions small() {
    test::TerminalOptions options;
    options.rows = 5;
    options.cols = 20;
    return options;
}

TEST(TerminalHarness, KeepsOutputErrorsBellsAndStatusApart) {
    Terminal term({"/bin/sh", "-c", "printf 'ab\\a\\acd'; echo oops >&2; exit 3"}, small());
    ASSERT_TRUE(term.wait_exit());
    EXPECT_EQ(term.row_text(0), "abcd");
    EXPECT_EQ(term.bells(), 2);
    EXPECT_EQ(term.error_output(), "oops\n");
    EXPECT_EQ(term.exit_status(), 3);
    EXPECT_EQ(term.exit_signal(), 0);
    EXPECT_EQ(term.cursor(), (test::Position{0, 4}));
}

TEST(TerminalHarness, ReadsColoursAndAttributesOfCells) {
    Terminal term({"/bin/sh", "-c", "printf '\\033[1;4;33;41mX\\033[0;7mY\\033[0mZ'"}, small());
    ASSERT_TRUE(term.wait_exit());
    const test::Cell x = term.cell(0, 0);
    EXPECT_EQ(x.text, "X");
    EXPECT_TRUE(x.bold);
    EXPECT_TRUE(x.underline);
    EXPECT_EQ(x.foreground, 3);
    EXPECT_EQ(x.background, 1);
    EXPECT_TRUE(term.cell(0, 1).reverse);
    EXPECT_EQ(term.cell(0, 2).foreground, test::default_colour);
    EXPECT_FALSE(term.cell(0, 2).bold);
}

TEST(TerminalHarness, SendsKeysInTheTerminalsCurrentMode) {
    // The shell echoes what it reads, in a visible form, until it reads "x".
    Terminal term({"/bin/sh", "-c",
                   "stty raw -echo; printf '\\033[?1h'; "
                   "od -An -c -N4 | tr -s ' '; printf 'done'"},
                  small());
    ASSERT_TRUE(term.wait_until([&] { return term.key_sequence(test::Key::Up) == "\x1bOA"; }));
    term.press(test::Key::Up);
    term.type("x");
    ASSERT_TRUE(term.wait_for_text("done")) << term.screen();
    EXPECT_TRUE(term.contains("033 O A x")) << term.screen();
}

TEST(TerminalHarness, ResizeReachesTheProgram) {
    Terminal term({"/bin/sh", "-c",
                   "trap 'stty size; exit 0' WINCH; echo ready; while :; do sleep 0.05; done"},
                  small());
    ASSERT_TRUE(term.wait_for_text("ready"));
    term.resize(7, 30);
    ASSERT_TRUE(term.wait_exit()) << term.screen();
    EXPECT_EQ(term.rows(), 7);
    EXPECT_TRUE(term.contains("7 30")) << term.screen();
}

TEST(TerminalHarness, WaitsAreBoundedAndAKilledChildIsReported) {
    Terminal term({"/bin/sh", "-c", "echo up; exec sleep 30"}, small());
    ASSERT_TRUE(term.wait_for_text("up"));
    EXPECT_FALSE(term.wait_for_text("never", std::chrono::milliseconds(200)));
    EXPECT_TRUE(term.running());
    term.send_signal(SIGTERM);
    ASSERT_TRUE(term.wait_exit());
    EXPECT_EQ(term.exit_status(), -1);
    EXPECT_EQ(term.exit_signal(), SIGTERM);
}

}  // namespace
