// The monitor on input that strangers control and on terminals of every
// size: logs whose senders, subjects and folder names carry escape
// sequences, control characters, NUL bytes and broken UTF-8; lines at the
// length limit; ten thousand folders; a hundred thousand mails in one
// expanded folder; sizes from 1x1 to 100x300 and storms of resizes. The
// built lurko runs in a pseudo-terminal and is read back cell by cell; what
// it sends to the terminal is checked byte by byte as well.

#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

#include "monitor_support.hpp"
#include "procmail_support.hpp"

namespace monitor_test {
namespace {

using namespace std::string_literals;

// Printable form of terminal output, for failure messages.
std::string escaped(std::string_view bytes) {
    std::ostringstream out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0x1b) {
            out << "\\e";
        } else if (byte < 0x20 || byte >= 0x7f) {
            out << "\\x" << std::hex << static_cast<int>(byte) << std::dec;
        } else {
            out << c;
        }
    }
    return out.str();
}

// The DEC private modes curses sets and resets on xterm: cursor keys (1),
// wrap (7), cursor blink (12), cursor visible (25), meta key (1034) and the
// alternate screen (47, 1047, 1048, 1049).
bool screen_private_mode(std::string_view parameters) {
    // 1000 and 1006: mouse reports, asked for by the program itself.
    static const std::set<std::string_view> modes = {"1",    "7",    "12",   "25",   "1034", "47",
                                                     "1047", "1048", "1049", "1000", "1006"};
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = parameters.find(';', start);
        if (modes.count(parameters.substr(start, end - start)) == 0) {
            return false;
        }
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

// Length of the UTF-8 character at `at` when it is well formed and not a C1
// control, else 0.
std::size_t utf8_length(std::string_view bytes, std::size_t at) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xc2 && lead < 0xe0) {
        length = 2;
        code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead < 0xf0) {
        length = 3;
        code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead < 0xf5) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3f);
    }
    return code >= 0xa0 ? length : 0;
}

// What may stand in the output besides ASCII.
enum class HighBytes {
    None,   // nothing (the screen in the C locale)
    Utf8,   // whole UTF-8 characters that are no C1 control
    NotC1,  // any byte but 0x80..0x9F outside a UTF-8 character (the report)
};

