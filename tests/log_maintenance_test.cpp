#include "log/log_maintenance.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "log/journal.hpp"
#include "log/mail_log_scanner.hpp"
#include "log/unique_fd.hpp"
#include "test_support.hpp"

namespace {

using namespace std::string_literals;

// The folder list of the log at `path` read whole, with every mail.
std::vector<std::string> listed(const std::string& path) {
    MailLogScanner log;
    log.reload(path);
    return test::folder_list(log, true);
}

struct stat status_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status;
}

// Dates after the sender, size columns, noise lines between entries, maildir
// deliveries and the bit bucket, as Procmail logs them.
const std::string procmail_log = test::read_file(test::data_file("noisy.log"));

TEST(FilterLog, DropsWholeEntriesAndKeepsEveryOtherByte) {
    EXPECT_EQ(filter_log(procmail_log, "lists.dev"),
              "From alice@example.org  Mon Dec  8 07:19:03 2025\n"
              " Subject: Lunch on Friday?\n"
              "  Folder: friends\t\t\t\t\t\t\t    273\n"
              // The noise line went with the entry it leads into.
              "spam dropped\n"
              "From spammer@spam.example  Mon Dec  8 09:34:13 2025\n"
              " Subject: You have WON\n"
              "  Folder: /dev/null\t\t\t\t\t\t\t    306\n"
              "From bob@example.org  Mon Dec  8 14:30:57 2025\n"
              "  Folder: friends\t\t\t\t\t\t\t    248\n");
    EXPECT_EQ(filter_log(procmail_log, "/dev/null"),
              "From alice@example.org  Mon Dec  8 07:19:03 2025\n"
              " Subject: Lunch on Friday?\n"
              "  Folder: friends\t\t\t\t\t\t\t    273\n"
              "procmail: Lock failure on \"nosuchdir/box.lock\"\n"
              "From dev-bounces@lists.example.org  Mon Dec  8 08:31:42 2025\n"
              " Subject: [dev] Patch\n"
              "  Folder: lists.dev/new/1796763858.23576_1.mailhost\t\t\t    298\n"
              "From dev-bounces@lists.example.org  Mon Dec  8 08:44:21 2025\n"
              " Subject: Re: [dev] Patch\n"
              "  Folder: lists.dev/new/1796763858.23578_1.mailhost\t\t\t    298\n"
              "From bob@example.org  Mon Dec  8 14:30:57 2025\n"
              "  Folder: friends\t\t\t\t\t\t\t    248\n");
    EXPECT_EQ(filter_log(procmail_log, "friends"),
              "procmail: Lock failure on \"nosuchdir/box.lock\"\n"
              "From dev-bounces@lists.example.org  Mon Dec  8 08:31:42 2025\n"
              " Subject: [dev] Patch\n"
              "  Folder: lists.dev/new/1796763858.23576_1.mailhost\t\t\t    298\n"
              "spam dropped\n"
              "From spammer@spam.example  Mon Dec  8 09:34:13 2025\n"
              " Subject: You have WON\n"
              "  Folder: /dev/null\t\t\t\t\t\t\t    306\n"
              "From dev-bounces@lists.example.org  Mon Dec  8 08:44:21 2025\n"
              " Subject: Re: [dev] Patch\n"
              "  Folder: lists.dev/new/1796763858.23578_1.mailhost\t\t\t    298\n");
    // Deliveries that ended at the same moment interleave their lines: which
    // From or Subject line is whose cannot be told, so they all stay.
    EXPECT_EQ(filter_log("From a\nFrom b\n Subject: b\nnoise\n  Folder: drop\n Subject: a\n"
                         "  Folder: keep\n",
                         "drop"),
              "From a\nFrom b\n Subject: b\n Subject: a\n  Folder: keep\n");
    // Only whole names count, as the scanner cuts them.
    for (const char* other : {"friend", "lists.dev/new", "lists", "", "Friends"}) {
        EXPECT_EQ(filter_log(procmail_log, other), procmail_log) << other;
    }
}

