#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "log/change_notifier.hpp"
#include "log/file_watch.hpp"

// How long a pass waits for a key before it looks at the log again, where
// no events tell when it changes.
inline constexpr int look_interval_ms = 400;

// When the log may be read again after a change. A delivery on its own is
// read at once, and deliveries close together at most once a frame, about
// sixty times a second. In a flood (many mails in every read) the frames grow
// longer, up to 0.4 seconds, so that a flood costs no more than looking at the
// log every 0.4 seconds did; they are back to normal as soon as a read brings
// only a few mails.
class FramePacer {
    using Clock = std::chrono::steady_clock;

public:
    bool due() const { return Clock::now() >= last_read_ + interval_; }

    // The log has been read, and `mails` new mails were in it.
    void read(std::uint64_t mails) {
        interval_ = mails >= flood ? std::min(2 * interval_, longest) : shortest;
        last_read_ = Clock::now();
    }

    // Milliseconds until the next read may come, at least 1.
    int milliseconds_left() const {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(last_read_ + interval_ - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, left.count()));
    }

private:
    static constexpr std::chrono::milliseconds shortest{16};
    static constexpr std::chrono::milliseconds longest{400};
    static constexpr std::uint64_t flood = 20;  // mails in one read

    Clock::time_point last_read_ = Clock::now() - longest;
    std::chrono::milliseconds interval_ = shortest;
};

// When the log is looked at (by the monitor and by the follow stream): the kernel tells when it may
// have changed (ChangeNotifier), FileWatch then judges whether it did, and the pacer spreads the
// reads of a burst. Where the kernel cannot tell, the log is looked at every 0.4 seconds.
class LogLook {
public:
    explicit LogLook(const std::string& path) : watch_(path), notifier_(path) {}

    // Looks at the log when it is due; true when it changed.
    bool changed() {
        if (notifier_.active() && !(look_ && pacer_.due())) {
            return false;
        }
        const bool changed = watch_.changed();
        look_ = !watch_.reachable();  // no event may tell when it can be looked at again
        return changed;
    }

    // A read of the log brought `mails` new mails.
    void read(std::uint64_t mails) { pacer_.read(mails); }

    // How long the next wait may sleep (-1: until a key or an event) and the
    // descriptor whose events end it. A change already waiting for its frame
    // leaves further events in the kernel until then: they would only wake
    // the loop for nothing.
    int wait_ms() const {
        if (!notifier_.active() || !watch_.reachable()) {
            return look_interval_ms;
        }
        return look_ ? pacer_.milliseconds_left() : -1;
    }
    // A log that cannot be examined is looked for again at once when events
    // tell that its directory changed (re-created, renamed into place).
    int event_fd() const { return look_ && watch_.reachable() ? -1 : notifier_.fd(); }

    // After a wait: events that came ask for a look.
    void take_events() { look_ = notifier_.take_events() > 0 || look_; }

private:
    FileWatch watch_;
    ChangeNotifier notifier_;
    FramePacer pacer_;
    bool look_ = false;  // the log may have changed since the last look
};

// The shorter of two waits in milliseconds, -1 standing for no limit.
inline int shorter_wait(int a, int b) {
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}
