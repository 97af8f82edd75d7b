// End-to-end tests of the built binary, a run for each way it ends: the
// fixed texts and their exit statuses, the report, emptying the log and the
// search for the log, as a user meets them. What the command line and the rc
// file mean is tested in-process (command_line_test.cpp,
// log_discovery_test.cpp).

#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;

using test::banner;
using test::error_output;
using test::help_output;
using test::log_message;

// getopt's complaint about `letter`: one line on standard error that names
// the program as started. Its wording is the C library's.
void expect_getopt_diagnostic(const std::string& err, const std::string& argv0, char letter) {
    EXPECT_EQ(err.rfind(argv0 + ": ", 0), 0u) << err;
    EXPECT_NE(err.find(letter, argv0.size()), std::string::npos) << err;
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_EQ(err.find("Usage"), std::string::npos) << err;
    EXPECT_EQ(err.find("Written by"), std::string::npos) << err;
}

// Two folders and a /dev/null: a small log whose report is known.
const std::string small_log = test::read_file(test::data_file("three-folders.log"));

const std::string small_report =
    "    3 friends\n"
    "    2 /dev/null\n"
    "    1 lists.dev\n";

const std::string small_wide_report =
    "    3 friends\n"
    "      alice@example.org: Lunch on Friday?\n"
    "      bob@example.org: Re: Lunch on Friday?\n"
    "      carol@example.org: Hi\n"
    "    2 /dev/null\n"
    "      spam@spam.example: You WON\n"
    "      more@spam.example: \n"
    "    1 lists.dev\n"
    "      dev@lists.example.org: [dev]  two  blanks \n";

// ---------------------------------------------------------------------------
// The fixed texts and their exit statuses

TEST(FixedTexts, HelpVersionAndErrorByteForByte) {
    const std::string argv0 = test::lurko_binary();
    // The texts need no log, no rc file and no home; the help ends the
    // process before the log would be emptied.
    test::TempDir empty_home;
    const std::string log = empty_home / "procmail.log";
    test::write_file(log, small_log);

    const test::RunResult help =
        test::run({argv0, "-c", "-h", log}, {{"HOME", empty_home.path()}}, empty_home.path());
    EXPECT_EQ(help.out, help_output(argv0));
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(test::read_file(log), small_log);

    const test::RunResult version =
        test::run_lurko({"-v", "no-such.log"}, {{"HOME", std::nullopt}});
    EXPECT_EQ(version.out, banner);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, 0);

    const test::RunResult unknown = test::run_lurko({"-x"});
    EXPECT_EQ(unknown.out, error_output(argv0));
    expect_getopt_diagnostic(unknown.err, argv0, 'x');
    EXPECT_EQ(unknown.status, 1);
}

// ---------------------------------------------------------------------------
// Options and positional arguments

TEST(Options, ReportPlainWideAndWithoutDevNull) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);

    const test::RunResult plain = test::run_lurko({"-o", log});
    EXPECT_EQ(plain.out, small_report);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.status, 0);

    EXPECT_EQ(test::run_lurko({"-o", "-w", log}).out, small_wide_report);

    const test::RunResult hidden = test::run_lurko({"-o", "-H", log});
    EXPECT_EQ(hidden.out, "    3 friends\n    1 lists.dev\n");
    EXPECT_EQ(hidden.status, 0);

    EXPECT_EQ(test::run_lurko({"-H", "-w", "-o", log}).out,
              "    3 friends\n"
              "      alice@example.org: Lunch on Friday?\n"
              "      bob@example.org: Re: Lunch on Friday?\n"
              "      carol@example.org: Hi\n"
              "    1 lists.dev\n"
              "      dev@lists.example.org: [dev]  two  blanks \n");
    EXPECT_EQ(test::read_file(log), small_log);  // reading leaves the log alone

    // A lone "-" names a file of that name, not standard input.
    test::write_file(dir / "-", small_log);
    const test::RunResult dash = test::run({test::lurko_binary(), "-o", "-"}, {}, dir.path());
    EXPECT_EQ(dash.out, small_report);
    EXPECT_EQ(dash.status, 0);
}

