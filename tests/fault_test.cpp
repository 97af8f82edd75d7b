// Faults around the monitor while it runs: its log deleted, recreated,
// rotated, truncated, turned into a directory or a FIFO, moved to another
// file system, made unreadable or read-only; its directory read-only when a
// folder is removed; a mail client that is missing or fails; no HOME; a
// terminal type nobody knows. Through all of it lurko must keep running,
// never lose a byte of the log it was not asked to remove, and show the log
// again as soon as it can be read.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "log/mail_log_scanner.hpp"
#include "monitor_support.hpp"

namespace monitor_test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t nobody = 65534;

// The top bar lurko must show for the log as it is now: the totals of its
// own one-shot report.
std::string status_of(const std::string& log) {
    const test::RunResult report = test::run_lurko({"-o", log});
    EXPECT_EQ(report.status, 0) << report.out << report.err;
    std::istringstream lines(report.out);
    std::uint64_t mails = 0;
    std::uint64_t folders = 0;
    for (std::string line; std::getline(lines, line);) {
        mails += std::stoull(line.substr(0, 5));
        ++folders;
    }
    return status_line(mails, folders);
}

// Writes `text` at the start of the file without changing its size or its
// inode, as an edit in place does.
void overwrite_in_place(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

class Faults : public ::testing::Test {
protected:
    std::unique_ptr<Terminal> start(std::vector<std::string> options = {},
                                    test::EnvChanges env = {}) {
        options.push_back(log);
        return start_lurko({options, home.path(), 24, 80, "C", false, env});
    }

    // The list shows what the log holds now.
    ::testing::AssertionResult follows_log(Terminal& term) {
        return shows_status(term, status_of(log));
    }

    // Nothing on the screen changes for a few passes of the loop.
    ::testing::AssertionResult stays(Terminal& term, const std::string& status) {
        term.pump(quiet_time);
        if (!term.running()) {
            return ::testing::AssertionFailure() << "lurko ended: " << term.error_output();
        }
        if (term.row_text(0) != status) {
            return ::testing::AssertionFailure()
                   << "the top bar is not " << status << term.screen();
        }
        return ::testing::AssertionSuccess();
    }

    test::TempDir home;
    std::string log = home / "procmail.log";
    termios before = fresh_modes();
};

// --- The log's file goes away, comes back, changes under the monitor -------------

TEST_F(Faults, DeletedRecreatedRotatedAndTruncated) {
    const std::string first = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "inbox") +
                              log_entry("c@x", "three", "work");
    test::write_file(log, first);
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(3, 2)));

    // Deleted: the list stays as last read.
    fs::remove(log);
    ASSERT_TRUE(stays(*term, status_line(3, 2)));
    // Recreated: the new log is read.
    test::write_file(log, log_entry("d@x", "four", "fresh"));
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    ASSERT_TRUE(shows_row(*term, 1, "->     1 N fresh"));

    // Rotated: the log renamed away and a new one started under its name.
    // What still goes to the old file is no longer shown.
    fs::rename(log, log + ".1");
    test::write_file(log, "");
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    test::append_file(log + ".1", log_entry("late@x", "late", "rotated"));
    ASSERT_TRUE(stays(*term, status_line(0, 0)));
    test::append_file(log, log_entry("e@x", "five", "inbox"));
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    EXPECT_EQ(test::read_file(log + ".1"),
              log_entry("d@x", "four", "fresh") + log_entry("late@x", "late", "rotated"));

    // Rotated by renaming a finished log over it.
    test::write_file(log + ".new", first);
    fs::rename(log + ".new", log);
    ASSERT_TRUE(shows_status(*term, status_line(3, 2)));

    // Truncated to nothing, then written again.
    fs::resize_file(log, 0);
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    test::append_file(log, log_entry("f@x", "six", "work"));
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));

    // Truncated in the middle of an entry, then continued with other bytes:
    // read again from the start, nothing of the old entry counted.
    test::write_file(log, first);
    ASSERT_TRUE(shows_status(*term, status_line(3, 2)));
    const std::size_t cut = first.size() - 20;  // inside the last Folder line
    fs::resize_file(log, cut);
    test::append_file(log, "\n" + log_entry("g@x", "seven", "other"));
    ASSERT_TRUE(follows_log(*term));
    EXPECT_EQ(status_of(log), status_line(3, 2));  // inbox 2, other 1

    // Truncated and written again to a larger size between two looks.
    std::string larger;
    for (int i = 0; i < 5; ++i) {
        larger += log_entry("h@x", "eight", "again" + std::to_string(i));
    }
    test::write_file(log, larger);
    ASSERT_TRUE(shows_status(*term, status_line(5, 5)));

    // Edited in place: other bytes, the same size, the same file.
    std::string edited = larger;
    for (std::size_t at = 0; (at = edited.find("again", at)) != std::string::npos; at += 5) {
        edited.replace(at, 5, "AGAIN");
    }
    overwrite_in_place(log, edited);
    // (The arrow is on whichever row the folders it was on left it.)
    ASSERT_TRUE(term->wait_for_text_at(1, 2, "     1 N AGAIN4")) << term->screen();

    quit_cleanly(*term, before);
    EXPECT_EQ(test::read_file(log), edited);  // the monitor wrote nothing
}

