// The README shows what the monitor looks like. This test draws that screen
// again with the real binary and compares; with LURKO_UPDATE_README=1 in the
// environment it writes the new capture into the README instead.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "terminal_harness.hpp"
#include "test_support.hpp"

namespace {

constexpr std::string_view begin_marker =
    "<!-- screen: 80x24, examples/sample-procmail.log -->\n```text\n";
constexpr std::string_view end_marker = "```\n<!-- end of screen -->";

std::string capture_screen() {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    test::Terminal term({test::lurko_binary(), log}, {});
    EXPECT_TRUE(term.wait_for_text("New mail")) << term.screen();
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
    const std::size_t begin = readme.find(begin_marker);
    ASSERT_NE(begin, std::string::npos) << "the README has no screen capture";
    const std::size_t start = begin + begin_marker.size();
    const std::size_t end = readme.find(end_marker, start);
    ASSERT_NE(end, std::string::npos);

    const std::string screen = capture_screen();
    const char* update = std::getenv("LURKO_UPDATE_README");
    if (update != nullptr && std::string(update) == "1") {
        readme.replace(start, end - start, screen);
        test::write_file(path, readme);
        GTEST_SKIP() << "README updated";
    }
    EXPECT_EQ(readme.substr(start, end - start), screen)
        << "the README's screen capture is out of date: run this test with LURKO_UPDATE_README=1";
}

}  // namespace