// Everything sent to the terminal is screen drawing as curses does it: text,
// the line controls BS, TAB, LF and CR, and escape sequences that move the
// cursor, erase, scroll, set attributes and colours, or switch the modes
// curses uses. No bell, NUL, shift or other C0 control, no C1 control, no
// string sequence (OSC, DCS, APC, PM, SOS: titles, queries), no report
// request, no reset; past ASCII only what `high` allows.
::testing::AssertionResult only_screen_drawing(std::string_view out, HighBytes high) {
    const auto fail = [&](std::size_t at, const char* what) {
        const std::size_t from = at < 40 ? 0 : at - 40;
        return ::testing::AssertionFailure()
               << what << " at byte " << at << " of " << out.size() << ": ..."
               << escaped(out.substr(from, at - from)) << " >>> " << escaped(out.substr(at, 40));
    };
    // Finals of CSI sequences without a private marker that draw: cursor
    // moves, erasing, inserting and deleting, scrolling, attributes, scroll
    // region, repeat.
    constexpr std::string_view drawing_finals = "@ABCDEFGHJKLMPSTXZ`abdefmr";
    std::size_t at = 0;
    while (at < out.size()) {
        const auto byte = static_cast<unsigned char>(out[at]);
        if (byte == 0x1b) {
            if (at + 1 >= out.size()) {
                return fail(at, "an escape at the end");
            }
            const char kind = out[at + 1];
            if (kind == '[') {
                std::size_t i = at + 2;
                std::string_view marker;
                if (i < out.size() && out[i] >= 0x3c && out[i] <= 0x3f) {
                    marker = out.substr(i, 1);
                    ++i;
                }
                const std::size_t parameters_start = i;
                while (i < out.size() && out[i] >= 0x30 && out[i] <= 0x3b) {
                    ++i;
                }
                const std::string_view parameters =
                    out.substr(parameters_start, i - parameters_start);
                if (i < out.size() && out[i] >= 0x20 && out[i] <= 0x2f) {
                    return fail(at, "a control sequence with an intermediate byte");
                }
                if (i >= out.size() || out[i] < 0x40 || out[i] > 0x7e) {
                    return fail(at, "an unfinished control sequence");
                }
                const char final = out[i];
                bool allowed = false;
                if (final == 't') {
                    // xterm's smcup and rmcup save and restore the title on
                    // its stack around the alternate screen; nothing sets it.
                    allowed = marker.empty() && (parameters == "22;0;0" || parameters == "23;0;0");
                } else if (marker.empty()) {
                    allowed = drawing_finals.find(final) != std::string_view::npos ||
                              ((final == 'h' || final == 'l') && parameters == "4");
                } else if (marker == "?") {
                    allowed = (final == 'h' || final == 'l') && screen_private_mode(parameters);
                }
                if (!allowed) {
                    return fail(at, "a control sequence that does not draw");
                }
                at = i + 1;
            } else if (kind == '(' || kind == ')') {
                if (at + 2 >= out.size() ||
                    std::string_view("0AB").find(out[at + 2]) == std::string_view::npos) {
                    return fail(at, "a character set designation");
                }
                at += 3;
            } else if (std::string_view("=>78MDE").find(kind) != std::string_view::npos) {
                at += 2;
            } else {
                return fail(at, "an escape sequence that does not draw");
            }
        } else if (byte < 0x20) {
            if (byte != '\b' && byte != '\t' && byte != '\n' && byte != '\r') {
                return fail(at, "a control character");
            }
            ++at;
        } else if (byte == 0x7f) {
            return fail(at, "a DEL");
        } else if (byte >= 0x80) {
            const std::size_t length = high == HighBytes::None ? 0 : utf8_length(out, at);
            if (length > 0) {
                at += length;
            } else if (high == HighBytes::NotC1 && byte >= 0xa0) {
                ++at;
            } else {
                return fail(at, "a byte that is no whole printable character");
            }
        } else {
            ++at;
        }
    }
    return ::testing::AssertionSuccess();
}

// The terminal properties the program may set: the alternate screen and the
// cursor's visibility and blinking, as curses does; never a title, an icon
// name, reverse video, mouse reporting or the cursor's shape.
::testing::AssertionResult only_screen_properties(const Terminal& term) {
    for (const std::string& change : term.property_changes()) {
        // Leaving the alternate screen restores the saved cursor, block
        // shape included.
        if (!change.starts_with("altscreen=") && !change.starts_with("cursorvisible=") &&
            !change.starts_with("cursorblink=") && change != "cursorshape=1") {
            return ::testing::AssertionFailure() << "the program set " << escaped(change);
        }
    }
    return ::testing::AssertionSuccess();
}

// Every row of the screen as text.
std::vector<std::string> all_rows(const Terminal& term) {
    std::vector<std::string> rows;
    for (int row = 0; row < term.rows(); ++row) {
        rows.push_back(term.row_text(row));
    }
    return rows;
}

// The whole screen reads `rows`, each row exactly, and nothing else on it.
::testing::AssertionResult shows_screen(Terminal& term, const std::vector<std::string>& rows,
                                        Milliseconds timeout = change_wait) {
    if (wait_drawn(
            term, [&] { return all_rows(term) == rows; }, timeout)) {
        return ::testing::AssertionSuccess();
    }
    std::string expected;
    for (const std::string& row : rows) {
        expected.append("|").append(escaped(row)).append("\n");
    }
    return ::testing::AssertionFailure() << "expected:\n" << expected << "shown:" << term.screen();
}

