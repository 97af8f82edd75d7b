// End-to-end tests of the one-shot report: its format, what a terminal gets
// to see, and agreement with the reference report of bench/gen-log on
// generated logs and on a log that real Procmail wrote.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

// Compares two long texts and, when they differ, shows the first line that
// differs instead of both texts whole.
void expect_same_text(const std::string& actual, const std::string& expected,
                      const std::string& what) {
    if (actual == expected) {
        return;
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    const std::size_t line_start = at == 0 ? 0 : actual.rfind('\n', at - 1) + 1;
    const auto line_at = [&](const std::string& text) {
        return text.substr(line_start, text.find('\n', line_start) - line_start);
    };
    const auto line_number = 1 + std::count(actual.begin(), actual.begin() + line_start, '\n');
    ADD_FAILURE() << what << ": output differs at line " << line_number << " (byte " << at
                  << ")\n  lurko:    \"" << line_at(actual) << "\"\n  expected: \""
                  << line_at(expected) << "\"\n  sizes: " << actual.size() << " and "
                  << expected.size();
}

// Runs a log generator (bench/gen-log unless told) and returns what it
// printed; the tool must succeed.
std::string generate(const std::vector<std::string>& args,
                     const std::string& tool = test::gen_log()) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    const test::RunResult result = test::run(argv);
    EXPECT_EQ(result.status, 0) << tool << " failed: " << result.err;
    return result.out;
}

// lurko's report of `log` with the given flags against the generator's.
void expect_report_agrees(const std::string& log, const std::string& label,
                          const std::string& tool = test::gen_log()) {
    struct Variant {
        std::vector<std::string> lurko_flags;
        std::vector<std::string> tool_flags;
    };
    const Variant variants[] = {
        {{"-o"}, {}},
        {{"-o", "-w"}, {"--wide"}},
        {{"-o", "-H"}, {"--hide-devnull"}},
        {{"-o", "-w", "-H"}, {"--wide", "--hide-devnull"}},
    };
    for (const Variant& variant : variants) {
        std::vector<std::string> tool_args{"--report", log, "--names", "procmail"};
        tool_args.insert(tool_args.end(), variant.tool_flags.begin(), variant.tool_flags.end());
        const std::string expected = generate(tool_args, tool);
        std::vector<std::string> args = variant.lurko_flags;
        args.push_back(log);
        const test::RunResult result = test::run_lurko(args);
        std::string what = label;
        for (const std::string& flag : variant.lurko_flags) {
            what += " " + flag;
        }
        ASSERT_EQ(result.status, 0) << what << ": " << result.err;
        EXPECT_EQ(result.err, "") << what;
        expect_same_text(result.out, expected, what);
    }
}

// What a program printed on a pseudo-terminal, and how it ended.
struct TerminalRun {
    std::string out;
    int status = -1;
};

// Runs `argv` with a pseudo-terminal as its standard input, output and error,
// in raw mode so that the bytes arrive as written, and reads until it ends.
TerminalRun run_on_terminal(const std::vector<std::string>& argv) {
    termios modes{};
    ::cfmakeraw(&modes);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, &modes, &size);
    if (child < 0) {
        ADD_FAILURE() << "forkpty failed: " << std::strerror(errno);
        return {};
    }
    if (child == 0) {
        // A terminal that curses knows: anything written besides the report
        // (a stray screen clear, say) would show in the output.
        test::exec_in_child(argv, {{"TERM", "xterm"}, {"LC_ALL", "C"}});
    }
    TerminalRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{master, POLLIN, 0};
        const int polled = left > 0 ? ::poll(&ready, 1, static_cast<int>(left)) : 0;
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled == 0) {
            ADD_FAILURE() << "no end of output within 30 s";
            ::kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got > 0) {
            run.out.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO: the program has ended and closed the terminal
        }
    }
    ::close(master);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// ---------------------------------------------------------------------------
// Format

TEST(ReportFormat, CountFieldIsFiveWideAndNeverCut) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    std::string text;
    const auto deliver = [&](const std::string& folder, int times) {
        for (int i = 0; i < times; ++i) {
            text += "  Folder: " + folder + "\t\t\t   123\n";
        }
    };
    deliver("one", 1);
    deliver("six-digits", 123456);
    deliver("four-digits", 9999);
    deliver("five-digits", 10000);
    test::write_file(log, text);
    const test::RunResult result = test::run_lurko({"-o", log});
    EXPECT_EQ(result.out,
              "123456 six-digits\n"
              "10000 five-digits\n"
              " 9999 four-digits\n"
              "    1 one\n");
    EXPECT_EQ(result.status, 0);
}

// From and Folder lines of 5,000 bytes count like any other, their fields
// cut at the 4,095 bytes a line keeps; a NUL still ends a line's text.
TEST(ReportFormat, LongLinesCountWithTheirFieldsCut) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    const std::string sender(4995, 's');
    const std::string folder(4984, 'f');
    test::write_file(log, "From " + sender + "\n Subject: long\n  Folder: " + folder +
                              "\t   273\n" + test::log_entry("a@x", {"cut\0here", 8}, "inbox"));
    const test::RunResult result = test::run_lurko({"-o", "-w", log});
    EXPECT_EQ(result.out, "    1 inbox\n      a@x: cut\n    1 " + folder.substr(0, 4085) +
                              "\n      " + sender.substr(0, 4090) + ": long\n");
    EXPECT_EQ(result.status, 0);
}