// The same in-process: a log rewritten in place at the same length is read
// whole, while a change of mode alone reads nothing.
TEST(IncrementalRead, SameLengthRewriteIsReadWhole) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "inbox"));
    MailLogScanner scanner;
    scanner.update(log);
    ASSERT_EQ(scanner.folders().size(), 1u);

    ASSERT_EQ(::chmod(log.c_str(), 0600), 0);
    scanner.update(log);
    ASSERT_EQ(scanner.folders().size(), 1u);
    EXPECT_EQ(scanner.folders()[0]->name, "inbox");

    overwrite_in_place(log, log_entry("a@x", "one", "other"));
    // A modification time the coarse clock could not have given already.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, log.c_str(), times, 0), 0);
    scanner.update(log);
    ASSERT_EQ(scanner.folders().size(), 2u);
    EXPECT_EQ(scanner.total(), 2u);
    EXPECT_EQ(scanner.last_folder(), "inbox");
    EXPECT_EQ(scanner.folders()[0]->name, "other");
}

TEST_F(Faults, RedrawReadsAnEditTheAppendedReadingCannotSee) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "bills") +
                             log_entry("c@x", "three", "inbox") + log_entry("d@x", "four", "inbox");
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(4, 2)));
    // One write renames "bills" and appends a delivery: the head of the log
    // and the bytes before the point it was read to stay as they were.
    std::string edited = text + log_entry("e@x", "five", "inbox");
    const std::size_t at = edited.find("bills");
    edited.replace(at, 5, "money");
    const int fd = ::open(log.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, edited.data() + at, edited.size() - at, static_cast<off_t>(at)),
              static_cast<ssize_t>(edited.size() - at));
    ::close(fd);
    ASSERT_TRUE(shows_status(*term, status_line(5, 2)));
    term->type("l");
    ASSERT_TRUE(shows_row(*term, 2, "       1   money"));
    quit_cleanly(*term, before);
}

// Standard input not a terminal: the monitor ends at once, with its message
// and status 1, and writes nothing to the terminal.
TEST_F(Faults, NoTerminalNoMonitor) {
    test::write_file(log, log_entry("a@x", "one", "inbox"));
    Terminal term({"/bin/sh", "-c", "exec \"$0\" \"$1\" < /dev/null", test::lurko_binary(), log});
    ASSERT_TRUE(term.wait_exit());
    EXPECT_EQ(term.exit_status(), 1);
    EXPECT_EQ(term.error_output(),
              "lurko error: The monitor needs a terminal as its standard input "
              "and output (-o and --follow write to a pipe or a file)\n");
    EXPECT_EQ(term.output_size(), 0u);
}