// The screen of `rows` rows: the top bar, the given rows below it, blank rows,
// the bottom bar and the version line.
std::vector<std::string> screen_of(int rows, int cols, const std::string& status,
                                   const std::vector<std::string>& list) {
    std::vector<std::string> screen(static_cast<std::size_t>(rows));
    screen[0] = status.substr(0, static_cast<std::size_t>(cols));
    for (std::size_t i = 0; i < list.size(); ++i) {
        screen[i + 1] = list[i];
    }
    screen[static_cast<std::size_t>(rows) - 2] =
        keys_whole.substr(0, static_cast<std::size_t>(cols));
    screen[static_cast<std::size_t>(rows) - 1] = version;
    return screen;
}

class Robustness : public ::testing::Test {
protected:
    test::TempDir home;
    std::string log = home / "procmail.log";
    termios before = fresh_modes();
};

// --- Hostile text --------------------------------------------------------------------

// Senders, subjects and folder names made to drive the terminal: clear the
// screen, set the title, ask for reports (which a terminal answers as if
// typed), switch modes, reset, designate line drawing, in 7-bit form and as
// C1 controls in UTF-8; NUL bytes, broken UTF-8, DEL, carriage returns; a
// right-to-left override and a zero-width joiner, which would disguise text.
// Each payload is followed by a marker ("ZQ1"...) so that the raw output can
// be searched for the payload arriving whole.
std::string hostile_log() {
    const std::string folder_title = std::string("box\x1b]0;FOLDERTITLE\x07\x1b[2JZQ2");
    const std::string folder_c1 =
        "c1\xc2\x9b"
        "2J\xc2\x9d"
        "0;T\xc2\x9cZQ3\xff\xfe\xc3\xa9\xe2\x80\xaeZQH\xe2\x80\x8d";
    std::string text;
    text += log_entry("one@example.org", "plain", "inbox");
    text += log_entry("a\x1b[6n@x",
                      "\x1b]2;PWNED\x1b\\ZQ4 \x1b[?1000hZQ5 \x1b[?5hZQ6 \x1bP1$qm\x1b\\ZQ7 "
                      "\x1b[cZQ8 \x1b"
                      "cZQ9",
                      folder_title);
    text += log_entry("b", "\r\x08\x7f\x0e\x0fZQA \x1b(0qqqZQB \xc2\x85ZQC", folder_title);
    text += log_entry("two@example.org", "plain", "inbox");
    text += log_entry("\x1b[31mred", "\t\x1b[1;1H\x1b[2KZQD", folder_title);
    text += log_entry("c",
                      "\x1b[?1049l\x1b[?25lZQE \x9b"
                      "2JZQG",
                      folder_c1);
    text += log_entry("three@example.org", "plain", "inbox");
    text += log_entry("d", "ZQF before NUL\0\x1b[2Jafter NUL"s, folder_c1);
    text +=
        "From e  Mon Dec  8 07:19:03 2025\n Subject: x\n  Folder: nul\0hidden\x1b[2J\t\t    273\n"s;
    text += log_entry("four@example.org", "plain", "inbox");
    return text;
}

