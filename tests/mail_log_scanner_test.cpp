#include "log/mail_log_scanner.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

// "<count> <name>" of every folder in display order.
using Listing = std::vector<std::string>;

// A folder's mails, oldest first.
std::vector<MailEntry> mails_of(const Folder& folder) {
    return {folder.mails.begin(), folder.mails.end()};
}

using MailLogScannerTest = test::LogTest;

TEST_F(MailLogScannerTest, ReadsProcmailEntries) {
    // Three mails, two of them to a maildir, and a line of Procmail's own.
    load(test::read_file(test::data_file("entries.log")));
    EXPECT_EQ(test::folder_list(log), (Listing{"2 lists.dev", "1 friends"}));
    EXPECT_EQ(log.total(), 3u);
    EXPECT_EQ(log.read_total(), 3u);
    EXPECT_EQ(log.last_folder(), "lists.dev");
    const Folder& dev = *log.folders()[0];
    EXPECT_EQ(mails_of(dev)[0].from(), "dev@lists.example.org");
    EXPECT_EQ(mails_of(dev)[0].subject(), "[dev] Patch:  two  blanks ");
    EXPECT_EQ(mails_of(dev)[1].from(), "bob@example.org");
}

TEST_F(MailLogScannerTest, SortsByCountThenNameDescending) {
    load(
        "  Folder: b\n  Folder: a\n  Folder: ab\n  Folder: c\n  Folder: c\n"
        "  Folder: \xe9t\xe9\n  Folder: zz\n");
    // Names compare as unsigned bytes: 0xE9 sorts above every ASCII letter; a
    // name comes before its own prefix.
    EXPECT_EQ(test::folder_list(log),
              (Listing{"2 c", "1 \xe9t\xe9", "1 zz", "1 b", "1 ab", "1 a"}));
}

TEST_F(MailLogScannerTest, ExtractsWordsAsProcmailLogsThem) {
    load(
        "From   Mon Dec  8\n"  // two blanks after the keyword: empty sender
        " Subject: \n"
        "  Folder: \tinbox\n"  // a folder value starting with a tab: empty name
        "From a\tb\n"
        " Subject: x\r\n"
        "  Folder: inbox/\r\n"
        "  Folder: inbox\n"
        "  Folder: /new/1.host\n");
    EXPECT_EQ(test::folder_list(log), (Listing{"2 ", "1 inbox/\r", "1 inbox"}));
    const Folder& empty = *log.folders()[0];
    EXPECT_EQ(mails_of(empty)[0].from(), "");
    EXPECT_EQ(mails_of(empty)[0].subject(), "");
    const Folder& slashed = *log.folders()[1];
    EXPECT_EQ(mails_of(slashed)[0].from(), "a");
    EXPECT_EQ(mails_of(slashed)[0].subject(), "x\r");
}

TEST_F(MailLogScannerTest, PendingFieldsGoToTheNextMailOnly) {
    load(
        " Subject: early\n"
        "From first\n"
        "From second\n"
        "  Folder: one\n"
        "From third\n"
        "  Folder: one\n");
    const Folder& one = *log.folders()[0];
    ASSERT_EQ(one.mails.size(), 2u);
    EXPECT_EQ(one.count, 2u);
    EXPECT_EQ(mails_of(one)[0].from(), "second");
    EXPECT_EQ(mails_of(one)[0].subject(), "early");
    EXPECT_EQ(mails_of(one)[1].from(), "third");
    EXPECT_EQ(mails_of(one)[1].subject(), "");
}

TEST_F(MailLogScannerTest, ReloadStartsWithNoPendingEntry) {
    load("From a\n  Folder: one\nFrom half-written\n Subject: dangling\n");
    EXPECT_EQ(log.last_folder(), "one");
    load("From b\n  Folder: two\n");
    const Folder& two = *log.folders()[0];
    EXPECT_EQ(mails_of(two)[0].from(), "b");
    EXPECT_EQ(mails_of(two)[0].subject(), "");
    load("");
    EXPECT_TRUE(log.folders().empty());
    EXPECT_EQ(log.total(), 0u);
    EXPECT_EQ(log.last_folder(), "two");  // carried over from the read before
}

