#pragma once

#include <string>
#include "ui/curses_fwd.hpp"

// Writes a line "     K     DESCRIPTION" for every row of the key table that
// has a description, in table order, from the window's cursor on.
void print_key_list(WINDOW* window);

// The help screen's bottom bar: the key that quits, ":Exit".
std::string help_bar_text();