TEST(FilterLog, KeepsAnEntryStillBeingWritten) {
    const std::string done = "From a\n  Folder: work\n  Folder: home\n";
    // No Folder line yet, or one whose newline has not arrived: the folder is
    // not known, so the bytes stay.
    EXPECT_EQ(filter_log(done + "From b  Mon Dec  8\n Subject: half\n", "work"),
              "  Folder: home\nFrom b  Mon Dec  8\n Subject: half\n");
    EXPECT_EQ(filter_log(done + "From b\n  Folder: work", "work"),
              "  Folder: home\nFrom b\n  Folder: work");
    EXPECT_EQ(filter_log(done + "From b\n  Folder: wo", "wo"), done + "From b\n  Folder: wo");
    EXPECT_EQ(filter_log("", "work"), "");
}

TEST(FilterLog, ReadsLinesAsTheScannerDoes) {
    // A carriage return is part of the line: cut off at a blank or tab, kept
    // in a bare name.
    const std::string crlf =
        "From a  Mon Dec  8\r\n Subject: one\r\n  Folder: work\t\t    273\r\n"
        "From b  Mon Dec  8\r\n Subject: two\r\n  Folder: work\r\n";
    EXPECT_EQ(filter_log(crlf, "work"),
              "From b  Mon Dec  8\r\n Subject: two\r\n  Folder: work\r\n");
    EXPECT_EQ(filter_log(crlf, "work\r"),
              "From a  Mon Dec  8\r\n Subject: one\r\n  Folder: work\t\t    273\r\n");
    // A NUL ends the line; an overlong line counts with its first bytes.
    const std::string nul = "From a\n  Folder: box\0junk\n  Folder: keep\n"s;
    EXPECT_EQ(filter_log(nul, "box"), "  Folder: keep\n");
    const std::string overlong = "  Folder: box" + std::string(LineScanner::line_limit, 'x') +
                                 "\n  Folder: keep\n  Folder: box\n";
    EXPECT_EQ(filter_log(overlong, "box"), overlong.substr(0, overlong.size() - 14));
    EXPECT_EQ(filter_log(overlong, "keep"),
              overlong.substr(0, overlong.size() - 29) + "  Folder: box\n");
    EXPECT_EQ(filter_log(overlong, "box" + std::string(LineScanner::line_limit - 13, 'x')),
              "  Folder: keep\n  Folder: box\n");
}

class RewriteLogTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir / "procmail.log";
};

TEST_F(RewriteLogTest, TruncateLogEmptiesOrCreatesTheLog) {
    test::write_file(path, procmail_log);
    const ino_t inode = status_of(path).st_ino;
    truncate_log(path);
    EXPECT_EQ(test::read_file(path), "");
    EXPECT_EQ(status_of(path).st_ino, inode);

    const std::string missing = dir / "new.log";
    truncate_log(missing);
    EXPECT_EQ(test::read_file(missing), "");

    const std::string unreachable = dir / "no-such-dir/procmail.log";
    truncate_log(unreachable);  // silently nothing
    EXPECT_FALSE(std::filesystem::exists(unreachable));
}

TEST_F(RewriteLogTest, FiltersInPlaceKeepingInodeOwnerModeAndLinks) {
    test::write_file(path, procmail_log);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
    }
    const std::string link = dir / "link.log";
    ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
    const struct stat before = status_of(path);

    EXPECT_EQ(rewrite_log(path, "lists.dev").outcome, RewriteOutcome::Rewritten);

    EXPECT_EQ(test::read_file(path), filter_log(procmail_log, "lists.dev"));
    EXPECT_EQ(test::read_file(link), test::read_file(path));
    const struct stat after = status_of(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_dev, before.st_dev);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(RewriteLogTest, ReadsAndWritesLargeLogsWhole) {
    std::string large;
    while (large.size() < (std::size_t{3} << 20)) {  // several blocks of the rewrite
        large += procmail_log;
    }
    test::write_file(path, large);
    EXPECT_EQ(rewrite_log(path, "/dev/null").outcome, RewriteOutcome::Rewritten);
    const std::string expected = filter_log(large, "/dev/null");
    EXPECT_LT(expected.size(), large.size());
    EXPECT_EQ(test::read_file(path), expected);
}