TEST_F(Robustness, HostileTextShowsInertInBothLocales) {
    test::write_file(log, hostile_log());
    const int rows = 16;
    const int cols = 100;
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "C locale");
        std::unique_ptr<Terminal> term = start_lurko(
            {{log}, home.path(), rows, cols, utf8 ? "C.UTF-8" : "C", /*keep_output=*/true});
        const std::string c1_row = std::string("c1M-^[2JM-^]0;TM-^\\ZQ3??") +
                                   (utf8 ? "\xc3\xa9" : "??") + "<U+202E>ZQH<U+200D>";
        const std::string status = status_line(10, 4);
        ASSERT_TRUE(shows_screen(*term, screen_of(rows, cols, status,
                                                  {
                                                      "->     4 N inbox",
                                                      "       3   box^[]0;FOLDERTITLE^G^[[2JZQ2",
                                                      "       2   " + c1_row,
                                                      "       1   nul",
                                                  })));

        // The mails of the hostile folders, expanded.
        term->type("jh");
        ASSERT_TRUE(shows_screen(
            *term, screen_of(rows, cols, status,
                             {
                                 "       4 N inbox",
                                 "->     3   box^[]0;FOLDERTITLE^G^[[2JZQ2",
                                 "           a^[[6n@x: ^[]2;PWNED^[\\ZQ4 ^[[?1000hZQ5 ^[[?5hZQ6 "
                                 "^[P1$qm^[\\ZQ7 ^[[cZQ8 ^[cZQ9",
                                 "           b: ^M^H^?^N^OZQA ^[(0qqqZQB M-^EZQC",
                                 "           ^[[31mred: ^I^[[1;1H^[[2KZQD",
                                 "       2   " + c1_row,
                                 "       1   nul",
                             })));
        term->type("j");
        ASSERT_TRUE(shows_screen(*term, screen_of(rows, cols, status,
                                                  {
                                                      "       4 N inbox",
                                                      "       3   box^[]0;FOLDERTITLE^G^[[2JZQ2",
                                                      "->     2   " + c1_row,
                                                      "           c: ^[[?1049l^[[?25lZQE ?2JZQG",
                                                      "           d: ZQF before NUL",
                                                      "       1   nul",
                                                  })));
        term->type("h");
        ASSERT_TRUE(term->settle());

        // Nothing reached the terminal raw: no payload arrived whole, and
        // every byte sent is screen drawing.
        const std::string& out = term->output();
        for (const char* payload :
             {"\x1b[2JZQ2", "\x1b\\ZQ4", "\x1b[?1000hZQ5", "\x1b[?5hZQ6", "\x1b\\ZQ7", "\x1b[cZQ8",
              "\x1b"
              "cZQ9",
              "\x0fZQA", "\x1b(0qqqZQB", "\x85ZQC", "\x1b[2KZQD", "\x1b[?25lZQE",
              "\x9b"
              "2JZQG",
              "\xe2\x80\xaeZQH"}) {
            EXPECT_EQ(out.find(payload), std::string::npos) << escaped(payload);
        }
        EXPECT_EQ(out.find("after NUL"), std::string::npos);
        EXPECT_EQ(out.find("hidden"), std::string::npos);
        EXPECT_TRUE(only_screen_drawing(out, utf8 ? HighBytes::Utf8 : HighBytes::None));
        EXPECT_TRUE(only_screen_properties(*term));
        EXPECT_EQ(term->bells(), 0);
        EXPECT_TRUE(term->alternate_screen());
        EXPECT_EQ(term->key_sequence(Key::Up), "\x1bOA");  // keypad mode as curses set it
        // No report was asked for, so none was typed back: the selection
        // and the list are as the keys left them.
        ASSERT_TRUE(shows_row(*term, 3, "->     2   " + c1_row));
        quit_cleanly(*term, before);
        EXPECT_TRUE(only_screen_drawing(term->output(), utf8 ? HighBytes::Utf8 : HighBytes::None));
        EXPECT_TRUE(only_screen_properties(*term));
    }
}