// The log's directory removed or renamed away, and made again with a new log
// in it: the new log shows, and so does every delivery after it.
TEST_F(Faults, DirectoryRemovedOrRenamedAndMadeAgain) {
    const std::string dir = home / "rd";
    fs::create_directory(dir);
    log = dir + "/procmail.log";
    test::write_file(log, log_entry("a@x", "one", "inbox"));
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    for (const bool renamed : {false, true, false}) {
        if (renamed) {
            fs::rename(dir, home / "rd.old");
        } else {
            fs::remove_all(dir);
        }
        fs::create_directory(dir);
        test::write_file(log, log_entry("b@x", "two", "work"));
        ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
        ASSERT_TRUE(shows_row(*term, 1, "->     1 N work"));
        test::append_file(log, log_entry("c@x", "three", "inbox"));
        ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
        fs::remove_all(home / "rd.old");
    }
    quit_cleanly(*term, before);
}

TEST_F(Faults, CommandsOnALogThatIsGone) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work");
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    fs::remove(log);
    // Remove a folder from a log that is not there: the bar says so, the
    // folder stays, nothing is created.
    term->type("d");
    ASSERT_TRUE(shows_row(*term, 22, "Could not remove work: No such file or directory"));
    ASSERT_TRUE(stays(*term, status_line(2, 2)));
    EXPECT_FALSE(fs::exists(log));
    // The log comes back: the list follows it, the removed folder included.
    test::write_file(log, text);
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    // Clear a log that is gone: it is created, empty.
    fs::remove(log);
    term->type("r");
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    EXPECT_EQ(test::read_file(log), "");
    test::append_file(log, text);
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    quit_cleanly(*term, before);
}

// --- The log replaced by what is no log -------------------------------------------

TEST_F(Faults, LogTurnedIntoADirectory) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work");
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));

    fs::rename(log, log + ".saved");
    fs::create_directory(log);
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    // Every command that touches the log, on a directory: nothing happens
    // to it, nothing breaks.
    test::write_file(log + "/inside", "keep");
    term->type("rdm");
    term->press(Key::Enter);
    ASSERT_TRUE(stays(*term, status_line(0, 0)));
    EXPECT_TRUE(fs::is_directory(log));
    EXPECT_EQ(test::read_file(log + "/inside"), "keep");

    fs::remove_all(log);
    fs::rename(log + ".saved", log);
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    quit_cleanly(*term, before);
    EXPECT_EQ(test::read_file(log), text);
}

TEST_F(Faults, LogTurnedIntoAFifo) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work");
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));

    fs::rename(log, log + ".saved");
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    // Nobody writes to it: still the keys work, and the commands that touch
    // the log neither block nor change it.
    term->type("rd");
    ASSERT_TRUE(stays(*term, status_line(0, 0)));
    term->type("b");
    ASSERT_TRUE(shows_status(*term, status_line(0, 0) + " (beep on)"));
    term->type("b");

    // A writer that never stops: the monitor must not get stuck reading;
    // a key still gets its answer.
    {
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            const int fd = ::open(log.c_str(), O_RDWR);  // no wait for a reader
            const std::string entry = log_entry("flood@x", "flood", "flood");
            for (;;) {
                if (::write(fd, entry.data(), entry.size()) < 0) {
                    ::_exit(0);
                }
            }
        }
        term->pump(Milliseconds(1000));
        term->type("b");
        const bool answered = term->wait_until(
            [&] { return term->row_text(0).ends_with(" (beep on)"); }, change_wait);
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        ASSERT_TRUE(answered) << term->screen();
        term->type("b");
    }

    fs::remove(log);
    fs::rename(log + ".saved", log);
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    quit_cleanly(*term, before);
    EXPECT_EQ(test::read_file(log), text);
}

// --- Another file system ----------------------------------------------------------

