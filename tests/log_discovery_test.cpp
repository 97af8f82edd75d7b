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

// The log path that find_logfile settles on for a command line.
std::string logfile_for(std::vector<std::string> args) {
    test::Argv argv(std::move(args));
    CommandLine command_line(argv.argc(), argv.argv());
    command_line.find_logfile();
    return command_line.settings.logfile;
}

TEST(FindLogfile, GivenPathNeedsNoConfiguration) {
    test::TempDir dir;
    test::write_file(dir / "procmail.log", "");
    const ScopedHome scoped(std::nullopt);
    EXPECT_EQ(logfile_for({"-o", dir / "procmail.log"}), dir / "procmail.log");
}

TEST(FindLogfile, EmptyPathIsTakenFromTheConfiguration) {
    test::TempDir home;
    const ScopedHome scoped(home.path());
    test::write_file(home / ".procmailrc", "LOGFILE=$HOME/procmail.log\n");
    test::write_file(home / "procmail.log", "");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o"}, std::vector<std::string>{"-o", ""}}) {
        EXPECT_EQ(logfile_for(args), home / "procmail.log");
    }
}

// The same in the child of a death test, which reads what it printed.
void find_printing(std::vector<std::string> args) {
    test::print_to_death_test();
    logfile_for(std::move(args));
}

TEST(FindLogfileDeathTest, MissingLogOrConfigurationEndsTheProgram) {
    using test::exactly;
    using ::testing::ExitedWithCode;
    test::TempDir home;
    const ScopedHome scoped(home.path());
    // The message goes to standard output, nothing to standard error.
    EXPECT_EXIT(logfile_for({home / "missing.log"}), ExitedWithCode(1), "^$");
    EXPECT_EXIT(find_printing({home / "missing.log"}), ExitedWithCode(1),
                exactly(test::log_message(home / "missing.log")));
    EXPECT_EXIT(logfile_for({}), ExitedWithCode(1), "^$");
    EXPECT_EXIT(find_printing({}), ExitedWithCode(1),
                exactly(test::config_message(home / ".procmailrc")));
    test::write_file(home / ".procmailrc", "LOGFILE=$HOME/missing.log\n");
    EXPECT_EXIT(logfile_for({}), ExitedWithCode(1), "^$");
    EXPECT_EXIT(find_printing({}), ExitedWithCode(1),
                exactly(test::log_message(home / "missing.log")));
    // An rc file without a LOGFILE= line, or one that cannot be read, names
    // the empty path.
    test::write_file(home / ".procmailrc", "# LOGFILE=$HOME/procmail.log\n");
    EXPECT_EXIT(find_printing({}), ExitedWithCode(1), exactly(test::log_message("")));
    fs::remove(home / ".procmailrc");
    fs::create_directory(home / ".procmailrc");
    EXPECT_EXIT(find_printing({}), ExitedWithCode(1), exactly(test::log_message("")));
}

TEST(FindLogfileDeathTest, WithoutHomeTheRcFileIsThatOfTheRootOrThePasswordEntry) {
    ASSERT_FALSE(fs::exists("/.procmailrc")) << "this machine has a /.procmailrc";
    {
        const ScopedHome scoped("");
        EXPECT_EXIT(find_printing({}), ::testing::ExitedWithCode(1),
                    test::exactly(test::config_message("/.procmailrc")));
    }
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr) << "the test user has no password entry";
    const std::string rc = std::string(entry->pw_dir) + "/.procmailrc";
    const ScopedHome scoped(std::nullopt);
    if (fs::exists(rc)) {
        EXPECT_EQ(RcScanner().home, entry->pw_dir);  // the user's own rc file is read
    } else {
        EXPECT_EXIT(find_printing({}), ::testing::ExitedWithCode(1),
                    test::exactly(test::config_message(rc)));
    }
}

}  // namespace
