// The interactive monitor, run as the user runs it: the built lurko in a
// pseudo-terminal on a real log file, read back through the terminal
// emulator. Deliveries are appended to the log while it runs; keys are typed
// as the terminal sends them.

#include "monitor_support.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <set>

namespace monitor_test {
namespace {

// The folder rows of the sample log, in display order, without the marker.
const std::vector<std::string> sample_rows = {
    "      15 N friends",
    "       6   /home/user/Mail/inbox",
    "       4   lists.dev",
    "       2   work",
    "       2   reports",
    "       2   lists.users",
    "       2   family and friends",
    "       2   /dev/null",
    "       1   formail -D 8192 msgid.cache",
    "       1   cat > /dev/null",
    "       1   bills",
    "       1   archive/invoices",
    "       1   a-maildir-folder-with-a-rather-long-name-for-announcements/n",
    "       1   /home/user/Maildir",
    "       1   /home/user/Mail/bank",
};
const std::string sample_status = "Lurko -- New mail: 42 in 15 folders";

// Folder row `index` of the sample as shown with the marker on `selected`.
std::string sample_row(std::size_t index, std::size_t selected) {
    std::string row = sample_rows[index];
    if (index == selected) {
        row.replace(0, 2, "->");
    }
    return row;
}

void deliver(const std::string& log, const std::string& folder,
             const std::string& subject = "hello") {
    test::append_file(log, log_entry("new@example.org", subject, folder));
}

// Whether any folder row carries the new-mail "N".
bool any_new_marker(const Terminal& term) {
    for (int row = 1; row < term.rows() - 2; ++row) {
        if (term.text(row, 9, 1) == "N") {
            return true;
        }
    }
    return false;
}

// --- The first screen -------------------------------------------------------------

TEST_F(MonitorTest, FirstScreenShowsBarsRowsMarkerAndVersion) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({"-b"});
    ASSERT_TRUE(term->settle());
    EXPECT_TRUE(term->alternate_screen());
    EXPECT_EQ(term->row_text(0), sample_status + " (beep on)");
    for (std::size_t i = 0; i < sample_rows.size(); ++i) {
        EXPECT_EQ(term->row_text(static_cast<int>(i) + 1), sample_row(i, 0)) << i;
    }
    for (int row = 18; row < 22; ++row) {
        EXPECT_EQ(term->row_text(row), "") << row;
    }
    EXPECT_EQ(term->row_text(22), keys_at_80);
    EXPECT_EQ(term->row_text(23), version);

    // The bars white on blue and bold across the whole row; the selected row
    // yellow on red; the other rows bold on black.
    for (const int column : {0, 40, 79}) {
        EXPECT_EQ(term->cell(0, column).background, blue) << column;
        EXPECT_TRUE(term->cell(0, column).bold) << column;
        EXPECT_EQ(term->cell(22, column).background, blue) << column;
        EXPECT_EQ(term->cell(1, column).background, red) << column;
        EXPECT_EQ(term->cell(1, column).foreground, yellow) << column;
    }
    EXPECT_TRUE(term->cell(1, 11).bold);
    EXPECT_EQ(term->cell(2, 11).background, black);
    EXPECT_TRUE(term->cell(2, 11).bold);
    EXPECT_FALSE(term->cell(23, 0).bold);
    EXPECT_EQ(term->cursor(), (test::Position{1, 79}));
    EXPECT_EQ(term->bells(), 0);  // starting is not new mail, even with a bell on

    quit(*term);
    EXPECT_TRUE(handed_back(*term, fresh_modes()));
}

// --- Live update ------------------------------------------------------------------

TEST_F(MonitorTest, DeliveriesShowUpWhileItRuns) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    ASSERT_TRUE(shows_status(*term, sample_status));

    deliver(log, "lists.dev/new/1796763999.1_1.mailhost");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 15 folders"));
    // The "N" moves to the folder of the newest mail; the list is re-sorted.
    ASSERT_TRUE(shows_row(*term, 3, "       5 N lists.dev"));
    EXPECT_EQ(term->row_text(1), "->    15   friends");