TEST_F(Faults, LogMovedToAnotherFileSystemAndBack) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work");
    test::write_file(log, text);
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(::stat(home.path().c_str(), &here), 0);
    if (::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no /dev/shm on another file system than " << home.path();
    }
    const std::string shm_dir = "/dev/shm/lurko-fault-" + std::to_string(::getpid());
    fs::create_directories(shm_dir);
    const std::string moved = shm_dir + "/procmail.log";

    std::unique_ptr<Terminal> term = start();
    ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
    // Moved across file systems (copied, then removed), its old path now a
    // link to the new place; deliveries go on through the link.
    fs::copy_file(log, moved);
    fs::remove(log);
    ASSERT_TRUE(stays(*term, status_line(2, 2)));
    fs::create_symlink(moved, log);
    test::append_file(log, log_entry("c@x", "three", "inbox"));
    ASSERT_TRUE(shows_status(*term, status_line(3, 2)));
    test::append_file(log, log_entry("d@x", "four", "tmpfs"));
    ASSERT_TRUE(shows_status(*term, status_line(4, 3)));

    // And back: copied here and renamed over the link.
    fs::copy_file(moved, log + ".back");
    fs::rename(log + ".back", log);
    test::append_file(log, log_entry("e@x", "five", "home"));
    ASSERT_TRUE(shows_status(*term, status_line(5, 4)));
    EXPECT_EQ(status_of(log), status_line(5, 4));
    quit_cleanly(*term, before);
    fs::remove_all(shm_dir);
}

// --- Permissions, seen by a user who is not root -----------------------------------

// lurko run as the user "nobody", for what permissions deny only to users
// other than root.
class FaultsAsNobody : public Faults {
protected:
    test::TempDir state;  // where nobody keeps its journals
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to run lurko as another user";
        }
        // The build must be reachable for another user: not so when a
        // directory above it is closed (a checkout in /root, say).
        const test::RunResult version = test::run(
            {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody),
             "--regid=" + std::to_string(nobody), "--clear-groups", test::lurko_binary(), "-v"});
        if (version.status != 0) {
            GTEST_SKIP() << "lurko cannot run as nobody from " << test::lurko_binary() << ": "
                         << version.err;
        }
        // The home directory belongs to root and is not writable for
        // nobody; the log belongs to nobody.
        ASSERT_EQ(::chmod(home.path().c_str(), 0755), 0);
        ASSERT_EQ(::chown(state.path().c_str(), nobody, nobody), 0);
    }

    std::unique_ptr<Terminal> start_as_nobody() {
        std::vector<std::string> argv{"/usr/bin/setpriv",
                                      "--reuid=" + std::to_string(nobody),
                                      "--regid=" + std::to_string(nobody),
                                      "--clear-groups",
                                      test::lurko_binary(),
                                      log};
        test::TerminalOptions options;
        options.env = {{"LC_ALL", "C"}, {"HOME", home.path()}, {"XDG_STATE_HOME", state.path()}};
        options.cwd = home.path();
        return std::make_unique<Terminal>(argv, options);
    }

    void write_log(const std::string& text, mode_t mode) {
        test::write_file(log, text);
        ASSERT_EQ(::chown(log.c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chmod(log.c_str(), mode), 0);
    }
};

TEST_F(FaultsAsNobody, RemoveFolderInAReadOnlyDirectory) {
    const std::string inbox = log_entry("a@x", "one", "inbox");
    const std::string work = log_entry("b@x", "two", "work");
    write_log(inbox + work + inbox + "procmail: some error\n" + work + inbox, 0644);
    std::unique_ptr<Terminal> term = start_as_nobody();
    ASSERT_TRUE(shows_status(*term, status_line(5, 2)));
    // The directory takes no new file, but the log is the user's: the
    // folder's entries leave the log in place.
    term->type("d");
    ASSERT_TRUE(shows_status(*term, status_line(2, 1)));
    ASSERT_TRUE(stays(*term, status_line(2, 1)));
    EXPECT_EQ(test::read_file(log), work + "procmail: some error\n" + work);
    // No file left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);
    struct stat status {};
    ASSERT_EQ(::stat(log.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, nobody);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    quit_cleanly(*term, before);
}

// A directory it may enter but not read cannot be watched for the log's
// changes, here once it is made again: it looks at the log on a timer
// instead, and misses nothing.
TEST_F(FaultsAsNobody, LogInADirectoryThatCannotBeWatched) {
    const std::string dir = home / "rd";
    fs::create_directory(dir);
    log = dir + "/procmail.log";
    write_log(log_entry("a@x", "one", "inbox"), 0644);
    std::unique_ptr<Terminal> term = start_as_nobody();
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    fs::remove_all(dir);
    fs::create_directory(dir);
    ASSERT_EQ(::chmod(dir.c_str(), 0711), 0);
    write_log(log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "inbox"), 0644);
    ASSERT_TRUE(shows_status(*term, status_line(2, 1)));
    fs::rename(log, log + ".old");  // rotated: the new log shows too
    write_log(log_entry("c@x", "three", "work"), 0644);
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    test::append_file(log, log_entry("d@x", "four", "work"));
    ASSERT_TRUE(shows_status(*term, status_line(2, 1)));
    quit_cleanly(*term, before);
}

