#include "ui/key_bindings.hpp"

#include <curses.h>

// The table is written with plain numbers so that headers using it need no
// curses; these make sure the numbers are the ones this curses sends.
static_assert(key_code::down == KEY_DOWN);
static_assert(key_code::up == KEY_UP);
static_assert(key_code::left == KEY_LEFT);
static_assert(key_code::right == KEY_RIGHT);
static_assert(key_code::home == KEY_HOME);
static_assert(key_code::f1 == KEY_F(1));
static_assert(key_code::enter == KEY_ENTER);
static_assert(key_code::end == KEY_END);
static_assert(key_code::next_page == KEY_NPAGE);
static_assert(key_code::previous_page == KEY_PPAGE);
static_assert(key_code::mouse == KEY_MOUSE);

static_assert(key_to_command(ERR) == Command::None);
static_assert(command_to_key(Command::Quit) == 'q');
static_assert(command_to_key(Command::Help) == '?');
