#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "app/settings.hpp"

// A command-line reader driven by the C library's getopt: options are handed
// to on_option one by one in command-line order, then the positional
// arguments to on_argument.
class OptionParser {
public:
    // One positional argument.
    virtual void on_argument(const char* argument) = 0;
    // One option letter as getopt returned it ('?' for an unknown letter or a
    // missing value) and getopt's optarg at that moment.
    virtual void on_option(char letter, const char* value) = 0;
    virtual ~OptionParser() = default;

    // A long option ("--help") that stands for a letter of the option string.
    struct LongOption {
        const char* name;
        char letter;
    };

    // Scans argv[1..] POSIX-style: option scanning stops at the first
    // argument that is not an option, at a lone "-" and after "--". A long
    // option counts only when written out whole; any other is unknown.
    void parse(int argc, char* argv[], const char* option_string,
               std::span<const LongOption> long_options = {});

protected:
    OptionParser() = default;
    OptionParser(const OptionParser&) = default;
    OptionParser& operator=(const OptionParser&) = default;
};

// One option of the command line: its letter, its long name (none when
// empty), whether it takes a value, its line in the usage text, and what it
// sets (nothing for the options that print a text and end the process).
struct OptionRow {
    char letter;
    std::string_view long_name;
    bool takes_value;
    std::string_view help;
    void (*apply)(Settings& settings, const char* value);
};

// Every option, in the order the usage text lists them.
inline constexpr OptionRow option_table[] = {
    {'h', "help", false, "Print help and exit", nullptr},
    {'v', "version", false, "Print version info and exit", nullptr},
    {'c',
     {},
     false,
     "Clear contents of Procmail logfile",
     [](Settings& s, const char*) { s.clear_log = true; }},
    {'m',
     {},
     true,
     "Specify program to read mailfolders with",
     [](Settings& s, const char* value) { s.mail_program = value; }},
    {'M',
     {},
     true,
     "Specify directory where mailfolders are stored",
     [](Settings& s, const char* value) { s.mail_dir = value; }},
    {'p',
     {},
     true,
     "Specify mailprogram arguments to choose a mailfolder",
     [](Settings& s, const char* value) { s.mail_prefix = value; }},
    {'C',
     {},
     true,
     "Specify mailprogram arguments to compose a new mail",
     [](Settings& s, const char* value) { s.compose_args = value; }},
    {'o', {}, false, "Print new mail and exit", [](Settings& s, const char*) { s.loop = false; }},
    {'l', {}, false, "Start in curses screen", [](Settings& s, const char*) { s.loop = true; }},
    {'V',
     {},
     false,
     "Be verbose: Send warnings and notices to stderr",
     [](Settings& s, const char*) { s.verbose = true; }},
    {'w',
     {},
     false,
     "When printing new mail and exit, include folder contents",
     [](Settings& s, const char*) { s.wide = true; }},
    {'b',
     {},
     false,
     "Beep on new mail (terminal bell)",
     [](Settings& s, const char*) { s.beep = true; }},
    {'s',
     {},
     false,
     "Do not beep when new mail folder is /dev/null",
     [](Settings& s, const char*) { s.no_beep_devnull = true; }},
    {'H',
     {},
     false,
     "Do not show /dev/null in the folderview",
     [](Settings& s, const char*) { s.hide_devnull = true; }},
};

// The getopt option string the table makes: each letter, with a colon after
// those that take a value, and a closing NUL.
constexpr auto make_option_string() {
    std::array<char, 2 * std::size(option_table) + 1> text{};
    std::size_t end = 0;
    for (const OptionRow& row : option_table) {
        text[end++] = row.letter;
        if (row.takes_value) {
            text[end++] = ':';
        }
    }
    return text;
}

// The program's command line. Construction parses it; -h (--help), -v
// (--version) and an unknown option print their text and end the process
// from inside the construction.
class CommandLine : public OptionParser {
public:
    static constexpr auto option_string = make_option_string();

    CommandLine(int argc, char* argv[]);

    void on_argument(const char* argument) override;
    void on_option(char letter, const char* value) override;

    // Takes the log path from ~/.procmailrc when none was given; ends the
    // process through fatal_error when the log does not exist.
    void find_logfile();

    Settings settings;
    const char* argv0;
};
