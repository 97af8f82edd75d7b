#pragma once

// Helpers shared by the tests: temporary directories, files, running the
// built binary as a child process, and what a log scanner lists.

#include <gtest/gtest.h>
#include <locale.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "log/mail_log_scanner.hpp"

namespace test {

// The release the build names, as the version line at the foot of the
// screens shows it: "v0.5.5 (2004-12-17)".
inline const std::string version_tag =
    "v" LURKO_VERSION " (" LURKO_RELEASE_YEAR "-" LURKO_RELEASE_DATE ")";

// The key bar of the main screen: the labelled keys of the key table in its
// order, each as "key:label ".
inline const std::string key_bar =
    "q:Quit ?:Help r:Clear h:Expand/Contract b:Toggle beep m:Mark as read d:Remove folder ";

// The texts of -v, of -h and of an unknown option for a program started as
// `argv0`, and the messages for a log or an rc file that is not there.
extern const std::string banner;
std::string help_output(const std::string& argv0);
std::string error_output(const std::string& argv0);
std::string log_message(const std::string& path);
std::string config_message(const std::string& path);

// For a death test whose process prints a text and ends: standard output
// goes where the death test reads (standard error, which then goes nowhere),
// so that `exactly` can match what was printed.
void print_to_death_test();
inline ::testing::Matcher<const std::string&> exactly(const std::string& text) {
    return text;
}

// One delivery as Procmail logs it: the From_ line with its date, the
// Subject line, and the folder padded with tabs, followed by the size.
inline std::string log_entry(const std::string& from, const std::string& subject,
                             const std::string& folder) {
    return "From " + from + "  Mon Dec  8 07:19:03 2025\n Subject: " + subject +
           "\n  Folder: " + folder + "\t\t\t\t\t\t\t    273\n";
}

// The folder list of a scanner as its reader sees it, in display order: an
// entry per folder, "<count> <name>", to which `with_mails` adds a line
// "\n  <from>: <subject>" for each of its mails.
std::vector<std::string> folder_list(const MailLogScanner& log, bool with_mails = false);

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes the locale `name` the calling thread's own while the object lives
// (what its character functions and conversions follow), then puts back the
// one it had.
class LocaleScope {
public:
    explicit LocaleScope(const char* name);
    ~LocaleScope();
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

    // Whether the locale exists on this machine and is in use.
    bool active() const { return locale_ != nullptr; }

private:
    locale_t locale_;
    locale_t previous_ = nullptr;
};

void write_file(const std::string& path, const std::string& contents);
std::string read_file(const std::string& path);
void append_file(const std::string& path, const std::string& contents);

// A log in a directory of its own and a scanner to read it.
class LogTest : public ::testing::Test {
protected:
    // Writes `text` as the log and reads it whole.
    void load(const std::string& text) {
        write_file(path, text);
        log.reload(path);
    }

    TempDir dir;
    std::string path = dir / "procmail.log";
    MailLogScanner log;
};

// An argv as a process gets it: the program's name and then `args`, kept
// alive with the object.
class Argv {
public:
    explicit Argv(std::vector<std::string> args, const std::string& program = "lurko");
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;

    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// What a finished child process left behind.
struct RunResult {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = -1;  // exit status, or -1 when it did not exit normally
    int signal = 0;   // the signal that ended it, if one did
};

// Environment changes for a child: a value sets the variable, nullopt unsets it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// In a child process just forked: applies the environment changes, goes to
// `cwd` (when not empty) and executes `argv` (argv[0] is the program path).
// Ends the child with status 126 or 127 when that fails.
[[noreturn]] void exec_in_child(const std::vector<std::string>& argv, const EnvChanges& env,
                                const std::string& cwd = {});

// Runs `argv` (argv[0] is the program path) with standard input from
// /dev/null, the given environment changes and working directory, and waits.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {},
              const std::string& cwd = {});

// Runs the built lurko binary with the given arguments.
RunResult run_lurko(const std::vector<std::string>& args, const EnvChanges& env = {});

// The path of the built lurko binary.
std::string lurko_binary();

// A file of the source tree, by its path from the top (examples/..., docs/...).
std::string source_file(const std::string& relative);

// A file of tests/data, the logs the tests read, by its name.
std::string data_file(const std::string& name);

// The project's log generator, bench/gen-log.
std::string gen_log();

// The tools kept beside the project for cross-checks, ../shared/tools, when
// they are there (a clone of the project alone has none).
std::optional<std::string> shared_tools();

}  // namespace test