    // Two deliveries written one right after the other, and a new folder.
    deliver(log, "newsletter", "first");
    deliver(log, "newsletter", "second");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 45 in 16 folders"));
    ASSERT_TRUE(shows_row(*term, 6, "       2 N newsletter"));
    EXPECT_EQ(term->row_text(7), "       2   lists.users");
    EXPECT_EQ(term->bells(), 0);  // no -b
    quit(*term);
}

TEST_F(MonitorTest, SleepsUntilTheLogChanges) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    ASSERT_TRUE(term->settle());
    const long before = wakeups(term->pid());
    term->pump(Milliseconds(1500));  // a timer of 0.4 seconds would wake it three times
    EXPECT_LE(wakeups(term->pid()) - before, 1);
    deliver(log, "inbox");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 16 folders"));
    quit(*term);
}

TEST_F(MonitorTest, BurstOfDeliveriesIsDrawnAFrameAtATime) {
    test::write_file(log, "");
    std::unique_ptr<Terminal> term = start_drawn({});
    // 2000 deliveries over about a second, each a write of its own.
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < 2000; ++i) {
            test::append_file(log, log_entry("x@x", std::to_string(i), "burst"));
            ::usleep(500);
        }
        ::_exit(0);
    }
    std::set<std::string> totals_shown;
    const bool all = term->wait_until(
        [&] {
            totals_shown.insert(term->row_text(0));
            return term->row_text(0) == "Lurko -- New mail: 2000 in 1 folder";
        },
        change_wait);
    ::waitpid(writer, nullptr, 0);
    ASSERT_TRUE(all) << term->screen();
    // Drawn at most about sixty times a second, not once per delivery.
    EXPECT_LT(totals_shown.size(), 200u);
    quit(*term);
}

TEST_F(MonitorTest, TwoDeliveriesInTheSameSecondBothShow) {
    test::write_file(log, log_entry("a@example.org", "start", "inbox"));
    std::unique_ptr<Terminal> term = start_drawn({});
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 1 in 1 folder"));

    // Each round lets the monitor read the first delivery before the second
    // is written. The rounds go on until a pair fell into one second of the
    // log's change time, the case a watch by whole seconds would miss.
    int mails = 1;
    bool same_second = false;
    for (int round = 0; round < 10 && !same_second; ++round) {
        deliver(log, "inbox");
        struct stat first {};
        ASSERT_EQ(::stat(log.c_str(), &first), 0);
        ++mails;
        ASSERT_TRUE(
            shows_status(*term, "Lurko -- New mail: " + std::to_string(mails) + " in 1 folder"));
        deliver(log, "inbox");
        struct stat second {};
        ASSERT_EQ(::stat(log.c_str(), &second), 0);
        ++mails;
        ASSERT_TRUE(
            shows_status(*term, "Lurko -- New mail: " + std::to_string(mails) + " in 1 folder"));
        same_second = first.st_ctim.tv_sec == second.st_ctim.tv_sec;
    }
    EXPECT_TRUE(same_second) << "no two deliveries fell into one second";
    quit(*term);
}

// --- The bell -----------------------------------------------------------------------

TEST_F(MonitorTest, BellRingsForNewMailOnly) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({"-b"});
    ASSERT_TRUE(shows_status(*term, sample_status + " (beep on)"));
    ASSERT_TRUE(term->settle());
    EXPECT_EQ(term->bells(), 0);

    deliver(log, "lists.dev");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 15 folders (beep on)"));
    EXPECT_EQ(term->bells(), 1);

    // A change that brings no mail: friends, marked as read, comes back with
    // the reload, and no bell rings.
    term->type("m");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 28 in 14 folders (beep on)"));
    ASSERT_EQ(::chmod(log.c_str(), 0640), 0);
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 15 folders (beep on)"));
    EXPECT_EQ(term->bells(), 1);

    // The program's own rewrite of the log: friends marked as read again (the
    // arrow stayed on the inbox), the inbox removed; the reload of the
    // rewritten log brings friends back, without a bell.
    term->type("km");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 28 in 14 folders (beep on)"));
    ASSERT_TRUE(shows_row(*term, 1, "->     6   /home/user/Mail/inbox"));
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 37 in 14 folders (beep on)"));
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(term->bells(), 1);

    // Fewer mails than before the removal, but more than the last read.
    deliver(log, "friends");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 38 in 14 folders (beep on)"));
    EXPECT_EQ(term->bells(), 2);

    // Emptying the log is no mail either; the first mail after it is.
    term->type("r");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders (beep on)"));
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(term->bells(), 2);
    deliver(log, "friends");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 1 in 1 folder (beep on)"));
    EXPECT_EQ(term->bells(), 3);
    quit(*term);
}