// The one-shot report writes log text unchanged to files and pipes; on a
// terminal it shows the control characters inert, as the monitor does.
TEST_F(Robustness, ReportOfAHostileLogIsByteExactOrInert) {
    test::write_file(log, hostile_log());
    const test::RunResult report = test::run_lurko({"-o", log});
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_EQ(report.out,
              "    4 inbox\n    3 box\x1b]0;FOLDERTITLE\x07\x1b[2JZQ2\n"
              "    2 c1\xc2\x9b"
              "2J\xc2\x9d"
              "0;T\xc2\x9cZQ3\xff\xfe\xc3\xa9\xe2\x80\xaeZQH\xe2\x80\x8d\n"
              "    1 nul\n");

    test::TerminalOptions options;
    options.cols = 120;
    options.env = {{"LC_ALL", "C"}};
    options.keep_output = true;
    Terminal term({test::lurko_binary(), "-o", "-w", log}, options);
    ASSERT_TRUE(term.wait_exit()) << term.screen();
    EXPECT_EQ(term.exit_status(), 0);
    EXPECT_TRUE(only_screen_drawing(term.output(), HighBytes::NotC1));
    EXPECT_TRUE(only_screen_properties(term));
    EXPECT_EQ(term.row_text(5), "    3 box^[]0;FOLDERTITLE^G^[[2JZQ2");
    EXPECT_EQ(term.row_text(10), "      c: ^[[?1049l^[[?25lZQE M-^[2JZQG");
    EXPECT_TRUE(term.row_text(9).ends_with("<U+202E>ZQH<U+200D>")) << term.row_text(9);
    EXPECT_EQ(term.row_text(6),
              "      a^[[6n@x: ^[]2;PWNED^[\\ZQ4 ^[[?1000hZQ5 ^[[?5hZQ6 "
              "^[P1$qm^[\\ZQ7 ^[[cZQ8 ^[cZQ9");
    EXPECT_TRUE(handed_back(term, before));
}

// Subjects in MIME encoded words, delivered by real Procmail, which logs 78
// bytes of the header (the last one is cut there, in a character), show
// decoded on the screen, cut at the edge by columns, never half a character;
// the one that decodes to escapes, a bell and a C1 control shows inert.
TEST_F(Robustness, EncodedSubjectsFromProcmailShowDecoded) {
    test::write_file(home / ".procmailrc", procmail::rc_text);
    std::filesystem::create_directory(home / "Mail");
    for (const char* subject :
         {"=?UTF-8?B?w5xiZXIgZGllIEdyw7bDn2U=?=", "=?utf-8?q?Stra=C3=9Fe_und_L=C3=A4nge?=",
          "=?iso-8859-1?Q?R=E9union_d=27=E9quipe?=", "=?windows-1252?q?=93Preis=94_=80_5?=",
          "Re: =?utf-8?q?Gr=C3=BC=C3=9Fe_?= =?ISO-8859-1?q?aus_K=F6ln?=",
          "=?utf-8?q?=1B[2J=1B]0;PWN=07=C2=9B2JZQX?=",
          "=?UTF-8?B?UmU6IOadseS6rOOBruWkqeawl+S6iOWgseOBqOmAseacq+"
          "OBruS6iOWumuOBq+OBpOOBhOOBpg==?="}) {
        test::write_file(home / "mail", "From a@example.org  Mon Dec  8 07:19:03 2025\nSubject: " +
                                            std::string(subject) + "\nX-Route: friends\n\nHi\n");
        const test::RunResult delivered = test::run(
            {"/bin/sh", "-c", procmail::deliver_command, "sh", home.path(), home / "mail"});
        ASSERT_EQ(delivered.status, 0) << delivered.err;
    }
    const std::string from = "           a@example.org: ";
    std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 12, 51, "C.UTF-8", true});
    term->type("h");
    ASSERT_TRUE(shows_rows(
        *term, {status_line(7, 1), "->     7 N friends", from + "Über die Größe",
                from + "Straße und Länge", from + "Réunion d'équipe", from + "“Preis” € 5",
                from + "Re: Grüße aus Köln", from + "^[[2J^[]0;PWN^GM-^[2JZQX",
                from + "Re: 東京の天気予報と週末", ""}));
    EXPECT_TRUE(only_screen_drawing(term->output(), HighBytes::Utf8));
    EXPECT_TRUE(only_screen_properties(*term));
    EXPECT_EQ(term->bells(), 0);
    quit_cleanly(*term, before);
    // The C locale shows what it cannot show as '?', a character each.
    term = start_lurko({{log}, home.path(), 12, 51, "C"});
    term->type("h");
    ASSERT_TRUE(shows_row(*term, 8, from + "Re: ?????????????"));
    EXPECT_EQ(term->row_text(2), from + "?ber die Gr??e");
    quit_cleanly(*term, before);
}

