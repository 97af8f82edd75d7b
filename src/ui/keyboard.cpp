#include "ui/keyboard.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <curses.h>

namespace {

// Holds back a resize (SIGWINCH) for as long as it lives, so that one that
// comes between the look at curses and the wait is not lost: the wait lets
// it through (ppoll), and curses then reports it as a key.
class HeldResize {
public:
    HeldResize() {
        sigset_t resize;
        sigemptyset(&resize);
        sigaddset(&resize, SIGWINCH);
        ::sigprocmask(SIG_BLOCK, &resize, &saved_);
    }
    ~HeldResize() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    HeldResize(const HeldResize&) = delete;
    HeldResize& operator=(const HeldResize&) = delete;

    // The signal mask of the wait: the one before, a resize let through.
    const sigset_t* during_wait() const { return &saved_; }

private:
    sigset_t saved_{};
};

}  // namespace

Keyboard::Keyboard(WINDOW* window) : window_(window) {
    // The waiting is poll's: curses only takes what is there.
    nodelay(window_, TRUE);
}

int Keyboard::wait_key(int timeout_ms, int other_fd, int extra_fd, short extra_events) {
    pollfd ready[3] = {{at_end_ ? -1 : STDIN_FILENO, POLLIN, 0},
                       {other_fd, POLLIN, 0},
                       {extra_fd, extra_events, 0}};
    {
        const HeldResize held;
        // Keys read ahead by curses (the rest of a paste, a key after an
        // escape) and a resize already noted wait in curses, where poll
        // cannot see them.
        if (const int key = wgetch(window_); key != ERR) {
            return key;
        }
        timespec timeout{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000};
        if (::ppoll(ready, 3, timeout_ms < 0 ? nullptr : &timeout, held.during_wait()) <= 0) {
            ready[0].revents = 0;
        }
    }
    const int key = wgetch(window_);  // a resize arrives as a key after its signal
    // Readable, yet curses got nothing: the input is at its end (a read gave
    // no bytes), or the terminal hung up. From now on only the other
    // descriptor and signals end a wait.
    int waiting = 0;
    if (ready[0].revents != 0 && key == ERR &&
        (::ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting == 0)) {
        at_end_ = true;
    }
    return key;
}
