// The drawing code in-process: a curses screen made with newterm over a
// pseudo-terminal, read back with mvwinch and winnstr.

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "app/monitor.hpp"
#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"
#include "test_support.hpp"
#include "ui/help_screen.hpp"
#include "ui/screen.hpp"
#include "ui/window.hpp"

#include <curses.h>

namespace {

// A curses screen on a pseudo-terminal of its own, the current screen while
// it lives; what curses sends is read and dropped.
class CursesScreen {
public:
    CursesScreen(int rows, int cols, const char* term = "xterm-256color") {
        winsize size{};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(cols);
        if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) {
            throw std::runtime_error("openpty failed");
        }
        drain_ = std::thread([fd = master_] {
            char buffer[4096];
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
        });
        out_ = ::fdopen(::dup(slave_), "w");
        in_ = ::fdopen(::dup(slave_), "r");
        screen_ = newterm(term, out_, in_);
        if (screen_ == nullptr) {
            throw std::runtime_error("newterm failed");
        }
        set_term(screen_);
        colour_ = has_colors();
        if (colour_) {
            start_color();
        }
        define_colour_pairs(highlight_for(colour_));
    }
    ~CursesScreen() {
        endwin();
        delscreen(screen_);
        std::fclose(out_);
        std::fclose(in_);
        ::close(slave_);
        drain_.join();  // the last holder of the terminal's side is gone: EIO
        ::close(master_);
    }
    CursesScreen(const CursesScreen&) = delete;
    CursesScreen& operator=(const CursesScreen&) = delete;

    bool colour() const { return colour_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::thread drain_;
    FILE* out_ = nullptr;
    FILE* in_ = nullptr;
    SCREEN* screen_ = nullptr;
    bool colour_ = false;
};

std::string row_text(WINDOW* window, int row) {
    std::vector<char> buffer(static_cast<std::size_t>(getmaxx(window)) + 1, '\0');
    mvwinnstr(window, row, 0, buffer.data(), getmaxx(window));
    std::string text(buffer.data());
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

chtype attributes(WINDOW* window, int row, int column) {
    return mvwinch(window, row, column) & (A_ATTRIBUTES & ~A_COLOR);
}

short pair_at(WINDOW* window, int row, int column) {
    return static_cast<short>(PAIR_NUMBER(mvwinch(window, row, column)));
}

using test::log_entry;

// A log with folders a..e holding 5..1 mails; the newest mail is the third
// of "c".
std::string five_folders() {
    std::string log;
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i) {
        for (int mail = 0; mail < (i == 2 ? 2 : 5 - i); ++mail) {
            log += log_entry(std::string("sender").append(std::to_string(i)) + "@example.org",
                             std::string("subject ").append(std::to_string(mail)), names[i]);
        }
    }
    return log + log_entry("last@example.org", "newest", "c");
}

class FolderViewTest : public test::LogTest {
protected:
    void SetUp() override { monitor.colour = true; }

