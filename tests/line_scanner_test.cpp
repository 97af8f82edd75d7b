#include "log/line_scanner.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Records every match as (keyword index, line).
class RecordingScanner : public LineScanner {
public:
    explicit RecordingScanner(std::vector<std::string> words) { keywords = std::move(words); }

    std::vector<std::pair<int, std::string>> seen;

protected:
    void on_match(std::string_view line, int index) override { seen.emplace_back(index, line); }
};

std::vector<std::pair<int, std::string>> scan_text(const std::string& text,
                                                   std::vector<std::string> words = {
                                                       "From ", "  Folder: "}) {
    RecordingScanner scanner(std::move(words));
    std::istringstream in(text);
    scanner.scan(in);
    return scanner.seen;
}

using Seen = std::vector<std::pair<int, std::string>>;

TEST(LineScanner, MatchesOnlyWholeKeywordAtLineStart) {
    RecordingScanner scanner({"From "});
    EXPECT_TRUE(scanner.matches("From ", "From "));
    EXPECT_TRUE(scanner.matches("From ", "From a@b  Mon"));
    EXPECT_FALSE(scanner.matches("From ", ""));
    EXPECT_FALSE(scanner.matches("From ", "From"));
    EXPECT_FALSE(scanner.matches("From ", " From a@b"));
    EXPECT_FALSE(scanner.matches("From ", "from a@b"));
    EXPECT_FALSE(scanner.matches("  Folder: ", " Folder: inbox"));
}

TEST(LineScanner, DispatchesMatchingLinesInOrderWithoutLineEnds) {
    const Seen seen = scan_text("From a\n\nnoise\n  Folder: x\r\nFrom b");
    EXPECT_EQ(seen, (Seen{{0, "From a"}, {1, "  Folder: x\r"}, {0, "From b"}}));
}

TEST(LineScanner, TriesEveryKeywordOnEveryLine) {
    const Seen seen = scan_text("abc\n", {"a", "ab", "x", "abc"});
    EXPECT_EQ(seen, (Seen{{0, "abc"}, {1, "abc"}, {3, "abc"}}));
}

TEST(LineScanner, MatchesKeywordsOfEveryLengthByteForByte) {
    // Keywords shorter than, as long as and longer than the words a scan
    // compares at once; lines that differ from them at each byte, or end early.
    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    for (std::size_t length = 1; length <= 20; ++length) {
        const std::string keyword = letters.substr(0, length);
        std::string text =
            keyword + "\n" + keyword + "+more\n" + keyword.substr(0, length - 1) + "\n";
        for (std::size_t at = 0; at < length; ++at) {
            std::string line = keyword + "tail";
            line[at] = '_';
            text += line + "\n";
        }
        EXPECT_EQ(scan_text(text, {keyword}), (Seen{{0, keyword}, {0, keyword + "+more"}}))
            << keyword;
    }
}

TEST(LineScanner, CutsLinesAtTheirFirstNul) {
    const Seen seen = scan_text(std::string("From a\0b\nFr\0om c\n", 17));
    EXPECT_EQ(seen, (Seen{{0, "From a"}}));
}

TEST(LineScanner, CutsOverlongLinesAndReadsOn) {
    const std::string longest = "From " + std::string(LineScanner::line_limit - 5, 'x');
    const std::string too_long = longest + "y";
    const Seen seen = scan_text(longest + "\n" + too_long + "\nFrom after\n" + too_long);
    EXPECT_EQ(seen, (Seen{{0, longest}, {0, longest}, {0, "From after"}, {0, longest}}));
}

TEST(LineScanner, HandlesLinesAcrossReadBlocks) {
    // Far more than one read block, with lines of every length up to the limit
    // and an over-long line that spans a block boundary.
    std::string text;
    std::vector<std::string> expected;
    for (std::size_t length = 5; text.size() < (std::size_t{3} << 20);
         length = length * 7 % 4086 + 5) {
        std::string line = "From " + std::string(length, 'a' + length % 26);
        text += line + "\n";
        expected.push_back(line);
        if (length % 97 == 0) {
            text += "From " + std::string(300000, 'z') + "\n";
            expected.push_back("From " + std::string(LineScanner::line_limit - 5, 'z'));
        }
    }
    const Seen seen = scan_text(text);
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(seen[i].second, expected[i]) << "line " << i;
    }
}

TEST(LineScanner, ReportsWhereTheLastCompleteLineEnds) {
    RecordingScanner scanner({"From "});
    std::istringstream in("From a\nFrom b\nFrom c");
    const ScanResult result = scanner.scan(in);
    EXPECT_EQ(result.bytes_read, 20u);
    EXPECT_EQ(result.complete_bytes, 14u);
    EXPECT_EQ(scanner.seen.size(), 3u);
}

// Hands out its text once, then fails as a file stream does on a read error.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(std::string text) : text_(std::move(text)) {}

protected:
    std::streamsize xsgetn(char* buffer, std::streamsize count) override {
        if (given_) {
            throw std::ios_base::failure("read error");
        }
        given_ = true;
        const auto size =
            std::min<std::streamsize>(count, static_cast<std::streamsize>(text_.size()));
        text_.copy(buffer, static_cast<std::size_t>(size));
        return size;
    }

private:
    std::string text_;
    bool given_ = false;
};

TEST(LineScanner, EndsAtAReadErrorWithWhatItRead) {
    RecordingScanner scanner({"From "});
    FailingBuffer buffer("From a\nFrom b");
    std::istream in(&buffer);
    scanner.scan(in);
    EXPECT_EQ(scanner.seen, (Seen{{0, "From a"}, {0, "From b"}}));
}

TEST(LineScanner, ReadsNothingFromAFailedStream) {
    RecordingScanner scanner({"From "});
    std::istringstream in("From a\n");
    in.setstate(std::ios::failbit);
    scanner.scan(in);
    EXPECT_TRUE(scanner.seen.empty());
}

}  // namespace
