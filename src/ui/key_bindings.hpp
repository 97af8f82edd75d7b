#pragma once

#include <string>
#include <string_view>

// What a key asks the monitor to do. The codes of the first sixteen are
// fixed, 0 to 15; the later ones follow.
enum class Command : unsigned char {
    None = 0,           // no binding, or a key read that timed out
    Quit = 1,           // leave the monitor
    Help = 2,           // show the help screen
    OpenFolder = 3,     // mail client on the selected folder
    ClearLog = 4,       // empty the log file
    Redraw = 5,         // erase and draw everything again
    Up = 6,             // selection up, wrapping to the last row
    Down = 7,           // selection down, wrapping to the first row
    Last = 8,           // selection to the last row
    First = 9,          // selection to the first row
    LaunchClient = 10,  // mail client alone
    Compose = 11,       // mail client to write a new mail
    Expand = 12,        // list the selected folder's mails, or stop listing them
    ToggleBeep = 13,    // bell on new mail on or off
    MarkRead = 14,      // drop the selected folder from the list
    RemoveFolder = 15,  // drop it and rewrite the log without it
    PageDown = 16,      // the view a page further down, the selection kept in it
    PageUp = 17,        // the view a page further up, the selection kept in it
    Search = 18,        // ask for a text, select the next folder whose name holds it
    SearchNext = 19,    // the next folder whose name holds it, wrapping
    SearchBack = 20,    // the previous one, wrapping
    Mouse = 21,         // a click selects a folder, the wheel scrolls
    Undo = 22,          // take back the last removal or emptying of the log
};

// Curses key codes the table binds, as a key read with keypad translation on
// returns them (checked against <curses.h> where the table is compiled).
namespace key_code {
inline constexpr int control_b = 2;
inline constexpr int control_f = 6;
inline constexpr int control_g = 7;
inline constexpr int backspace = 8;
inline constexpr int carriage_return = 13;
inline constexpr int escape = 27;
inline constexpr int del = 127;
inline constexpr int down = 258;           // KEY_DOWN
inline constexpr int up = 259;             // KEY_UP
inline constexpr int left = 260;           // KEY_LEFT
inline constexpr int right = 261;          // KEY_RIGHT
inline constexpr int home = 262;           // KEY_HOME
inline constexpr int f1 = 265;             // KEY_F(1)
inline constexpr int next_page = 338;      // KEY_NPAGE
inline constexpr int previous_page = 339;  // KEY_PPAGE
inline constexpr int enter = 343;          // KEY_ENTER
inline constexpr int end = 360;            // KEY_END
inline constexpr int mouse = 409;          // KEY_MOUSE
}  // namespace key_code

// One row of the key table. An empty label or description means the row has
// none: it is left out of the key summary bar or of the help screen.
struct KeyBinding {
    int key;
    std::string_view label;        // short name for the key summary bar
    std::string_view description;  // the line on the help screen
    Command command;
};

// Every key of the main screen, in the order the summary bar and the help
// screen list them, closed by a row whose key is 0. No key occurs twice.
inline constexpr KeyBinding key_table[] = {
    {'q', "Quit", "Quit Lurko", Command::Quit},
    {'?', "Help", "Show help", Command::Help},
    {key_code::f1, {}, {}, Command::Help},
    {'r', "Clear", "Empty contents of Procmail logfile", Command::ClearLog},
    {'g', {}, "Launch mail client on selected mailbox", Command::OpenFolder},
    {key_code::carriage_return, {}, {}, Command::OpenFolder},
    {key_code::enter, {}, {}, Command::OpenFolder},
    {'o', {}, "Launch mail client", Command::LaunchClient},
    {'c', {}, "Launch mail client for writing new message", Command::Compose},
    {'l', {}, "Redraw the display", Command::Redraw},
    {'k', {}, "Move up", Command::Up},
    {key_code::up, {}, {}, Command::Up},
    {'j', {}, "Move down", Command::Down},
    {key_code::down, {}, {}, Command::Down},
    {key_code::right, {}, {}, Command::Last},
    {key_code::left, {}, {}, Command::First},
    {'=', {}, {}, Command::First},
    {'*', {}, {}, Command::Last},
    {key_code::home, {}, {}, Command::First},
    {key_code::end, {}, {}, Command::Last},
    {'h', "Expand/Contract", "Expand folder email contents", Command::Expand},
    {'b', "Toggle beep", "Toggles beeping on new mail", Command::ToggleBeep},
    {'m', "Mark as read", "Marks folder as read", Command::MarkRead},
    {'d', "Remove folder", "Marks folder as read, and removes from logfile as well (experimental)",
     Command::RemoveFolder},
    {key_code::control_f, {}, "Scroll down a page (also PgDn)", Command::PageDown},
    {key_code::next_page, {}, {}, Command::PageDown},
    {key_code::control_b, {}, "Scroll up a page (also PgUp)", Command::PageUp},
    {key_code::previous_page, {}, {}, Command::PageUp},
    {'/', {}, "Search for a folder by name", Command::Search},
    {'n', {}, "Next folder that matches the search", Command::SearchNext},
    {'N', {}, "Previous folder that matches the search", Command::SearchBack},
    {key_code::mouse, {}, {}, Command::Mouse},
    {'u', {}, "Undo the last removal or emptying of the log", Command::Undo},
    {0, {}, {}, Command::None},
};

// How the help screen names a key: the character itself, or ^X for a
// control character.
inline std::string key_name(int key) {
    if (key > 0 && key < 32) {
        return {'^', static_cast<char>('@' + key)};
    }
    return std::string(1, static_cast<char>(key));
}

// The command of the first row bound to `key`; Command::None for a key no row
// binds, the timed-out read (ERR) included.
constexpr Command key_to_command(int key) {
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (row->key == key) {
            return row->command;
        }
    }
    return Command::None;
}

// The key of the first row bound to `command`; '?' when no row is.
constexpr int command_to_key(Command command) {
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (row->command == command) {
            return row->key;
        }
    }
    return '?';
}
