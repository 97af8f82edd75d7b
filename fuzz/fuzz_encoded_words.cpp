// Fuzzes the decoding of MIME encoded words in subjects. The input, decoded
// as it is in the C.UTF-8 locale: text without "=?" comes back unchanged, the
// text before the first "=?" is kept, the output is at most 16 times as long
// (a byte gives at most four characters, in TSCII, of at most four bytes
// each), and an ASCII input gives valid UTF-8 that the C locale shows the same
// with '?' for each character beyond ASCII.
//
// A subject is also built from the input: plain text and runs of encoded
// words (B and Q, UTF-8 and ISO-8859-1, charsets in any case and with a
// language or not, the run's bytes split anywhere, blanks between words). It
// must decode to exactly the plain text and the runs' characters, blanks
// between runs dropped; cut anywhere inside its last encoded word, to a prefix
// of that which holds at least everything before the last run.

#include <locale.h>

#include <algorithm>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.hpp"
#include "log/encoded_words.hpp"

namespace {

using fuzz::check;

constexpr std::size_t growth_limit = 16;

locale_t c_locale = nullptr;

bool is_ascii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xc0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

// The text with every character beyond ASCII replaced by '?'; empty when the
// text is not well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
std::optional<std::string> ascii_of_utf8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
        if (lead < 0xc2 || lead > 0xf4 || i + length > text.size()) {
            return std::nullopt;
        }
        char32_t c = lead & (0x3f >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) {
                return std::nullopt;
            }
            c = c << 6 | (next & 0x3f);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10ffff || (c >= 0xd800 && c < 0xe000)) {
            return std::nullopt;
        }
        out.push_back('?');
        i += length;
    }
    return out;
}

// The text with every byte outside printable ASCII written as \xHH.
std::string visible(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xf]);
        }
    }
    return out;
}

// Takes bytes from the input one after the other; zeros once it is used up.
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}
    unsigned char next() {
        return at_ < data_.size() ? static_cast<unsigned char>(data_[at_++]) : 0;
    }
    bool empty() const { return at_ >= data_.size(); }

private:
    std::string_view data_;
    std::size_t at_ = 0;
};

std::string random_case(std::string_view text, fuzz::Choices& choices) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z' && choices.below(2) == 0) {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string encode_b(std::string_view bytes, fuzz::Choices& choices) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0);
        }
        for (std::size_t k = 0; k < count + 1; ++k) {
            out.push_back(alphabet[group >> (18 - 6 * k) & 0x3f]);
        }
        if (count < 3 && choices.below(2) == 0) {  // padding, which mailers may leave out
            out.append(3 - count, '=');
        }
    }
    return out;
}

std::string encode_q(std::string_view bytes, fuzz::Choices& choices) {
    static constexpr char upper_hex[] = "0123456789ABCDEF";
    static constexpr char lower_hex[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t how = choices.below(3);
        if (c == ' ' && how == 0) {
            out.push_back('_');
        } else if (c != ' ' && c != '\t' && c != '?' && c != '=' && c != '_' && how != 2) {
            out.push_back(c);
        } else {
            const char* hex = choices.below(2) == 0 ? upper_hex : lower_hex;
            out.push_back('=');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xf]);
        }
    }
    return out;
}

// A subject built from the input, what it must decode to, and about its end.
struct Subject {
    std::string text;
    std::string shown;
    bool ends_in_word = false;
    std::size_t last_encoded = 0;  // where the encoded text of the last word begins
    std::size_t shown_before_last_run = 0;
};

// Bytes of a run and what they show: well-formed UTF-8, or Latin-1.
void make_run_bytes(Bytes& input, bool utf8, std::size_t length, std::string& bytes,
                    std::string& shown) {
    for (std::size_t i = 0; i < length && !input.empty(); ++i) {
        const unsigned char b = input.next();
        if (!utf8) {
            bytes.push_back(static_cast<char>(b));
            append_utf8(shown, b);
            continue;
        }
        char32_t c = b;
        if (b >= 0x80) {
            c = ((b & 0x7fu) << 14 | static_cast<char32_t>(input.next()) << 6 |
                 (input.next() & 0x3fu)) %
                0x110000;
            if (c >= 0xd800 && c < 0xe000) {
                c -= 0x800;
            }
        }
        append_utf8(bytes, c);
        append_utf8(shown, c);
    }
}

