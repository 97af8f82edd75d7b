// The screens in a real pseudo-terminal, read back through the terminal
// emulator of the harness: screen start and end, the folder view and the
// help screen, driven by tests/ui_driver.cpp.

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace {

using test::Key;
using test::Terminal;
using test::TerminalOptions;

using test::black;
using test::blue;
using test::quit;
using test::red;
using test::white;
using test::yellow;

const std::string credit = "Written by Lurko developers <lurko@example.org>";
const std::string version = test::version_tag;

std::vector<std::string> driver(std::vector<std::string> args) {
    args.insert(args.begin(), UI_DRIVER);
    return args;
}

using test::log_entry;

TerminalOptions options(int rows, int cols, const std::string& term = "xterm-256color") {
    TerminalOptions result;
    result.rows = rows;
    result.cols = cols;
    result.term = term;
    result.env = {{"LC_ALL", "C"}};
    return result;
}

// --- start_screen and end_screen ---------------------------------------------

TEST(ScreenStart, UnusableTerminalsEndThroughFatalError) {
    for (const char* name : {"unknown-terminal-type", "dumb", ""}) {
        TerminalOptions unusable = options(24, 80);
        unusable.term = name;
        Terminal term(driver({"keys"}), unusable);
        ASSERT_TRUE(term.wait_exit()) << name;
        EXPECT_EQ(term.exit_status(), 1) << name;
        EXPECT_EQ(term.row_text(0), "lurko error: Could not start up curses") << name;
        // Nothing but the message (and the terminal's CR LF) reached it.
        EXPECT_EQ(term.output_size(), 40u) << name;
        EXPECT_FALSE(term.alternate_screen()) << name;
    }
    TerminalOptions unset = options(24, 80);
    unset.env["TERM"] = std::nullopt;
    Terminal term(driver({"keys"}), unset);
    ASSERT_TRUE(term.wait_exit());
    EXPECT_EQ(term.exit_status(), 1);
    EXPECT_EQ(term.row_text(0), "lurko error: Could not start up curses");
}

TEST(ScreenStart, ColourTerminalGetsColourPairs) {
    Terminal term(driver({"keys"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text("colour=1")) << term.screen();
    ASSERT_TRUE(term.wait_for_text(version));
    EXPECT_TRUE(term.alternate_screen());
    const test::Cell bar = term.cell(0, 40);
    EXPECT_EQ(bar.foreground, white);
    EXPECT_EQ(bar.background, blue);
    EXPECT_TRUE(bar.bold);
    EXPECT_FALSE(bar.reverse);
    const test::Cell text = term.cell(23, 0);
    EXPECT_EQ(text.foreground, white);
    EXPECT_EQ(text.background, black);
    EXPECT_FALSE(text.bold);
    quit(term);
}

TEST(ScreenStart, TerminalsWithoutColourGetReverseVideo) {
    for (const char* name : {"xterm-mono", "vt100"}) {
        Terminal term(driver({"keys"}), options(24, 80, name));
        ASSERT_TRUE(term.wait_for_text("colour=0")) << name << term.screen();
        const test::Cell bar = term.cell(0, 40);
        EXPECT_TRUE(bar.reverse) << name;
        EXPECT_TRUE(bar.bold) << name;
        EXPECT_EQ(bar.background, test::default_colour) << name;
        quit(term);
    }
}

TEST(ScreenStart, KeysArriveAsCursesCodes) {
    Terminal term(driver({"keys"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text("colour=1"));
    // Keypad transmit mode is on: the terminal sends the application forms.
    EXPECT_EQ(term.key_sequence(Key::Up), "\x1bOA");
    const std::pair<Key, std::string> keys[] = {
        {Key::Up, "key 259"},    {Key::Down, "key 258"}, {Key::Left, "key 260"},
        {Key::Right, "key 261"}, {Key::Home, "key 262"}, {Key::End, "key 360"},
        {Key::F1, "key 265"},    {Key::Enter, "key 13"},
    };
    for (const auto& [key, shown] : keys) {
        term.press(key);
        ASSERT_TRUE(term.wait_for_text_at(2, 0, shown + " ")) << shown << term.screen();
    }
    term.type("j");
    ASSERT_TRUE(term.wait_for_text_at(2, 0, "key 106"));
    quit(term);
}

TEST(ScreenEnd, GivesTheTerminalBack) {
    Terminal term(driver({"keys"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text("colour=1"));
    EXPECT_EQ(term.modes().c_lflag & (ICANON | ECHO), 0u);
    quit(term);
    EXPECT_TRUE(test::handed_back(term, test::fresh_modes()));
    EXPECT_TRUE(term.contains("ended"));
}

TEST(ScreenEnd, InterruptRestoresTheTerminalWithoutCurses) {
    Terminal term(driver({"help"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text("Help for index"));
    term.type("\x03");  // Ctrl-C: SIGINT from the terminal
    ASSERT_TRUE(term.wait_exit()) << term.screen();
    EXPECT_EQ(term.exit_status(), 0);
    EXPECT_EQ(term.error_output(), "Caught signal (SIGINT - Interrupt)\n");
    EXPECT_TRUE(test::handed_back(term, test::fresh_modes()));
    EXPECT_FALSE(term.contains("ended"));
}

// --- The folder view in a terminal ---------------------------------------------

class FolderScreen : public ::testing::Test {
protected:
    FolderScreen() {
        std::string text;
        const char* names[] = {"inbox", "lists.dev", "friends", "spam"};
        for (int i = 0; i < 4; ++i) {
            for (int mail = 0; mail < 4 - i; ++mail) {
                text += log_entry(std::string("sender").append(std::to_string(i)) + "@example.org",
                                  std::string("subject ").append(std::to_string(mail)), names[i]);
            }
        }
        test::write_file(log, text + log_entry("new@example.org", "latest news", "friends"));
    }

    test::TempDir dir;
    std::string log = dir / "procmail.log";
};

TEST_F(FolderScreen, MainScreenLayoutWithColour) {
    Terminal term(driver({"folders", log, "1", "-1"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text(version)) << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(0), "driver top bar");
    EXPECT_EQ(term.row_text(1), "       4   inbox");
    EXPECT_EQ(term.row_text(2), "->     3   lists.dev");
    EXPECT_EQ(term.row_text(3), "       3 N friends");
    EXPECT_EQ(term.row_text(4), "       1   spam");
    EXPECT_EQ(term.row_text(22), "driver bottom bar");
    EXPECT_EQ(term.row_text(23), version);
    // The selected row: yellow on red across the whole width, bold text.
    for (int column = 0; column < 80; ++column) {
        const test::Cell cell = term.cell(2, column);
        ASSERT_EQ(cell.background, red) << column;
        ASSERT_EQ(cell.foreground, yellow) << column;
    }
    EXPECT_TRUE(term.cell(2, 0).bold);   // the marker
    EXPECT_TRUE(term.cell(2, 11).bold);  // the name
    EXPECT_EQ(term.cell(1, 11).background, black);
    EXPECT_TRUE(term.cell(1, 11).bold);
    EXPECT_EQ(term.cell(22, 79).background, blue);
    EXPECT_EQ(term.cursor(), (test::Position{2, 79}));
    quit(term);
}

TEST_F(FolderScreen, MainScreenWithoutColour) {
    Terminal term(driver({"folders", log, "0", "-1"}), options(24, 80, "xterm-mono"));
    ASSERT_TRUE(term.wait_for_text(version)) << term.screen();
    ASSERT_TRUE(term.settle());
    for (int column = 0; column < 80; ++column) {
        ASSERT_TRUE(term.cell(1, column).reverse) << column;
    }
    EXPECT_TRUE(term.cell(1, 11).bold);
    EXPECT_FALSE(term.cell(2, 11).reverse);
    EXPECT_TRUE(term.cell(2, 11).bold);
    EXPECT_TRUE(term.cell(0, 50).reverse);
    EXPECT_EQ(term.cursor(), (test::Position{1, 79}));
    quit(term);
}

TEST_F(FolderScreen, ExpandedFolderAndResize) {
    Terminal term(driver({"folders", log, "2", "2"}), options(24, 40));
    ASSERT_TRUE(term.wait_for_text(version)) << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(3), "->     3 N friends");
    EXPECT_EQ(term.row_text(4), "           sender2@example.org: subject");
    EXPECT_EQ(term.row_text(6), "           new@example.org: latest news");
    EXPECT_EQ(term.row_text(7), "       1   spam");
    EXPECT_FALSE(term.cell(4, 11).bold);
    // Wider: the mail lines are no longer cut, the bars follow the size.
    term.resize(30, 60);
    ASSERT_TRUE(term.wait_for_text("subject 0")) << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(4), "           sender2@example.org: subject 0");
    EXPECT_EQ(term.row_text(28), "driver bottom bar");
    EXPECT_EQ(term.row_text(29), version);
    EXPECT_EQ(term.cell(28, 59).background, blue);
    EXPECT_EQ(term.cursor(), (test::Position{3, 59}));
    quit(term);
}

TEST(FolderScreenUtf8, CharactersShowWholeAndTheCutKeepsThemWhole) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    // "     jose@example.org: " takes 23 columns; then 6 characters of 2 columns.
    test::write_file(log, log_entry("jose@example.org",
                                    "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5"
                                    "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5",
                                    "caf\xc3\xa9"));
    TerminalOptions utf8 = options(10, 40);
    utf8.env["LC_ALL"] = "C.UTF-8";
    Terminal term(driver({"folders", log, "0", "0"}), utf8);
    ASSERT_TRUE(term.wait_for_text(version)) << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(1), "->     1 N caf\xc3\xa9");
    // A width of 40 leaves 34 columns: 23 + 5 whole characters (10 columns),
    // the sixth would end in column 35.
    EXPECT_EQ(term.row_text(2),
              "           jose@example.org: \xe6\x97\xa5\xe6\x97\xa5"
              "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5");
    EXPECT_EQ(term.cell(2, 37).text, "\xe6\x97\xa5");
    quit(term);
}

// --- The help screen -------------------------------------------------------------

// The page from its top; the homepage lines when `homepage_row` is on it.
void expect_help_page(Terminal& term, int rows, int cols, int homepage_row) {
    EXPECT_EQ(term.text(0, 0, 15), "Help for index ");
    EXPECT_EQ(term.cell(0, cols - 1).background, blue);
    EXPECT_TRUE(term.cell(0, 0).bold);
    EXPECT_EQ(term.row_text(2), "  Main menu keys:");
    EXPECT_TRUE(term.cell(2, 2).bold);
    EXPECT_TRUE(term.cell(2, 2).underline);
    EXPECT_EQ(term.row_text(4), "     q     Quit Lurko");
    EXPECT_FALSE(term.cell(4, 11).bold);
    EXPECT_FALSE(term.cell(4, 11).underline);
    EXPECT_EQ(term.row_text(15), "     m     Marks folder as read");
    EXPECT_EQ(term.text(16, 0, 11), "     d     ");
    if (homepage_row < rows - 2) {
        EXPECT_EQ(term.row_text(homepage_row), "  Homepage:");
        EXPECT_TRUE(term.cell(homepage_row, 2).underline);
        EXPECT_EQ(term.row_text(homepage_row - 1), "");
    }
    EXPECT_EQ(term.row_text(rows - 2), "q:Exit");
    EXPECT_EQ(term.cell(rows - 2, cols - 1).background, blue);
    EXPECT_EQ(term.text(rows - 1, 0, 19), version);
    const int credit_column = cols - static_cast<int>(credit.size());
    EXPECT_EQ(term.text(rows - 1, credit_column, static_cast<int>(credit.size())), credit);
    EXPECT_FALSE(term.cell(rows - 1, credit_column).bold);
    EXPECT_EQ(term.cursor(), (test::Position{0, cols - 1}));
}

TEST(HelpScreen, PageAt80x24) {
    Terminal term(driver({"help"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text(credit)) << term.screen();
    ASSERT_TRUE(term.settle());
    // The line for d fills all 80 columns and no more; the page is longer
    // than the rows between the bars, and the top bar says which are shown.
    expect_help_page(term, 24, 80, 25);
    EXPECT_EQ(term.row_text(0), "Help for index" + std::string(59, ' ') + "1-21/27");
    EXPECT_EQ(term.row_text(16),
              "     d     Marks folder as read, and removes from logfile as well (experimental)");
    EXPECT_EQ(term.row_text(17), "     ^F    Scroll down a page (also PgDn)");
    EXPECT_EQ(term.row_text(21), "     N     Previous folder that matches the search");
    EXPECT_FALSE(term.contains("https://lurko.example.org/"));
    // Scrolled to its end, the page shows the homepage above the bottom bar.
    term.press(Key::End);
    ASSERT_TRUE(term.wait_for_text_at(21, 0, "    https://lurko.example.org/")) << term.screen();
    EXPECT_EQ(term.row_text(19), "  Homepage:");
    EXPECT_EQ(term.row_text(16), "     u     Undo the last removal or emptying of the log");
    EXPECT_EQ(term.row_text(0), "Help for index" + std::string(59, ' ') + "7-27/27");
    EXPECT_EQ(term.row_text(22), "q:Exit");
    term.press(Key::PageUp);
    ASSERT_TRUE(term.wait_for_text_at(4, 0, "     q     Quit Lurko")) << term.screen();
    quit(term);
    EXPECT_TRUE(term.contains("ended"));
}

TEST(HelpScreen, PageOnAWiderTerminal) {
    Terminal term(driver({"help"}), options(30, 100));
    ASSERT_TRUE(term.wait_for_text(credit)) << term.screen();
    ASSERT_TRUE(term.settle());
    expect_help_page(term, 30, 100, 25);
    EXPECT_EQ(term.row_text(0), "Help for index");
    EXPECT_EQ(term.row_text(27), "    https://lurko.example.org/");
    quit(term);
}

TEST(HelpScreen, OtherKeysLeaveItUpAndUnchanged) {
    Terminal term(driver({"help"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text(credit));
    ASSERT_TRUE(term.settle());
    const std::string before = term.screen();
    const std::size_t written = term.output_size();
    term.press(Key::F1);
    term.press(Key::Enter);
    term.press(Key::Up);  // already at the top
    term.type("Qx ");
    term.pump(std::chrono::milliseconds(1000));  // more than two key timeouts
    EXPECT_TRUE(term.running());
    EXPECT_EQ(term.screen(), before);
    EXPECT_EQ(term.output_size(), written);  // not even redrawn
    // Escape and ? leave it as q does.
    term.type("?");
    ASSERT_TRUE(term.wait_exit()) << term.screen();
    EXPECT_TRUE(term.contains("ended"));
}

TEST(HelpScreen, ResizeRedrawsAtTheNewSize) {
    Terminal term(driver({"help"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text(credit));
    term.resize(30, 100);
    ASSERT_TRUE(term.wait_for_text_at(29, 100 - static_cast<int>(credit.size()), credit))
        << term.screen();
    ASSERT_TRUE(term.settle());
    expect_help_page(term, 30, 100, 25);
    // Narrower than the credit and the version together: the credit wins.
    term.resize(24, 60);
    ASSERT_TRUE(term.wait_for_text_at(23, 60 - static_cast<int>(credit.size()), credit))
        << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(23), version.substr(0, 60 - credit.size()) + credit);
    quit(term);
}

TEST(HelpScreen, ShownOverTheMainScreenAndLeftWithQ) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, log_entry("a@x", "hello", "inbox"));
    Terminal term(driver({"folders", log, "0", "-1"}), options(24, 80));
    ASSERT_TRUE(term.wait_for_text("inbox"));
    term.type("?");
    ASSERT_TRUE(term.wait_for_text("Help for index")) << term.screen();
    term.type("q");
    ASSERT_TRUE(term.wait_for_text("driver top bar")) << term.screen();
    ASSERT_TRUE(term.settle());
    EXPECT_EQ(term.row_text(1), "->     1 N inbox");
    EXPECT_FALSE(term.contains("Main menu keys:")) << term.screen();
    EXPECT_TRUE(term.running());
    quit(term);
}

}  // namespace
