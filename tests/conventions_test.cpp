// The conventions a terminal user relies on beyond the single-letter options:
// --help and --version, and NO_COLOR.

#include <gtest/gtest.h>

#include <string>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace {

TEST(LongOptions, HelpAndVersionDoWhatTheLettersDo) {
    const test::RunResult help = test::run_lurko({"--help"}, {{"HOME", std::nullopt}});
    const test::RunResult letter = test::run_lurko({"-h"}, {{"HOME", std::nullopt}});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, letter.out);
    EXPECT_EQ(help.err, "");

    const test::RunResult version = test::run_lurko({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, test::run_lurko({"-v"}).out);

    // Read in order like the letters: what comes first decides.
    EXPECT_EQ(test::run_lurko({"-c", "--help", "/nonexistent"}).status, 0);
    EXPECT_EQ(test::run_lurko({"-x", "--help"}).status, 1);
}

TEST(LongOptions, AnyOtherIsAnUnknownOption) {
    const test::RunResult error = test::run_lurko({"-x"});
    for (const std::string option : {"--foo", "--he", "--versio", "--help=yes", "--beep"}) {
        const test::RunResult result = test::run_lurko({option, "/dev/null"});
        EXPECT_EQ(result.status, 1) << option;
        EXPECT_EQ(result.out, error.out) << option;  // the usage text, as for -x
        EXPECT_NE(result.err.find(option.substr(0, option.find('='))), std::string::npos)
            << option << ": " << result.err;
    }
}

// The top bar's cell at column 50 of the monitor started on `log`.
test::Cell top_bar(const std::string& log, const test::EnvChanges& env) {
    test::TerminalOptions options;
    options.env = env;
    test::Terminal term({test::lurko_binary(), log}, options);
    EXPECT_TRUE(term.wait_for_text("New mail")) << term.screen();
    EXPECT_TRUE(term.settle());
    const test::Cell cell = term.cell(0, 50);
    const test::Cell selected = term.cell(1, 40);
    EXPECT_EQ(cell.reverse, selected.reverse) << "the selected row is highlighted like the bar";
    term.type("q");
    EXPECT_TRUE(term.wait_exit());
    return cell;
}

TEST(NoColour, SetAndNotEmptyMeansReverseVideo) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, "From a\n Subject: s\n  Folder: inbox\n");

    const test::Cell plain = top_bar(log, {{"NO_COLOR", "1"}});
    EXPECT_TRUE(plain.reverse);
    EXPECT_EQ(plain.background, test::default_colour);

    const test::Cell empty = top_bar(log, {{"NO_COLOR", ""}});
    EXPECT_FALSE(empty.reverse);
    EXPECT_EQ(empty.background, test::blue);

    const test::Cell unset = top_bar(log, {{"NO_COLOR", std::nullopt}});
    EXPECT_EQ(unset.background, 4);
}

}  // namespace
