#pragma once

#include "ui/curses_fwd.hpp"

// The monitor's keyboard: waits for a key together with other descriptors,
// and notices a keyboard that has reached its end (standard input at the
// end of a file, a terminal that hung up), which the monitor then stops
// reading instead of spinning on it.
class Keyboard {
public:
    explicit Keyboard(WINDOW* window);

    // Waits at most `timeout_ms` milliseconds (-1: as long as it takes) for
    // a key, or until `other_fd` (when not -1) is readable, `extra_fd` (when
    // not -1) has one of `extra_events`, or a signal comes (a resize, say).
    // The key, or ERR when none came.
    int wait_key(int timeout_ms, int other_fd = -1, int extra_fd = -1, short extra_events = 0);

private:
    WINDOW* window_;
    bool at_end_ = false;
};
