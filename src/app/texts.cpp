#include "app/texts.hpp"

#include <algorithm>

#include "app/command_line.hpp"

namespace {

// "0.5.5 (2004-12-17)"
std::string version_and_date() {
    std::string text(program_version);
    text.append(" (").append(release_year).append("-").append(release_date).append(")");
    return text;
}

// "Written by NAME <ADDRESS>"
std::string written_by(std::string_view name) {
    std::string text = "Written by ";
    text.append(name).append(" <").append(author_email).append(">");
    return text;
}

}  // namespace

std::string version_line() {
    std::string line(program_name);
    return line.append(" ").append(version_and_date()).append(" \n");
}

std::string version_tag() {
    std::string tag = "v";
    return tag.append(version_and_date());
}

std::string author_line() {
    return written_by(author_name).append("\n");
}

std::string credit_text() {
    return written_by(author_short_name);
}

std::string legal_notice() {
    std::string text = "Copyright (C) ";
    text.append(release_year).append(" ").append(author_name).append(".\n");
    text.append("This is free software; see the source for copying conditions.\n");
    text.append("There is NO warranty, to the extent permitted by law.\n");
    return text;
}

std::string banner() {
    return version_line() + author_line() + "\n" + legal_notice();
}

std::string download_line() {
    std::string line(program_name);
    line.append(" can be downloaded from ").append(homepage).append("\n");
    return line;
}

std::string usage_text(std::string_view argv0) {
    std::string text = "\nUsage: ";
    text.append(argv0);
    text.append(
        " [option(s)] [logfile]\n  Logfile is the Procmail logfile to monitor.\n\nOptions\n");
    for (const OptionRow& row : option_table) {
        if (row.letter >= ' ') {
            text.append("  -").append(1, row.letter);
        } else {
            // The long-only options, after the letters, their texts in a
            // column of their own: "      --status[=FORMAT]  Print ...".
            constexpr std::size_t help_column = 25;
            const std::size_t start = text.size();
            text.append("      --").append(row.long_name);
            if (row.value == Value::Optional) {
                text.append("[=").append(row.value_name).append("]");
            } else if (row.value == Value::Required) {
                text.append("=").append(row.value_name);
            }
            text.append(std::max<std::size_t>(2, start + help_column - text.size()), ' ');
            text.append(row.help).append("\n");
            continue;
        }
        text.append("    ").append(row.help).append("\n");
    }
    text.append("\n");
    return text;
}

std::string help_output(std::string_view argv0) {
    return banner() + usage_text(argv0) + download_line();
}

std::string version_output() {
    return banner();
}

std::string error_output(std::string_view argv0) {
    std::string text(1, '\n');
    text.append(banner()).append(usage_text(argv0)).append(author_line());
    return text;
}

std::string no_terminal_text() {
    return "lurko error: The monitor needs a terminal as its standard input and output "
           "(-o and --follow write to a pipe or a file)\n";
}