TEST_F(MonitorTest, BellRulesForDevNull) {
    struct Case {
        std::vector<std::string> options;
        bool rings;       // for a mail to /dev/null
        bool listed;      // /dev/null shows in the list
        const char* bar;  // the top bar before the delivery, with " (beep on)" or not
    };
    const Case cases[] = {
        {{"-b"}, true, true, "Lurko -- New mail: 42 in 15 folders (beep on)"},
        {{"-b", "-s"}, false, true, "Lurko -- New mail: 42 in 15 folders (beep on)"},
        {{"-b", "-H"}, true, false, "Lurko -- New mail: 40 in 14 folders (beep on)"},
        {{"-b", "-s", "-H"}, false, false, "Lurko -- New mail: 40 in 14 folders (beep on)"},
        {{"-s"}, false, true, "Lurko -- New mail: 42 in 15 folders"},
    };
    for (const Case& c : cases) {
        const std::string options = ::testing::PrintToString(c.options);
        use_sample_log();
        std::unique_ptr<Terminal> term = start_drawn(c.options);
        ASSERT_TRUE(shows_status(*term, c.bar)) << options;
        ASSERT_TRUE(term->settle());
        ASSERT_EQ(term->bells(), 0) << options;

        deliver(log, "/dev/null", "spam");
        if (c.listed) {
            // Three mails now: /dev/null moves above the other folders of
            // two and carries the "N".
            ASSERT_TRUE(shows_row(*term, 4, "       3 N /dev/null")) << options;
        } else {
            // Not listed, but still the folder of the newest mail: no row
            // carries the "N" any more.
            ASSERT_TRUE(wait_drawn(*term, [&] { return !any_new_marker(*term); }))
                << options << term->screen();
            EXPECT_EQ(term->row_text(0), c.bar) << options;
        }
        EXPECT_EQ(term->bells(), c.rings ? 1 : 0) << options;

        // A mail to a real folder rings whenever the bell is on.
        deliver(log, "friends");
        ASSERT_TRUE(shows_row(*term, 1, "->    16 N friends")) << options;
        EXPECT_EQ(term->bells(), (c.rings ? 1 : 0) + (c.options[0] == "-b" ? 1 : 0)) << options;
        quit(*term);
    }
}

// --- Moving the selection ---------------------------------------------------------

TEST_F(MonitorTest, SelectionKeysMoveAndWrap) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    ASSERT_TRUE(marker_at(*term, 1));
    const int last = static_cast<int>(sample_rows.size());  // row of the last folder

    const auto check = [&](const std::string& what, int row) {
        ASSERT_TRUE(marker_at(*term, row)) << what;
        // The whole selected row is highlighted, the one row only.
        EXPECT_EQ(term->cell(row, 79).background, red) << what;
        EXPECT_EQ(term->cell(row == 1 ? 2 : 1, 79).background, black) << what;
        EXPECT_EQ(term->cursor(), (test::Position{row, 79})) << what;
        EXPECT_EQ(term->row_text(row),
                  sample_row(static_cast<std::size_t>(row - 1), static_cast<std::size_t>(row - 1)))
            << what;
    };

    term->type("j");
    check("j", 2);
    term->press(Key::Down);
    check("Down", 3);
    term->type("k");
    check("k", 2);
    term->press(Key::Up);
    check("Up", 1);
    term->type("k");
    check("k on the first row wraps", last);
    term->type("j");
    check("j on the last row wraps", 1);
    term->press(Key::Up);
    check("Up on the first row wraps", last);
    term->press(Key::Down);
    check("Down on the last row wraps", 1);
    term->type("*");
    check("*", last);
    term->type("=");
    check("=", 1);
    term->press(Key::End);
    check("End", last);
    term->press(Key::Home);
    check("Home", 1);
    term->press(Key::Right);
    check("Right", last);
    term->press(Key::Left);
    check("Left", 1);
    // Keys without a binding change nothing.
    term->type("Jx\n");
    term->type("j");
    check("unbound keys, then j", 2);
    quit(*term);
}

