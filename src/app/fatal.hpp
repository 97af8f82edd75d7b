#pragma once

#include <string_view>

// Writes "lurko error: " and the message as one line on standard output and
// ends the process with status 1.
[[noreturn]] void fatal_error(std::string_view message);
