#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/settings.hpp"

// Hands the terminal to a shell command: saves the program's terminal modes,
// leaves curses mode and runs the line with the shell, waiting for it. When
// the command fails (a status other than 0, a signal, or no shell), one line
// says so under its output and a key is waited for, so that what it said
// can be read; the monitor loop restores the screen on its next pass.
void run_external(const std::string& command_line);

// `text` as one word for the shell: in single quotes, each quote in it
// written as '\''.
std::string shell_quoted(std::string_view text);

// The shell command that opens `folder` in the mail client: program, prefix
// and the folder's path, with the mail directory in front of a name that
// does not begin with '/'. The settings go to the shell as the user wrote
// them (so "$HOME" expands); the name from the log is quoted.
std::string open_folder_command(const Settings& settings, std::string_view folder);

// "1 mail", "12 mails": a count of mails as the bottom bar says it.
std::string mails_text(std::uint64_t count);
