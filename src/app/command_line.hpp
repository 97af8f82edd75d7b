#pragma once

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

// The program's command line. Construction parses it; -h (--help), -v
// (--version) and an unknown option print their text and end the process
// from inside the construction.
class CommandLine : public OptionParser {
public:
    static constexpr const char* option_string = "hvlcowbVm:M:p:C:sH";

    CommandLine(int argc, char* argv[]);

    void on_argument(const char* argument) override;
    void on_option(char letter, const char* value) override;

    // Takes the log path from ~/.procmailrc when none was given; ends the
    // process through fatal_error when the log does not exist.
    void find_logfile();

    Settings settings;
    const char* argv0;
};
