#pragma once

#include <string>
#include <string_view>

// The program's identity. The version and the release date come from the
// build, which sets them in one place.
inline constexpr std::string_view program_name = "Lurko";
inline constexpr std::string_view program_version = LURKO_VERSION;
inline constexpr std::string_view release_year = LURKO_RELEASE_YEAR;
inline constexpr std::string_view release_date = LURKO_RELEASE_DATE;  // month and day
inline constexpr std::string_view author_name = "The Lurko developers";
inline constexpr std::string_view author_short_name = "Lurko developers";
inline constexpr std::string_view author_email = "lurko@example.org";
inline constexpr std::string_view homepage = LURKO_HOMEPAGE;

// "Lurko 0.5.5 (2004-12-17) " and a newline.
std::string version_line();
// "v0.5.5 (2004-12-17)", as the version line at the foot of the screens.
std::string version_tag();
// "Written by ...", with the author's name and mail address, and a newline.
std::string author_line();
// "Written by", the author's short name and mail address: the help screen's
// credit.
std::string credit_text();
// Three lines: the copyright holder and the copying and warranty terms.
std::string legal_notice();
// Version line, author line, an empty line and the legal notice.
std::string banner();
// Where the program can be downloaded from.
std::string download_line();
// The usage text with the option list, naming the program as `argv0`.
std::string usage_text(std::string_view argv0);

// The three fixed outputs of the command line.
std::string help_output(std::string_view argv0);
std::string version_output();
std::string error_output(std::string_view argv0);
// The line the monitor ends with when its input or output is no terminal.
std::string no_terminal_text();
