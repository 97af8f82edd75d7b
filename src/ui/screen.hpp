#pragma once

#include <string>
#include <string_view>

// The colour pairs every screen uses, defined by start_screen.
inline constexpr short text_pair = 1;       // ordinary text: white on black
inline constexpr short bar_pair = 2;        // top and bottom bars: white on blue
inline constexpr short selection_pair = 3;  // selected row and "->": yellow on red

// How the screens highlight the bars and the selection: with the colour
// pairs, or in reverse video on a terminal without colours.
enum class Highlight { Colour, Reverse };

inline Highlight highlight_for(bool colour) {
    return colour ? Highlight::Colour : Highlight::Reverse;
}

// Starts curses on standard output and input for the interactive monitor:
// character-at-a-time input without echo, Return as carriage return, the
// three colour pairs. Sets `colour`
// to whether the terminal shows colours. A terminal that cannot be used
// (TERM unset or unknown, or one without cursor addressing) ends the process
// through fatal_error("Could not start up curses"). From here on a fatal
// error ends the screen before its message is written.
// With `mouse`, curses reports clicks and the wheel as KEY_MOUSE.
void start_screen(bool& colour, bool mouse = false);

// Clears the screen and ends curses. Does nothing, and writes nothing, when
// curses is not running (before start_screen, or a second time).
void end_screen();

// Defines the three colour pairs on the current curses screen: in colour as
// their names say, else all white on black (those calls fail, which changes
// nothing).
void define_colour_pairs(Highlight highlight);

// A terminfo string as it goes to the terminal: its padding ("$<5>",
// "$<2*/>") removed, which only a slow terminal would need.
std::string without_padding(std::string_view capability);
