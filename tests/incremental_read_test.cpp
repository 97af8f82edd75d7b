#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "log/mail_log_scanner.hpp"
#include "test_support.hpp"

namespace {

// Everything a reader of the scanner can see, as text, so two scanners can be
// compared with one assertion that shows the difference.
std::string snapshot(const MailLogScanner& log) {
    std::string out = "total " + std::to_string(log.total()) + " read " +
                      std::to_string(log.read_total()) + " last [" + log.last_folder() + "]\n";
    for (const std::string& folder : test::folder_list(log, true)) {
        out += folder + "\n";
    }
    return out;
}

std::string full_read(const std::string& path) {
    MailLogScanner fresh;
    fresh.reload(path);
    return snapshot(fresh);
}

class IncrementalRead : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string path = dir / "procmail.log";
};

TEST_F(IncrementalRead, EqualsFullReadAfterEveryCutOfARealLog) {
    const std::string log = test::read_file(test::source_file("examples/sample-procmail.log"));
    ASSERT_GT(log.size(), 1000u);
    for (std::size_t cut = 0; cut <= log.size(); ++cut) {
        test::write_file(path, log.substr(0, cut));
        MailLogScanner incremental;
        incremental.update(path);
        test::append_file(path, log.substr(cut));
        incremental.update(path);
        ASSERT_EQ(snapshot(incremental), full_read(path)) << "cut at byte " << cut;
    }
}

TEST_F(IncrementalRead, EqualsFullReadAfterEveryRandomPiece) {
    // Noise, odd forms and interleaved deliveries included, and pieces that
    // end anywhere: inside keywords, inside a Folder line, before a CR.
    const test::RunResult made =
        test::run({test::gen_log(), "--mails", "1500", "--seed", "5", "--noise", "0.05", "--odd",
                   "0.05", "--interleave", "0.02", "--copies", "0.05"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string& log = made.out;
    ASSERT_GT(log.size(), 100000u);
    std::mt19937 random(42);
    std::uniform_int_distribution<std::size_t> piece(1, 400);
    test::write_file(path, "");
    MailLogScanner incremental;
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t size = std::min(piece(random), log.size() - at);
        test::append_file(path, log.substr(at, size));
        at += size;
        incremental.update(path);
        ASSERT_EQ(snapshot(incremental), full_read(path)) << "after byte " << at;
    }
}

TEST_F(IncrementalRead, ReadsWholeWhenTheLogIsNotJustLonger) {
    MailLogScanner log;
    test::write_file(path, "From a\n  Folder: one\n");
    log.update(path);

    // Truncated and refilled, shorter than before.
    test::write_file(path, "  Folder: two\n");
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));

    // Rewritten in place to the same length and then longer: the bytes before
    // the point reached differ, so appended reading would be wrong.
    test::write_file(path, "  Folder: six\n  Folder: six\n");
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));

    // Edited in place at its head, the last bytes read kept, then grown: an
    // editor's save followed by a delivery.
    test::write_file(path, "  Folder: ten\n  Folder: six\n  Folder: six\n");
    log.update(path);
    test::write_file(path, "  Folder: xxx\n  Folder: six\n  Folder: six\n  Folder: new\n");
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));

    // Replaced by another file under the same name.
    const std::string other = dir / "other.log";
    test::write_file(other, "  Folder: six\n  Folder: six\n  Folder: ten\n");
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));

    // Gone: an empty list, and a new log is read from its start.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    log.update(path);
    EXPECT_TRUE(log.folders().empty());
    test::write_file(path, "  Folder: back\n");
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));
}

TEST_F(IncrementalRead, RereadShowsTheLogWholeAndKeepsRemovals) {
    std::string head;
    std::string tail;
    for (int i = 0; i < 6; ++i) {
        head += "  Folder: a\n";
        tail += "  Folder: c\n";
    }
    MailLogScanner log;
    test::write_file(path, head + "  Folder: b\n" + tail);
    log.update(path);
    log.remove_folder("a");
    // An edit the appended reading cannot see (its head and the bytes before
    // the point reached are as they were), then a delivery.
    test::write_file(path, head + "  Folder: x\n" + tail + "  Folder: e\n");
    log.reread_next_update();
    log.update(path);
    // "a" stays marked read.
    EXPECT_EQ(test::folder_list(log), (std::vector<std::string>{"6 c", "1 x", "1 e"}));
}

TEST_F(IncrementalRead, RemovedFoldersComeBackAtTheNextUpdate) {
    MailLogScanner log;
    test::write_file(path, "  Folder: a\n  Folder: b\n  Folder: b\n");
    log.update(path);
    log.remove_folder("b");
    EXPECT_EQ(log.total(), 1u);
    test::append_file(path, "  Folder: c\n");
    log.update(path);
    EXPECT_EQ(snapshot(log), full_read(path));
    EXPECT_EQ(log.total(), 4u);
}

}  // namespace
