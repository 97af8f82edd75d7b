#include "log/encoded_words.hpp"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cwchar>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Longest charset name taken; the longest registered one has 45 characters.
constexpr std::size_t max_charset_length = 64;
// Charsets whose converters are kept open; at least two, the one in use and
// the one being opened.
constexpr std::size_t max_cached_charsets = 8;
static_assert(max_cached_charsets >= 2);

bool is_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Charset names: letters, digits and the punctuation of registered names. No
// '/' or ',', which would let a name add conversion options.
bool is_charset_char(char c) {
    return is_alnum(c) || c == '-' || c == '_' || c == '.' || c == ':' || c == '+';
}

bool is_language_char(char c) {
    return is_alnum(c) || c == '-';
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_charset(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// One encoded word: "=?" charset ["*" language] "?" encoding "?" text "?=".
struct EncodedWord {
    std::string_view charset;
    char encoding = 0;  // 'B' or 'Q'
    std::string_view encoded;
    std::size_t end = 0;  // where the text after the word begins
    bool cut = false;     // it ends the text without its closing "?="
};

// The encoded word that begins at `at`, where the text holds "=?"; nullopt
// when none does. Encoded text runs up to the next '?', blank or tab; at the
// end of the text it is taken as cut short.
std::optional<EncodedWord> parse_word(std::string_view text, std::size_t at) {
    EncodedWord word;
    std::size_t i = at + 2;
    const std::size_t charset_begin = i;
    while (i < text.size() && is_charset_char(text[i])) {
        ++i;
    }
    word.charset = text.substr(charset_begin, i - charset_begin);
    // A name without a letter or digit ("+", "++") is no charset, and iconv
    // would take it for the locale's own.
    if (word.charset.size() > max_charset_length ||
        std::none_of(word.charset.begin(), word.charset.end(), is_alnum)) {
        return std::nullopt;
    }
    if (i < text.size() && text[i] == '*') {  // a language, as in "=?utf-8*en?Q?...?="
        ++i;
        while (i < text.size() && is_language_char(text[i])) {
            ++i;
        }
    }
    if (i + 2 >= text.size() || text[i] != '?' || text[i + 2] != '?') {
        return std::nullopt;
    }
    word.encoding = text[i + 1] == 'b' ? 'B' : text[i + 1] == 'q' ? 'Q' : text[i + 1];
    if (word.encoding != 'B' && word.encoding != 'Q') {
        return std::nullopt;
    }
    i += 3;
    const std::size_t encoded_begin = i;
    while (i < text.size() && text[i] != '?' && !is_blank(text[i])) {
        ++i;
    }
    word.encoded = text.substr(encoded_begin, i - encoded_begin);
    if (i + 1 < text.size() && text[i] == '?' && text[i + 1] == '=') {
        word.end = i + 2;
    } else if (i == text.size() || (i + 1 == text.size() && text[i] == '?')) {
        word.end = text.size();
        word.cut = true;
    } else {
        return std::nullopt;
    }
    return word;
}

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// Appends every whole byte the base64 text holds; bits that do not make a
// byte (missing padding, a cut) are left out. False for a character outside
// the alphabet or one after the padding.
bool decode_base64(std::string_view encoded, std::string& bytes) {
    unsigned bits = 0;
    int bit_count = 0;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '=') {
            return encoded.find_first_not_of('=', i) == std::string_view::npos;
        }
        const int value = base64_value(encoded[i]);
        if (value < 0) {
            return false;
        }
        bits = (bits << 6 | static_cast<unsigned>(value)) & 0xffffff;
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            bytes.push_back(static_cast<char>(bits >> bit_count & 0xff));
        }
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char l = lower(c);
    return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

// Appends the bytes of Q-encoded text: '_' is a blank, "=XX" a byte, anything
// else itself. False for an '=' without two hex digits, except one that a cut
// leaves at the end, which is dropped.
bool decode_q(std::string_view encoded, bool cut, std::string& bytes) {
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '_') {
            bytes.push_back(' ');
        } else if (c != '=') {
            bytes.push_back(c);
        } else if (i + 2 < encoded.size() && hex_value(encoded[i + 1]) >= 0 &&
                   hex_value(encoded[i + 2]) >= 0) {
            bytes.push_back(
                static_cast<char>(hex_value(encoded[i + 1]) << 4 | hex_value(encoded[i + 2])));
            i += 2;
        } else {
            const bool at_end = i + 1 == encoded.size() ||
                                (i + 2 == encoded.size() && hex_value(encoded[i + 1]) >= 0);
            return cut && at_end;
        }
    }
    return true;
}

