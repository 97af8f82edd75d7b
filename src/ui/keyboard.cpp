#include "ui/keyboard.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <curses.h>

Keyboard::Keyboard(WINDOW* window) : window_(window) {
    // The waiting is poll's: curses only takes what is there. (Half-delay
    // mode would make every read wait on its own.)
    cbreak();
    nodelay(window_, TRUE);
}

int Keyboard::wait_key(int timeout_ms, int other_fd) {
    // Keys read ahead by curses (the rest of a paste, a key after an escape)
    // wait in its own buffer, where poll cannot see them.
    if (const int key = wgetch(window_); key != ERR) {
        return key;
    }
    pollfd ready[2] = {{at_end_ ? -1 : STDIN_FILENO, POLLIN, 0}, {other_fd, POLLIN, 0}};
    if (::poll(ready, 2, timeout_ms) <= 0 || ready[0].revents == 0) {
        return wgetch(window_);  // a resize arrives as a key after its signal
    }
    const int key = wgetch(window_);
    // Readable, yet curses got nothing: the input is at its end (a read gave
    // no bytes), or the terminal hung up. From now on only the other
    // descriptor and signals end a wait.
    int waiting = 0;
    if (key == ERR && (::ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting == 0)) {
        at_end_ = true;
    }
    return key;
}