TEST(Options, StatusLineAndJsonReport) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(
        log, small_log + test::log_entry("eve@example.org", "=?utf-8?q?caf=C3=A9?= \x1b]0;x\a\xff",
                                         "/home/u/mail/work"));

    const test::RunResult status = test::run_lurko({"--status", log});
    EXPECT_EQ(status.out, "7 in 4\n");
    EXPECT_EQ(status.status, 0);
    const test::RunResult newest =
        test::run_lurko({"--status=%n|%f|%F|%s|%S|%%|%x", "-H", log}, {{"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(newest.out, "5|3|/home/u/mail/work|eve@example.org|caf\xC3\xA9 ^[]0;x^G\xff|%|%x\n");
    const std::string empty = dir / "empty.log";
    test::write_file(empty, "");
    const test::RunResult none = test::run_lurko({"--status", empty});
    EXPECT_EQ(none.out, "0 in 0\n");
    EXPECT_EQ(none.status, 1);  // no mail, as mailstat says

    EXPECT_EQ(
        test::run_lurko({"-o", "--json", "-H", log}).out,
        "{\"total\":5,\"folders\":[{\"name\":\"friends\",\"count\":3},"
        "{\"name\":\"lists.dev\",\"count\":1},{\"name\":\"/home/u/mail/work\",\"count\":1}]}\n");
    const std::string wide = test::run_lurko({"-o", "-w", "--json", log}).out;
    EXPECT_NE(
        wide.find("{\"folder\":\"/home/u/mail/work\",\"from\":\"eve@example.org\",\"subject\":"
                  "\"caf\xC3\xA9 "
                  "\\u001b]0;x\\u0007\xEF\xBF\xBD\",\"subject_raw\":\"=?utf-8?q?caf=C3=A9?= "
                  "\\u001b]0;x\\u0007\xEF\xBF\xBD\"}"),
        std::string::npos)
        << wide;

    const test::RunResult bad = test::run_lurko({"--notify=pager", log});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--notify"), std::string::npos);
}

TEST(Options, ReportToAFileHoldsOnlyTheReport) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);
    // Standard output a file and TERM set: the end of the screen, which runs
    // after the report too, must add no terminal control text to it.
    const test::RunResult result = test::run({"/bin/sh", "-c", "exec \"$0\" -o \"$1\" > \"$2\"",
                                              test::lurko_binary(), log, dir / "report"},
                                             {{"TERM", "xterm"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(test::read_file(dir / "report"), small_report);

    // A report that cannot be written is a failure, told on standard error.
    const test::RunResult full = test::run(
        {"/bin/sh", "-c", "exec \"$0\" -o \"$1\" > /dev/full", test::lurko_binary(), log});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "lurko error: Could not write the report: No space left on device\n");
}

TEST(Options, SettingsOfTheMonitorDoNotChangeTheReport) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"-V"},
          {"-V", "-b", "-s"},
          {"-m", "", "-M", "/nowhere", "-p", "x y", "-C", "-o"}}) {
        std::vector<std::string> args{"-o"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(log);
        const test::RunResult result = test::run_lurko(args);
        EXPECT_EQ(result.out, small_report) << extra[0];
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
        args.insert(args.begin(), "-w");
        EXPECT_EQ(test::run_lurko(args).out, small_wide_report) << extra[0];
    }
}

// ---------------------------------------------------------------------------
// Emptying the log

TEST(ClearLog, EmptiesTheLogWhateverTheOtherOptions) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-c", log},
                                                 {"-c", "-o", log},
                                                 {"-o", "-c", log},
                                                 {"-c", "-l", log},
                                                 {"-cwo", log}}) {
        test::write_file(log, small_log);
        const test::RunResult result = test::run_lurko(args);
        EXPECT_EQ(result.out, "") << args[0];
        EXPECT_EQ(result.err, "") << args[0];
        EXPECT_EQ(result.status, 0) << args[0];
        EXPECT_EQ(fs::file_size(log), 0u) << args[0];
    }
}

TEST(ClearLog, MissingLogIsAnErrorAndIsNotCreated) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    const test::RunResult result = test::run_lurko({"-c", log});
    EXPECT_EQ(result.out, log_message(log));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(fs::exists(log));
}

TEST(ClearLog, LogThatCannotBeEmptiedIsReported) {
    test::TempDir dir;
    const std::string log = dir / "a-directory";
    fs::create_directory(log);
    test::write_file(dir / "a-directory/keep", "x");
    const test::RunResult result = test::run_lurko({"-c", log});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "lurko error: Could not clear Procmail logfile '" + log + "': Is a directory\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(test::read_file(dir / "a-directory/keep"), "x");
    // A FIFO that nobody reads is not waited on.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(test::run_lurko({"-c", fifo}).status, 1);
}

TEST(ClearLog, UndoBringsTheLogBack) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    const std::string text = test::read_file(test::data_file("noisy.log"));
    test::write_file(log, text);
    EXPECT_EQ(test::run_lurko({"-c", log}).status, 0);
    test::append_file(log, "From late@x\n  Folder: inbox\n");
    EXPECT_EQ(test::run_lurko({"--undo", log}).status, 0);
    EXPECT_EQ(test::read_file(log), text + "From late@x\n  Folder: inbox\n");
    const test::RunResult again = test::run_lurko({"--undo", log});
    EXPECT_EQ(again.err, "lurko: Nothing to undo\n");
    EXPECT_EQ(again.status, 1);
}

// ---------------------------------------------------------------------------
// Finding the log through ~/.procmailrc

TEST(LogDiscovery, LogfileLineWithHome) {
    test::TempDir home;
    const test::EnvChanges env{{"HOME", home.path()}};
    test::write_file(home / ".procmailrc", "MAILDIR=$HOME/Mail\nLOGFILE=$HOME/procmail.log\n");
    test::write_file(home / "procmail.log", small_log);
    const test::RunResult result = test::run_lurko({"-o"}, env);
    EXPECT_EQ(result.out, small_report);
    EXPECT_EQ(result.status, 0);

    // -c empties the log the configuration names.
    EXPECT_EQ(test::run_lurko({"-c"}, env).status, 0);
    EXPECT_EQ(fs::file_size(home / "procmail.log"), 0u);
}

}  // namespace
