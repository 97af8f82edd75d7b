// End-to-end tests of the built binary: the fixed texts, exit statuses,
// option handling and the search for the log, as a user meets them.

#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;

const std::string banner = "Lurko " LURKO_VERSION " (" LURKO_RELEASE_YEAR "-" LURKO_RELEASE_DATE
                           ") \n"
                           "Written by The Lurko developers <lurko@example.org>\n"
                           "\n"
                           "Copyright (C) " LURKO_RELEASE_YEAR
                           " The Lurko developers.\n"
                           "This is free software; see the source for copying conditions.\n"
                           "There is NO warranty, to the extent permitted by law.\n";

std::string usage(const std::string& argv0) {
    return "\nUsage: " + argv0 +
           " [option(s)] [logfile]\n"
           "  Logfile is the Procmail logfile to monitor.\n"
           "\n"
           "Options\n"
           "  -h    Print help and exit\n"
           "  -v    Print version info and exit\n"
           "  -c    Clear contents of Procmail logfile\n"
           "  -m    Specify program to read mailfolders with\n"
           "  -M    Specify directory where mailfolders are stored\n"
           "  -p    Specify mailprogram arguments to choose a mailfolder\n"
           "  -C    Specify mailprogram arguments to compose a new mail\n"
           "  -o    Print new mail and exit\n"
           "  -l    Start in curses screen\n"
           "  -V    Be verbose: Send warnings and notices to stderr\n"
           "  -w    When printing new mail and exit, include folder contents\n"
           "  -b    Beep on new mail (terminal bell)\n"
           "  -s    Do not beep when new mail folder is /dev/null\n"
           "  -H    Do not show /dev/null in the folderview\n"
           "\n";
}

std::string help_output(const std::string& argv0) {
    return banner + usage(argv0) + "Lurko can be downloaded from https://lurko.example.org/\n";
}

std::string error_output(const std::string& argv0) {
    return "\n" + banner + usage(argv0) + "Written by The Lurko developers <lurko@example.org>\n";
}

std::string log_message(const std::string& path) {
    return "lurko error: Could not find Procmail logfile '" + path + "'\n";
}

std::string config_message(const std::string& path) {
    return "lurko error: Could not find Procmail config file '" + path + "'\n";
}

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
const std::string small_log =
    "From alice@example.org  Mon Dec  8 07:19:03 2025\n"
    " Subject: Lunch on Friday?\n"
    "  Folder: friends\t\t\t\t\t\t\t    273\n"
    "From spam@spam.example  Mon Dec  8 07:20:00 2025\n"
    " Subject: You WON\n"
    "  Folder: /dev/null\t\t\t\t\t\t\t    306\n"
    "From bob@example.org  Mon Dec  8 08:03:16 2025\n"
    " Subject: Re: Lunch on Friday?\n"
    "  Folder: friends\t\t\t\t\t\t\t    269\n"
    "procmail: Skipped \"x\"\n"
    "From dev@lists.example.org  Mon Dec  8 08:31:42 2025\n"
    " Subject: [dev]  two  blanks \n"
    "  Folder: lists.dev/new/1796763858.23576_1.mailhost\t\t\t    298\n"
    "From more@spam.example  Mon Dec  8 09:00:00 2025\n"
    "  Folder: /dev/null\t\t\t\t\t\t\t    306\n"
    "From carol@example.org  Mon Dec  8 09:10:00 2025\n"
    " Subject: Hi\n"
    "  Folder: friends\t\t\t\t\t\t\t    200\n";

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

    const test::RunResult help = test::run_lurko({"-h"});
    EXPECT_EQ(help.out, help_output(argv0));
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.status, 0);

    const test::RunResult version = test::run_lurko({"-v"});
    EXPECT_EQ(version.out, banner);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, 0);

    const test::RunResult unknown = test::run_lurko({"-x"});
    EXPECT_EQ(unknown.out, error_output(argv0));
    expect_getopt_diagnostic(unknown.err, argv0, 'x');
    EXPECT_EQ(unknown.status, 1);
}

TEST(FixedTexts, MissingValueTakesTheErrorPath) {
    const std::string argv0 = test::lurko_binary();
    for (const char* value_letter : {"-m", "-M", "-p", "-C"}) {
        const test::RunResult result = test::run_lurko({"-o", value_letter});
        EXPECT_EQ(result.out, error_output(argv0)) << value_letter;
        expect_getopt_diagnostic(result.err, argv0, value_letter[1]);
        EXPECT_EQ(result.status, 1) << value_letter;
    }
}