TEST_F(MailLogScannerTest, MissingLogReadsAsEmpty) {
    load("  Folder: one\n");
    log.reload(dir / "no-such.log");
    EXPECT_TRUE(log.folders().empty());
    EXPECT_EQ(log.total(), 0u);
}

TEST_F(MailLogScannerTest, LogThatIsNoFileReadsAsEmptyWithoutBlocking) {
    load("  Folder: one\n");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // nobody ever writes to it
    log.update(path);
    EXPECT_TRUE(log.folders().empty());
    log.reload(dir.path());  // a directory
    EXPECT_TRUE(log.folders().empty());
}

TEST_F(MailLogScannerTest, OverlongLineHidesNothingAfterIt) {
    load("  Folder: one\n From " + std::string(5000, 'x') + "\n  Folder: two\n");
    EXPECT_EQ(test::folder_list(log), (Listing{"1 two", "1 one"}));
}

TEST_F(MailLogScannerTest, RemoveFolderKeepsOrderAndRecountsTotal) {
    load("  Folder: a\n  Folder: a\n  Folder: a\n  Folder: b\n  Folder: b\n  Folder: /dev/null\n");
    log.remove_folder("b");
    EXPECT_EQ(test::folder_list(log), (Listing{"3 a", "1 /dev/null"}));
    EXPECT_EQ(log.total(), 4u);
    EXPECT_EQ(log.read_total(), 6u);
    log.remove_folder("not there");
    EXPECT_EQ(log.total(), 4u);
    log.remove_folder("/dev/null");
    EXPECT_EQ(log.last_folder(), "/dev/null");  // still names the removed folder
    // The name may be the list's own: it is taken by value.
    log.remove_folder(log.folders()[0]->name);
    EXPECT_TRUE(log.folders().empty());
    EXPECT_EQ(log.total(), 0u);
}

TEST_F(MailLogScannerTest, ReloadBringsRemovedFoldersBack) {
    load("  Folder: a\n  Folder: b\n");
    log.remove_folder("a");
    log.reload(path);
    EXPECT_EQ(test::folder_list(log), (Listing{"1 b", "1 a"}));
}

TEST_F(MailLogScannerTest, ManyFoldersAndMailsStayIntact) {
    // Enough text to fill several arena chunks, with distinct folders; the
    // mails of every thousandth folder too long for a block of their own.
    const auto subject = [](int mail) {
        return std::string(mail % 1000 == 0 ? 4000 : 60, static_cast<char>('a' + mail % 26));
    };
    std::string text;
    for (int i = 0; i < 40000; ++i) {
        text += "From sender" + std::to_string(i) + "@example.org  Mon Dec  8 07:19:03 2025\n";
        text += " Subject: " + subject(i) + "\n";
        text += "  Folder: folder" + std::to_string(i % 5000) + "\t\t  100\n";
    }
    load(text);
    ASSERT_EQ(log.folders().size(), 5000u);
    EXPECT_EQ(log.total(), 40000u);
    for (const Folder* folder : log.folders()) {
        ASSERT_EQ(folder->count, 8u);
        const std::vector<MailEntry> mails = mails_of(*folder);
        ASSERT_EQ(mails.size(), 8u);
        const int first = std::stoi(folder->name.substr(6));
        for (int k = 0; k < 8; ++k) {
            const int mail = first + k * 5000;
            EXPECT_EQ(mails[k].from(), "sender" + std::to_string(mail) + "@example.org");
            EXPECT_EQ(mails[k].subject(), subject(mail));
        }
    }
}

