#include "log/line_scanner.hpp"

#include <cstring>
#include <memory>

namespace {

// Large blocks keep the number of reads small on big logs; a block always has
// room for the longest line that is still dispatched.
constexpr std::size_t block_size = std::size_t{256} << 10;
static_assert(block_size > 2 * LineScanner::line_limit);

// Reads up to `size` bytes. A read error ends the input like its end: file
// streams of the standard library throw on one, and nothing is reported.
std::streamsize read_block(std::streambuf& source, char* buffer, std::size_t size) {
    try {
        return source.sgetn(buffer, static_cast<std::streamsize>(size));
    } catch (const std::ios_base::failure&) {
        return 0;
    }
}

}  // namespace

bool LineScanner::matches(std::string_view keyword, std::string_view line) const {
    // Most lines differ from a keyword in their first byte: test that before
    // comparing the rest.
    return !line.empty() && line.size() >= keyword.size() && line[0] == keyword[0] &&
           std::memcmp(line.data(), keyword.data(), keyword.size()) == 0;
}

void LineScanner::dispatch(std::span<const std::string_view> words, std::string_view line,
                           bool may_hold_nul) {
    if (may_hold_nul) {
        if (const void* nul = std::memchr(line.data(), '\0', line.size())) {
            line = line.substr(
                0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
        }
    }
    for (std::size_t index = 0; index < words.size(); ++index) {
        if (matches(words[index], line)) {
            on_match(line, static_cast<int>(index));
        }
    }
}

ScanResult LineScanner::scan(std::istream& in) {
    ScanResult result;
    if (!in || in.rdbuf() == nullptr) {
        return result;
    }
    std::streambuf& source = *in.rdbuf();
    // The keyword list is fixed once the subclass is built; views of it spare
    // the dispatch of every line a look at the list itself.
    const std::vector<std::string_view> words(keywords.begin(), keywords.end());
    if (!block_) {
        block_ = std::make_unique_for_overwrite<char[]>(block_size);
    }
    char* const base = block_.get();
    std::size_t held = 0;   // bytes of the line in progress kept at the front
    bool skipping = false;  // inside a line that is too long to dispatch

    for (;;) {
        const std::streamsize got = read_block(source, base + held, block_size - held);
        if (got <= 0) {
            break;
        }
        result.bytes_read += static_cast<std::uint64_t>(got);
        const char* line = base;
        const char* const end = base + held + got;
        // One look per block spares the search for a NUL in every line.
        const bool may_hold_nul = std::memchr(base, '\0', held + got) != nullptr;
        while (const void* found = std::memchr(line, '\n', end - line)) {
            const char* newline = static_cast<const char*>(found);
            const auto length = static_cast<std::size_t>(newline - line);
            if (!skipping && length <= line_limit) {
                dispatch(words, std::string_view(line, length), may_hold_nul);
            }
            skipping = false;
            line = newline + 1;
        }
        // Without a newline in this block the last complete line has not
        // moved; counting back from the end would land inside a line whose
        // start was dropped while skipping it.
        if (line != base) {
            result.complete_bytes = result.bytes_read - static_cast<std::uint64_t>(end - line);
        }
        held = static_cast<std::size_t>(end - line);
        if (skipping || held > line_limit) {
            skipping = true;  // the rest of this line is dropped as it arrives
            held = 0;
        } else if (held > 0 && line != base) {
            std::memmove(base, line, held);
        }
    }
    if (held > 0 && !skipping) {
        dispatch(words, std::string_view(base, held), true);
    }
    in.setstate(std::ios::eofbit);
    return result;
}