// --- Long lines ------------------------------------------------------------------

// `size` bytes: `first`, then the letters a to j over and over. No two
// neighbours alike, so curses never sends a row of them as one repeated
// character, which the emulator of the harness mishandles at the right edge.
std::string patterned(std::size_t size, char first) {
    std::string text(1, first);
    while (text.size() < size) {
        text.push_back(static_cast<char>('a' + text.size() % 10));
    }
    return text;
}

// Lines of 4095 bytes, the longest the scanner keeps whole, cut at the edge
// of the screen. A control character that would straddle the edge is left
// out whole, never half drawn.
TEST_F(Robustness, LinesAtTheLengthLimit) {
    const std::string long_from = patterned(4095 - 5, 'f');      // "From " + 4090
    const std::string long_subject = patterned(4095 - 10, 's');  // " Subject: " + 4085
    // "  Folder: " + 4085; after "short" in the order of names
    const std::string long_folder = patterned(4095 - 10, 'z');
    std::string text;
    text +=
        "From " + long_from + "\n Subject: " + long_subject + "\n  Folder: " + long_folder + "\n";
    // The next mail's subject comes from a line with an escape right at the
    // edge of an 80-column screen. The mail line starts at column 6 and holds
    // 74 bytes: 5 blanks, "x: " and 65 bytes of subject make 73, so "^[" would
    // take bytes 74 and 75.
    text += "From x\n";
    const std::string edge = patterned(65, 'u');
    text += " Subject: " + edge + "\x1b[2Jtail\n  Folder: short\n";
    test::write_file(log, text);

    std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 10, 80, "C", true});
    const std::string status = status_line(2, 2);
    const std::string long_row = "->     1   " + long_folder.substr(0, 80 - 11);
    ASSERT_TRUE(shows_screen(*term, screen_of(10, 80, status, {long_row, "       1 N short"})));
    term->type("h");
    ASSERT_TRUE(shows_screen(
        *term,
        screen_of(10, 80, status,
                  {long_row, "           " + long_from.substr(0, 80 - 11), "       1 N short"})));
    term->type("jh");
    ASSERT_TRUE(term->settle());
    term->type("h");
    ASSERT_TRUE(shows_screen(*term, screen_of(10, 80, status,
                                              {"       1   " + long_folder.substr(0, 80 - 11),
                                               "->     1 N short", "           x: " + edge})));
    EXPECT_TRUE(only_screen_drawing(term->output(), HighBytes::None));

    // Wider than the longest line: shown whole, on one row.
    term->resize(10, 300);
    ASSERT_TRUE(shows_row(*term, 3, "           x: " + edge + "^[[2Jtail"));
    EXPECT_EQ(term->row_text(1), "       1   " + long_folder.substr(0, 300 - 11));
    quit_cleanly(*term, before);
}

// --- Many folders, many mails -----------------------------------------------------

