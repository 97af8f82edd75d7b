// The README shows what the monitor looks like. This test draws that screen
// again with the real binary and compares; with LURKO_UPDATE_README=1 in the
// environment it writes the new capture into the README instead.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace {

// The captures: the first screen, and the first folder's mails listed (h) in
// a UTF-8 locale, their subjects decoded.
constexpr std::string_view begin_markers[] = {
    "<!-- screen: 80x24, examples/sample-procmail.log -->\n```text\n",
    "<!-- screen: 80x24, examples/sample-procmail.log, h in C.UTF-8 -->\n```text\n"};
constexpr std::string_view end_marker = "```\n<!-- end of screen -->";

std::string capture_screen(bool expanded) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    test::TerminalOptions options;
    options.env = {{"LC_ALL", expanded ? "C.UTF-8" : "C"}};
    test::Terminal term({test::lurko_binary(), log}, options);
    EXPECT_TRUE(term.wait_for_text("New mail")) << term.screen();
    term.type(expanded ? "h" : "");
    EXPECT_TRUE(term.settle());
    std::string text;
    for (int row = 0; row < term.rows(); ++row) {
        text += term.row_text(row) + "\n";
    }
    term.type("q");
    EXPECT_TRUE(term.wait_exit());
    return text;
}

TEST(Readme, ShowsTheMonitorAsItIs) {
    const std::string path = test::source_file("README.md");
    std::string readme = test::read_file(path);
    const char* update = std::getenv("LURKO_UPDATE_README");
    const bool updating = update != nullptr && std::string(update) == "1";
    for (const bool expanded : {false, true}) {
        const std::string_view marker = begin_markers[expanded ? 1 : 0];
        const std::size_t begin = readme.find(marker);
        ASSERT_NE(begin, std::string::npos) << "the README has no capture " << marker;
        const std::size_t start = begin + marker.size();
        const std::size_t end = readme.find(end_marker, start);
        ASSERT_NE(end, std::string::npos);
        const std::string screen = capture_screen(expanded);
        if (updating) {
            readme.replace(start, end - start, screen);
        } else {
            EXPECT_EQ(readme.substr(start, end - start), screen)
                << marker << "is out of date: run this test with LURKO_UPDATE_README=1";
        }
    }
    if (updating) {
        test::write_file(path, readme);
        GTEST_SKIP() << "README updated";
    }
}

}  // namespace
