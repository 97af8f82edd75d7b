#include "app/command_line.hpp"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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
        table.push_back({long_option.name, long_option.has_arg, nullptr, long_option.letter});
    }
    table.push_back({nullptr, 0, nullptr, 0});

    // optind 0 makes glibc start over at argv[1] with a clean state, also when
    // a parser ran before; the leading '+' asks for POSIX scanning instead of
    // glibc's reordering of arguments.
    optind = 0;
    const std::string posix_options = std::string("+") + option_string;
    for (;;) {
        int long_index = -1;
        // A long option is a whole argument of its own: the one at optind.
        const int at = optind == 0 ? 1 : optind;
        const int letter =
            getopt_long(argc, argv, posix_options.c_str(), table.data(), &long_index);
        if (letter == -1) {
            break;
        }
        // getopt_long also takes an unambiguous abbreviation ("--he"); only
        // the whole name counts here.
        if (long_index >= 0 &&
            std::string_view(argv[at]).substr(0, std::string_view(argv[at]).find('=')) !=
                std::string("--") + table[long_index].name) {
            std::fprintf(stderr, "%s: unrecognized option '%s'\n", argv[0], argv[at]);
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
    std::vector<LongOption> long_options;
    for (const OptionRow& row : option_table) {
        if (!row.long_name.empty()) {
            const int has_arg = row.value == Value::Required   ? required_argument
                                : row.value == Value::Optional ? optional_argument
                                                               : no_argument;
            long_options.push_back({row.long_name.data(), row.letter, has_arg});
        }
    }
    parse(argc, argv, option_string.data(), long_options);
}

void CommandLine::on_argument(const char* argument) {
    settings.logfile = argument;
}

void CommandLine::on_option(char letter, const char* value) {
    const auto row =
        std::find_if(std::begin(option_table), std::end(option_table),
                     [letter](const OptionRow& option) { return option.letter == letter; });
    if (row == std::end(option_table)) {
        // '?': getopt has already said what was wrong on stderr
        finish(error_output(argv0), 1);
    }
    if (row->accepts != nullptr && !row->accepts(value)) {
        std::fprintf(stderr, "%s: invalid value '%s' for '--%s'\n", argv0, value,
                     std::string(row->long_name).c_str());
        finish(error_output(argv0), 1);
    }
    if (row->apply != nullptr) {
        row->apply(settings, value);
    } else {
        finish(letter == 'h' ? help_output(argv0) : version_output(), 0);
    }
}

Notify notify_from(const char* value) {
    if (value == nullptr) {
        return Notify::Auto;
    }
    return std::string_view(value) == "desktop" ? Notify::Desktop : Notify::Terminal;
}

bool is_notify_value(const char* value) {
    return value == nullptr || std::string_view(value) == "terminal" ||
           std::string_view(value) == "desktop";
}
