// The monitor hands the terminal to other programs: the mail client, run by
// the shell on the selected folder (Enter, g), alone (o) or to write a mail
// (c), and its own help screen (?). A recording script stands in for the
// client where the arguments matter; one test runs real mutt on a folder
// that real Procmail delivered into.

#include "monitor_support.hpp"
#include "procmail_support.hpp"

#include <sys/stat.h>
#include <termios.h>

#include <filesystem>
#include <sstream>

namespace monitor_test {
namespace {

namespace fs = std::filesystem;

using Call = std::vector<std::string>;  // the arguments of one run of the client

// A mail client that writes how it was called to a file, in one piece, and
// returns at once or, when `waits`, writes "client running" to the terminal
// and waits for a line from it.
class RecordingClient {
public:
    RecordingClient(const test::TempDir& dir, bool waits)
        : script_(dir / (waits ? "waiting-client" : "client")),
          record_(dir / (waits ? "waiting-calls" : "calls")) {
        std::string text =
            "#!/bin/sh\n"
            "record=call\n"
            "for arg in \"$@\"; do record=\"$record\n$arg\"; done\n"
            "printf '%s\\nend\\n' \"$record\" >> '" +
            record_ + "'\n";
        if (waits) {
            text += "echo client running\nread line\n";
        }
        test::write_file(script_, text);
        fs::permissions(script_, fs::perms::owner_all);
    }

    const std::string& script() const { return script_; }

    // Every run so far: the arguments between a "call" and an "end" line.
    std::vector<Call> calls() const {
        std::vector<Call> calls;
        if (!fs::exists(record_)) {
            return calls;
        }
        std::istringstream lines(test::read_file(record_));
        Call call;
        for (std::string line; std::getline(lines, line);) {
            if (line == "call") {
                call.clear();
            } else if (line == "end") {
                calls.push_back(call);
            } else {
                call.push_back(line);
            }
        }
        return calls;
    }