TEST_F(MonitorTest, ExpansionFollowsTheSelection) {
    test::write_file(log, log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "inbox") +
                              log_entry("c@x", "three", "inbox") +
                              log_entry("d@x", "four", "lists") +
                              log_entry("e@x", "five", "lists") + log_entry("f@x", "six", "work"));
    std::unique_ptr<Terminal> term = start_drawn({}, 12, 60);
    ASSERT_TRUE(shows_row(*term, 1, "->     3   inbox"));

    term->type("h");
    const std::vector<std::string> inbox_open = {
        "Lurko -- New mail: 6 in 3 folders",
        "->     3   inbox",
        "           a@x: one",
        "           b@x: two",
        "           c@x: three",
        "       2   lists",
        "       1 N work",
        "",
        "",
        "",
        keys_whole.substr(0, 60),
    };
    ASSERT_TRUE(shows_rows(*term, inbox_open));
    EXPECT_EQ(term->text(11, 0, 19), version);
    EXPECT_FALSE(term->cell(2, 11).bold);
    EXPECT_EQ(term->cell(2, 11).background, black);

    // The mails listed are always those of the selected folder; the old ones
    // leave no trace.
    term->type("j");
    std::vector<std::string> lists_open = {
        "Lurko -- New mail: 6 in 3 folders",
        "       3   inbox",
        "->     2   lists",
        "           d@x: four",
        "           e@x: five",
        "       1 N work",
        "",
        "",
        "",
        "",
        inbox_open[10],
    };
    ASSERT_TRUE(shows_rows(*term, lists_open));
    term->press(Key::End);
    ASSERT_TRUE(shows_row(*term, 4, "           f@x: six"));
    EXPECT_EQ(term->row_text(3), "->     1 N work");
    EXPECT_EQ(term->row_text(5), "");

    // A delivery while expanded: work, with two mails now, moves up a row,
    // and the selection and its mails with it.
    deliver(log, "work", "seven");
    ASSERT_TRUE(shows_rows(*term, {
                                      "Lurko -- New mail: 7 in 3 folders",
                                      "       3   inbox",
                                      "->     2 N work",
                                      "           f@x: six",
                                      "           new@example.org: seven",
                                      "       2   lists",
                                      "",
                                  }));

    term->type("h");
    ASSERT_TRUE(shows_row(*term, 4, ""));
    EXPECT_EQ(term->row_text(2), "->     2 N work");
    quit(*term);
}

TEST_F(MonitorTest, SelectionStaysOnItsRowAndBelowTheCount) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("j");
    ASSERT_TRUE(marker_at(*term, 2));
    // A reload that re-sorts the list: the selection stays on its folder.
    for (int i = 0; i < 7; ++i) {
        deliver(log, "work/" + std::to_string(10 + i));  // MH messages count for their folder
    }
    ASSERT_TRUE(shows_row(*term, 3, "->     6   /home/user/Mail/inbox"));
    EXPECT_EQ(term->row_text(2), "       9 N work");

    term->press(Key::End);
    ASSERT_TRUE(marker_at(*term, 15));
    // The log replaced by one of two folders: the selection moves to the
    // last row there is.
    replace_log(log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "inbox") +
                log_entry("c@x", "three", "lists"));
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 3 in 2 folders"));
    ASSERT_TRUE(shows_row(*term, 2, "->     1 N lists"));
    EXPECT_EQ(term->row_text(3), "");
    EXPECT_EQ(term->row_text(15), "");
    quit(*term);
}

// The arrow marks a folder: new mail that moves another folder into its row
// does not move it, and d removes the folder the user chose.
TEST_F(MonitorTest, RemoveAfterAReSortRemovesTheFolderUnderTheArrow) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("jjjjjjj");
    ASSERT_TRUE(shows_row(*term, 8, "->     2   /dev/null"));
    for (int i = 0; i < 4; ++i) {
        deliver(log, "bills", "invoice " + std::to_string(i));
    }
    ASSERT_TRUE(shows_row(*term, 3, "       5 N bills"));
    EXPECT_EQ(term->row_text(9), "->     2   /dev/null");
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 44 in 14 folders"));
    const std::string after = test::read_file(log);
    EXPECT_EQ(after.find("Folder: /dev/null"), std::string::npos);
    std::size_t bills = 0;
    for (std::size_t at = after.find("Folder: bills"); at != std::string::npos;
         at = after.find("Folder: bills", at + 1)) {
        ++bills;
    }
    EXPECT_EQ(bills, 5u);
    quit(*term);
}

