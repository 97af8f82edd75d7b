// The monitor's commands and bar texts in-process: Monitor::dispatch for
// every command that neither draws nor runs a program (its flags and the
// selection rules), the status text and key summary, and the command line
// that opens a folder, run through the real shell.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "app/monitor.hpp"
#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"
#include "test_support.hpp"
#include "ui/commands.hpp"
#include "ui/folder_view.hpp"
#include "ui/key_bindings.hpp"
#include "ui/rows.hpp"
#include "ui/status_bar.hpp"

namespace {

constexpr std::uint32_t no_row = std::numeric_limits<std::uint32_t>::max();

using test::log_entry;

// `count` mails to `folder`.
std::string mails_to(const std::string& folder, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += log_entry("x@example.org", "mail " + std::to_string(i), folder);
    }
    return text;
}

// The loop's three flags and dispatch's result.
struct Flags {
    bool clear = false;
    bool redraw = false;
    bool launched = false;
    bool operator==(const Flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Flags& flags) {
    return out << "{clear " << flags.clear << ", redraw " << flags.redraw << ", launched "
               << flags.launched << "}";
}

// A Monitor on a log of five folders (5, 4, 3, 2 and 1 mails: a to e), read
// as the loop reads it.
class Dispatch : public test::LogTest {
protected:
    Dispatch() {
        settings.logfile = path;
        test::write_file(path, mails_to("e", 1) + mails_to("d", 2) + mails_to("c", 3) +
                                   mails_to("b", 4) + mails_to("a", 5));
        log.update(path);
    }

    // Runs `command` with the flags set to `before`; the flags after it.
    Flags run(Command command, Flags before = {}) {
        quit = monitor.dispatch(command, before.clear, before.redraw, before.launched);
        return before;
    }

