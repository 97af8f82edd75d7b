#pragma once

#include <string_view>

// Writes "lurko error: " and the message as one line on standard output and
// ends the process with status 1. The cleanup registered last runs first.
[[noreturn]] void fatal_error(std::string_view message);

// What fatal_error runs before it writes its message: the owner of the
// terminal registers how it hands the terminal back to the shell, so that
// the message lands on the shell's screen. nullptr registers nothing.
void set_fatal_cleanup(void (*cleanup)());