// A list longer than the window: the view follows the selection, the top bar
// says where it is, and search, clicks and the wheel reach every folder.
TEST_F(MonitorTest, LongListScrollsToTheSelectionSearchAndMouse) {
    std::string text;
    for (int i = 0; i < 62; ++i) {  // f00 with 62 mails down to f61 with one
        const std::string name = (i < 10 ? "f0" : "f") + std::to_string(i);
        for (int mail = i; mail < 62; ++mail) {
            text += log_entry("a@x", "m", name);
        }
    }
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start_drawn({});
    const std::string status = "Lurko -- New mail: 1953 in 62 folders";
    const auto top_bar = [&](const std::string& where) {
        return status + std::string(80 - status.size() - where.size(), ' ') + where;
    };
    ASSERT_TRUE(shows_row(*term, 0, top_bar("1-21/62")));
    term->type(std::string(25, 'j'));
    ASSERT_TRUE(shows_row(*term, 21, "->    37   f25"));
    EXPECT_EQ(term->row_text(0), top_bar("6-26/62"));
    EXPECT_EQ(term->row_text(23), version);

    term->type("/F4\r");
    ASSERT_TRUE(shows_row(*term, 21, "->    22   f40"));
    EXPECT_EQ(term->row_text(0), top_bar("21-41/62"));
    term->type("n");
    ASSERT_TRUE(shows_row(*term, 21, "->    21   f41"));
    term->type("/zz\r");
    ASSERT_TRUE(shows_row(*term, 22, "Not found"));
    term->type("k");
    ASSERT_TRUE(shows_row(*term, 20, "->    22   f40"));
    EXPECT_TRUE(term->row_text(22).starts_with("q:Quit"));

    term->type("\x1b[<0;5;4M");  // a click on row 3
    ASSERT_TRUE(shows_row(*term, 3, "->    39   f23"));
    term->type("\x1b[<65;5;4M");  // the wheel, down: three rows
    ASSERT_TRUE(shows_row(*term, 0, top_bar("25-45/62")));
    EXPECT_EQ(term->row_text(1), "->    38   f24");
    quit(*term);
}

// With the mouse left to the terminal, a report it sends anyway is no key:
// its bytes would otherwise press m (column 77) and d (column 68).
TEST_F(MonitorTest, MouseReportsAreNeverKeys) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({"--no-mouse"});
    term->type("\x1b[M m\"\x1b[M d\"\x1b[<0;78;3M");
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(term->row_text(0), sample_status);
    EXPECT_EQ(term->row_text(1), sample_row(0, 0));
    quit(*term);
}

// --- Mark as read, remove, clear, bell toggle -------------------------------------

TEST_F(MonitorTest, MarkReadLastsUntilTheNextDelivery) {
    use_sample_log();
    const std::string original = test::read_file(log);
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("m");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 27 in 14 folders"));
    ASSERT_TRUE(shows_row(*term, 1, "->     6   /home/user/Mail/inbox"));
    EXPECT_FALSE(term->contains("15 N friends"));
    EXPECT_FALSE(any_new_marker(*term));  // its folder is no longer listed
    EXPECT_EQ(term->row_text(15), "");
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(test::read_file(log), original);  // the log is not touched
    term->type("l");                            // read whole again: still marked read
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(term->row_text(0), "Lurko -- New mail: 27 in 14 folders");
    EXPECT_FALSE(term->contains("15 N friends"));

    // Friends comes back; the arrow stays on the folder it was on.
    deliver(log, "lists.dev");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 15 folders"));
    EXPECT_EQ(term->row_text(1), "      15   friends");
    EXPECT_EQ(term->row_text(2), "->     6   /home/user/Mail/inbox");
    EXPECT_EQ(term->row_text(3), "       5 N lists.dev");
    quit(*term);
}

