#include "app/command_line.hpp"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/texts.hpp"

namespace {

// Writes one of the fixed outputs and ends the process.
[[noreturn]] void finish(const std::string& text, int status) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    std::exit(status);
}

}  // namespace

void OptionParser::parse(int argc, char* argv[], const char* option_string,
                         std::span<const LongOption> long_options) {
    std::vector<option> table;
    for (const LongOption& long_option : long_options) {
        table.push_back({long_option.name, no_argument, nullptr, long_option.letter});
    }
    table.push_back({nullptr, 0, nullptr, 0});

    // optind 0 makes glibc start over at argv[1] with a clean state, also when
    // a parser ran before; the leading '+' asks for POSIX scanning instead of
    // glibc's reordering of arguments.
    optind = 0;
    const std::string posix_options = std::string("+") + option_string;
    for (;;) {
        int long_index = -1;
        const int letter =
            getopt_long(argc, argv, posix_options.c_str(), table.data(), &long_index);
        if (letter == -1) {
            break;
        }
        // getopt_long also takes an unambiguous abbreviation ("--he"); only
        // the whole name counts here.
        if (long_index >= 0 &&
            std::string_view(argv[optind - 1]) != std::string("--") + table[long_index].name) {
            std::fprintf(stderr, "%s: unrecognized option '%s'\n", argv[0], argv[optind - 1]);
            on_option('?', nullptr);
            continue;
        }
        on_option(static_cast<char>(letter), optarg);
    }
    while (optind < argc) {
        on_argument(argv[optind++]);
    }
}

CommandLine::CommandLine(int argc, char* argv[]) : argv0(argc > 0 ? argv[0] : "") {
    static constexpr LongOption long_options[] = {{"help", 'h'}, {"version", 'v'}};
    parse(argc, argv, option_string, long_options);
}

void CommandLine::on_argument(const char* argument) {
    settings.logfile = argument;
}

void CommandLine::on_option(char letter, const char* value) {
    switch (letter) {
        case 'h':
            finish(help_output(argv0), 0);
        case 'v':
            finish(version_output(), 0);
        case 'c':
            settings.clear_log = true;
            break;
        case 'm':
            settings.mail_program = value;
            break;
        case 'M':
            settings.mail_dir = value;
            settings.mail_dir_given = true;
            break;
        case 'p':
            settings.mail_prefix = value;
            break;
        case 'C':
            settings.compose_args = value;
            break;
        case 'o':
            settings.loop = false;
            break;
        case 'l':
            settings.loop = true;
            break;
        case 'V':
            settings.verbose = true;
            break;
        case 'w':
            settings.wide = true;
            break;
        case 'b':
            settings.beep = true;
            break;
        case 's':
            settings.no_beep_devnull = true;
            break;
        case 'H':
            settings.hide_devnull = true;
            break;
        default:  // '?': getopt has already said what was wrong on stderr
            finish(error_output(argv0), 1);
    }
}
