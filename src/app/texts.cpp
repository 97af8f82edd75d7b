#include "app/texts.hpp"

const OptionHelp option_help[] = {
    {'h', "Print help and exit"},
    {'v', "Print version info and exit"},
    {'c', "Clear contents of Procmail logfile"},
    {'m', "Specify program to read mailfolders with"},
    {'M', "Specify directory where mailfolders are stored"},
    {'p', "Specify mailprogram arguments to choose a mailfolder"},
    {'C', "Specify mailprogram arguments to compose a new mail"},
    {'o', "Print new mail and exit"},
    {'l', "Start in curses screen"},
    {'V', "Be verbose: Send warnings and notices to stderr"},
    {'w', "When printing new mail and exit, include folder contents"},
    {'b', "Beep on new mail (terminal bell)"},
    {'s', "Do not beep when new mail folder is /dev/null"},
    {'H', "Do not show /dev/null in the folderview"},
    {0, {}},
};

std::string version_line() {
    std::string line;
    line.append(program_name).append(" ").append(program_version);
    line.append(" (").append(release_year).append("-").append(release_date).append(") \n");
    return line;
}

std::string author_line() {
    std::string line = "Written by ";
    line.append(author_name).append(" <").append(author_email).append(">\n");
    return line;
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
    for (const OptionHelp* row = option_help; row->letter != 0; ++row) {
        text.append("  -").append(1, row->letter).append("    ").append(row->description);
        text.append("\n");
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
