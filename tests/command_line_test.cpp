#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace {

// The settings a command line gives.
Settings parse(std::vector<std::string> args) {
    test::Argv argv(std::move(args));
    return CommandLine(argv.argc(), argv.argv()).settings;
}

// Every field, so that a test can say "as the defaults, except ...".
bool same(const Settings& a, const Settings& b) {
    return a.mail_program == b.mail_program && a.mail_prefix == b.mail_prefix &&
           a.mail_dir == b.mail_dir && a.compose_args == b.compose_args && a.logfile == b.logfile &&
           a.loop == b.loop && a.clear_log == b.clear_log && a.verbose == b.verbose &&
           a.expanded == b.expanded && a.wide == b.wide && a.beep == b.beep &&
           a.no_beep_devnull == b.no_beep_devnull && a.hide_devnull == b.hide_devnull;
}

TEST(CommandLine, DefaultsWithoutArguments) {
    const Settings settings = parse({});
    EXPECT_EQ(settings.mail_program, "mutt");
    EXPECT_EQ(settings.mail_prefix, "-f");
    EXPECT_EQ(settings.mail_dir, "$HOME/mail/");
    EXPECT_EQ(settings.compose_args, "-e 'unset autoedit' -s ''");
    EXPECT_EQ(settings.logfile, "");
    EXPECT_TRUE(settings.loop);
    EXPECT_FALSE(settings.clear_log);
    EXPECT_FALSE(settings.verbose);
    EXPECT_EQ(settings.expanded, -1);
    EXPECT_FALSE(settings.wide);
    EXPECT_FALSE(settings.beep);
    EXPECT_FALSE(settings.no_beep_devnull);
    EXPECT_FALSE(settings.hide_devnull);
}

TEST(CommandLine, EachFlagSetsItsOwnSettingOnly) {
    struct Case {
        const char* option;
        bool Settings::*field;
        bool value;
    };
    const Case cases[] = {
        {"-c", &Settings::clear_log, true},    {"-o", &Settings::loop, false},
        {"-V", &Settings::verbose, true},      {"-w", &Settings::wide, true},
        {"-b", &Settings::beep, true},         {"-s", &Settings::no_beep_devnull, true},
        {"-H", &Settings::hide_devnull, true}, {"-l", &Settings::loop, true},
    };
    for (const Case& c : cases) {
        Settings expected;
        expected.*c.field = c.value;
        EXPECT_TRUE(same(parse({c.option}), expected)) << c.option;
    }
}

TEST(CommandLine, ValuesReplaceTheirSettingWhole) {
    Settings expected;
    expected.mail_program = "neomutt -n";
    expected.mail_dir = "/var/mail dir/";
    expected.mail_prefix = "";
    expected.compose_args = "-s 'a b'";
    EXPECT_TRUE(same(
        parse({"-m", "neomutt -n", "-M", "/var/mail dir/", "-p", "", "-C", "-s 'a b'"}), expected));
    // Attached to the letter, and after flags in one group.
    EXPECT_TRUE(
        same(parse({"-mneomutt -n", "-M/var/mail dir/", "-p", "", "-C-s 'a b'"}), expected));
    const Settings grouped = parse({"-owmelm"});
    EXPECT_EQ(grouped.mail_program, "elm");
    EXPECT_FALSE(grouped.loop);
    EXPECT_TRUE(grouped.wide);
    // Every setting can be emptied.
    const Settings empty = parse({"-m", "", "-M", "", "-C", ""});
    EXPECT_EQ(empty.mail_program, "");
    EXPECT_EQ(empty.mail_dir, "");
    EXPECT_EQ(empty.compose_args, "");
}

TEST(CommandLine, ValueIsTakenEvenWhenItLooksLikeAnOption) {
    const Settings settings = parse({"-m", "-o", "-p", "--", "log"});
    EXPECT_EQ(settings.mail_program, "-o");
    EXPECT_EQ(settings.mail_prefix, "--");
    EXPECT_TRUE(settings.loop);
    EXPECT_EQ(settings.logfile, "log");
}

TEST(CommandLine, LaterOptionWins) {
    EXPECT_EQ(parse({"-m", "a", "-m", "b"}).mail_program, "b");
    EXPECT_EQ(parse({"-M", "a", "-M", ""}).mail_dir, "");
    EXPECT_TRUE(parse({"-o", "-l"}).loop);
    EXPECT_FALSE(parse({"-l", "-o"}).loop);
    EXPECT_FALSE(parse({"-o", "-l", "-o"}).loop);
    EXPECT_TRUE(parse({"-ol"}).loop);
    EXPECT_FALSE(parse({"-lo"}).loop);
    // Flags other than the loop can only be switched on: repeating keeps them.
    const Settings twice = parse({"-ww", "-HH", "-cc"});
    EXPECT_TRUE(twice.wide);
    EXPECT_TRUE(twice.hide_devnull);
    EXPECT_TRUE(twice.clear_log);
}

TEST(CommandLine, LastPositionalArgumentNamesTheLog) {
    EXPECT_EQ(parse({"-o", "a.log"}).logfile, "a.log");
    EXPECT_EQ(parse({"-o", "a.log", "b.log"}).logfile, "b.log");
    EXPECT_EQ(parse({"a.log", ""}).logfile, "");
    EXPECT_EQ(parse({"-"}).logfile, "-");
}

TEST(CommandLine, OptionScanningStopsAtTheFirstPath) {
    // glibc would otherwise move "-o" in front of the path and read it.
    const Settings after_path = parse({"a.log", "-o"});
    EXPECT_EQ(after_path.logfile, "-o");
    EXPECT_TRUE(after_path.loop);

    const Settings after_dashes = parse({"-w", "--", "-o"});
    EXPECT_EQ(after_dashes.logfile, "-o");
    EXPECT_TRUE(after_dashes.wide);
    EXPECT_TRUE(after_dashes.loop);

    const Settings after_dash = parse({"-", "-o", "b.log"});
    EXPECT_EQ(after_dash.logfile, "b.log");
    EXPECT_TRUE(after_dash.loop);
}