TEST_F(MonitorTest, MarkingTheLastFolderReadEmptiesTheList) {
    test::write_file(log, log_entry("a@x", "one", "inbox"));
    std::unique_ptr<Terminal> term = start_drawn({});
    ASSERT_TRUE(shows_row(*term, 1, "->     1 N inbox"));
    term->type("m");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders"));
    EXPECT_EQ(term->row_text(1), "");
    EXPECT_EQ(term->cursor(), (test::Position{0, 79}));
    // Commands on the empty list do nothing; the next delivery brings the
    // folder back with the selection on it.
    // The selection now names no row; h there leaves the expansion off
    // (the row index read as a signed number is -1), and j takes it to 0.
    term->type("mdhj");
    term->press(Key::Enter);
    ASSERT_TRUE(term->settle());
    EXPECT_EQ(term->row_text(1), "");
    EXPECT_EQ(test::read_file(log), log_entry("a@x", "one", "inbox"));
    deliver(log, "inbox");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 2 in 1 folder"));
    ASSERT_TRUE(shows_row(*term, 1, "->     2 N inbox"));
    EXPECT_EQ(term->row_text(2), "");  // not expanded
    quit(*term);
}

TEST_F(MonitorTest, RemoveFolderTakesOnlyItsEntriesOutOfTheLog) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("jjj");
    // An MH folder, a directory folder, a name with blanks, the bit bucket.
    ASSERT_TRUE(shows_row(*term, 4, "->     2   work"));
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 40 in 14 folders"));
    ASSERT_TRUE(shows_row(*term, 4, "->     2   reports"));
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 38 in 13 folders"));
    ASSERT_TRUE(shows_row(*term, 4, "->     2   lists.users"));
    term->type("j");
    ASSERT_TRUE(shows_row(*term, 5, "->     2   family and friends"));
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 36 in 12 folders"));
    ASSERT_TRUE(shows_row(*term, 5, "->     2   /dev/null"));
    term->type("d");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 34 in 11 folders"));
    EXPECT_EQ(term->row_text(1), "      15 N friends");
    EXPECT_EQ(term->row_text(22), "Removed /dev/null (2 mails) -- u to undo");

    // An entry runs from the line after the previous Folder line up to its
    // own Folder line, so the "spam dropped" lines go with the /dev/null
    // mails. Every other byte stays as it was, in order.
    std::string expected = test::read_file(sample_path());
    const auto cut = [&](const std::string& first_line, const std::string& folder_line) {
        const std::size_t begin = expected.find(first_line);
        ASSERT_NE(begin, std::string::npos) << first_line;
        const std::size_t folder = expected.find(folder_line, begin);
        ASSERT_NE(folder, std::string::npos) << folder_line;
        expected.erase(begin, expected.find('\n', folder) + 1 - begin);
    };
    cut("From boss@work", "  Folder: work/1");
    cut("From colleague@work", "  Folder: work/2");
    cut("From reports@example.com", "  Folder: reports/msg.KB");
    cut("From reports@example.com", "  Folder: reports/msg.MB");
    cut("From mum@family.example.org", "  Folder: family and friends");
    cut("From dad@family.example.org", "  Folder: family and friends");
    const std::string before_last_removal = expected;
    cut("spam dropped\nFrom spammer@", "  Folder: /dev/null");
    cut("spam dropped\nFrom spammer2@", "  Folder: /dev/null");
    ASSERT_TRUE(term->settle());
    EXPECT_EQ(test::read_file(log), expected);

    // The reload of the rewritten log agrees with the list on the screen.
    deliver(log, "reports/msg.New");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 35 in 12 folders"));
    EXPECT_TRUE(term->contains("1 N reports"));

    // u takes back the last removal: its entries back in their places, the
    // delivery since after them; a second u has nothing left to take back.
    const std::string delivered = test::read_file(log).substr(expected.size());
    term->type("u");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 37 in 13 folders"));
    EXPECT_EQ(term->row_text(22), "Undone");
    term->type("u");
    ASSERT_TRUE(shows_row(*term, 22, "Nothing to undo"));
    EXPECT_EQ(test::read_file(log), before_last_removal + delivered);
    quit(*term);
}