    Settings settings;
    Monitor monitor{settings, log};
};

TEST(WindowTest, ResizedReportsEachNewSizeOnce) {
    CursesScreen screen(24, 80);
    Window window(stdscr);
    EXPECT_EQ(window.width(), 0);
    EXPECT_EQ(window.height(), 0);
    EXPECT_TRUE(window.resized());
    EXPECT_EQ(window.width(), 80);
    EXPECT_EQ(window.height(), 24);
    EXPECT_FALSE(window.resized());
    resizeterm(24, 100);  // only the width changes
    EXPECT_TRUE(window.resized());
    EXPECT_EQ(window.width(), 100);
    EXPECT_EQ(window.height(), 24);
    EXPECT_FALSE(window.resized());
}

TEST(WindowTest, FullScreenWindowIsOwnedAndMoves) {
    CursesScreen screen(10, 30);
    Window window;
    ASSERT_TRUE(window.is_open());
    EXPECT_NE(window.handle(), stdscr);
    EXPECT_TRUE(window.resized());
    EXPECT_EQ(window.width(), 30);
    EXPECT_EQ(window.height(), 10);
    Window moved(std::move(window));
    EXPECT_FALSE(window.is_open());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(moved.is_open());
    EXPECT_EQ(moved.width(), 30);
    moved.close();
    EXPECT_FALSE(moved.is_open());
    moved.close();  // closing twice does nothing
}

TEST(WindowTest, BarsCoverTheRowInBarColoursAndBold) {
    CursesScreen screen(24, 40);
    ASSERT_TRUE(screen.colour());
    Window window(stdscr);
    window.resized();
    window.draw_bar(Highlight::Colour, 0, "Status");
    EXPECT_EQ(row_text(stdscr, 0), "Status");
    for (int column = 0; column < 40; ++column) {
        EXPECT_EQ(pair_at(stdscr, 0, column), bar_pair) << column;
        EXPECT_EQ(attributes(stdscr, 0, column), A_BOLD) << column;
    }
    EXPECT_EQ(getattrs(stdscr), static_cast<int>(COLOR_PAIR(bar_pair) | A_BOLD));
    EXPECT_EQ(row_text(stdscr, 1), "");
}

TEST(WindowTest, BarsWithoutColourAreReverseAndBold) {
    CursesScreen screen(24, 40, "xterm-mono");
    ASSERT_FALSE(screen.colour());
    Window window(stdscr);
    window.resized();
    window.draw_bar(Highlight::Reverse, 22, "keys");
    for (int column = 0; column < 40; ++column) {
        EXPECT_EQ(attributes(stdscr, 22, column), A_REVERSE | A_BOLD) << column;
    }
    EXPECT_EQ(row_text(stdscr, 22), "keys");
}

TEST(WindowTest, LongBarTextIsCutAtTheRightEdge) {
    CursesScreen screen(24, 20);
    Window window(stdscr);
    window.resized();
    window.draw_bar(Highlight::Colour, 1, "0123456789abcdefghijKLMNO");
    EXPECT_EQ(row_text(stdscr, 1), "0123456789abcdefghij");
    EXPECT_EQ(row_text(stdscr, 2), "");
}

TEST(WindowTest, BarBelowTheWindowDrawsNothingButSetsTheAttributes) {
    CursesScreen screen(5, 20);
    Window window(stdscr);
    window.resized();
    window.draw_bar(Highlight::Colour, 5, "lost");
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(row_text(stdscr, row), "") << row;
        EXPECT_EQ(pair_at(stdscr, row, 0), 0) << row;
    }
    EXPECT_EQ(getattrs(stdscr), static_cast<int>(COLOR_PAIR(bar_pair) | A_BOLD));
}

TEST(WindowTest, ArrowMarksTheSelectedRowAndParksTheCursor) {
    CursesScreen screen(24, 20);
    Window window(stdscr);
    window.resized();
    window.draw_arrow(Highlight::Colour, 2);
    EXPECT_EQ(getcury(stdscr), 3);
    EXPECT_EQ(getcurx(stdscr), 19);
    EXPECT_EQ(getattrs(stdscr), static_cast<int>(COLOR_PAIR(selection_pair)));
    EXPECT_EQ(row_text(stdscr, 3), "->");
    EXPECT_EQ(pair_at(stdscr, 3, 0), selection_pair);
    EXPECT_EQ(attributes(stdscr, 3, 1), A_BOLD);
}

TEST(WindowTest, ArrowWithoutColourIsReverseAndOffTheWindowIsNotDrawn) {
    CursesScreen screen(4, 20, "xterm-mono");
    Window window(stdscr);
    window.resized();
    window.draw_arrow(Highlight::Reverse, 0);
    EXPECT_EQ(attributes(stdscr, 1, 0), A_REVERSE | A_BOLD);
    wmove(stdscr, 2, 5);
    window.draw_arrow(Highlight::Reverse, 3);  // row 4: below the window
    EXPECT_EQ(getcury(stdscr), 2);
    EXPECT_EQ(getcurx(stdscr), 5);
    EXPECT_EQ(row_text(stdscr, 3), "");
}

TEST(WindowTest, VersionLineOnTheLastRowLeavesTheRestOfIt) {
    CursesScreen screen(10, 40);
    Window window(stdscr);
    window.resized();
    mvwaddstr(stdscr, 9, 0, std::string(40 - 1, 'x').c_str());
    window.draw_version();
    EXPECT_EQ(row_text(stdscr, 9),
              test::version_tag + std::string(40 - 1 - test::version_tag.size(), 'x'));
    EXPECT_EQ(pair_at(stdscr, 9, 0), text_pair);
}

TEST_F(FolderViewTest, RowsShowCountNameAndTheNewMailMarker) {
    CursesScreen screen(24, 80);
    load(five_folders());
    monitor.selected = 1;
    monitor.draw_folders(stdscr, -1, 80);
    EXPECT_EQ(row_text(stdscr, 1), "       5   a");
    EXPECT_EQ(row_text(stdscr, 2), "       4   b");
    EXPECT_EQ(row_text(stdscr, 3), "       3 N c");
    EXPECT_EQ(row_text(stdscr, 4), "       2   d");
    EXPECT_EQ(row_text(stdscr, 5), "       1   e");
    EXPECT_EQ(row_text(stdscr, 6), "");
    // The selected row is highlighted across the whole width, its text bold.
    for (int column = 0; column < 80; ++column) {
        EXPECT_EQ(pair_at(stdscr, 2, column), selection_pair) << column;
    }
    EXPECT_EQ(attributes(stdscr, 2, 10), A_BOLD);
    // Other rows: ordinary pair, bold text, "N" alike.
    EXPECT_EQ(pair_at(stdscr, 1, 10), text_pair);
    EXPECT_EQ(attributes(stdscr, 1, 10), A_BOLD);
    EXPECT_EQ(pair_at(stdscr, 3, 9), text_pair);
    EXPECT_EQ(attributes(stdscr, 3, 9), A_BOLD);
}