TEST(FixedTexts, FirstTextOptionDecides) {
    const std::string argv0 = test::lurko_binary();
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);

    const test::RunResult help_first = test::run_lurko({"-h", "-x"});
    EXPECT_EQ(help_first.out, help_output(argv0));
    EXPECT_EQ(help_first.err, "");  // getopt never got to -x
    EXPECT_EQ(help_first.status, 0);

    const test::RunResult error_first = test::run_lurko({"-x", "-h"});
    EXPECT_EQ(error_first.out, error_output(argv0));
    expect_getopt_diagnostic(error_first.err, argv0, 'x');
    EXPECT_EQ(error_first.status, 1);

    const test::RunResult in_a_group = test::run_lurko({"-ovh", log});
    EXPECT_EQ(in_a_group.out, banner);
    EXPECT_EQ(in_a_group.status, 0);

    // The help ends the process before the run mode is chosen.
    const test::RunResult clear_then_help = test::run_lurko({"-c", "-h", log});
    EXPECT_EQ(clear_then_help.out, help_output(argv0));
    EXPECT_EQ(clear_then_help.status, 0);
    EXPECT_EQ(test::read_file(log), small_log);
}

TEST(FixedTexts, NeedNoLogNoConfigurationAndNoHome) {
    const std::string argv0 = test::lurko_binary();
    test::TempDir empty_home;
    for (const test::EnvChanges& env :
         {test::EnvChanges{{"HOME", std::nullopt}}, test::EnvChanges{{"HOME", empty_home.path()}},
          test::EnvChanges{{"HOME", ""}}}) {
        const test::RunResult help = test::run({argv0, "-h"}, env, empty_home.path());
        EXPECT_EQ(help.out, help_output(argv0));
        EXPECT_EQ(help.status, 0);
        const test::RunResult version = test::run({argv0, "-v", "no-such.log"}, env);
        EXPECT_EQ(version.out, banner);
        EXPECT_EQ(version.status, 0);
    }
}

TEST(FixedTexts, UsageNamesTheProgramAsStarted) {
    const fs::path binary = test::lurko_binary();
    const fs::path parent = binary.parent_path().parent_path();
    const std::string relative = binary.parent_path().filename() / binary.filename();

    const test::RunResult by_relative_path = test::run({relative, "-h"}, {}, parent);
    EXPECT_EQ(by_relative_path.out, help_output(relative));
    EXPECT_EQ(by_relative_path.status, 0);

    const std::string dotted = "./" + binary.filename().string();
    const test::RunResult by_dot = test::run({dotted, "-q"}, {}, binary.parent_path());
    EXPECT_EQ(by_dot.out, error_output(dotted));
    expect_getopt_diagnostic(by_dot.err, dotted, 'q');

    const test::RunResult by_absolute_path = test::run({binary.string(), "-h"});
    EXPECT_EQ(by_absolute_path.out, help_output(binary.string()));
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
    EXPECT_EQ(test::run_lurko({"-wo", log}).out, small_wide_report);

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
}

TEST(Options, ReportToAFileHoldsOnlyTheReport) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);
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

TEST(Options, LastOfLoopAndReportDecides) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);
    EXPECT_EQ(test::run_lurko({"-l", "-o", log}).out, small_report);
    EXPECT_EQ(test::run_lurko({"-o", "-l", "-o", log}).out, small_report);
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

TEST(Options, LastPositionalArgumentIsTheLog) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, small_log);
    const std::string other = dir / "other.log";
    test::write_file(other, "  Folder: elsewhere\n");

    EXPECT_EQ(test::run_lurko({"-o", other, log}).out, small_report);
    EXPECT_EQ(test::run_lurko({"-o", dir / "missing.log", log}).out, small_report);

    const test::RunResult missing_last = test::run_lurko({"-o", log, dir / "missing.log"});
    EXPECT_EQ(missing_last.out, log_message(dir / "missing.log"));
    EXPECT_EQ(missing_last.status, 1);
}