TEST_F(Robustness, TenThousandFolders) {
    std::string text;
    // Folder i gets 1 + i % 7 mails: seven groups of equal counts, sorted
    // by name within each.
    std::uint64_t mails = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string folder = "folder" + std::to_string(100000 + i);
        for (int m = 0; m <= i % 7; ++m) {
            text += log_entry("sender" + std::to_string(m) + "@example.org", "subject", folder);
            ++mails;
        }
    }
    test::write_file(log, text);
    std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 24, 80});
    const std::string status = status_line(mails, 10000);
    // The most mails (7) go to folders 6, 13, ...; 9995 is the last of them
    // and, by name, the first.
    ASSERT_TRUE(term->wait_for_text_at(0, 0, status));
    ASSERT_TRUE(shows_row(*term, 1, "->     7   folder109995"));
    EXPECT_EQ(term->row_text(2), "       7   folder109988");
    EXPECT_EQ(term->row_text(22), keys_whole.substr(0, 80));

    // The last folder, off the screen: the marker goes with it, nothing is
    // drawn over the bars.
    term->type("*");
    ASSERT_TRUE(term->wait_for_text_at(0, 64, "9980-10000/10000"));
    ASSERT_TRUE(shows_row(*term, 21, "->     1   folder100000"));
    EXPECT_EQ(term->row_text(22), keys_whole.substr(0, 80));
    EXPECT_EQ(term->row_text(23), version);
    // Expanded there, marked read there, and a delivery: all in time.
    term->type("h");
    term->type("m");
    ASSERT_TRUE(term->wait_for_text_at(0, 0, status_line(mails - 1, 9999)));
    test::append_file(log, log_entry("new@example.org", "new", "folder100000"));
    ASSERT_TRUE(term->wait_for_text_at(0, 0, status_line(mails + 1, 10000)));
    term->type("=");
    ASSERT_TRUE(shows_row(*term, 1, "->     7   folder109995"));
    quit_cleanly(*term, before);
}

TEST_F(Robustness, HundredThousandMailsInOneExpandedFolder) {
    std::string text;
    text.reserve(100000 * 110);
    for (int i = 0; i < 100000; ++i) {
        text += log_entry("sender" + std::to_string(i) + "@example.org",
                          "mail number " + std::to_string(i), "big");
    }
    text += log_entry("x@example.org", "small", "small");
    test::write_file(log, text);

    std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 24, 80});
    ASSERT_TRUE(term->wait_for_text_at(0, 0, status_line(100001, 2)));
    term->type("h");
    ASSERT_TRUE(shows_row(*term, 2, "           sender0@example.org: mail number 0"));
    EXPECT_EQ(term->row_text(21), "           sender19@example.org: mail number 19");
    EXPECT_EQ(term->row_text(22), keys_whole.substr(0, 80));

    // Deliveries into the expanded folder redraw it whole each time; keys
    // still get through, and q ends it promptly.
    for (int i = 0; i < 5; ++i) {
        test::append_file(log, log_entry("late@example.org", "late", "big"));
        ASSERT_TRUE(
            term->wait_for_text_at(0, 0, status_line(100002 + static_cast<std::uint64_t>(i), 2)));
    }
    term->type("jk");
    ASSERT_TRUE(shows_row(*term, 2, "           sender0@example.org: mail number 0"));
    // Six digits fill the count's field; the "N" takes the next column.
    EXPECT_EQ(term->row_text(1), "-> 100005N  big");
    const auto asked = std::chrono::steady_clock::now();
    quit_cleanly(*term, before, Milliseconds(10000));
    const auto took =
        std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - asked);
    std::printf("[ figures  ] q with 100,005 mails expanded ended lurko in %lld ms\n",
                static_cast<long long>(took.count()));
}

// --- Terminal sizes -----------------------------------------------------------------