Subject build_subject(std::string_view data) {
    fuzz::Choices choices(fuzz::hash_of(data));
    Bytes input(data);
    Subject subject;
    bool after_run = false;
    std::string pending_blanks;  // plain text of blanks alone, dropped between runs
    const std::size_t pieces = 1 + choices.below(6);
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        if (choices.below(2) == 0) {
            std::string plain;
            for (std::size_t i = choices.below(12); i > 0 && !input.empty(); --i) {
                const char c = static_cast<char>(input.next());
                plain.push_back(c == '=' || c == '?' ? 'x' : c);
            }
            subject.text += plain;
            subject.ends_in_word = false;
            if (after_run && plain.find_first_not_of(" \t") == std::string::npos) {
                pending_blanks += plain;
            } else {
                subject.shown += pending_blanks + plain;
                pending_blanks.clear();
                after_run = false;
            }
            continue;
        }
        const bool utf8 = choices.below(2) == 0;
        std::string bytes;
        std::string shown;
        make_run_bytes(input, utf8, choices.below(24), bytes, shown);
        pending_blanks.clear();
        subject.shown_before_last_run = subject.shown.size();
        subject.shown += shown;
        const std::string_view charsets[] = {utf8 ? "utf-8" : "iso-8859-1",
                                             utf8 ? "utf-8*en-gb" : "latin1"};
        for (std::size_t at = 0, words = 1 + choices.below(4); words > 0; --words) {
            const std::size_t size =
                words == 1 ? bytes.size() - at : choices.below(bytes.size() - at + 1);
            const std::string_view part = std::string_view(bytes).substr(at, size);
            at += size;
            if (after_run) {
                subject.text += std::string_view(" \t  ").substr(0, choices.below(4));
            }
            const bool b = choices.below(2) == 0;
            subject.text += "=?" + random_case(charsets[choices.below(2)], choices) + "?" +
                            (b ? "Bb" : "Qq")[choices.below(2)] + "?";
            subject.last_encoded = subject.text.size();
            subject.text += b ? encode_b(part, choices) : encode_q(part, choices);
            subject.text += "?=";
            after_run = true;
        }
        subject.ends_in_word = true;
    }
    subject.shown += pending_blanks;  // blanks at the end stay
    return subject;
}

// Checks what holds for the decoding of every text.
void check_decoding(std::string_view text) {
    const std::string out = decode_encoded_words(text);
    const std::size_t first = text.find("=?");
    if (first == std::string_view::npos) {
        check(out == text, "text without \"=?\" comes back unchanged");
        return;
    }
    check(std::string_view(out).substr(0, first) == text.substr(0, first),
          "the text before the first \"=?\" is kept");
    check(out.size() <= growth_limit * text.size(), "the output grows at most 16 times");
    if (is_ascii(text)) {
        const std::optional<std::string> ascii = ascii_of_utf8(out);
        check(ascii.has_value(), "ASCII text decodes to well-formed UTF-8");
        const locale_t previous = ::uselocale(c_locale);
        const std::string in_c = decode_encoded_words(text);
        ::uselocale(previous);
        if (in_c != *ascii) {
            fuzz::fail("the C locale shows '?' for each character beyond ASCII",
                       "text  [" + visible(text) + "]\nutf-8 [" + visible(out) + "]\nC     [" +
                           visible(in_c) + "]");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
        fuzz::fail("cannot set the C.UTF-8 locale");
    }
    c_locale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    check(c_locale != nullptr, "cannot make the C locale");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    check_decoding(data);

    const Subject subject = build_subject(data);
    check_decoding(subject.text);
    const std::string out = decode_encoded_words(subject.text);
    if (out != subject.shown) {
        fuzz::fail("a built subject decodes to its plain text and characters",
                   "subject [" + visible(subject.text) + "]\ngot  [" + visible(out) + "]\nwant [" +
                       visible(subject.shown) + "]");
    }
    if (subject.ends_in_word) {
        fuzz::Choices choices(fuzz::hash_of(subject.text));
        const std::size_t cut =
            subject.last_encoded + choices.below(subject.text.size() - subject.last_encoded);
        const std::string_view cut_text = std::string_view(subject.text).substr(0, cut);
        const std::string cut_out = decode_encoded_words(cut_text);
        if (!subject.shown.starts_with(cut_out) || cut_out.size() < subject.shown_before_last_run) {
            fuzz::fail("a subject cut in its last word decodes to a prefix of the whole",
                       "subject [" + visible(cut_text) + "]\ngot  [" + visible(cut_out) +
                           "]\nwhole [" + visible(subject.shown) + "]");
        }
    }
    return 0;
}