    // Waits until the client has run `count` times, reading the terminal
    // meanwhile.
    bool wait_for_calls(Terminal& term, std::size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + change_wait;
        while (calls().size() < count) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            term.pump(Milliseconds(50));
        }
        return true;
    }

private:
    std::string script_;
    std::string record_;
};

// Selects the folder row that shows `name`, moving down from the first row.
::testing::AssertionResult select_folder(Terminal& term, const std::string& name) {
    int row = 1;
    while (row < term.rows() - 2 && term.row_text(row).substr(std::min<std::size_t>(
                                        11, term.row_text(row).size())) != name) {
        ++row;
    }
    if (row == term.rows() - 2) {
        return ::testing::AssertionFailure() << "no row shows " << name << term.screen();
    }
    term.press(Key::Home);
    for (int i = 1; i < row; ++i) {
        term.type("j");
    }
    return marker_at(term, row);
}

// --- The mail client --------------------------------------------------------------

TEST_F(MonitorTest, ClientCommandsGetTheirArguments) {
    use_sample_log();
    const RecordingClient client(home, false);
    std::unique_ptr<Terminal> term = start_drawn({"-m", client.script()});
    ASSERT_TRUE(shows_row(*term, 1, "->    15 N friends"));
    const std::vector<std::string> screen = all_rows(*term);

    // The defaults: -f and "$HOME/mail/", expanded by the shell; the "/"
    // between directory and folder is always there. After each run the
    // screen comes back as it was.
    term->press(Key::Enter);
    ASSERT_TRUE(client.wait_for_calls(*term, 1));
    ASSERT_TRUE(shows_rows(*term, screen));
    EXPECT_EQ(client.calls()[0], (Call{"-f", home.path() + "/mail//friends"}));

    // A folder named by its absolute path goes without the directory.
    term->type("j");
    ASSERT_TRUE(marker_at(*term, 2));
    const std::vector<std::string> second_row = all_rows(*term);
    term->type("g");
    ASSERT_TRUE(client.wait_for_calls(*term, 2));
    ASSERT_TRUE(shows_rows(*term, second_row));
    EXPECT_EQ(client.calls()[1], (Call{"-f", "//home/user/Mail/inbox"}));

    term->type("o");
    ASSERT_TRUE(client.wait_for_calls(*term, 3));
    ASSERT_TRUE(shows_rows(*term, second_row));
    term->type("c");
    ASSERT_TRUE(client.wait_for_calls(*term, 4));
    ASSERT_TRUE(shows_rows(*term, second_row));
    EXPECT_EQ(client.calls()[2], Call{});
    EXPECT_EQ(client.calls()[3], (Call{"-e", "unset autoedit", "-s", ""}));
    quit(*term);
    EXPECT_EQ(client.calls().size(), 4u);
}

TEST_F(MonitorTest, ClientSettingsFromTheCommandLine) {
    test::write_file(log, log_entry("a@x", "one", "inbox"));
    test::write_file(home / ".procmailrc", "MAILDIR=$HOME\n");  // -M wins over it
    const RecordingClient client(home, false);
    // The settings reach the shell as written: words split at blanks, "$HOME"
    // expanded; compose works without a folder.
    std::unique_ptr<Terminal> term =
        start_drawn({"-m", client.script() + " --config \"$HOME/rc\"", "-p", "-R -f", "-M",
                     "$HOME/Maildirs", "-C", "-s 'two words'"});
    ASSERT_TRUE(shows_row(*term, 1, "->     1 N inbox"));
    term->type("g");
    ASSERT_TRUE(client.wait_for_calls(*term, 1));
    ASSERT_TRUE(shows_row(*term, 1, "->     1 N inbox"));
    term->type("m");
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders"));
    term->type("g");  // nothing to open
    term->type("c");
    ASSERT_TRUE(client.wait_for_calls(*term, 2));
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 0 in 0 folders"));
    ASSERT_TRUE(term->settle());
    EXPECT_EQ(client.calls(), (std::vector<Call>{
                                  {"--config", home / "rc", "-R", "-f", home / "Maildirs/inbox"},
                                  {"--config", home / "rc", "-s", "two words"},
                              }));
    quit(*term);
}

TEST_F(MonitorTest, FoldersOpenInTheRcsMaildir) {
    test::write_file(log, log_entry("a@x", "one", "lists") + log_entry("b@x", "two", "/var/me"));
    // The rc's value is a path, not shell text: its quote and blank stay.
    fs::create_directory(home / "my 'Mail'");
    test::write_file(home / ".procmailrc", "MAILDIR=\"$HOME/my 'Mail'\"\nMAILDIR=missing\n");
    const RecordingClient client(home, false);
    std::unique_ptr<Terminal> term = start_drawn({"-m", client.script()});
    for (const std::string name : {"lists", "/var/me"}) {
        ASSERT_TRUE(select_folder(*term, name));
        term->press(Key::Enter);
        ASSERT_TRUE(client.wait_for_calls(*term, name == "lists" ? 1 : 2));
    }
    EXPECT_EQ(client.calls(),
              (std::vector<Call>{{"-f", home / "my 'Mail'/lists"}, {"-f", "//var/me"}}));
    quit(*term);
}

TEST_F(MonitorTest, FailingClientStaysReadableUntilAKey) {
    use_sample_log();
    const std::string client = home / "client";
    test::write_file(client, "#!/bin/sh\necho \"cannot open $2\"\nexit 3\n");
    fs::permissions(client, fs::perms::owner_all);
    std::unique_ptr<Terminal> term = start_drawn({"-m", client}, 24, 160);
    ASSERT_TRUE(shows_row(*term, 1, "->    15 N friends"));
    const std::vector<std::string> screen = all_rows(*term);

    term->press(Key::Enter);
    const std::string said =
        "lurko: \"" + client +
        " -f $HOME/mail//'friends'\" exited with status 3 -- press a key to return";
    ASSERT_TRUE(term->wait_for_text(said)) << term->screen();
    term->pump(quiet_time);
    EXPECT_TRUE(term->contains("cannot open " + home.path() + "/mail//friends")) << term->screen();
    EXPECT_TRUE(term->contains(said));
    // The key is the wait's alone: as a command, d would remove the folder.
    term->type("d");
    ASSERT_TRUE(shows_rows(*term, screen));
    quit(*term);
    EXPECT_EQ(test::read_file(log), test::read_file(sample_path()));
}

TEST_F(MonitorTest, FolderNamesFromTheLogReachTheClientAsOneWord) {
    // Folder names can come from mail headers through the user's rules.
    const std::vector<std::string> names = {
        "a;touch${IFS}pwned",
        "it's$(touch${IFS}pwned)",
        "`touch${IFS}pwned`|touch${IFS}pwned&&\"$HOME\"",
        "/x'\\'';touch${IFS}pwned;'",
    };
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t mail = 0; mail <= i; ++mail) {
            text += log_entry("evil@example.org", "hi", names[i]);
        }
    }
    test::write_file(log, text);
    const RecordingClient client(home, false);
    std::unique_ptr<Terminal> term = start_drawn({"-m", client.script()});
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 10 in 4 folders"));

    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(select_folder(*term, names[i])) << names[i];
        term->type("g");
        ASSERT_TRUE(client.wait_for_calls(*term, i + 1)) << names[i];
        ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 10 in 4 folders"));
        const std::string path =
            names[i][0] == '/' ? "/" + names[i] : home.path() + "/mail//" + names[i];
        EXPECT_EQ(client.calls()[i], (Call{"-f", path}));
    }
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 10 in 4 folders"));
    quit(*term);
    EXPECT_EQ(client.calls().size(), names.size());
    for (const fs::directory_entry& entry : fs::directory_iterator(home.path())) {
        EXPECT_EQ(entry.path().filename().string().find("pwned"), std::string::npos)
            << entry.path();
    }
}

