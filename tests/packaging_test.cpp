// What is installed beside the program: the manual page and the bash
// completion.

#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"

namespace {

// The words bash completion offers for the command line `line`, whose last
// word is being completed, one per line.
std::string complete(const std::string& line, const std::string& cwd = "/") {
    const std::string script = "source '" + test::source_file("packaging/lurko.bash") +
                               "'\n"
                               "COMP_LINE='" +
                               line +
                               "'\n"
                               "read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
                               "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                               "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                               "_lurko\n"
                               "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    const test::RunResult result = test::run({"/bin/bash", "-c", script}, {}, cwd);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

TEST(Completion, OffersOptionsAndFileNames) {
    const std::string options = complete("lurko -");
    for (const char* option : {"-h\n", "-o\n", "-w\n", "-H\n", "--help\n", "--version\n"}) {
        EXPECT_NE(options.find(option), std::string::npos) << option << " in\n" << options;
    }
    EXPECT_EQ(complete("lurko --ver"), "--version\n");

    test::TempDir dir;
    test::write_file(dir / "procmail.log", "");
    test::write_file(dir / "other", "");
    EXPECT_EQ(complete("lurko -o proc", dir.path()), "procmail.log\n");
    EXPECT_EQ(complete("lurko -M /us"), "/usr\n");
    EXPECT_EQ(complete("lurko -p "), "\n");  // the client's own words: nothing to offer
}

TEST(ManualPage, RendersWithoutWarnings) {
    const test::RunResult lint =
        test::run({"/usr/bin/groff", "-man", "-ww", "-z", test::source_file("docs/lurko.1.in")});
    EXPECT_EQ(lint.status, 0);
    EXPECT_EQ(lint.err, "");
}

}  // namespace