TEST_F(MonitorTest, KeysTypedForTheOldListAreDropped) {
    test::write_file(log, log_entry("a@x", "1", "a") + log_entry("a@x", "2", "a") +
                              log_entry("b@x", "3", "b") + log_entry("c@x", "4", "c"));
    std::unique_ptr<Terminal> term = start_drawn({});
    // The second d comes before the list without "a" is on the screen.
    term->type("dd");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 2 in 2 folders"));
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_EQ(term->row_text(0), "Lurko -- New mail: 2 in 2 folders");
    term->type("d");  // typed for the list on the screen: it acts
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 1 in 1 folder"));
    EXPECT_EQ(test::read_file(log), log_entry("b@x", "3", "b"));
    quit(*term);
}

TEST_F(MonitorTest, ClearLogEmptiesTheLogAndTheList) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("jj");
    ASSERT_TRUE(marker_at(*term, 3));
    term->type("r");
    std::vector<std::string> empty_screen(24, "");
    empty_screen[0] = "Lurko -- New mail: 0 in 0 folders";
    empty_screen[22] = "Log emptied (42 mails) -- u to undo";
    empty_screen[23] = version;
    ASSERT_TRUE(shows_rows(*term, empty_screen));
    EXPECT_EQ(test::read_file(log), "");
    // Taken back and emptied again: the key summary is back after a key.
    term->type("u");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 42 in 15 folders"));
    EXPECT_EQ(test::read_file(log), test::read_file(sample_path()));
    term->type("r");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders"));
    term->type("l");
    empty_screen[22] = keys_at_80;
    ASSERT_TRUE(shows_rows(*term, empty_screen));
    EXPECT_EQ(term->cursor(), (test::Position{0, 79}));

    // The bell toggled on shows in the bar at once; the next delivery rings
    // it and lands on the first row, selected.
    term->type("b");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders (beep on)"));
    EXPECT_EQ(term->bells(), 0);
    deliver(log, "inbox");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 1 in 1 folder (beep on)"));
    EXPECT_EQ(term->bells(), 1);
    EXPECT_EQ(term->row_text(1), "->     1 N inbox");

    term->type("b");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 1 in 1 folder"));
    deliver(log, "inbox");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 2 in 1 folder"));
    EXPECT_EQ(term->bells(), 1);
    quit(*term);
}

// --- The terminal ---------------------------------------------------------------------

TEST_F(MonitorTest, ResizingMovesTheBottomBar) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({});
    term->type("j");
    ASSERT_TRUE(marker_at(*term, 2));

    term->resize(30, 100);
    ASSERT_TRUE(shows_row(*term, 28, keys_whole));
    ASSERT_TRUE(shows_row(*term, 29, version));
    EXPECT_EQ(term->row_text(22), "");
    EXPECT_EQ(term->row_text(23), "");
    EXPECT_EQ(term->cell(0, 99).background, blue);
    EXPECT_EQ(term->cell(28, 99).background, blue);
    EXPECT_EQ(term->cell(2, 99).background, red);
    EXPECT_EQ(term->row_text(2), sample_row(1, 1));
    EXPECT_EQ(term->cursor(), (test::Position{2, 99}));

    // Smaller than the list: the rows that do not fit are not drawn, the
    // bars and the version line keep their places at the bottom.
    term->resize(10, 50);
    ASSERT_TRUE(shows_row(*term, 8, keys_whole.substr(0, 50)));
    // The bar is cut at the edge: the last row holds the version line alone,
    // and the top bar says which rows of the list are in view.
    EXPECT_EQ(term->row_text(9), version);
    EXPECT_EQ(term->row_text(0), sample_status + std::string(9, ' ') + "1-7/15");
    EXPECT_EQ(term->row_text(7), sample_row(6, 1));
    EXPECT_EQ(term->row_text(2), "->     6   /home/user/Mail/inbox");
    quit(*term);
}