TEST_F(MonitorTest, ScreenComesBackWholeAfterTheClient) {
    use_sample_log();
    const RecordingClient client(home, true);
    for (const char* terminal_type : {"xterm-256color", "vt100"}) {
        std::unique_ptr<Terminal> term = start({"-m", client.script()}, 24, 80, terminal_type);
        ASSERT_TRUE(term->wait_for_text_at(23, 0, version)) << terminal_type << term->screen();
        term->type("j");
        ASSERT_TRUE(marker_at(*term, 2)) << terminal_type;
        ASSERT_TRUE(term->settle());
        const std::vector<std::string> screen = all_rows(*term);
        const bool alternate = term->alternate_screen();

        term->press(Key::Enter);
        ASSERT_TRUE(term->wait_for_text("client running")) << terminal_type << term->screen();
        // The client has the terminal as the shell left it.
        EXPECT_EQ(term->modes().c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO))
            << terminal_type;
        EXPECT_FALSE(term->alternate_screen()) << terminal_type;
        // A delivery meanwhile is caught up with after the client returns.
        test::append_file(log, log_entry("new@example.org", "meanwhile", "lists.dev"));

        term->type("\r");
        ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 43 in 15 folders")) << terminal_type;
        std::vector<std::string> expected = screen;
        expected[0] = "Lurko -- New mail: 43 in 15 folders";
        expected[3] = "       5 N lists.dev";
        expected[1] = "      15   friends";
        ASSERT_TRUE(shows_rows(*term, expected)) << terminal_type;
        EXPECT_FALSE(term->contains("client running")) << terminal_type;
        EXPECT_EQ(term->alternate_screen(), alternate) << terminal_type;
        EXPECT_EQ(term->modes().c_lflag & (ICANON | ECHO), 0u) << terminal_type;
        EXPECT_EQ(term->cursor(), (test::Position{2, 79})) << terminal_type;
        quit(*term);
        test::write_file(log, test::read_file(sample_path()));
    }
}

// --- The help screen --------------------------------------------------------------