TEST_F(RewriteLogTest, NamesInNoEntryLeaveTheLogUnwritten) {
    test::write_file(path, procmail_log);
    // An old modification time, which any write would move to now.
    const timespec old_times[2] = {{978307200, 0}, {978307200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
    const struct stat before = status_of(path);

    EXPECT_EQ(rewrite_log(path, "friend").outcome, RewriteOutcome::Unchanged);

    EXPECT_EQ(test::read_file(path), procmail_log);
    const struct stat after = status_of(path);
    EXPECT_EQ(after.st_mtim.tv_sec, 978307200);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);

    test::write_file(path, "");
    EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Unchanged);
    EXPECT_EQ(test::read_file(path), "");
}

TEST_F(RewriteLogTest, LogsThatCannotBeReadAreLeftAlone) {
    // Each of these fails for root too.
    EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(path));  // not created

    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Failed);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    ASSERT_EQ(::rmdir(path.c_str()), 0);

    // Not a regular file: neither read (which could block) nor written.
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Failed);
    EXPECT_TRUE(std::filesystem::is_fifo(path));
}

TEST_F(RewriteLogTest, LogsWithoutPermissionAreLeftAlone) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads and writes files without permission bits; "
                        "the unreadable cases that hold for root are covered by "
                        "LogsThatCannotBeReadAreLeftAlone";
    }
    test::write_file(path, procmail_log);
    for (const mode_t mode : {0000, 0444, 0200}) {
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Failed) << std::oct << mode;
        ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
        EXPECT_EQ(test::read_file(path), procmail_log) << std::oct << mode;
    }
}

// Waits up to ten seconds for one byte on `fd`; false on timeout or EOF.
bool await_byte(int fd) {
    pollfd ready{fd, POLLIN, 0};
    char byte = 0;
    return ::poll(&ready, 1, 10'000) == 1 && ::read(fd, &byte, 1) == 1;
}

TEST_F(RewriteLogTest, DeliveryHoldingTheLogOpenGoesOnAtTheNewEnd) {
    test::write_file(path, procmail_log);
    const std::string head = "From late@example.org  Mon Dec  8 23:59:59 2025\n Subject: slow\n";
    const std::string tail = "  Folder: inbox/new/1796763999.1_1.mailhost\t\t\t    301\n";
    int ready[2];
    int go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Like Procmail: open with O_APPEND when the delivery starts, write
        // the first lines, and the Folder line when it ends.
        const int log = ::open(path.c_str(), O_WRONLY | O_APPEND);
        char byte = 0;
        const bool ok = log >= 0 &&
                        ::write(log, head.data(), head.size()) == ssize_t(head.size()) &&
                        ::write(ready[1], "r", 1) == 1 && ::read(go[0], &byte, 1) == 1 &&
                        ::write(log, tail.data(), tail.size()) == ssize_t(tail.size());
        ::_exit(ok ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(go[0]);
    ASSERT_TRUE(await_byte(ready[0]));
    const std::string before = test::read_file(path);
    ASSERT_EQ(before, procmail_log + head);

    EXPECT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Rewritten);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(ready[0]);
    ::close(go[1]);

    EXPECT_EQ(test::read_file(path), filter_log(before, "friends") + tail);
    const std::vector<std::string> rows = listed(path);
    EXPECT_NE(std::find(rows.begin(), rows.end(), "1 inbox\n  late@example.org: slow"), rows.end())
        << ::testing::PrintToString(rows);
}

TEST_F(RewriteLogTest, RealLogReadsBackAsTheListWithoutTheFolder) {
    const std::string sample = test::read_file(test::source_file("examples/sample-procmail.log"));
    for (const std::string& variant : {sample, sample + "From x\n Subject: unfinished\n"}) {
        test::write_file(path, variant);
        MailLogScanner whole;
        whole.reload(path);
        const std::vector<std::string> full = test::folder_list(whole, true);
        ASSERT_GT(full.size(), 5u);
        for (std::size_t index = 0; index < full.size(); ++index) {
            const std::string name = whole.folders()[index]->name;
            test::write_file(path, variant);
            EXPECT_EQ(rewrite_log(path, name).outcome, RewriteOutcome::Rewritten) << name;
            EXPECT_EQ(test::read_file(path), filter_log(variant, name)) << name;
            std::vector<std::string> rest = full;
            rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(index));
            EXPECT_EQ(listed(path), rest) << name;
        }
    }
}

}  // namespace