TEST(Options, PathBeforeAnOptionEndsOptionScanning) {
    test::TempDir dir;
    test::write_file(dir / "procmail.log", small_log);
    const std::string binary = test::lurko_binary();

    const test::RunResult result = test::run({binary, "procmail.log", "-o"}, {}, dir.path());
    EXPECT_EQ(result.out, log_message("-o"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);

    const test::RunResult after_dashes = test::run({binary, "-o", "--", "-w"}, {}, dir.path());
    EXPECT_EQ(after_dashes.out, log_message("-w"));
    EXPECT_EQ(after_dashes.status, 1);

    // A lone "-" is a path like any other, and so is a file of that name.
    test::write_file(dir / "-", small_log);
    const test::RunResult dash = test::run({binary, "-o", "-"}, {}, dir.path());
    EXPECT_EQ(dash.out, small_report);
    EXPECT_EQ(dash.status, 0);
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

TEST(ClearLog, LogThatCannotBeEmptiedIsNotReported) {
    test::TempDir dir;
    const std::string log = dir / "a-directory";
    fs::create_directory(log);
    test::write_file(dir / "a-directory/keep", "x");
    const test::RunResult result = test::run_lurko({"-c", log});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_file(dir / "a-directory/keep"), "x");
    // A FIFO that nobody reads is not waited on.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(test::run_lurko({"-c", fifo}).status, 0);
}

// ---------------------------------------------------------------------------
// Finding the log through ~/.procmailrc

class LogDiscovery : public ::testing::Test {
protected:
    // Runs lurko with HOME set to the temporary home.
    test::RunResult run_home(const std::vector<std::string>& args) {
        return test::run_lurko(args, {{"HOME", home.path()}});
    }
    void write_rc(const std::string& text) { test::write_file(home / ".procmailrc", text); }

    test::TempDir home;
};

TEST_F(LogDiscovery, LogfileLineWithHome) {
    write_rc("MAILDIR=$HOME/Mail\nLOGFILE=$HOME/procmail.log\n");
    test::write_file(home / "procmail.log", small_log);
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, small_report);
    EXPECT_EQ(result.status, 0);

    // An empty positional argument counts as none.
    EXPECT_EQ(run_home({"-o", ""}).out, small_report);

    // -c empties the log the configuration names.
    EXPECT_EQ(run_home({"-c"}).status, 0);
    EXPECT_EQ(fs::file_size(home / "procmail.log"), 0u);
}

TEST_F(LogDiscovery, LaterLogfileLineWins) {
    test::write_file(home / "procmail.log", small_log);
    write_rc("LOGFILE=$HOME/old.log\nLOGFILE=$HOME/procmail.log\n");
    EXPECT_EQ(run_home({"-o"}).out, small_report);

    write_rc("LOGFILE=$HOME/procmail.log\nLOGFILE=$HOME/old.log\n");
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, log_message(home / "old.log"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(LogDiscovery, TheMessageShowsThePathEvaluated) {
    write_rc("LOGDIR=$HOME/logs\nLOGFILE=$LOGDIR/$HOME.log\n");
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, log_message(home.path() + "/logs/" + home.path() + ".log"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(LogDiscovery, QuotesAndCommentsAreProcmails) {
    test::write_file(home / "procmail.log", small_log);
    write_rc("LOGFILE=\"$HOME/procmail.log\"  # where procmail writes\n");
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, small_report);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST_F(LogDiscovery, NoLogfileAssignmentGivesAnEmptyPath) {
    test::write_file(home / "procmail.log", small_log);
    write_rc(
        "# LOGFILE=$HOME/procmail.log\n"
        "logfile=$HOME/procmail.log\n"
        ":0\n* ^Subject: x\n{ LOGFILE=$HOME/procmail.log }\n");
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, log_message(""));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
}

TEST_F(LogDiscovery, UnreadableConfigurationGivesAnEmptyPath) {
    // A directory passes the existence test but cannot be read as a file.
    std::filesystem::create_directory(home / ".procmailrc");
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, log_message(""));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);
}

TEST_F(LogDiscovery, NoConfigurationNamesThePathTried) {
    const test::RunResult result = run_home({"-o"});
    EXPECT_EQ(result.out, config_message(home / ".procmailrc"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 1);

    // A path on the command line needs no configuration.
    test::write_file(home / "procmail.log", small_log);
    EXPECT_EQ(run_home({"-o", home / "procmail.log"}).out, small_report);
    EXPECT_EQ(test::run_lurko({"-o", home / "procmail.log"}, {{"HOME", std::nullopt}}).out,
              small_report);
}

TEST_F(LogDiscovery, EmptyHomeLooksAtTheRoot) {
    ASSERT_FALSE(fs::exists("/.procmailrc")) << "this machine has a /.procmailrc";
    const test::RunResult result = test::run_lurko({"-o"}, {{"HOME", ""}});
    EXPECT_EQ(result.out, config_message("/.procmailrc"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(LogDiscovery, UnsetHomeUsesThePasswordEntry) {
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr) << "the test user has no password entry";
    const std::string rc = std::string(entry->pw_dir) + "/.procmailrc";
    const test::RunResult result = test::run_lurko({"-o"}, {{"HOME", std::nullopt}});
    if (!fs::exists(rc)) {
        EXPECT_EQ(result.out, config_message(rc));
        EXPECT_EQ(result.status, 1);
    } else {
        // The user's own configuration was read; it cannot be the message
        // about a missing one.
        EXPECT_EQ(result.out.find("config file"), std::string::npos) << result.out;
    }
}

}  // namespace