    Settings settings;
    Monitor monitor{settings, log};
    bool quit = false;
};

// --- Flags ------------------------------------------------------------------------------

TEST_F(Dispatch, NoneAndUnknownCodesOnlyDropTheRedraw) {
    const Flags all{true, true, true};
    for (const Command command :
         {Command::None, static_cast<Command>(64), static_cast<Command>(255)}) {
        EXPECT_EQ(run(command), (Flags{false, false, false}));
        EXPECT_FALSE(quit);
        EXPECT_EQ(run(command, all), (Flags{true, false, true}));
        EXPECT_FALSE(quit);
    }
    EXPECT_EQ(monitor.selected, 0u);
    EXPECT_EQ(settings.expanded, -1);
}

TEST_F(Dispatch, QuitEndsTheLoopAndChangesNothingElse) {
    EXPECT_EQ(run(Command::Quit), (Flags{false, true, false}));
    EXPECT_TRUE(quit);
    EXPECT_EQ(run(Command::Quit, {true, false, true}), (Flags{true, true, true}));
    EXPECT_TRUE(quit);
    EXPECT_EQ(log.folders().size(), 5u);
}

TEST_F(Dispatch, CommandsThatAskForAClear) {
    for (const Command command : {Command::Redraw, Command::Expand, Command::ToggleBeep,
                                  Command::MarkRead, Command::RemoveFolder, Command::ClearLog}) {
        EXPECT_EQ(run(command), (Flags{true, true, false})) << static_cast<int>(command);
        EXPECT_EQ(run(command, {false, false, true}), (Flags{true, true, true}))
            << static_cast<int>(command);
        EXPECT_FALSE(quit);
    }
}

TEST_F(Dispatch, MovesAskForAClearOnlyWhileExpanded) {
    for (const Command command : {Command::Up, Command::Down, Command::Last, Command::First}) {
        settings.expanded = -1;
        EXPECT_EQ(run(command), (Flags{false, true, false})) << static_cast<int>(command);
        EXPECT_EQ(run(command, {true, false, true}), (Flags{true, true, true}))
            << static_cast<int>(command);
        settings.expanded = 0;
        EXPECT_EQ(run(command), (Flags{true, true, false})) << static_cast<int>(command);
        // The expansion stays on whatever index it holds.
        EXPECT_EQ(settings.expanded, 0);
        EXPECT_FALSE(quit);
    }
}

TEST_F(Dispatch, CommandsOnAnEmptyListOnlyAskForARedraw) {
    test::write_file(path, "");
    log.update(path);
    ASSERT_TRUE(log.folders().empty());
    for (const Command command : {Command::OpenFolder, Command::MarkRead, Command::RemoveFolder}) {
        EXPECT_EQ(run(command), (Flags{false, true, false})) << static_cast<int>(command);
        EXPECT_EQ(monitor.selected, 0u);
    }
    EXPECT_EQ(test::read_file(path), "");
}

// --- The selection ------------------------------------------------------------------------

TEST_F(Dispatch, UpAndDownWrapAround) {
    ASSERT_EQ(test::folder_list(log),
              (std::vector<std::string>{"5 a", "4 b", "3 c", "2 d", "1 e"}));
    run(Command::Down);
    EXPECT_EQ(monitor.selected, 1u);
    run(Command::Up);
    EXPECT_EQ(monitor.selected, 0u);
    run(Command::Up);
    EXPECT_EQ(monitor.selected, 4u);
    run(Command::Down);
    EXPECT_EQ(monitor.selected, 0u);
    run(Command::Last);
    EXPECT_EQ(monitor.selected, 4u);
    run(Command::Last);
    EXPECT_EQ(monitor.selected, 4u);
    run(Command::First);
    EXPECT_EQ(monitor.selected, 0u);
    run(Command::First);
    EXPECT_EQ(monitor.selected, 0u);
}

TEST_F(Dispatch, MovesOnAnEmptyList) {
    test::write_file(path, "");
    log.update(path);
    for (const Command command : {Command::Up, Command::Down, Command::Last, Command::First}) {
        monitor.selected = 0;
        run(command);
        EXPECT_EQ(monitor.selected, 0u) << static_cast<int>(command);
    }
}

TEST_F(Dispatch, ExpandTakesTheSelectedRowAndToggles) {
    monitor.selected = 3;
    EXPECT_EQ(run(Command::Expand), (Flags{true, true, false}));
    EXPECT_EQ(settings.expanded, 3);
    // The expansion follows the selection: moving keeps it on.
    run(Command::Down);
    EXPECT_EQ(monitor.selected, 4u);
    EXPECT_EQ(settings.expanded, 3);
    run(Command::Expand);
    EXPECT_EQ(settings.expanded, -1);
    monitor.selected = 0;
    run(Command::Expand);
    EXPECT_EQ(settings.expanded, 0);
    run(Command::Expand);
    EXPECT_EQ(settings.expanded, -1);
}

TEST_F(Dispatch, ToggleBeepTwiceRestoresIt) {
    settings.beep = false;
    run(Command::ToggleBeep);
    EXPECT_TRUE(settings.beep);
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 15 in 5 folders (beep on)");
    run(Command::ToggleBeep);
    EXPECT_FALSE(settings.beep);
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 15 in 5 folders");
}

// --- Mark as read -------------------------------------------------------------------------

TEST_F(Dispatch, MarkReadDropsTheSelectedFolderOnly) {
    const std::string before = test::read_file(path);
    monitor.selected = 1;
    run(Command::MarkRead);
    EXPECT_EQ(test::folder_list(log), (std::vector<std::string>{"5 a", "3 c", "2 d", "1 e"}));
    EXPECT_EQ(log.total(), 11u);
    EXPECT_EQ(monitor.selected, 1u);  // now on c
    EXPECT_EQ(test::read_file(path), before);

    // The last row: the selection moves up to the new last row.
    monitor.selected = 3;
    run(Command::MarkRead);
    EXPECT_EQ(test::folder_list(log), (std::vector<std::string>{"5 a", "3 c", "2 d"}));
    EXPECT_EQ(monitor.selected, 2u);
    EXPECT_EQ(log.total(), 10u);

    // The next read of the log brings every folder back.
    log.update(path);
    EXPECT_EQ(test::folder_list(log),
              (std::vector<std::string>{"5 a", "4 b", "3 c", "2 d", "1 e"}));
    EXPECT_EQ(log.total(), 15u);
}

TEST_F(Dispatch, MarkingTheLastFolderLeavesNoRowSelected) {
    for (int i = 0; i < 5; ++i) {
        run(Command::MarkRead);
        EXPECT_EQ(monitor.selected, i < 4 ? 0u : no_row) << i;
    }
    EXPECT_TRUE(log.folders().empty());
    EXPECT_EQ(log.total(), 0u);
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 0 in 0 folders");

    // That row, read as the signed expansion index, is -1: Expand ends with
    // the expansion off.
    EXPECT_EQ(run(Command::Expand), (Flags{true, true, false}));
    EXPECT_EQ(settings.expanded, -1);
    // Up counts down from it; Down and First start again at 0.
    run(Command::Up);
    EXPECT_EQ(monitor.selected, no_row - 1);
    run(Command::Down);
    EXPECT_EQ(monitor.selected, 0u);
    monitor.selected = no_row;
    run(Command::Down);
    EXPECT_EQ(monitor.selected, 0u);
    monitor.selected = no_row;
    run(Command::First);
    EXPECT_EQ(monitor.selected, 0u);
    monitor.selected = no_row;
    run(Command::Last);
    EXPECT_EQ(monitor.selected, 0u);
}

// --- Remove folder and clear log, which write the log without drawing --------------------

TEST_F(Dispatch, RemoveFolderTakesItsEntriesOutOfTheLog) {
    test::write_file(path, "procmail: a line of its own\n" + mails_to("b", 1) + mails_to("a", 3) +
                               mails_to("b", 1) + "From partial@x");
    log.update(path);
    ASSERT_EQ(test::folder_list(log), (std::vector<std::string>{"3 a", "2 b"}));
    monitor.selected = 1;
    EXPECT_EQ(run(Command::RemoveFolder), (Flags{true, true, false}));
    EXPECT_EQ(test::folder_list(log), (std::vector<std::string>{"3 a"}));
    EXPECT_EQ(monitor.selected, 0u);
    EXPECT_EQ(test::read_file(path), mails_to("a", 3) + "From partial@x");
    log.update(path);
    EXPECT_EQ(test::folder_list(log), (std::vector<std::string>{"3 a"}));
    EXPECT_EQ(log.total(), 3u);
}

TEST_F(Dispatch, ClearLogEmptiesTheFileNotTheList) {
    monitor.selected = 2;
    run(Command::ClearLog);
    EXPECT_EQ(test::read_file(path), "");
    EXPECT_EQ(log.folders().size(), 5u);  // until the loop reads the log again
    EXPECT_EQ(monitor.selected, 2u);
    log.update(path);
    EXPECT_TRUE(log.folders().empty());
}

// --- The bar texts ------------------------------------------------------------------------

using StatusText = test::LogTest;

TEST_F(StatusText, CountsAndPlural) {
    Settings settings;
    load(mails_to("inbox", 2) + mails_to("lists", 1));
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 3 in 2 folders");
    settings.beep = true;
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 3 in 2 folders (beep on)");

    settings.beep = false;
    load(mails_to("inbox", 3));
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 3 in 1 folder");

    // Hidden /dev/null mails are not counted.
    load(mails_to("inbox", 1) + mails_to("/dev/null", 11));
    log.remove_folder("/dev/null");
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 1 in 1 folder");

    // Large numbers in plain decimal.
    std::string many;
    for (int i = 0; i < 10; ++i) {
        many += mails_to("f" + std::to_string(i), 1234);
    }
    load(many);
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 12340 in 10 folders");

    load("");
    EXPECT_EQ(status_text(settings, log), "Lurko -- New mail: 0 in 0 folders");
}

TEST(KeySummary, ListsTheLabelledKeysInTableOrder) {
    EXPECT_EQ(key_summary(), test::key_bar);
}

// --- The command line that opens a folder ------------------------------------------------

// What the shell makes of `line` when the client is a program that prints
// its arguments one per line between brackets.
std::vector<std::string> words_of(const std::string& line, const std::string& home) {
    const test::RunResult result = test::run({"/bin/sh", "-c", line}, {{"HOME", home}});
    EXPECT_EQ(result.status, 0) << line << result.err;
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < result.out.size()) {
        const std::size_t end = result.out.find("]\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unexpected output: " << result.out;
            break;
        }
        words.push_back(result.out.substr(at + 1, end - at - 1));
        at = end + 2;
    }
    return words;
}

