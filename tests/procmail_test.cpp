// Real Procmail delivers generated messages into mbox folders, a maildir and
// /dev/null, writing its own log; lurko's report of that log must agree with
// what actually landed in the folders.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "procmail_support.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;

using procmail::Route;

struct Message {
    int seq;
    Route route;
    std::string sender;                  // of the From_ line
    std::optional<std::string> subject;  // no Subject: header when absent
};

std::string text_of(const Message& message) {
    std::string text = "From " + message.sender + "  Mon Dec  8 07:19:03 2025\n";
    text += "From: " + message.sender + "\n";
    text += "To: user@example.org\n";
    if (message.subject) {
        text += "Subject:" + (message.subject->empty() ? "" : " " + *message.subject) + "\n";
    }
    text += "X-Route: " + std::string(procmail::route_header(message.route)) + "\n";
    text += "X-Seq: " + std::to_string(message.seq) + "\n";
    text += "\nHello number " + std::to_string(message.seq) + ".\n";
    return text;
}

std::vector<Message> make_messages() {
    const Route pattern[] = {Route::Friends, Route::Maildir, Route::Blank,     Route::Default,
                             Route::Maildir, Route::DevNull, Route::Mh,        Route::Absolute,
                             Route::Maildir, Route::Friends, Route::Directory, Route::DevNull};
    const char* senders[] = {"alice@example.org", "bob@example.org", "dev-bounces@lists.example",
                             "noreply@bank.example.net", "x@spam.example"};
    std::vector<Message> messages;
    for (int seq = 0; seq < 42; ++seq) {
        Message message{seq, pattern[seq % 12], senders[seq % 5], {}};
        if (seq % 7 == 3) {
            message.subject = std::nullopt;
        } else if (seq % 11 == 5) {
            message.subject = "";
        } else if (seq == 19) {
            message.subject = "A subject longer than Procmail logs: " + std::string(60, 'x');
        } else if (seq == 20) {
            message.subject =
                "Gr\xc3\xbc\xc3\x9f"
                "e aus K\xc3\xb6ln,  two  blanks";
        } else {
            message.subject = "Message " + std::to_string(seq) + " about the build";
        }
        messages.push_back(message);
    }
    return messages;
}

using procmail::messages_in;

// The wide report, parsed: every folder with its "sender: subject" lines.
struct ReportFolder {
    std::string name;
    std::size_t count = 0;
    std::vector<std::string> mails;
};

std::vector<ReportFolder> parse_wide_report(const std::string& text) {
    std::vector<ReportFolder> folders;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("      ", 0) == 0) {
            EXPECT_FALSE(folders.empty()) << "a mail line before any folder line";
            if (!folders.empty()) {
                folders.back().mails.push_back(line.substr(6));
            }
        } else {
            EXPECT_GE(line.size(), 7u) << line;
            EXPECT_EQ(line[5], ' ') << line;
            folders.push_back({line.substr(6), std::stoul(line.substr(0, 5)), {}});
        }
    }
    return folders;
}

// What lurko should show for a message: procmail logs the first 78 bytes of
// the Subject: header line and nothing for a message without one.
std::string mail_line(const Message& message) {
    const std::string subject = message.subject ? message.subject->substr(0, 78 - 9) : "";
    return message.sender + ": " + subject;
}