// A report of a log that cannot be read says why, with status 1: a script
// must not take it for no new mail.
TEST_F(FaultsAsNobody, ReportOfALogThatCannotBeRead) {
    write_log(log_entry("a@x", "one", "inbox"), 0);
    const std::string as_nobody = "--reuid=" + std::to_string(nobody);
    const test::RunResult report =
        test::run({"/usr/bin/setpriv", as_nobody, "--regid=" + std::to_string(nobody),
                   "--clear-groups", test::lurko_binary(), "-o", log});
    EXPECT_EQ(report.status, 1);
    EXPECT_EQ(report.err,
              "lurko error: Could not read Procmail logfile '" + log + "': Permission denied\n");
    EXPECT_EQ(
        test::run_lurko({"-o", home.path()}).err,
        "lurko error: Could not read Procmail logfile '" + home.path() + "': Is a directory\n");
    // Nor emptied: said, with status 1, the log as it was.
    write_log(log_entry("a@x", "one", "inbox"), 0444);
    const test::RunResult clear =
        test::run({"/usr/bin/setpriv", as_nobody, "--regid=" + std::to_string(nobody),
                   "--clear-groups", test::lurko_binary(), "-c", log},
                  {{"XDG_STATE_HOME", state.path()}});
    EXPECT_EQ(clear.status, 1);
    EXPECT_EQ(clear.err,
              "lurko error: Could not clear Procmail logfile '" + log + "': Permission denied\n");
    EXPECT_EQ(test::read_file(log), log_entry("a@x", "one", "inbox"));
}

TEST_F(FaultsAsNobody, ReadOnlyAndUnreadableLog) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work") +
                             log_entry("c@x", "three", "inbox");
    write_log(text, 0444);
    std::unique_ptr<Terminal> term = start_as_nobody();
    ASSERT_TRUE(shows_status(*term, status_line(3, 2)));

    // Neither removing a folder nor clearing can write the log: the log
    // stays whole, the list too, and the bar says why.
    term->type("d");
    ASSERT_TRUE(shows_row(*term, 22, "Could not remove inbox: Permission denied"));
    term->type("r");
    ASSERT_TRUE(shows_row(*term, 22, "Could not empty the log: Permission denied"));
    ASSERT_TRUE(stays(*term, status_line(3, 2)));
    EXPECT_EQ(test::read_file(log), text);
    test::append_file(log, log_entry("d@x", "four", "work"));
    ASSERT_TRUE(shows_status(*term, status_line(4, 2)));

    // Unreadable: an empty list, and the log back once it can be read.
    ASSERT_EQ(::chmod(log.c_str(), 0), 0);
    ASSERT_TRUE(shows_status(*term, status_line(0, 0)));
    ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
    ASSERT_TRUE(shows_status(*term, status_line(4, 2)));

    // The directory closed to it: the log cannot even be looked at, and
    // the list stays as last read until it can.
    ASSERT_EQ(::chmod(home.path().c_str(), 0700), 0);
    test::append_file(log, log_entry("e@x", "five", "work"));
    ASSERT_TRUE(stays(*term, status_line(4, 2)));
    ASSERT_EQ(::chmod(home.path().c_str(), 0755), 0);
    ASSERT_TRUE(shows_status(*term, status_line(5, 2)));
    quit_cleanly(*term, before);
}