struct IconvClose {
    void operator()(void* cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvClose>;

// Converters from charsets to wide characters, by charset name, the most
// recently used first; a charset iconv does not know is kept too, with no
// converter. Only a few are kept open, however many charsets a subject names.
// Wide characters do not depend on the locale, so neither do the converters.
class Converters {
public:
    // The converter from `charset`, or nullptr. Opening one may close the
    // least recently used, never `in_use`, which its caller still holds.
    iconv_t find(std::string_view charset, iconv_t in_use) {
        const auto found = std::find_if(cache_.begin(), cache_.end(), [&](const Entry& entry) {
            return same_charset(entry.name, charset);
        });
        if (found != cache_.end()) {
            std::rotate(cache_.begin(), found, found + 1);
            return cache_.front().converter.get();
        }
        if (cache_.size() == max_cached_charsets) {
            auto evicted = cache_.end() - 1;
            if (in_use != nullptr && evicted->converter.get() == in_use) {
                --evicted;
            }
            cache_.erase(evicted);  // closes its converter
        }
        std::string name(charset);
        iconv_t cd = ::iconv_open("WCHAR_T", name.c_str());
        // (iconv_t)-1 is how iconv_open says it knows no such charset.
        if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
            cd = nullptr;
        }
        cache_.insert(cache_.begin(), Entry{std::move(name), Converter(cd)});
        return cd;
    }

private:
    struct Entry {
        std::string name;
        Converter converter;
    };
    std::vector<Entry> cache_;
};

// Turns wide characters into the locale's multibyte form, '?' for those it
// cannot show.
class LocaleWriter {
public:
    LocaleWriter(std::string& out, DecodeTo target) : out_(out), utf8_(target == DecodeTo::Utf8) {}

    void put(wchar_t c) {
        // Some converters let through values that are no characters: beyond
        // U+10FFFF (UTF-8 lead bytes F5 to F7, UCS-4) or surrogates. glibc's
        // UTF-8 locales would write them as byte sequences no terminal takes.
        if (c < L'\0' || c > L'\U0010FFFF' || (c >= L'\xD800' && c <= L'\xDFFF')) {
            out_.push_back('?');
            return;
        }
        if (utf8_) {
            append_utf8(static_cast<char32_t>(c));
            return;
        }
        std::array<char, MB_LEN_MAX> buffer{};
        const std::size_t length = std::wcrtomb(buffer.data(), c, &state_);
        // glibc's C locale writes nothing for some characters (the tags
        // U+E0000 to U+E007F) rather than failing: those are not shown either.
        if (length == static_cast<std::size_t>(-1) || (length == 0 && c != L'\0')) {
            state_ = std::mbstate_t{};
            out_.push_back('?');
        } else {
            out_.append(buffer.data(), length);
        }
    }

