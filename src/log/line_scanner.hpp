#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Where a scan stopped, counted in bytes from the stream position it began at.
struct ScanResult {
    std::uint64_t bytes_read = 0;      // everything taken from the stream
    std::uint64_t complete_bytes = 0;  // up to and including the last newline
};

// Reads a text stream line by line and reports the lines that begin with one
// of an ordered list of keywords. Subclasses supply the keywords and on_match.
//
// Line rules: a newline ends a line and is not part of it; a carriage return
// before it is. A line is cut at its first NUL byte. A line of more than
// line_limit bytes is cut there, so that what one line takes in memory is
// bounded, and counts like any other; a scanner built with LongLines::Skip
// skips such lines whole instead. Either way reading goes on after them. A
// last line without a newline counts as a line.
class LineScanner {
public:
    static constexpr std::size_t line_limit = 4095;

    enum class LongLines { Cut, Skip };

    // True when the line begins with the whole keyword: an empty line matches
    // only the empty keyword, which matches every line. Byte for byte: case
    // and blanks count.
    bool matches(std::string_view keyword, std::string_view line) const;

    virtual ~LineScanner() = default;

    // Reads `in` from its position to its end and calls on_match for every
    // matching line, once per matching keyword. A stream that is already
    // failed is not read.
    ScanResult scan(std::istream& in);

    LineScanner(const LineScanner&) = delete;
    LineScanner& operator=(const LineScanner&) = delete;

protected:
    explicit LineScanner(LongLines long_lines = LongLines::Cut) : long_lines_(long_lines) {}

    // One matching line (without its line end) and the keyword's index.
    virtual void on_match(std::string_view line, int index) = 0;

    // The lines handed to on_match so far are about to be overwritten: a
    // subclass that kept views of them copies what it still needs.
    virtual void on_lines_expire() {}

    std::vector<std::string> keywords;

private:
    // A keyword as a scan matches it: its first sixteen bytes also as two
    // words, so that a line is mostly told from it by two loads.
    struct Keyword {
        explicit Keyword(std::string_view keyword);
        // The same as matches(text, line).
        bool starts(std::string_view line) const;

        std::string_view text;
        std::uint64_t head = 0;       // the first eight bytes, zero-padded
        std::uint64_t head_mask = 0;  // the bits of head that are the keyword's
        std::uint64_t tail = 0;       // bytes 8..16 (or the last eight), when longer than 8
    };

    // Cuts the line at its first NUL, when it may hold one, and hands it to
    // on_match for every one of the keywords `words` it matches.
    void dispatch(std::span<const Keyword> words, std::string_view line, bool may_hold_nul);

    // The block the scans read into, made at the first scan and kept: the
    // monitor scans the log again at every delivery.
    std::unique_ptr<char[]> block_;
    LongLines long_lines_;
};