TEST(RealProcmail, ReportAgreesWithTheDeliveries) {
    ASSERT_TRUE(fs::exists(procmail::binary))
        << procmail::binary << " is missing: the set-up script installs procmail";
    test::TempDir home;
    test::write_file(home / ".procmailrc", procmail::rc_text);
    fs::create_directory(home / "Mail");

    const std::vector<Message> messages = make_messages();
    for (const Message& message : messages) {
        const std::string file = home / ("message-" + std::to_string(message.seq));
        test::write_file(file, text_of(message));
        const test::RunResult delivered =
            test::run({"/bin/sh", "-c", procmail::deliver_command, "sh", home.path(), file},
                      {{"HOME", home.path()}});
        ASSERT_EQ(delivered.status, 0)
            << "procmail failed on message " << message.seq << ": " << delivered.err;
    }
    ASSERT_TRUE(fs::exists(home / "procmail.log"));
    ASSERT_FALSE(fs::exists(home / "Mail/orgmail"));

    // lurko finds the log through the same rc file procmail read.
    const test::RunResult wide = test::run_lurko({"-o", "-w"}, {{"HOME", home.path()}});
    ASSERT_EQ(wide.status, 0) << wide.out << wide.err;
    EXPECT_EQ(wide.err, "");
    const std::vector<ReportFolder> report = parse_wide_report(wide.out);

    std::vector<bool> accounted(messages.size(), false);
    std::size_t delivered_to_folders = 0;
    const ReportFolder* devnull = nullptr;
    for (const ReportFolder& folder : report) {
        EXPECT_EQ(folder.count, folder.mails.size()) << folder.name;
        if (folder.name == "/dev/null") {
            devnull = &folder;
            continue;
        }
        const fs::path path = folder.name.front() == '/' ? fs::path(folder.name)
                                                         : fs::path(home / "Mail") / folder.name;
        ASSERT_TRUE(fs::exists(path)) << "the report names " << folder.name;
        const std::vector<std::size_t> found = messages_in(path);
        std::vector<std::string> expected;
        for (const std::size_t seq : found) {
            expected.push_back(mail_line(messages[seq]));
            EXPECT_FALSE(accounted[seq]) << "message " << seq << " twice";
            accounted[seq] = true;
        }
        EXPECT_EQ(folder.mails, expected) << folder.name;
        delivered_to_folders += found.size();
    }

    // Every mailbox in the mail directory appears in the report, and what
    // is not in any of them went to /dev/null.
    std::size_t on_disk = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(home / "Mail")) {
        if (entry.path().extension() != ".lock") {
            on_disk += messages_in(entry.path()).size();
        }
    }
    EXPECT_EQ(on_disk, delivered_to_folders);
    ASSERT_NE(devnull, nullptr) << "no /dev/null folder in the report";
    std::vector<std::string> discarded;
    for (const Message& message : messages) {
        if (!accounted[static_cast<std::size_t>(message.seq)]) {
            EXPECT_EQ(message.route, Route::DevNull) << "message " << message.seq << " was lost";
            discarded.push_back(mail_line(message));
        }
    }
    EXPECT_EQ(devnull->mails, discarded);
    // friends, family and friends, lists.dev, work, reports, bank, inbox,
    // /dev/null: an MH and a directory folder count as one each.
    EXPECT_EQ(report.size(), 8u);

    // The plain report is the wide one without its mail lines, in the order
    // of the reference report; -H drops /dev/null alone.
    std::string folder_lines;
    std::string without_devnull;
    for (const ReportFolder& folder : report) {
        std::string count = std::to_string(folder.count);
        const std::string line =
            std::string(5 - count.size(), ' ') + count + " " + folder.name + "\n";
        folder_lines += line;
        if (folder.name != "/dev/null") {
            without_devnull += line;
        }
    }
    const std::string log = home / "procmail.log";
    EXPECT_EQ(test::run_lurko({"-o", log}).out, folder_lines);
    EXPECT_EQ(test::run_lurko({"-o", "-H", log}).out, without_devnull);
    const test::RunResult reference = test::run({test::gen_log(), "--report", log});
    EXPECT_EQ(reference.status, 0);
    EXPECT_EQ(folder_lines, reference.out);
}

