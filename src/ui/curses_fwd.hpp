#pragma once

// A curses window, declared as <curses.h> declares it, so that headers can
// name it without pulling curses into every file that includes them.
typedef struct _win_st WINDOW;  // NOLINT(bugprone-reserved-identifier): the curses name
