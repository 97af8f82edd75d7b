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
        int has_arg = 0;  // getopt_long's no_argument, required_argument or optional_argument
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

// Whether an option takes a value. An optional one is given as "--name=VALUE".
enum class Value : unsigned char { None, Required, Optional };

// The codes of the options that have a long name only: below the printable
// letters, so that none is a letter of the option string.
enum LongOnly : char { Follow = 1, Json, Status, NotifyOption, OnNew, Ignore, NoMouse, UndoOption };

// One option of the command line: its letter (or LongOnly code), its long
// name (none when empty), whether it takes a value, its line in the usage
// text, what it sets (nothing for the options that print a text and end the
// process), the name of its value in the usage text, and which values it
// accepts (any when nullptr).
struct OptionRow {
    char letter;
    std::string_view long_name;
    Value value;
    std::string_view help;
    void (*apply)(Settings& settings, const char* value);
    std::string_view value_name = {};
    bool (*accepts)(const char* value) = nullptr;
};

// The --notify values: none (the best there is), "terminal" or "desktop".
Notify notify_from(const char* value);
bool is_notify_value(const char* value);

// Every option, in the order the usage text lists them.
inline constexpr OptionRow option_table[] = {
    {'h', "help", Value::None, "Print help and exit", nullptr},
    {'v', "version", Value::None, "Print version info and exit", nullptr},
    {'c',
     {},
     Value::None,
     "Clear contents of Procmail logfile",
     [](Settings& s, const char*) { s.clear_log = true; }},
    {'m',
     {},
     Value::Required,
     "Specify program to read mailfolders with",
     [](Settings& s, const char* value) { s.mail_program = value; }},
    {'M',
     {},
     Value::Required,
     "Specify directory where mailfolders are stored",
     [](Settings& s, const char* value) {
         s.mail_dir = value;
         s.mail_dir_given = true;
     }},
    {'p',
     {},
     Value::Required,
     "Specify mailprogram arguments to choose a mailfolder",
     [](Settings& s, const char* value) { s.mail_prefix = value; }},
    {'C',
     {},
     Value::Required,
     "Specify mailprogram arguments to compose a new mail",
     [](Settings& s, const char* value) { s.compose_args = value; }},
    {'o',
     {},
     Value::None,
     "Print new mail and exit",
     [](Settings& s, const char*) { s.loop = false; }},
    {'l',
     {},
     Value::None,
     "Start in curses screen",
     [](Settings& s, const char*) { s.loop = true; }},
    {'V',
     {},
     Value::None,
     "Be verbose: Send warnings and notices to stderr",
     [](Settings& s, const char*) { s.verbose = true; }},
    {'w',
     {},
     Value::None,
     "When printing new mail and exit, include folder contents",
     [](Settings& s, const char*) { s.wide = true; }},
    {'b',
     {},
     Value::None,
     "Beep on new mail (terminal bell)",
     [](Settings& s, const char*) { s.beep = true; }},
    {'s',
     {},
     Value::None,
     "Do not beep when new mail folder is /dev/null",
     [](Settings& s, const char*) { s.no_beep_devnull = true; }},
    {'H',
     {},
     Value::None,
     "Do not show /dev/null in the folderview",
     [](Settings& s, const char*) { s.hide_devnull = true; }},
    {Follow, "follow", Value::None,
     "Print each new mail as it is logged, until the reader goes away",
     [](Settings& s, const char*) { s.follow = true; }},
    {Json, "json", Value::None, "With -o or --follow, print JSON",
     [](Settings& s, const char*) { s.json = true; }},
    {Status, "status", Value::Optional,
     "Print one line for a status bar and exit (%n %f %F %s %S %%)",
     [](Settings& s, const char* value) {
         s.status = true;
         if (value != nullptr) {
             s.status_format = value;
         }
     },
     "FORMAT"},
    {NotifyOption, "notify", Value::Optional,
     "Send a notification on new mail (terminal or desktop)",
     [](Settings& s, const char* value) { s.notify = notify_from(value); }, "HOW", is_notify_value},
    {OnNew, "on-new", Value::Required, "Run CMD through the shell for each new mail",
     [](Settings& s, const char* value) { s.on_new = value; }, "CMD"},
    {Ignore, "ignore", Value::Required,
     "No bell, notification or command for folders matching GLOB",
     [](Settings& s, const char* value) { s.ignore.emplace_back(value); }, "GLOB"},
    {NoMouse, "no-mouse", Value::None, "Leave the mouse to the terminal, to select text with it",
     [](Settings& s, const char*) { s.mouse = false; }},
    {UndoOption, "undo", Value::None, "Undo the last removal or emptying of the log and exit",
     [](Settings& s, const char*) { s.undo = true; }},
};

// The getopt option string the table makes: each letter, with a colon after
// those that take a value, and a closing NUL.
constexpr auto make_option_string() {
    std::array<char, 2 * std::size(option_table) + 1> text{};
    std::size_t end = 0;
    for (const OptionRow& row : option_table) {
        if (row.letter < ' ') {
            continue;  // a long name only
        }
        text[end++] = row.letter;
        if (row.value == Value::Required) {
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
