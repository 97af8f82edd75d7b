#include "ui/screen_text.hpp"

#include <gtest/gtest.h>

#include <string>

#include "test_support.hpp"
#include "ui/folder_view.hpp"
#include "ui/screen.hpp"

namespace {

std::string shown(std::string_view raw, int max_columns = INT_MAX) {
    ScreenText text(max_columns);
    text.append(raw);
    return text.text();
}

TEST(ScreenText, ControlCharactersBecomeCaretForms) {
    const test::LocaleScope locale("C");
    EXPECT_EQ(shown("a\x1b[2Jb\x7f\tc"), "a^[[2Jb^?^Ic");
    EXPECT_EQ(shown("x\xc2\x9b"
                    "1m"),
              "xM-^[1m");
    ScreenText text;
    text.append("\x07");
    EXPECT_EQ(text.columns(), 2);
}

TEST(ScreenText, CutsBeforeAnythingThatWouldNotFitWhole) {
    const test::LocaleScope locale("C");
    EXPECT_EQ(shown("abcdef", 4), "abcd");
    EXPECT_EQ(shown("abc\x01"
                    "def",
                    4),
              "abc");  // "^A" is not split
    EXPECT_EQ(shown("abc\x01"
                    "def",
                    5),
              "abc^A");
    ScreenText text(5);
    EXPECT_TRUE(text.append("ab"));
    EXPECT_FALSE(text.append("cdef"));
    EXPECT_FALSE(text.append("g"));  // nothing more after a cut
    EXPECT_EQ(text.text(), "abcde");
}

TEST(ScreenText, HighBytesInTheCLocaleAreOneColumnEach) {
    const test::LocaleScope locale("C");
    // Not printable in the C locale: each byte a '?', so the cut stays at
    // the same byte as without any conversion.
    EXPECT_EQ(shown("caf\xc3\xa9!", 5), "caf??");
}

TEST(ScreenText, Utf8CharactersStayWholeInAUtf8Locale) {
    const test::LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.active());
    EXPECT_EQ(shown("caf\xc3\xa9!"), "caf\xc3\xa9!");
    // The e-acute takes two bytes and one column.
    EXPECT_EQ(shown("caf\xc3\xa9!", 3), "caf");
    EXPECT_EQ(shown("caf\xc3\xa9!", 4), "caf\xc3\xa9");
    ScreenText wide;
    wide.append("\xe6\x97\xa5\xe6\x9c\xac");  // two double-width characters
    EXPECT_EQ(wide.columns(), 4);
    EXPECT_EQ(shown("\xe6\x97\xa5\xe6\x9c\xac", 3), "\xe6\x97\xa5");
}

TEST(ScreenText, BrokenUtf8ShowsAsQuestionMarks) {
    const test::LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.active());
    // A Latin-1 byte, a truncated sequence at the end, a stray continuation
    // byte: each one '?', and the letters after them are kept.
    EXPECT_EQ(shown("caf\xe9 ok"), "caf? ok");
    EXPECT_EQ(shown("ab\xe2\x82"), "ab??");
    EXPECT_EQ(shown("\x80z"), "?z");
}

TEST(ScreenText, PaddingIsRemovedFromTerminalStrings) {
    EXPECT_EQ(without_padding("\x1b[H\x1b[J$<50>"), "\x1b[H\x1b[J");
    EXPECT_EQ(without_padding("a$<5*/>b"), "ab");
    EXPECT_EQ(without_padding("cost $5"), "cost $5");
    EXPECT_EQ(without_padding("$<"), "$<");
}

TEST(FolderViewText, MailLinesAreCutToTheWidthLessSix) {
    const test::LocaleScope locale("C");
    const std::string from = "alice@example.org";  // "     " + from + ": " = 24 bytes
    std::string subject = "0123456789";            // 34 bytes in all
    const MailEntry exact(nullptr, 0, 0);
    std::string stored = from + subject;
    const MailEntry mail(stored.data(), static_cast<std::uint32_t>(from.size()),
                         static_cast<std::uint32_t>(subject.size()));
    EXPECT_EQ(mail_line_text(mail, 40), "     alice@example.org: 0123456789");
    EXPECT_EQ(mail_line_text(mail, 39), "     alice@example.org: 012345678");
    // Narrow windows: no cut (nothing is drawn there anyway).
    EXPECT_EQ(mail_line_text(mail, 6).size(), 34u);
    EXPECT_EQ(mail_line_text(exact, 40), "     : ");
}

TEST(FolderViewText, FolderRowsHoldTheCountAndTheName) {
    const test::LocaleScope locale("C");
    Folder folder{"lists/dev\x1b", 3, {}};
    EXPECT_EQ(folder_row_text(folder, 80), "      3   lists/dev^[");
    EXPECT_EQ(folder_row_text(folder, 12), "      3   li");
    folder.count = 123456;
    EXPECT_EQ(folder_row_text(folder, 80), "  123456   lists/dev^[");
}

}  // namespace