TEST(ShellQuoted, TheShellReadsBackTheSameBytes) {
    EXPECT_EQ(shell_quoted("inbox"), "'inbox'");
    EXPECT_EQ(shell_quoted(""), "''");
    EXPECT_EQ(shell_quoted("it's"), "'it'\\''s'");
    const std::string texts[] = {
        "",
        "plain",
        "two words",
        "'",
        "''",
        "a'b'c",
        "$(touch pwned)",
        "`touch pwned`",
        "a;touch${IFS}pwned",
        "\"$HOME\"\\n\\",
        "*",
        "~",
        "tab\tand\nnewline",
        "high \xe9\xff bytes",
        "-f",
    };
    test::TempDir dir;
    for (const std::string& text : texts) {
        const test::RunResult result =
            test::run({"/bin/sh", "-c", "printf '%s' " + shell_quoted(text)}, {}, dir.path());
        EXPECT_EQ(result.out, text) << shell_quoted(text);
        EXPECT_EQ(result.status, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
}

TEST(OpenFolderCommand, SettingsAsWrittenAndTheNameQuoted) {
    Settings settings;
    EXPECT_EQ(open_folder_command(settings, "inbox"), "mutt -f $HOME/mail//'inbox'");
    EXPECT_EQ(open_folder_command(settings, "/var/mail/me"), "mutt -f /'/var/mail/me'");

    const std::string home = "/home/me";
    settings.mail_program = "printf '[%s]\\n'";
    EXPECT_EQ(words_of(open_folder_command(settings, "inbox"), home),
              (std::vector<std::string>{"-f", "/home/me/mail//inbox"}));
    EXPECT_EQ(words_of(open_folder_command(settings, "/var/mail/me"), home),
              (std::vector<std::string>{"-f", "//var/mail/me"}));
    EXPECT_EQ(words_of(open_folder_command(settings, "a;b $(c) 'd'"), home),
              (std::vector<std::string>{"-f", "/home/me/mail//a;b $(c) 'd'"}));

    // The settings split into words where the user put blanks, and so does
    // an unquoted "$HOME" that holds one.
    settings.mail_prefix = "-R -f";
    settings.mail_dir = "$HOME/Maildirs";
    EXPECT_EQ(words_of(open_folder_command(settings, "lists.dev"), home),
              (std::vector<std::string>{"-R", "-f", "/home/me/Maildirs/lists.dev"}));
    EXPECT_EQ(words_of(open_folder_command(settings, "lists.dev"), "/home/a b"),
              (std::vector<std::string>{"-R", "-f", "/home/a", "b/Maildirs/lists.dev"}));
}

}  // namespace

// --- The view -------------------------------------------------------------------------

namespace view {

// The rows a view of `page` rows shows of the monitor's list, one text each.
std::vector<std::string> shown(const Monitor& monitor, const MailLogScanner& log) {
    std::vector<std::string> texts;
    for (const Row& row : folder_rows(log, monitor.list_shape(), 80, monitor.top,
                                      static_cast<std::uint64_t>(monitor.page))) {
        texts.push_back(row.spans.front().text);
    }
    return texts;
}

}  // namespace view

TEST_F(Dispatch, PagingShowsEveryMailOfTheExpandedFolderThenMovesTheSelection) {
    monitor.page = 2;
    run(Command::Expand);  // a's five mails under it: ten rows in all
    std::vector<std::string> seen = view::shown(monitor, log);
    for (int page = 0; page < 2; ++page) {
        EXPECT_EQ(run(Command::PageDown).clear, true);
        EXPECT_EQ(monitor.selected, 0u) << "a's mails are still in view";
        const std::vector<std::string> more = view::shown(monitor, log);
        seen.insert(seen.end(), more.begin(), more.end());
    }
    for (int mail = 0; mail < 5; ++mail) {
        const std::string line = "     x@example.org: mail " + std::to_string(mail);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), line), 1) << line;
    }
    // Past a's mails the selection goes to the first folder in view, b,
    // whose row stays where it was while its own mails open under it.
    run(Command::PageDown);
    EXPECT_EQ(monitor.selected, 1u);
    EXPECT_EQ(view::shown(monitor, log).front(), "      4   b");
    run(Command::PageUp);  // b's row still in view: the selection stays
    EXPECT_EQ(monitor.selected, 1u);
    EXPECT_EQ(monitor.top, 0u);
    // Moving the selection scrolls the least needed to keep its row in view.
    run(Command::Expand);
    run(Command::Last);
    EXPECT_EQ(monitor.top, 3u);
    run(Command::Up);
    EXPECT_EQ(monitor.top, 3u);
    run(Command::First);
    EXPECT_EQ(monitor.top, 0u);
}

TEST_F(Dispatch, SearchSelectsTheNextMatchingFolderAndSaysWhenThereIsNone) {
    test::write_file(path,
                     mails_to("lists.dev", 3) + mails_to("work", 2) + mails_to("Lists.users", 1));
    log.update(path);
    monitor.search = "LIST";
    run(Command::SearchNext);
    EXPECT_EQ(monitor.selected_name(), "Lists.users");  // after the selected, wrapping
    run(Command::SearchNext);
    EXPECT_EQ(monitor.selected_name(), "lists.dev");
    run(Command::SearchBack);
    EXPECT_EQ(monitor.selected_name(), "Lists.users");
    monitor.search = "bank";
    run(Command::SearchNext);
    EXPECT_EQ(monitor.message, "Not found");
    EXPECT_EQ(monitor.selected_name(), "Lists.users");
}

TEST_F(Dispatch, TheSelectionStaysOnItsFolderWhenTheListReSorts) {
    run(Command::Last);  // e, one mail
    const std::string was(monitor.selected_name());
    test::append_file(path, mails_to("e", 9));
    log.update(path);
    monitor.after_read(9, was);
    EXPECT_EQ(monitor.selected, 0u);
    EXPECT_EQ(monitor.selected_name(), "e");
}