TEST_F(FolderViewTest, NewMailMarkerFollowsACountWiderThanItsField) {
    CursesScreen screen(24, 80);
    std::string text;
    for (int i = 0; i < 1000000; ++i) {
        text += "  Folder: wide\n";
    }
    load(text);
    monitor.draw_folders(stdscr, -1, 80);
    // Seven digits take columns 3 to 9; the "N" comes right after them.
    EXPECT_EQ(row_text(stdscr, 1), "   1000000N  wide");
}

TEST_F(FolderViewTest, WithoutColourTheSelectedRowIsReverse) {
    CursesScreen screen(24, 40, "xterm-mono");
    load(five_folders());
    monitor.selected = 0;
    monitor.colour = false;
    monitor.draw_folders(stdscr, -1, 40);
    for (int column = 0; column < 40; ++column) {
        EXPECT_TRUE(attributes(stdscr, 1, column) & A_REVERSE) << column;
    }
    EXPECT_EQ(attributes(stdscr, 1, 11), A_REVERSE | A_BOLD);
    EXPECT_EQ(attributes(stdscr, 2, 11), A_BOLD);
    EXPECT_EQ(attributes(stdscr, 2, 30), A_NORMAL);
}

TEST_F(FolderViewTest, ExpandedFolderListsItsMailsAndPushesTheRestDown) {
    CursesScreen screen(24, 80);
    load(five_folders());
    monitor.selected = 2;  // "c": three mails and the newest
    monitor.draw_folders(stdscr, 0, 80);
    EXPECT_EQ(row_text(stdscr, 2), "       4   b");
    EXPECT_EQ(row_text(stdscr, 3), "       3 N c");
    EXPECT_EQ(row_text(stdscr, 4), "           sender2@example.org: subject 0");
    EXPECT_EQ(row_text(stdscr, 5), "           sender2@example.org: subject 1");
    EXPECT_EQ(row_text(stdscr, 6), "           last@example.org: newest");
    EXPECT_EQ(row_text(stdscr, 7), "       2   d");
    EXPECT_EQ(row_text(stdscr, 8), "       1   e");
    EXPECT_EQ(row_text(stdscr, 9), "");
    EXPECT_EQ(pair_at(stdscr, 4, 11), text_pair);
    EXPECT_EQ(attributes(stdscr, 4, 11), A_NORMAL);
    EXPECT_EQ(pair_at(stdscr, 4, 0), 0);  // nothing written left of column 6
}

TEST_F(FolderViewTest, MailLinesAreCutToTheWindow) {
    CursesScreen screen(10, 40);
    load(log_entry("alice@example.org", "0123456789", "x") +        // 34 bytes
         log_entry("alice@example.org", "0123456789ABCDEF", "x"));  // 40 bytes
    monitor.draw_folders(stdscr, 0, 40);
    EXPECT_EQ(row_text(stdscr, 2), "           alice@example.org: 0123456789");
    EXPECT_EQ(row_text(stdscr, 3), "           alice@example.org: 0123456789");
    EXPECT_EQ(row_text(stdscr, 4), "");  // nothing went on to the next row
}

TEST_F(FolderViewTest, NoMailLinesInAWindowSixColumnsWide) {
    CursesScreen screen(10, 6);
    load(log_entry("alice@example.org", "hello", "inbox"));
    monitor.draw_folders(stdscr, 0, 6);
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(pair_at(stdscr, 1, column), selection_pair) << column;
        EXPECT_EQ(pair_at(stdscr, 2, column), 0) << column;
    }
    EXPECT_EQ(row_text(stdscr, 2), "");
}

TEST_F(FolderViewTest, RowsBelowTheViewAreNotDrawn) {
    CursesScreen screen(5, 40);
    std::string text;
    for (int i = 0; i < 8; ++i) {
        for (int mail = 0; mail <= 8 - i; ++mail) {
            text += log_entry("s@x", "m", std::string("f").append(std::to_string(i)));
        }
    }
    load(text);
    mvwaddstr(stdscr, 0, 0, "top bar");
    monitor.selected = 3;
    monitor.draw_folders(stdscr, 0, 40);
    EXPECT_EQ(row_text(stdscr, 0), "top bar");
    EXPECT_EQ(row_text(stdscr, 1), "       9   f0");
    EXPECT_EQ(row_text(stdscr, 2), "       8   f1");
    // The rows of the bottom bar and the version line are not the list's.
    EXPECT_EQ(row_text(stdscr, 3), "");
    EXPECT_EQ(row_text(stdscr, 4), "");
}