TEST_F(MonitorTest, HelpScreenSuspendsTheMonitor) {
    use_sample_log();
    std::unique_ptr<Terminal> term = start_drawn({"-b"});
    term->type("j");
    ASSERT_TRUE(marker_at(*term, 2));
    const std::vector<std::string> screen = all_rows(*term);

    term->type("?");
    ASSERT_TRUE(term->wait_for_text_at(0, 0, "Help for index"));
    ASSERT_TRUE(shows_row(*term, 4, "     q     Quit Lurko"));
    // While the help is up the log is not looked at and keys other than q
    // stay with the help screen.
    test::append_file(log, log_entry("new@example.org", "while reading help", "lists.dev"));
    term->type("jdr");
    term->press(Key::F1);
    ASSERT_TRUE(term->settle(quiet_time));
    EXPECT_TRUE(term->row_text(0).starts_with("Help for index"));
    EXPECT_FALSE(term->contains("New mail"));
    EXPECT_EQ(term->bells(), 0);

    // Back in the monitor, the next pass catches up with the log: one
    // reload, one bell; the selection is where it was.
    term->type("q");
    std::vector<std::string> expected = screen;
    expected[0] = "Lurko -- New mail: 43 in 15 folders (beep on)";
    expected[1] = "      15   friends";
    expected[3] = "       5 N lists.dev";
    ASSERT_TRUE(shows_rows(*term, expected));
    EXPECT_EQ(term->bells(), 1);
    EXPECT_EQ(test::read_file(log).size(),
              test::read_file(sample_path()).size() +
                  log_entry("new@example.org", "while reading help", "lists.dev").size());

    term->press(Key::F1);
    ASSERT_TRUE(term->wait_for_text_at(0, 0, "Help for index"));
    term->type("q");
    ASSERT_TRUE(shows_rows(*term, expected));
    quit(*term);
}

// --- Real mutt on a folder Procmail delivered into ------------------------------------

TEST_F(MonitorTest, RealMuttOpensTheSelectedFolder) {
    ASSERT_TRUE(fs::exists(procmail::binary)) << "the set-up script installs procmail";
    ASSERT_TRUE(fs::exists("/usr/bin/mutt")) << "the set-up script installs mutt";
    test::write_file(home / ".procmailrc", procmail::rc_text);
    fs::create_directory(home / "Mail");
    const char* subjects[] = {"Lunch on Friday?", "Lunch moved to noon", "Your statement"};
    for (const char* subject : subjects) {
        const std::string message = home / "message";
        const std::string lunch(std::string_view(subject).starts_with("Lunch") ? "friends"
                                                                               : "none");
        test::write_file(message,
                         "From alice@example.org  Mon Dec  8 07:19:03 2025\n"
                         "From: Alice <alice@example.org>\nTo: user@example.org\n"
                         "Subject: " +
                             std::string(subject) + "\nX-Route: " + lunch +
                             "\nDate: Mon, 8 Dec 2025 07:19:03 +0000\n\nHello.\n");
        const test::RunResult delivered =
            test::run({"/bin/sh", "-c", procmail::deliver_command, "sh", home.path(), message},
                      {{"HOME", home.path()}});
        ASSERT_EQ(delivered.status, 0) << delivered.err;
    }
    ASSERT_TRUE(fs::is_regular_file(home / "Mail/friends"));

    // The folders are where the rc's MAILDIR says.
    std::unique_ptr<Terminal> term = start_drawn({"-m", "mutt -n -F /dev/null"});
    ASSERT_TRUE(shows_status(*term, "Lurko -- New mail: 3 in 2 folders"));
    ASSERT_TRUE(shows_row(*term, 1, "->     2   friends"));
    const std::vector<std::string> screen = all_rows(*term);

    term->press(Key::Enter);
    // mutt's index of the folder: both mails of friends, not the third.
    ASSERT_TRUE(term->wait_for_text("Lunch moved to noon")) << term->screen();
    ASSERT_TRUE(term->wait_for_text("Lunch on Friday?")) << term->screen();
    ASSERT_TRUE(term->wait_for_text("Msgs:2")) << term->screen();
    EXPECT_TRUE(term->contains("---Mutt: ")) << term->screen();
    EXPECT_FALSE(term->contains("Your statement"));
    EXPECT_FALSE(term->contains("New mail:"));

    term->type("q");
    // Depending on its defaults mutt may ask before it goes: it is told to
    // quit without moving anything.
    for (int prompt = 0; prompt < 3; ++prompt) {
        const bool asked = term->wait_until(
            [&] {
                return term->row_text(0) == screen[0] || term->contains("Quit Mutt?") ||
                       term->contains("Move read messages");
            },
            change_wait);
        ASSERT_TRUE(asked) << term->screen();
        if (term->contains("Quit Mutt?")) {
            term->type("y");
        } else if (term->contains("Move read messages")) {
            term->type("n");
        } else {
            break;
        }
        term->settle();
    }
    ASSERT_TRUE(shows_rows(*term, screen));
    EXPECT_TRUE(term->alternate_screen());
    quit(*term);
}

}  // namespace
}  // namespace monitor_test