    // Returns a stateful locale charset to its initial shift state.
    void finish() {
        if (!std::mbsinit(&state_)) {
            std::array<char, MB_LEN_MAX> buffer{};
            const std::size_t length = std::wcrtomb(buffer.data(), L'\0', &state_);
            if (length != static_cast<std::size_t>(-1) && length > 0) {
                out_.append(buffer.data(), length - 1);  // without the NUL
            }
        }
    }

private:
    void append_utf8(char32_t c) {
        const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
        if (c < 0x80) {
            out_.push_back(byte(c));
        } else if (c < 0x800) {
            out_.push_back(byte(0xC0 | c >> 6));
            out_.push_back(byte(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out_.push_back(byte(0xE0 | c >> 12));
            out_.push_back(byte(0x80 | (c >> 6 & 0x3F)));
            out_.push_back(byte(0x80 | (c & 0x3F)));
        } else {
            out_.push_back(byte(0xF0 | c >> 18));
            out_.push_back(byte(0x80 | (c >> 12 & 0x3F)));
            out_.push_back(byte(0x80 | (c >> 6 & 0x3F)));
            out_.push_back(byte(0x80 | (c & 0x3F)));
        }
    }

    std::string& out_;
    bool utf8_;
    std::mbstate_t state_{};
};

// Appends `bytes`, in the charset `cd` converts from, to `out` in the
// locale's charset. An invalid byte becomes '?'; so does an incomplete
// character at the end, unless `drop_incomplete_end`.
void convert(iconv_t cd, std::string_view bytes, bool drop_incomplete_end, DecodeTo target,
             std::string& out) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    LocaleWriter writer(out, target);
    std::array<wchar_t, 256> wide;
    char* in = const_cast<char*>(bytes.data());  // iconv does not write to it
    std::size_t in_left = bytes.size();
    for (;;) {
        char* wide_end = reinterpret_cast<char*>(wide.data());
        std::size_t wide_left = sizeof(wide);
        const bool flushing = in_left == 0;
        const std::size_t result = flushing ? ::iconv(cd, nullptr, nullptr, &wide_end, &wide_left)
                                            : ::iconv(cd, &in, &in_left, &wide_end, &wide_left);
        const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
        const std::size_t produced = (sizeof(wide) - wide_left) / sizeof(wchar_t);
        for (std::size_t i = 0; i < produced; ++i) {
            writer.put(wide[i]);
        }
        if (error == EILSEQ) {
            writer.put(L'?');
            ++in;
            --in_left;
        } else if (error == EINVAL) {
            if (!drop_incomplete_end) {
                writer.put(L'?');
            }
            in_left = 0;
        } else if (error == E2BIG && produced > 0) {
            continue;
        } else if (error != 0 || flushing) {
            break;
        }
    }
    writer.finish();
}

// Decoded bytes of adjacent encoded words in one charset, converted together
// so that a character split between words comes out whole.
struct Run {
    std::string_view charset;
    iconv_t converter = nullptr;
    std::string bytes;
    bool cut = false;

    void flush(std::string& out, DecodeTo target) {
        if (converter != nullptr) {
            convert(converter, bytes, cut, target, out);
        }
        converter = nullptr;
        bytes.clear();
    }
};

}  // namespace

std::string decode_encoded_words(std::string_view text, DecodeTo target) {
    std::size_t at = text.find("=?");
    if (at == std::string_view::npos) {
        return std::string(text);
    }
    thread_local Converters converters;

    std::string out;
    out.reserve(text.size());
    Run run;
    std::string bytes;
    std::size_t plain = 0;  // where the text not yet handed on begins
    while (at != std::string_view::npos) {
        const std::optional<EncodedWord> word = parse_word(text, at);
        bytes.clear();
        iconv_t converter = nullptr;
        if (word && (word->encoding == 'B' ? decode_base64(word->encoded, bytes)
                                           : decode_q(word->encoded, word->cut, bytes))) {
            converter = converters.find(word->charset, run.converter);
        }
        if (converter == nullptr) {
            at = text.find("=?", at + 2);
            continue;
        }
        const std::string_view between = text.substr(plain, at - plain);
        const bool adjacent =
            run.converter != nullptr && between.find_first_not_of(" \t") == std::string_view::npos;
        if (!adjacent) {
            run.flush(out, target);
            out.append(between);
        } else if (!same_charset(run.charset, word->charset)) {
            run.flush(out, target);
        }
        run.charset = word->charset;
        run.converter = converter;
        run.bytes += bytes;
        run.cut = word->cut;
        plain = word->end;
        at = text.find("=?", plain);
    }
    run.flush(out, target);
    out.append(text.substr(plain));
    return out;
}