TEST_F(MailLogScannerTest, CountingScannerKeepsCountsAndNoMail) {
    const std::string text =
        "From a  Mon\n Subject: s\n  Folder: x/new/1\n  Folder: y\n"
        "From b\n  Folder: x/new/2\n  Folder: y\n  Folder: x\n";
    load(text);
    MailLogScanner counts(MailLogScanner::Keep::Counts);
    counts.reload(path);
    EXPECT_EQ(test::folder_list(counts), test::folder_list(log));
    EXPECT_EQ(test::folder_list(counts), (Listing{"3 x", "2 y"}));
    EXPECT_EQ(counts.total(), 5u);
    EXPECT_EQ(counts.last_folder(), "x");
    for (const Folder* folder : counts.folders()) {
        EXPECT_TRUE(folder->mails.empty()) << folder->name;
    }
}

TEST(FolderLess, OrdersByCountThenUnsignedName) {
    const Folder small{"z", 1, {}};
    const Folder big{"a", 2, {}};
    const Folder high{"\xff", 1, {}};
    const Folder prefix{"zz", 1, {}};
    EXPECT_TRUE(folder_less(small, big));
    EXPECT_FALSE(folder_less(big, small));
    EXPECT_TRUE(folder_less(small, high));
    EXPECT_TRUE(folder_less(small, prefix));
    EXPECT_FALSE(folder_less(small, small));
}

TEST(WordAfterKeyword, StopsAtBlankOrTabOnly) {
    EXPECT_EQ(word_after_keyword("From a@b  Mon", "From "), "a@b");
    EXPECT_EQ(word_after_keyword("From a@b\tMon", "From "), "a@b");
    EXPECT_EQ(word_after_keyword("From a\rb c", "From "), "a\rb");
    EXPECT_EQ(word_after_keyword("From  a", "From "), "");
    EXPECT_EQ(word_after_keyword("From ", "From "), "");
    const std::string long_word(100, 'w');
    EXPECT_EQ(word_after_keyword("From " + long_word + " x", "From "), long_word);
    for (std::size_t at = 0; at < 40; ++at) {
        std::string word(40, 'w');
        word[at] = '\t';
        EXPECT_EQ(word_after_keyword("From " + word, "From ").size(), at);
    }
}

TEST(FolderNameOf, NamesFoldersAsProcmailDoes) {
    EXPECT_EQ(folder_name_of("  Folder: box/new/1.2.host\t 12"), "box");
    EXPECT_EQ(folder_name_of("  Folder: a/new/b/new/c"), "a");
    EXPECT_EQ(folder_name_of("  Folder: /new/x"), "");
    EXPECT_EQ(folder_name_of("  Folder: box/newer"), "box/newer");
    // Long paths, "/new/" across a run of sixteen bytes or beyond a slash
    // that only starts "/new".
    EXPECT_EQ(folder_name_of("  Folder: /home/user/Mail/lists/new/1.host"),
              "/home/user/Mail/lists");
    EXPECT_EQ(folder_name_of("  Folder: /home/user/Mail/a/newsletters/new/1"),
              "/home/user/Mail/a/newsletters");
    EXPECT_EQ(folder_name_of("  Folder: /home/user/Mail/lists/new"), "/home/user/Mail/lists/new");
    // Up to the tabs before the size, blanks trimmed; no tab: the first word.
    EXPECT_EQ(folder_name_of("  Folder:  family and friends \t\t  286"), "family and friends");
    EXPECT_EQ(folder_name_of("  Folder: \t\t  286"), "");
    EXPECT_EQ(folder_name_of("  Folder: family and friends"), "family");
    // MH messages and the files of a directory folder count for the folder;
    // an mbox named by digits in a subdirectory too, the rule's cost.
    EXPECT_EQ(folder_name_of("  Folder: work/12\t 286"), "work");
    EXPECT_EQ(folder_name_of("  Folder: reports/msg.x-Y_9\t 286"), "reports");
    EXPECT_EQ(folder_name_of("  Folder: archive/2016\t 286"), "archive");
    for (const char* kept : {"/12", "reports/msg.", "reports/msg.a.b", "work/1a", "My Lists/new"}) {
        EXPECT_EQ(folder_name_of(std::string("  Folder: ") + kept + "\t 286"), kept);
    }
}

}  // namespace
