#include "app/log_discovery.hpp"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Sets HOME (or unsets it, given nullopt) for the lifetime of the object.
class ScopedHome {
public:
    explicit ScopedHome(const std::optional<std::string>& value) {
        if (const char* old = std::getenv("HOME")) {
            saved_ = old;
        }
        set(value);
    }
    ~ScopedHome() { set(saved_); }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

private:
    static void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv("HOME", value->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }
    std::optional<std::string> saved_;
};

class RcScannerTest : public ::testing::Test {
protected:
    // The log path an rc file of this text gives.
    std::string logfile_of(const std::string& rc_text) {
        test::write_file(home / ".procmailrc", rc_text);
        return RcScanner().found_logfile;
    }

    test::TempDir home;
    ScopedHome scoped_home{home.path()};
};

TEST_F(RcScannerTest, TheLastAssignmentOutsideRecipesWins) {
    EXPECT_EQ(logfile_of("MAILDIR=$HOME/Mail\n"
                         "# LOGFILE=$HOME/commented\n"
                         " LOGFILE=$HOME/indented\n"
                         "\tLOGFILE=$HOME/tabbed\n"
                         "logfile=$HOME/lower\n"
                         "LOGFILE =$HOME/spaced\n"
                         "LOGFILE=$HOME/procmail.log\n"
                         "LOGFILEX=$HOME/other\n"
                         ":0\n* ^Subject: x\n{\n  LOGFILE=$HOME/in-braces\n}\n"
                         ":0 c\n! LOGFILE=$HOME/forward\n"
                         "VERBOSE=off\n"),
              home.path() + "/procmail.log");
}

TEST_F(RcScannerTest, ValueIsReadAsProcmailReadsIt) {
    EXPECT_EQ(logfile_of("LOGFILE=\"$HOME/log\"  # comment \r\n"), home.path() + "/log");
    EXPECT_EQ(logfile_of("LOGFILE=/var/log/procmail"), "/var/log/procmail");  // no newline
    EXPECT_EQ(logfile_of("LOGFILE=\n"), "");
    EXPECT_EQ(logfile_of("LOGFILE=a\0b\n"s), home.path() + "/a");
    EXPECT_EQ(logfile_of("LOGFILE='$HOME'\\ \"${HOME}\"\\\n.log\n"),
              home.path() + "/$HOME " + home.path() + ".log");
}

TEST_F(RcScannerTest, LastLineWinsEvenWhenEmpty) {
    const std::string in_home = home.path() + "/";
    EXPECT_EQ(logfile_of("LOGFILE=first\nLOGFILE=second\n"), in_home + "second");
    EXPECT_EQ(logfile_of("LOGFILE=first\nLOGFILE=\n"), "");
    EXPECT_EQ(logfile_of("LOGFILE=first\nLOGFILE=" + std::string(5000, 'x') + "\n"),
              in_home + "first");
    // An over-long line of anything hides nothing after it.
    EXPECT_EQ(logfile_of("# " + std::string(5000, '#') + "\nLOGFILE=after\n"), in_home + "after");
}

TEST_F(RcScannerTest, EveryVariableIsSubstituted) {
    EXPECT_EQ(logfile_of("LOGFILE=$HOME/$HOME/log\n"), home.path() + "/" + home.path() + "/log");
    EXPECT_EQ(logfile_of("PM=$HOME/pm\nLOGFILE=${PM}/${NONE:-log}${PM+.}${PM:+x}${NONE-y}\n"),
              home.path() + "/pm/log.xy");
    EXPECT_EQ(logfile_of("LOGFILE=$HOMEDIR\n"), "");
    EXPECT_EQ(logfile_of("LOGFILE=$HOM/log\n"), "/log");
}

TEST_F(RcScannerTest, MaildirMovesRelativeNamesAndIncludesNestOnce) {
    fs::create_directory(home / "Mail");
    test::write_file(home / "Mail/a.rc", "INCLUDERC=a.rc\nLOGFILE=inner\nINCLUDERC=b.rc\n");
    test::write_file(home / "Mail/b.rc",
                     "MAILDIR=missing\nX=`exit 1`\nINCLUDERC=$HOME/.procmailrc\n");
    EXPECT_EQ(logfile_of("MAILDIR=$HOME/Mail\nINCLUDERC=a.rc\n"), home.path() + "/Mail/inner");
    EXPECT_EQ(RcScanner().mail_dir, home.path() + "/Mail");
    // A directory from a command is forgotten once MAILDIR is known again.
    EXPECT_EQ(logfile_of("MAILDIR=`pwd`\nMAILDIR=$HOME\nLOGFILE=log\n"), home.path() + "/log");
}