TEST(ReportFormat, LogWithoutDeliveriesPrintsNothing) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    for (const std::string& text :
         {std::string(), std::string("procmail: Couldn't create \"/var/mail/x\"\n"),
          std::string("From a@b  Mon Dec  8 07:19:03 2025\n Subject: half written\n")}) {
        test::write_file(log, text);
        for (const char* flags : {"-o", "-ow", "-oH"}) {
            const test::RunResult result = test::run_lurko({flags, log});
            EXPECT_EQ(result.out, "") << flags;
            EXPECT_EQ(result.err, "") << flags;
            EXPECT_EQ(result.status, 0) << flags;
        }
    }
}

// A subject, a sender and a folder name that carry terminal control
// sequences (an escape that sets the window title, a bell, DEL, a C1 CSI in
// its UTF-8 form, a carriage return) next to a plain UTF-8 letter, and an
// encoded word that decodes to an escape and a letter the C locale lacks.
const std::string hostile_log =
    "From evil\x1b[31m@spam.example  Mon Dec  8 07:19:03 2025\n"
    " Subject: \x1b]0;owned\x07 bell\x7f del \xc2\x9b"
    "2J caf\xc3\xa9 =?iso-8859-1?q?=1B[2J_caf=E9?=\r\n"
    "  Folder: in\x1b"
    "box\t\t\t    100\n";

TEST(ReportOnTerminal, ControlCharactersShownInCaretNotation) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, hostile_log);

    const TerminalRun shown = run_on_terminal({test::lurko_binary(), "-o", "-w", log});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out,
              "    1 in^[box\n"
              "      evil^[[31m@spam.example: ^[]0;owned^G bell^? del M-^[2J caf\xc3\xa9 ^[[2J "
              "caf?^M\n");

    // A pipe gets the bytes as the log holds them.
    const test::RunResult piped = test::run_lurko({"-o", "-w", log});
    EXPECT_EQ(piped.out,
              "    1 in\x1b"
              "box\n"
              "      evil\x1b[31m@spam.example: \x1b]0;owned\x07 bell\x7f del \xc2\x9b"
              "2J caf\xc3\xa9 =?iso-8859-1?q?=1B[2J_caf=E9?=\r\n");
    EXPECT_EQ(piped.status, 0);
}

TEST(ReportOnTerminal, PlainReportIsTheSameAsOnAPipe) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    generate({"--mails", "300", "--seed", "11", "--clean", "-o", log});
    const TerminalRun shown = run_on_terminal({test::lurko_binary(), "-o", "-w", log});
    EXPECT_EQ(shown.status, 0);
    expect_same_text(shown.out, test::run_lurko({"-o", "-w", log}).out, "terminal against pipe");
}

// ---------------------------------------------------------------------------
// Agreement with the reference report

struct GeneratedLog {
    const char* label;
    std::vector<std::string> options;
};

void PrintTo(const GeneratedLog& log, std::ostream* out) {
    *out << log.label;
}

class AgreesWithReference : public ::testing::TestWithParam<GeneratedLog> {};

TEST_P(AgreesWithReference, OnGeneratedLog) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    std::vector<std::string> args = GetParam().options;
    args.insert(args.end(), {"-o", log, "--expect"});
    const std::string expected = generate(args);
    ASSERT_FALSE(HasFailure());
    const test::RunResult plain = test::run_lurko({"-o", log});
    ASSERT_EQ(plain.status, 0);
    expect_same_text(plain.out, expected, "--expect");
    expect_report_agrees(log, GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, AgreesWithReference,
    ::testing::Values(
        GeneratedLog{"default", {"--mails", "2000", "--seed", "1"}},
        GeneratedLog{"odd", {"--mails",     "2000", "--seed",        "7",    "--odd",  "0.1",
                             "--noise",     "0.1",  "--interleave",  "0.03", "--mh",   "0.1",
                             "--dirfolder", "0.1",  "--blank-names", "0.1",  "--pipe", "0.05",
                             "--copies",    "0.05", "--no-subject",  "0.1"}},
        GeneratedLog{"clean", {"--mails", "2000", "--seed", "42", "--clean"}},
        GeneratedLog{
            "maildirs",
            {"--mails", "1500", "--seed", "3", "--clean", "--maildir", "0.6", "--devnull", "0.3"}},
        GeneratedLog{"zipf_5000_folders",
                     {"--size", "3M", "--seed", "5", "--folders", "5000", "--zipf", "0.8"}}),
    [](const auto& param_info) { return std::string(param_info.param.label); });

TEST(AgreesWithReference, OnLogWrittenByProcmail) {
    expect_report_agrees(test::source_file("examples/sample-procmail.log"), "sample-procmail.log");
}

// The generator kept beside the project, when it is there: its report, ours
// and lurko's agree on a log it wrote with odd forms, noise and interleaving.
TEST(AgreesWithReference, WithTheSharedGenerator) {
    const auto tools = test::shared_tools();
    if (!tools) {
        GTEST_SKIP() << "../shared/tools is absent: no cross-check with its log generator";
    }
    const std::string tool = *tools + "/gen-procmail-log";
    test::TempDir dir;
    generate({"--mails", "2000", "--seed", "9", "--odd", "0.1", "--noise", "0.1", "--interleave",
              "0.05", "--mh", "0.05", "--copies", "0.05", "-o", dir / "procmail.log"},
             tool);
    expect_report_agrees(dir / "procmail.log", "their log");
    expect_report_agrees(dir / "procmail.log", "their log, their report", tool);
}

}  // namespace