TEST_F(MonitorTest, InterruptGivesTheTerminalBack) {
    use_sample_log();
    const termios before = fresh_modes();

    for (const bool from_keyboard : {true, false}) {
        std::unique_ptr<Terminal> term = start_drawn({});
        ASSERT_TRUE(shows_status(*term, sample_status));
        EXPECT_EQ(term->modes().c_lflag & (ICANON | ECHO), 0u);  // curses has the terminal
        if (from_keyboard) {
            term->type("\x03");
        } else {
            term->send_signal(SIGINT);
        }
        ASSERT_TRUE(term->wait_exit()) << term->screen();
        EXPECT_EQ(term->exit_status(), 0);
        EXPECT_EQ(term->error_output(), "Caught signal (SIGINT - Interrupt)\n");
        EXPECT_TRUE(handed_back(*term, before));
    }
}

}  // namespace
}  // namespace monitor_test

namespace monitor_test {
namespace {

// --notify=terminal in a real terminal: one escape sequence per read, of the
// terminal's kind, with nothing of a hostile subject escaping its field;
// --ignore keeps a folder quiet.
TEST(Notifications, TerminalSequencesKeepHostileSubjectsInTheirField) {
    test::TempDir home;
    const std::string log = home / "procmail.log";
    test::write_file(log, "");
    const std::string hostile = "x\x1b\\y\x07z\xC2\x9C<b>&";
    const test::EnvChanges plain = {{"TMUX", std::nullopt},
                                    {"KITTY_WINDOW_ID", std::nullopt},
                                    {"TERM_PROGRAM", std::nullopt},
                                    {"LC_TERMINAL", std::nullopt}};
    std::unique_ptr<Terminal> term =
        start_lurko({.args = {"--notify=terminal", "--ignore=spam", log},
                     .home = home.path(),
                     .locale = "C.UTF-8",
                     .keep_output = true,
                     .env = plain});
    ASSERT_TRUE(term->wait_for_text(status_line(0, 0)));
    test::append_file(log, log_entry("a@x", hostile, "/m/work"));
    ASSERT_TRUE(term->wait_for_text(status_line(1, 1), change_wait));
    test::append_file(log, log_entry("s@x", "junk", "/m/spam"));
    ASSERT_TRUE(term->wait_for_text(status_line(2, 2), change_wait));
    test::append_file(log,
                      log_entry("b@x", "one", "/m/work") + log_entry("c@x", "two", "/m/lists"));
    ASSERT_TRUE(term->wait_for_text(status_line(4, 3), change_wait));
    term->settle();
    const std::string& out = term->output();
    const std::string first = "\x1b]777;notify;work;a@x: x\\yz<b>&\a";
    const std::string burst = "\x1b]777;notify;Lurko;2 new mails: work 1, lists 1\a";
    EXPECT_NE(out.find(first), std::string::npos);
    EXPECT_NE(out.find(burst), std::string::npos);
    EXPECT_EQ(out.find("]777;", out.find(first) + first.size()),
              out.find(burst) + 1)  // spam sent none
        << out;
    EXPECT_EQ(out.find("]99;"), std::string::npos);
    EXPECT_EQ(out.find("]9;"), std::string::npos);
    term->type("q");
    ASSERT_TRUE(term->wait_exit());

    // kitty inside tmux: kitty's own sequence only, in tmux's passthrough.
    test::EnvChanges kitty_in_tmux = plain;
    kitty_in_tmux["TMUX"] = "/tmp/tmux-0/default,1,0";
    kitty_in_tmux["KITTY_WINDOW_ID"] = "1";
    term = start_lurko({.args = {"--notify=terminal", log},
                        .home = home.path(),
                        .locale = "C.UTF-8",
                        .keep_output = true,
                        .env = kitty_in_tmux});
    ASSERT_TRUE(term->wait_for_text(status_line(4, 3)));
    test::append_file(log, log_entry("d@x", hostile, "/m/work"));
    ASSERT_TRUE(term->wait_for_text(status_line(5, 3), change_wait));
    term->settle();
    EXPECT_NE(term->output().find("\x1bPtmux;\x1b\x1b]99;i=lurko:d=0:p=title;work\x1b\x1b\\"
                                  "\x1b\x1b]99;i=lurko:d=1:p=body;d@x: x\\yz<b>&\x1b\x1b\\\x1b\\"),
              std::string::npos);
    EXPECT_EQ(term->output().find("]777;"), std::string::npos);
    term->type("q");
    ASSERT_TRUE(term->wait_exit());
}

}  // namespace
}  // namespace monitor_test