// --- Rewrites among other writers ----------------------------------------------------

namespace {

// Runs `work` in a child process once `go` is called; the child's exit
// status or -1 from wait().
class Child {
public:
    template <class Work>
    explicit Child(Work work) {
        int pipe_fds[2];
        EXPECT_EQ(::pipe(pipe_fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            char byte = 0;
            ::close(pipe_fds[1]);
            ::_exit(::read(pipe_fds[0], &byte, 1) == 1 && work() ? 0 : 1);
        }
        ::close(pipe_fds[0]);
        go_ = pipe_fds[1];
    }
    void go() { EXPECT_EQ(::write(go_, "g", 1), 1); }
    int wait() {
        ::close(go_);
        int status = 0;
        return ::waitpid(pid_, &status, 0) == pid_ ? status : -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int go_ = -1;
};

// `count` numbered deliveries, most to "keep", every fifth to "drop".
std::string numbered(int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) {
        const std::string number = std::to_string(i);
        text += test::log_entry(number + "@x", number, i % 5 == 0 ? "drop" : "keep");
    }
    return text;
}

}  // namespace

TEST_F(RewriteLogTest, DeliveriesDuringRewritesAreNeitherLostNorDoubled) {
    test::write_file(path, numbered(0, 2000));
    Child writer([&] {
        for (int i = 2000; i < 12000; ++i) {  // as Procmail: open, one write, close
            const std::string entry = numbered(i, 1);
            const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
            if (fd < 0 || ::write(fd, entry.data(), entry.size()) != ssize_t(entry.size())) {
                return false;
            }
            ::close(fd);
            ::usleep(20);
        }
        return true;
    });
    writer.go();
    int status = 0;
    int rewrites = 0;
    // A pause between rewrites, as between two presses of a key: a writer
    // woken as one lease goes may otherwise meet the next one every time.
    for (; ::waitpid(writer.pid(), &status, WNOHANG) == 0; ++rewrites) {
        EXPECT_NE(rewrite_log(path, "drop").outcome, RewriteOutcome::Failed);
        ::usleep(1000);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(rewrites, 10);
    rewrite_log(path, "drop");
    const std::string now = test::read_file(path);
    const std::string expected = filter_log(numbered(0, 12000), "drop");
    EXPECT_TRUE(now == expected) << "deliveries lost or doubled: " << now.size() << " bytes, not "
                                 << expected.size();
}

TEST_F(RewriteLogTest, TwoRewritesAtOnceBothStick) {
    const std::string log = numbered(0, 20000) + test::log_entry("z@x", "other", "other");
    for (int round = 0; round < 3; ++round) {
        test::write_file(path, log);
        Child first([&] { return rewrite_log(path, "drop").outcome == RewriteOutcome::Rewritten; });
        Child second(
            [&] { return rewrite_log(path, "other").outcome == RewriteOutcome::Rewritten; });
        first.go();
        second.go();
        EXPECT_EQ(first.wait(), 0);
        EXPECT_EQ(second.wait(), 0);
        EXPECT_TRUE(test::read_file(path) == filter_log(filter_log(log, "drop"), "other"))
            << "a removal was undone in round " << round;
    }
}

TEST_F(RewriteLogTest, InterruptedRewriteLeavesTheLogWhole) {
    const std::string log = numbered(0, 200000);  // tens of milliseconds to rewrite
    const std::string filtered = filter_log(log, "drop");
    for (int delay_us : {0, 2000, 5000, 10000, 20000, 40000}) {
        test::write_file(path, log);
        Child rewriter(
            [&] { return rewrite_log(path, "drop").outcome == RewriteOutcome::Rewritten; });
        rewriter.go();
        ::usleep(static_cast<useconds_t>(delay_us));
        ::kill(rewriter.pid(), SIGINT);
        rewriter.wait();
        const std::string now = test::read_file(path);
        EXPECT_TRUE(now == log || now == filtered) << "after " << delay_us << " us";
    }
}

TEST_F(RewriteLogTest, WithoutALeaseTheRewriteIsDoneInPlace) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to become another user than the log's owner";
    }
    test::write_file(path, procmail_log);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // Nobody may write the log but not lease it: it is not theirs.
    const std::string state = dir / "state";
    ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(state.c_str(), 0777), 0);
    Child stranger([&] {
        return ::setenv("XDG_STATE_HOME", state.c_str(), 1) == 0 && ::setgid(65534) == 0 &&
               ::setuid(65534) == 0 &&
               rewrite_log(path, "friends").outcome == RewriteOutcome::Rewritten;
    });
    stranger.go();
    EXPECT_EQ(stranger.wait(), 0);
    EXPECT_EQ(test::read_file(path), filter_log(procmail_log, "friends"));
    EXPECT_EQ(status_of(path).st_uid, 0u);
}