// --- The mail client ---------------------------------------------------------------

TEST_F(Faults, MailClientMissingOrFailing) {
    const std::string text = log_entry("a@x", "one", "inbox") + log_entry("b@x", "two", "work");
    test::write_file(log, text);
    // A client that leaves the terminal in a mess: other modes, and ending
    // by a signal.
    const std::string messy = home / "messy-client";
    test::write_file(messy, "#!/bin/sh\nstty -echo -icanon min 0 -opost\nkill -SEGV $$\n");
    ASSERT_EQ(::chmod(messy.c_str(), 0755), 0);

    for (const std::string& client : {home / "no-such-client", std::string("/bin/false"), messy}) {
        SCOPED_TRACE(client);
        std::unique_ptr<Terminal> term = start({"-m", client});
        ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
        ASSERT_TRUE(term->settle());
        const std::string top_row = term->row_text(1);
        for (const char* key : {"g", "o", "c"}) {
            term->type(key);
            // Each failure is told until a key, which is no command (j would
            // move the selection); then the screen comes back whole.
            ASSERT_TRUE(term->wait_for_text("lurko: \"" + client)) << term->screen();
            term->type("j");
            ASSERT_TRUE(shows_row(*term, 1, top_row));
            ASSERT_TRUE(shows_status(*term, status_line(2, 2)));
        }
        term->type("j");
        ASSERT_TRUE(shows_row(*term, 2, "->     1   inbox"));
        // Standard error holds what the shell said about the client, and
        // nothing from lurko.
        quit_cleanly(*term, before, test::default_wait, true);
        EXPECT_EQ(term->error_output().find("Caught signal"), std::string::npos);
        EXPECT_EQ(term->error_output().find("lurko error"), std::string::npos);
    }
    EXPECT_EQ(test::read_file(log), text);
}

TEST_F(Faults, NoHome) {
    const std::string text = log_entry("a@x", "one", "inbox");
    test::write_file(log, text);
    const std::string record = home / "calls";
    const std::string client = home / "client";
    test::write_file(client,
                     "#!/bin/sh\nprintf '%s|' \"$@\" >> " + record + "\necho >> " + record + "\n");
    ASSERT_EQ(::chmod(client.c_str(), 0755), 0);
    std::unique_ptr<Terminal> term = start({"-m", client}, {{"HOME", std::nullopt}});
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    term->type("g");
    // "$HOME/mail/" with no HOME: the shell makes it "/mail/".
    ASSERT_TRUE(term->wait_until([&] { return fs::exists(record); }, change_wait));
    ASSERT_TRUE(shows_status(*term, status_line(1, 1)));
    EXPECT_EQ(test::read_file(record), "-f|/mail//inbox|\n");
    quit_cleanly(*term, before);
}

// --- The terminal ------------------------------------------------------------------

TEST_F(Faults, UnknownOrUnusableTerminalType) {
    test::write_file(log, log_entry("a@x", "one", "inbox"));
    for (const char* type : {"no-such-terminal-type", "dumb", ""}) {
        SCOPED_TRACE(type);
        std::unique_ptr<Terminal> term =
            start_lurko({{log}, home.path(), 24, 80, "C", false, {}, type});
        ASSERT_TRUE(term->wait_exit()) << term->screen();
        EXPECT_EQ(term->exit_status(), 1);
        EXPECT_TRUE(term->contains("lurko error: Could not start up curses")) << term->screen();
        EXPECT_TRUE(handed_back(*term, before));
    }
    // TERM not set at all.
    std::unique_ptr<Terminal> term =
        start_lurko({{log}, home.path(), 24, 80, "C", false, {{"TERM", std::nullopt}}});
    ASSERT_TRUE(term->wait_exit()) << term->screen();
    EXPECT_EQ(term->exit_status(), 1);
    EXPECT_TRUE(handed_back(*term, before));
    EXPECT_EQ(test::read_file(log), log_entry("a@x", "one", "inbox"));
}

}  // namespace
}  // namespace monitor_test