// Each way of naming the log that Procmail's own manual and users' rc files
// use: Procmail delivers one mail with that rc, and lurko, given no log, must
// read the very file Procmail wrote.
TEST(RealProcmail, LurkoFindsTheLogEveryRcFormNames) {
    ASSERT_TRUE(fs::exists(procmail::binary)) << "the set-up script installs procmail";
    struct Form {
        const char* rc;
        const char* included = "";  // $HOME/Mail/log.rc
    };
    const Form forms[] = {
        {"MAILDIR=$HOME/Mail  #you'd better make sure it exists\n"
         "LOGFILE=$MAILDIR/from  #recommended\n"},
        {"LOGFILE=\"$HOME/.procmail.log\"\n"},
        {"LOGFILE=${HOME}/procmail.log\n"},
        {"MAILDIR=$HOME/Mail\nLOGFILE=procmail.log\n"},
        {"PMDIR=$HOME/.procmail\nLOGFILE=$PMDIR/log\n"},
        {"LOGFILE=${LOGDIR:-$HOME/logs}/pm.log\n"},
        {"LOGFILE=$HOME/pm.log # the log\n"},
        {"LOGFILE = $HOME/pm.log\n"},
        {"  LOGFILE=$HOME/pm.log\n"},
        {"LOGFILE=$HOME/first.log\nLOGFILE=$HOME/second.log\n"},
        {":0\n* ^Subject: never\n{\n  LOGFILE=$HOME/inside.log\n}\nLOGFILE=$HOME/outside.log\n"},
        {"MAILDIR=$HOME/Mail\nINCLUDERC=log.rc\n", "LOGFILE=$HOME/included.log\n"},
    };
    for (const Form& form : forms) {
        test::TempDir home;
        // Into /dev/null: Procmail waits a second after the first mail of a
        // new mailbox.
        test::write_file(home / ".procmailrc", std::string("DEFAULT=/dev/null\n") + form.rc);
        for (const char* directory : {"Mail", ".procmail", "logs"}) {
            fs::create_directory(home / directory);
        }
        test::write_file(home / "Mail/log.rc", form.included);
        test::write_file(home / "message", text_of({1, Route::Default, "a@example.org", "hi"}));
        ASSERT_EQ(test::run({"/bin/sh", "-c", procmail::deliver_command, "sh", home.path(),
                             home / "message"},
                            {}, home.path())
                      .status,
                  0)
            << form.rc;
        std::vector<std::string> logs;  // what Procmail wrote a Folder line into
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(home.path())) {
            if (entry.is_regular_file() &&
                test::read_file(entry.path()).find("  Folder: ") != std::string::npos) {
                logs.push_back(entry.path());
            }
        }
        ASSERT_EQ(logs.size(), 1u) << form.rc;
        const test::RunResult found =
            test::run_lurko({"-o", "-w"}, {{"HOME", home.path()}, {"LOGDIR", std::nullopt}});
        EXPECT_EQ(found.status, 0) << form.rc << found.out;
        EXPECT_EQ(found.out, test::run_lurko({"-o", "-w", logs[0]}).out) << form.rc;
        EXPECT_NE(found.out.find("a@example.org: hi"), std::string::npos) << form.rc;
    }

    // A command is never run: Procmail runs it, lurko names it and stops.
    test::TempDir home;
    const std::string rc = home / ".procmailrc";
    test::write_file(rc, "DEFAULT=/dev/null\nLOGFILE=`touch $HOME/ran; echo $HOME/log`\n");
    test::write_file(home / "message", text_of({1, Route::Default, "a@example.org", "hi"}));
    fs::create_directory(home / "Mail");
    test::run({"/bin/sh", "-c", procmail::deliver_command, "sh", home.path(), home / "message"});
    ASSERT_TRUE(fs::exists(home / "log") && fs::remove(home / "ran"));
    const test::RunResult refused = test::run_lurko({"-o"}, {{"HOME", home.path()}});
    EXPECT_EQ(refused.out, "lurko error: " + rc +
                               " line 2: LOGFILE needs the output of `touch $HOME/ran; echo "
                               "$HOME/log`, which Lurko does not run; give the log as an "
                               "argument\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(fs::exists(home / "ran"));
}

}  // namespace