// --- The journal: undo, crashes, failed writes, other programs ------------------------

TEST_F(RewriteLogTest, UndoPutsBackWhatWasRemovedByteForByte) {
    const std::string log = test::read_file(test::source_file("examples/sample-procmail.log"));
    const std::string late = test::log_entry("late@x", "late", "friends");
    const std::vector<std::function<MaintenanceResult()>> changes = {
        [&] { return rewrite_log(path, "friends", 512); }, [&] { return truncate_log(path); }};
    for (const auto& change : changes) {
        for (const std::string& since : {std::string(), late}) {
            test::write_file(path, log);
            ASSERT_EQ(change().outcome, RewriteOutcome::Rewritten);
            test::append_file(path, since);
            EXPECT_EQ(undo_log(path).outcome, RewriteOutcome::Rewritten);
            EXPECT_TRUE(test::read_file(path) == log + since);
            const MaintenanceResult again = undo_log(path);
            EXPECT_EQ(again.outcome, RewriteOutcome::Unchanged);
            EXPECT_EQ(again.reason, "Nothing to undo");
        }
    }
    // Rewritten by another program since: nothing is changed.
    test::write_file(path, log);
    ASSERT_EQ(rewrite_log(path, "friends").outcome, RewriteOutcome::Rewritten);
    test::write_file(path, log);
    EXPECT_EQ(undo_log(path).reason, "Nothing undone: the log has changed since");
    EXPECT_EQ(test::read_file(path), log);
}