TEST(CommandLine, EveryParseStartsAtTheFirstArgument) {
    EXPECT_FALSE(parse({"-o", "-w", "a.log"}).loop);
    const Settings second = parse({"-H", "b.log"});
    EXPECT_TRUE(second.loop);
    EXPECT_FALSE(second.wide);
    EXPECT_TRUE(second.hide_devnull);
    EXPECT_EQ(second.logfile, "b.log");
    // A parse that stopped inside a group of letters leaves nothing behind.
    EXPECT_EQ(parse({"-om", "x"}).mail_program, "x");
    EXPECT_TRUE(same(parse({}), Settings{}));
}

TEST(CommandLineDeathTest, TextOptionsEndTheProcessAsTheyAreRead) {
    // Standard output carries the texts; only the statuses and getopt's
    // diagnostics on standard error are looked at here.
    EXPECT_EXIT(parse({"-h"}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(parse({"-v"}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(parse({"-o", "-x"}), ::testing::ExitedWithCode(1), "'x'");
    for (const char letter : {'m', 'M', 'p', 'C'}) {  // a value missing
        EXPECT_EXIT(parse({"-o", std::string("-") + letter}), ::testing::ExitedWithCode(1),
                    std::string("'") + letter + "'");
    }
    EXPECT_EXIT(parse({"-h", "-x"}), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(parse({"-x", "-h"}), ::testing::ExitedWithCode(1), "'x'");
    EXPECT_EXIT(parse({"-vh"}), ::testing::ExitedWithCode(0), "^$");
    // After the first path, "-x" is a path and nothing ends the parse.
    EXPECT_EQ(parse({"a.log", "-x"}).logfile, "-x");
}

// The command line parsed in the child of a death test, which reads what it
// printed; `program` is argv[0].
void parse_printing(std::vector<std::string> args, const std::string& program = "lurko") {
    test::print_to_death_test();
    test::Argv argv(std::move(args), program);
    const CommandLine command_line(argv.argc(), argv.argv());
}

TEST(CommandLineDeathTest, TheFirstTextOptionPrintsItsText) {
    using ::testing::ExitedWithCode;
    EXPECT_EXIT(parse_printing({"-h", "-x"}), ExitedWithCode(0),
                test::exactly(test::help_output("lurko")));
    EXPECT_EXIT(parse_printing({"-x", "-h"}), ExitedWithCode(1),
                test::exactly(test::error_output("lurko")));
    EXPECT_EXIT(parse_printing({"-ovh", "a.log"}), ExitedWithCode(0), test::exactly(test::banner));
    EXPECT_EXIT(parse_printing({"-c", "-h", "a.log"}), ExitedWithCode(0),
                test::exactly(test::help_output("lurko")));
    // A missing value takes the path of an unknown option.
    for (const char* letter : {"-m", "-M", "-p", "-C"}) {
        EXPECT_EXIT(parse_printing({"-o", letter}), ExitedWithCode(1),
                    test::exactly(test::error_output("lurko")))
            << letter;
    }
}

TEST(CommandLineDeathTest, TheTextsNameTheProgramAsStarted) {
    for (const char* program : {"bin/lurko", "./lurko", "/usr/local/bin/lurko"}) {
        EXPECT_EXIT(parse_printing({"-h"}, program), ::testing::ExitedWithCode(0),
                    test::exactly(test::help_output(program)));
        EXPECT_EXIT(parse_printing({"-q"}, program), ::testing::ExitedWithCode(1),
                    test::exactly(test::error_output(program)));
    }
    // getopt's complaint names it too.
    EXPECT_EXIT(
        {
            test::Argv argv({"-q"}, "./lurko");
            const CommandLine command_line(argv.argc(), argv.argv());
        },
        ::testing::ExitedWithCode(1), "^\\./lurko: .*'q'");
}

// Records what OptionParser hands over, in order.
class RecordingParser : public OptionParser {
public:
    void on_argument(const char* argument) override {
        seen.push_back(std::string("arg ") + argument);
    }
    void on_option(char letter, const char* value) override {
        std::string entry = std::string("opt ") + letter;
        if (value != nullptr) {
            entry += std::string("=") + value;
        }
        seen.push_back(entry);
    }
    std::vector<std::string> seen;
};

std::vector<std::string> record(std::vector<std::string> args, const char* option_string) {
    test::Argv argv(std::move(args));
    RecordingParser parser;
    parser.parse(argv.argc(), argv.argv(), option_string);
    return parser.seen;
}

TEST(OptionParser, OptionsInOrderThenArguments) {
    EXPECT_EQ(record({"-a", "-bvalue", "-ab", "x", "one", "-a", "two"}, "ab:"),
              (std::vector<std::string>{"opt a", "opt b=value", "opt a", "opt b=x", "arg one",
                                        "arg -a", "arg two"}));
    EXPECT_EQ(record({"--", "-a"}, "ab:"), (std::vector<std::string>{"arg -a"}));
    EXPECT_EQ(record({}, "ab:"), (std::vector<std::string>{}));
}

TEST(OptionParser, UnknownLetterAndMissingValueArriveAsQuestionMark) {
    // The parser itself goes on; it is CommandLine that stops at '?'.
    const std::vector<std::string> seen = record({"-q", "-a", "-b"}, "ab:");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].substr(0, 5), "opt ?");
    EXPECT_EQ(seen[1], "opt a");
    EXPECT_EQ(seen[2].substr(0, 5), "opt ?");
}

}  // namespace