TEST_F(FolderViewTest, NoRowLeaksOntoTheBarsOrTheVersionLine) {
    CursesScreen screen(5, 40);
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text += log_entry("s@x", "m",
                          std::string("folder-with-a-long-name-").append(std::to_string(i)));
    }
    load(text);
    Window window(stdscr);
    window.resized();
    monitor.selected = 5;
    monitor.draw_folders(stdscr, -1, 40);
    window.draw_bar(Highlight::Colour, 3, "keys");
    window.draw_version();
    EXPECT_EQ(row_text(stdscr, 2), "       1   folder-with-a-long-name-4");  // ties: by name
    EXPECT_EQ(row_text(stdscr, 3), "keys");
    EXPECT_EQ(pair_at(stdscr, 3, 30), bar_pair);
    EXPECT_EQ(row_text(stdscr, 4), test::version_tag);
}

TEST_F(FolderViewTest, SelectionOutsideTheListHighlightsNothing) {
    CursesScreen screen(24, 40);
    load(five_folders());
    monitor.selected = 7;
    monitor.draw_folders(stdscr, 7, 40);
    for (int row = 1; row <= 5; ++row) {
        EXPECT_EQ(pair_at(stdscr, row, 20), 0) << row;
        EXPECT_NE(pair_at(stdscr, row, 3), selection_pair) << row;
    }
    EXPECT_EQ(row_text(stdscr, 6), "");
}

TEST_F(FolderViewTest, NoMarkerWhenTheNewestFolderIsGone) {
    CursesScreen screen(24, 40);
    load(five_folders());
    log.remove_folder("c");
    monitor.draw_folders(stdscr, -1, 40);
    for (int row = 1; row <= 4; ++row) {
        EXPECT_EQ(row_text(stdscr, row).find('N'), std::string::npos) << row_text(stdscr, row);
    }
    EXPECT_EQ(row_text(stdscr, 3), "       2   d");
}

TEST_F(FolderViewTest, EmptyListLeavesTheWindowAlone) {
    CursesScreen screen(10, 40);
    load("");
    mvwaddstr(stdscr, 1, 0, "untouched");
    monitor.draw_folders(stdscr, 0, 40);
    EXPECT_EQ(row_text(stdscr, 1), "untouched");
}

TEST_F(FolderViewTest, LongFolderNamesEndAtTheRightEdge) {
    CursesScreen screen(10, 20);
    load(log_entry("a@x", "hi", "a-very-long-folder-name"));
    monitor.draw_folders(stdscr, 0, 20);
    EXPECT_EQ(row_text(stdscr, 1), "       1 N a-very-lo");
    // Nothing of the name went on to the mail line below it.
    EXPECT_EQ(row_text(stdscr, 2), "           a@x: hi");
    EXPECT_EQ(pair_at(stdscr, 2, 0), 0);
}

TEST_F(FolderViewTest, ControlCharactersFromTheLogAreShownInert) {
    CursesScreen screen(10, 60);
    load(log_entry("evil\x1b]0;x\x07@example.org", "\x1b[2J", "in\x1b[5mbox"));
    monitor.draw_folders(stdscr, 0, 60);
    EXPECT_EQ(row_text(stdscr, 1), "       1 N in^[[5mbox");
    EXPECT_EQ(row_text(stdscr, 2), "           evil^[]0;x^G@example.org: ^[[2J");
}

TEST(HelpTest, KeyListHasALineForEveryDescribedKey) {
    CursesScreen screen(24, 120);
    wmove(stdscr, 4, 0);
    print_key_list(stdscr);
    EXPECT_EQ(row_text(stdscr, 4), "     q     Quit Lurko");
    EXPECT_EQ(row_text(stdscr, 5), "     ?     Show help");
    EXPECT_EQ(row_text(stdscr, 16),
              "     d     Marks folder as read, and removes from logfile as well (experimental)");
    EXPECT_EQ(row_text(stdscr, 17), "     ^F    Scroll down a page (also PgDn)");
    EXPECT_EQ(row_text(stdscr, 21), "     N     Previous folder that matches the search");
    EXPECT_EQ(row_text(stdscr, 22), "     u     Undo the last removal or emptying of the log");
    EXPECT_EQ(row_text(stdscr, 23), "");
    std::string keys;
    for (int row = 4; row <= 16; ++row) {
        keys += row_text(stdscr, row).substr(5, 1);
    }
    EXPECT_EQ(keys, "q?rgoclkjhbmd");
    EXPECT_EQ(help_bar_text(), "q:Exit");
}

}  // namespace