namespace {

// Runs `change` in a child with LURKO_FAULT set to `fault`; whether it ran to
// its end, unstruck.
bool ran_to_end(const std::string& fault, const std::function<void()>& change) {
    Child child([&] {
        ::setenv("LURKO_FAULT", fault.c_str(), 1);
        change();
        return true;
    });
    child.go();
    const int status = child.wait();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST_F(RewriteLogTest, ACrashAtAnyStepIsMendedByTheNextStart) {
    const std::string log = numbered(0, 300);
    const std::string removed = filter_log(log, "drop");
    const std::string late = numbered(300, 1);
    struct Case {
        std::string before, after;
        std::function<void()> setup, change;
    };
    const std::vector<Case> cases = {
        {log, removed, [&] { test::write_file(path, log); },
         [&] { rewrite_log(path, "drop", 4096); }},
        {log, "", [&] { test::write_file(path, log); }, [&] { truncate_log(path); }},
        {removed, log,
         [&] {
             test::write_file(path, log);
             rewrite_log(path, "drop", 4096);
         },
         [&] { undo_log(path); }},
    };
    for (std::size_t which = 0; which < cases.size(); ++which) {
        const Case& c = cases[which];
        int step = 1;
        for (;; ++step) {
            c.setup();
            if (ran_to_end("crash:" + std::to_string(step), c.change)) {
                break;  // past the change's last step
            }
            test::append_file(path, late);  // delivered before the next start
            static_cast<void>(recover_log(path));
            const std::string now = test::read_file(path);
            EXPECT_TRUE(now == c.before + late || now == c.after + late)
                << "change " << which << ", crash at step " << step;
        }
        EXPECT_GT(step, 8) << "change " << which;
    }
}

TEST_F(RewriteLogTest, AFailedWriteLeavesTheLogAsItWasAndSaysWhy) {
    const std::string log = numbered(0, 300);
    int failures = 0;
    for (int step = 1; step < 120; ++step) {
        test::write_file(path, log);
        ::setenv("LURKO_FAULT", ("fail:" + std::to_string(step)).c_str(), 1);
        const MaintenanceResult result = rewrite_log(path, "drop", 4096);
        ::unsetenv("LURKO_FAULT");
        static_cast<void>(recover_log(path));
        if (result.outcome == RewriteOutcome::Failed) {
            ++failures;
            EXPECT_EQ(result.reason, "Input/output error") << step;
            EXPECT_TRUE(test::read_file(path) == log) << "step " << step;
        } else {
            EXPECT_TRUE(test::read_file(path) == filter_log(log, "drop")) << "step " << step;
        }
    }
    EXPECT_GT(failures, 8);
}

TEST_F(RewriteLogTest, AnotherProgramCuttingTheLogWinsOverARewriteWithoutALease) {
    const std::string log = numbered(0, 60);
    for (int step = 1;; step += 3) {  // (each waits for a lease that cannot be had)
        test::write_file(path, log);
        const UniqueFd holder(::open(path.c_str(), O_RDONLY));  // no lease to be had
        ::setenv("LURKO_FAULT", ("cut:" + std::to_string(step)).c_str(), 1);
        const MaintenanceResult result = rewrite_log(path, "drop", 1024);
        ::unsetenv("LURKO_FAULT");
        const std::string now = test::read_file(path);
        if (!now.empty()) {  // cut after the change's last step
            EXPECT_EQ(now, filter_log(log, "drop"));
            EXPECT_EQ(result.outcome, RewriteOutcome::Rewritten);
            EXPECT_GT(step, 8);
            break;
        }
    }
}

TEST_F(RewriteLogTest, AJournalOfAnotherLogOrOfAReplacedLogIsLeftAlone) {
    const std::string log = numbered(0, 300);
    // A crash once the log is being written leaves a journal to finish.
    test::write_file(path, log);
    for (int step = 1; test::read_file(path) == log; ++step) {
        std::filesystem::remove(journal_files(path)->journal);
        test::write_file(path, log);
        ASSERT_FALSE(
            ran_to_end("crash:" + std::to_string(step), [&] { rewrite_log(path, "drop", 4096); }));
    }
    const std::string half = test::read_file(path);
    const std::string other = dir / "other.log";
    test::write_file(other, log);
    std::filesystem::copy_file(journal_files(path)->journal, journal_files(other)->journal);
    EXPECT_EQ(
        recover_log(other).value_or(""),
        "lurko: left alone a journal that is not this log's: " + journal_files(other)->journal);
    EXPECT_EQ(test::read_file(other), log);
    EXPECT_FALSE(recover_log(other).has_value());  // told of once
    // Replaced by a new file: the journal is no longer about it.
    std::filesystem::rename(other, path);
    EXPECT_EQ(recover_log(path).value_or(""), "lurko: could not finish an interrupted change of " +
                                                  path + ": the log was replaced since");
    EXPECT_EQ(test::read_file(path), log);
    EXPECT_NE(half, log);
}
