#include "log/encoded_words.hpp"

#include <gtest/gtest.h>
#include <langinfo.h>

#include <string>
#include <string_view>

#include "test_support.hpp"

namespace {

struct Case {
    const char* locale;
    std::string_view text;
    std::string_view shown;
};

const Case cases[] = {
    {"C.UTF-8", "=?UTF-8?B?w5xiZXIgZGllIEdyw7bDn2U=?=", "Über die Größe"},
    {"C.UTF-8", "=?utf-8?q?Gr=c3=b6=C3=9Fe_und_L=C3=A4nge?=", "Größe und Länge"},
    {"C.UTF-8", "=?iso-8859-1?q?R=E9union_d=27=E9quipe?=", "Réunion d'équipe"},
    {"C.UTF-8", "=?windows-1252?Q?=93quoted=94?=", "“quoted”"},
    // Adjacent words: the blanks between them go; a character split between
    // two words of one charset comes out whole.
    {"C.UTF-8", "=?UTF-8?B?ww==?= \t =?utf-8?b?nGJlcg==?=", "Über"},
    {"C.UTF-8", "=?iso-8859-1?q?=E9?= =?utf-8?Q?=C3=A9?=", "éé"},
    {"C.UTF-8", "Re: =?utf-8?q?a?= and  =?utf-8?q?b?=!", "Re: a and  b!"},
    {"C.UTF-8", "x=?utf-8?Q?=C3=9C?=y", "xÜy"},
    {"C.UTF-8", "=?utf-8*en?Q?=C3=9Cber?=", "Über"},
    // Cut short at the end: the whole bytes, without a last partial character.
    {"C.UTF-8", "Fwd: =?UTF-8?B?w5xiZXIgZGllIEdyw7", "Fwd: Über die Gr"},
    {"C.UTF-8", "=?utf-8?b?w5xiZX", "Übe"},
    {"C.UTF-8", "=?utf-8?q?Gr=C3=B6=C3", "Grö"},
    {"C.UTF-8", "=?utf-8?q?Gr=C3=B6=C", "Grö"},
    {"C.UTF-8", "=?utf-8?q?ab?", "ab"},
    {"C.UTF-8", "Re: =?utf-8?q", "Re: =?utf-8?q"},
    // Left as logged.
    {"C.UTF-8", "=?x-no-such-charset?q?abc?=", "=?x-no-such-charset?q?abc?="},
    {"C.UTF-8", "=?utf-8//TRANSLIT?q?abc?=", "=?utf-8//TRANSLIT?q?abc?="},
    {"C.UTF-8", "=?+?q?=C3=A9?=", "=?+?q?=C3=A9?="},
    {"C.UTF-8", "=?utf-8?x?abc?= =??q?abc?=", "=?utf-8?x?abc?= =??q?abc?="},
    {"C.UTF-8", "=?utf-8?b?w5x!?= =?utf-8?q?a=4?=", "=?utf-8?b?w5x!?= =?utf-8?q?a=4?="},
    {"C.UTF-8", "=?utf-8?q?a b?=", "=?utf-8?q?a b?="},
    // Control characters are returned as they are; invalid bytes and an
    // incomplete character in a whole word become '?'.
    {"C.UTF-8", "=?utf-8?q?=1B[2J?=", "\x1b[2J"},
    {"C.UTF-8", "=?utf-8?q?a=FFb=C3?=", "a?b?"},
    {"C.UTF-8", "=?utf-8?q?a=F5=B9=90=81b?= =?ucs-4be?q?=00=11=00=00?=", "a?b?"},
    {"C", "=?utf-8?q?R=C3=A9union=F3=A0=81=B1?= ok", "R?union? ok"},
};

TEST(EncodedWords, DecodesIntoTheLocaleCharset) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const test::LocaleScope locale(c.locale);
        ASSERT_TRUE(locale.active()) << c.locale;
        EXPECT_EQ(decode_encoded_words(c.text), c.shown);
    }
}

// More charsets than converters are kept: those closed to make room are
// opened again when named again, and the one a pending run of words still
// needs stays open while unknown charsets pass.
TEST(EncodedWords, SubjectOfManyCharsets) {
    const test::LocaleScope locale("C.UTF-8");
    ASSERT_TRUE(locale.active());
    std::string text;
    std::string shown;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : {"latin1", "l1", "iso-8859-1", "iso8859-1", "iso_8859-1", "cp819",
                                 "ibm819", "iso-ir-100", "csisolatin1", "iso_8859-1:1987"}) {
            text += std::string("=?") + name + "?q?=E9?= ";
            shown += "é";
        }
    }
    std::string unknown;
    for (int index = 0; index < 12; ++index) {
        unknown += " =?x-unknown-" + std::to_string(index) + "?q?a?=";
    }
    EXPECT_EQ(decode_encoded_words(text + unknown.substr(1)), shown + unknown);
}

TEST(EncodedWords, ShowsLatin1InALatin1Locale) {
    for (const char* name : {"en_US.ISO-8859-1", "de_DE.ISO-8859-1", "fr_FR.ISO-8859-1"}) {
        const test::LocaleScope locale(name);
        if (locale.active() && std::string_view(::nl_langinfo(CODESET)) == "ISO-8859-1") {
            EXPECT_EQ(decode_encoded_words("=?utf-8?q?R=C3=A9union_=E2=82=AC5?="), "R\xe9union ?5");
            return;
        }
    }
    GTEST_SKIP() << "no ISO-8859-1 locale is installed";
}

}  // namespace
