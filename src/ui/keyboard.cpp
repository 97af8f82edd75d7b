#include "ui/keyboard.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <vector>

#include "ui/key_bindings.hpp"

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

// After an Escape: when the keys already waiting make a mouse report that
// curses did not take (X10 "[M" and three bytes, or SGR "[<b;x;yM"), as
// when the mouse is off but the terminal still reports it, they are taken
// here, so that none of them is read as a key. Anything else is put back.
bool take_mouse_report(WINDOW* window) {
    std::vector<int> taken;
    const auto next = [&] {
        taken.push_back(wgetch(window));
        return taken.back();
    };
    if (next() == '[') {
        const int kind = next();
        if (kind == 'M') {
            if (next() != ERR && next() != ERR && next() != ERR) {
                return true;
            }
        } else if (kind == '<') {
            constexpr std::size_t longest = 16;
            for (int c = next(); c != ERR && taken.size() < longest; c = next()) {
                if (c == 'M' || c == 'm') {
                    return true;
                }
                if ((c < '0' || c > '9') && c != ';') {
                    break;
                }
            }
        }
    }
    for (auto key = taken.rbegin(); key != taken.rend(); ++key) {
        if (*key != ERR) {
            ungetch(*key);
        }
    }
    return false;
}

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
            return key == key_code::escape && take_mouse_report(window_) ? ERR : key;
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
    return key == key_code::escape && take_mouse_report(window_) ? ERR : key;
}
