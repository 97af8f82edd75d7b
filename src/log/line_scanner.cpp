#include "log/line_scanner.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

std::uint64_t load_word(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Calls `line_end(newline, nul)` for every newline in [from, end), in order,
// with `nul` the address of a NUL byte, or nullptr: no line that starts
// after `nul` holds one. Log lines are short: finding the newlines and NULs
// of 64 bytes at once costs less than a search per line.
template <typename LineEnd>
void for_each_newline(const char* from, const char* end, const char* nul, LineEnd&& line_end) {
#ifdef __SSE2__
    const auto marks = [](const char* at, char byte) -> std::uint64_t {
        const __m128i wanted = _mm_set1_epi8(byte);
        std::uint64_t found = 0;
        for (std::size_t part = 0; part < 4; ++part) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
            found |= std::uint64_t{static_cast<std::uint32_t>(
                         _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))}
                     << (16 * part);
        }
        return found;
    };
    for (; end - from >= 64; from += 64) {
        if (const std::uint64_t nuls = marks(from, '\0'); nuls != 0) {
            nul = from + 63 - std::countl_zero(nuls);  // the last one: later lines start after it
        }
        for (std::uint64_t found = marks(from, '\n'); found != 0; found &= found - 1) {
            line_end(from + std::countr_zero(found), nul);
        }
    }
#endif
    const auto rest = static_cast<std::size_t>(end - from);
    if (rest > 0 && std::memchr(from, '\0', rest) != nullptr) {
        nul = end - 1;
    }
    while (const void* found = std::memchr(from, '\n', static_cast<std::size_t>(end - from))) {
        line_end(static_cast<const char*>(found), nul);
        from = static_cast<const char*>(found) + 1;
    }
}

}  // namespace

LineScanner::Keyword::Keyword(std::string_view keyword) : text(keyword) {
    char padded[16] = {};
    keyword.copy(padded, std::min(keyword.size(), sizeof padded));
    head = load_word(padded);
    // Built in memory like the words it masks, it selects the keyword's bytes
    // whatever the byte order of the machine.
    char mask_bytes[8] = {};
    std::memset(mask_bytes, 0xff, std::min(keyword.size(), sizeof mask_bytes));
    head_mask = load_word(mask_bytes);
    if (keyword.size() > 8) {
        tail = load_word(keyword.data() + std::min<std::size_t>(keyword.size(), 16) - 8);
    }
}

bool LineScanner::Keyword::starts(std::string_view line) const {
    if (line.size() < text.size()) {
        return false;
    }
    if (line.size() < 8) {
        return std::memcmp(line.data(), text.data(), text.size()) == 0;
    }
    if (((load_word(line.data()) ^ head) & head_mask) != 0) {
        return false;
    }
    if (text.size() <= 8) {
        return true;
    }
    // The keyword's last eight of its first sixteen bytes, which overlap the
    // first eight when it is shorter; the rest, if any, compared whole.
    const std::size_t tail_end = std::min<std::size_t>(text.size(), 16);
    return load_word(line.data() + tail_end - 8) == tail &&
           (text.size() <= 16 ||
            std::memcmp(line.data() + 16, text.data() + 16, text.size() - 16) == 0);
}

bool LineScanner::matches(std::string_view keyword, std::string_view line) const {
    // Most lines differ from a keyword in their first byte: test that before
    // comparing the rest.
    return line.size() >= keyword.size() &&
           (keyword.empty() || (line[0] == keyword[0] &&
                                std::memcmp(line.data(), keyword.data(), keyword.size()) == 0));
}

void LineScanner::dispatch(std::span<const Keyword> words, std::string_view line,
                           bool may_hold_nul) {
    if (may_hold_nul) {
        if (const void* nul = std::memchr(line.data(), '\0', line.size())) {
            line = line.substr(
                0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
        }
    }
    for (std::size_t index = 0; index < words.size(); ++index) {
        if (words[index].starts(line)) {
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
    // The keyword list is fixed once the subclass is built; a copy made for
    // matching spares the dispatch of every line a look at the list itself.
    const std::vector<Keyword> words(keywords.begin(), keywords.end());
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
        // The bytes held have no newline: the search starts after them.
        const char* held_nul = std::memchr(base, '\0', held) != nullptr ? base : nullptr;
        for_each_newline(base + held, end, held_nul, [&](const char* newline, const char* nul) {
            const auto length = static_cast<std::size_t>(newline - line);
            if (!skipping && (length <= line_limit || long_lines_ == LongLines::Cut)) {
                dispatch(words, std::string_view(line, std::min(length, line_limit)),
                         nul != nullptr && nul >= line);
            }
            skipping = false;
            line = newline + 1;
        });
        // Without a newline in this block the last complete line has not
        // moved; counting back from the end would land inside a line whose
        // start was dropped while skipping it.
        if (line != base) {
            result.complete_bytes = result.bytes_read - static_cast<std::uint64_t>(end - line);
        }
        held = static_cast<std::size_t>(end - line);
        if (!skipping && held > line_limit && long_lines_ == LongLines::Cut) {
            // A line longer than the limit counts with its first line_limit
            // bytes; the rest of it is dropped as it arrives.
            dispatch(words, std::string_view(line, line_limit), true);
        }
        on_lines_expire();
        if (skipping || held > line_limit) {
            skipping = true;  // the rest of this line is dropped as it arrives
            held = 0;
        } else if (held > 0 && line != base) {
            std::memmove(base, line, held);
        }
    }
    if (held > 0 && !skipping) {
        dispatch(words, std::string_view(base, held), true);
        on_lines_expire();
    }
    in.setstate(std::ios::eofbit);
    return result;
}