TEST_F(RcScannerTest, NoLogfileLineGivesNothing) {
    EXPECT_EQ(logfile_of(""), "");
    EXPECT_EQ(logfile_of("MAILDIR=$HOME/Mail\n:0:\n* ^From.*x\nbox\n"), "");
}

TEST_F(RcScannerTest, UnreadableConfigurationGivesNothing) {
    // A directory exists for stat but cannot be read as a file.
    fs::create_directory(home / ".procmailrc");
    EXPECT_EQ(RcScanner().found_logfile, "");
}

TEST_F(RcScannerTest, HomeIsReadOnce) {
    test::write_file(home / ".procmailrc", "LOGFILE=$HOME/x\n");
    const RcScanner scanner;
    EXPECT_EQ(scanner.home, home.path());
}

TEST(HomeDirectory, FromHomeElseFromThePasswordEntry) {
    {
        const ScopedHome scoped("/some/where");
        EXPECT_EQ(home_directory(), "/some/where");
    }
    {
        const ScopedHome scoped("");
        EXPECT_EQ(home_directory(), "");
    }
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr) << "the test user has no password entry";
    const std::string expected = entry->pw_dir;
    const ScopedHome scoped(std::nullopt);
    EXPECT_EQ(home_directory(), expected);
}

TEST(FileExists, AnyEntryThatStatFinds) {
    test::TempDir dir;
    test::write_file(dir / "file", "");
    fs::create_directory(dir / "dir");
    fs::create_symlink(dir / "file", dir / "good-link");
    fs::create_symlink(dir / "missing", dir / "broken-link");
    EXPECT_TRUE(file_exists(dir / "file"));
    EXPECT_TRUE(file_exists(dir / "dir"));
    EXPECT_TRUE(file_exists(dir / "good-link"));
    EXPECT_FALSE(file_exists(dir / "broken-link"));
    EXPECT_FALSE(file_exists(dir / "missing"));
    EXPECT_FALSE(file_exists(dir / "file/below-a-file"));
    EXPECT_FALSE(file_exists(""));
}

// A CommandLine for the given arguments, with argv kept alive beside it.
struct ParsedCommandLine {
    explicit ParsedCommandLine(std::vector<std::string> args) : words(std::move(args)) {
        words.insert(words.begin(), "lurko");
        for (std::string& word : words) {
            pointers.push_back(word.data());
        }
        pointers.push_back(nullptr);
        command_line.emplace(static_cast<int>(words.size()), pointers.data());
    }
    std::vector<std::string> words;
    std::vector<char*> pointers;
    std::optional<CommandLine> command_line;
};

TEST(FindLogfile, GivenPathNeedsNoConfiguration) {
    test::TempDir dir;
    test::write_file(dir / "procmail.log", "");
    const ScopedHome scoped(std::nullopt);
    ParsedCommandLine parsed({"-o", dir / "procmail.log"});
    parsed.command_line->find_logfile();
    EXPECT_EQ(parsed.command_line->settings.logfile, dir / "procmail.log");
}

TEST(FindLogfile, EmptyPathIsTakenFromTheConfiguration) {
    test::TempDir home;
    const ScopedHome scoped(home.path());
    test::write_file(home / ".procmailrc", "LOGFILE=$HOME/procmail.log\n");
    test::write_file(home / "procmail.log", "");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o"}, std::vector<std::string>{"-o", ""}}) {
        ParsedCommandLine parsed(args);
        parsed.command_line->find_logfile();
        EXPECT_EQ(parsed.command_line->settings.logfile, home / "procmail.log");
    }
}

TEST(FindLogfileDeathTest, MissingLogOrConfigurationEndsTheProgram) {
    test::TempDir home;
    const ScopedHome scoped(home.path());
    // The messages go to standard output; the end-to-end tests read them.
    EXPECT_EXIT(ParsedCommandLine({home / "missing.log"}).command_line->find_logfile(),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(ParsedCommandLine({}).command_line->find_logfile(), ::testing::ExitedWithCode(1),
                "");
    test::write_file(home / ".procmailrc", "LOGFILE=$HOME/missing.log\n");
    EXPECT_EXIT(ParsedCommandLine({}).command_line->find_logfile(), ::testing::ExitedWithCode(1),
                "");
}

}  // namespace