// What a screen of rows x cols must show of the sample: the top bar at the top,
// the bottom bar and the version line at the bottom, as far as they fit.
::testing::AssertionResult frame_drawn(Terminal& term) {
    const int rows = term.rows();
    const int cols = term.cols();
    const auto fitted = [cols](const std::string& text) {
        std::string cut = text.substr(0, static_cast<std::size_t>(cols));
        cut.erase(cut.find_last_not_of(' ') + 1);
        return cut;
    };
    const auto ok = [&] {
        if (rows >= 3) {
            // The top bar (with where the view is, when the list does not
            // fit), then the bottom bar and the version line alone.
            return term.row_text(0).starts_with(fitted(status_line(42, 15))) &&
                   term.row_text(rows - 2) == fitted(keys_whole) &&
                   term.row_text(rows - 1) == fitted(version);
        }
        return true;
    };
    if (wait_drawn(term, ok)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "not drawn at " << rows << "x" << cols << term.screen();
}

TEST_F(Robustness, EverySizeFrom1x1To100x300) {
    test::write_file(log, test::read_file(test::source_file("examples/sample-procmail.log")));
    const std::vector<std::pair<int, int>> sizes = {
        {1, 1},  {1, 80}, {2, 1},  {2, 2},   {3, 3},     {3, 19},    {4, 10},  {24, 1},
        {24, 2}, {24, 7}, {5, 80}, {24, 80}, {100, 300}, {300, 100}, {100, 1}, {1, 300}};
    for (const auto& [rows, cols] : sizes) {
        SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
        std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), rows, cols, "C", true});
        ASSERT_TRUE(term->settle(Milliseconds(500))) << term->screen();
        ASSERT_TRUE(term->running()) << term->error_output();
        EXPECT_TRUE(frame_drawn(*term));
        // Every command that draws, the help screen and its way back.
        term->type("jjh*=hb?");
        ASSERT_TRUE(term->settle(Milliseconds(500)));
        term->type("q");
        term->press(Key::Down);
        term->type("hml");
        ASSERT_TRUE(term->settle(Milliseconds(500)));
        ASSERT_TRUE(term->running()) << term->error_output();
        EXPECT_TRUE(only_screen_drawing(term->output(), HighBytes::None));
        quit_cleanly(*term, before);
    }
}

TEST_F(Robustness, StormOfResizesWithKeysInBetween) {
    test::write_file(
        log, hostile_log() + test::read_file(test::source_file("examples/sample-procmail.log")));
    std::unique_ptr<Terminal> term = start_lurko({{log}, home.path(), 24, 80, "C", true});
    ASSERT_TRUE(shows_status(*term, status_line(52, 19)));
    std::mt19937 random(8);
    std::uniform_int_distribution<int> row_count(1, 100);
    std::uniform_int_distribution<int> col_count(1, 300);
    const std::vector<std::string> keys = {"j", "k", "h", "*", "=", "l", "x", "?q", "down"};
    std::uniform_int_distribution<std::size_t> key(0, keys.size() - 1);
    bool expanded = false;
    for (int round = 0; round < 300; ++round) {
        // The emulator keeps 24x80 meanwhile (see resize_child_only).
        term->resize_child_only(row_count(random), col_count(random));
        const std::string& typed = keys[key(random)];
        if (typed == "down") {
            term->press(Key::Down);
        } else {
            term->type(typed);
        }
        expanded = expanded != (typed == "h");
        term->pump(Milliseconds(round % 10 == 0 ? 50 : 2));
        ASSERT_TRUE(term->running()) << "round " << round << ": " << term->error_output();
        if (round % 50 == 0) {
            // A delivery now and then, so that reloads meet resizes too.
            test::append_file(log, log_entry("storm@example.org", "storm", "storm"));
        }
    }
    // Back at 24x80 the screen is whole again, cell for cell as a monitor
    // started afresh at that size shows it, with nothing left over from the
    // storm.
    term->resize(24, 80);
    term->type("=");
    ASSERT_TRUE(shows_status(*term, status_line(58, 20)));
    std::unique_ptr<Terminal> fresh = start_lurko({{log}, home.path(), 24, 80});
    ASSERT_TRUE(shows_status(*fresh, status_line(58, 20)));
    if (expanded) {
        fresh->type("h");
        ASSERT_TRUE(wait_drawn(*fresh, [&] { return fresh->row_text(2).starts_with("     "); }));
    }
    ASSERT_TRUE(shows_screen(*term, all_rows(*fresh)));
    EXPECT_EQ(term->row_text(22), keys_whole.substr(0, 80));
    EXPECT_EQ(term->row_text(23), version);
    quit_cleanly(*fresh, before);
    EXPECT_TRUE(only_screen_drawing(term->output(), HighBytes::None));
    EXPECT_TRUE(only_screen_properties(*term));
    quit_cleanly(*term, before);
}

}  // namespace
}  // namespace monitor_test
