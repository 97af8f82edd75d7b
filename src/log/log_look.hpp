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
// About one frame of a screen at sixty a second.
inline constexpr std::chrono::milliseconds frame{16};

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
    static constexpr std::chrono::milliseconds shortest = frame;
    static constexpr std::chrono::milliseconds longest{400};
    static constexpr std::uint64_t flood = 20;  // mails in one read

    Clock::time_point last_read_ = Clock::now() - longest;
    std::chrono::milliseconds interval_ = shortest;
};

// The shorter of two waits in milliseconds, -1 standing for no limit.
inline int shorter_wait(int a, int b) {
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

// When the log is looked at (by the monitor and by the follow stream): the kernel tells when it may
// have changed (ChangeNotifier), FileWatch then judges whether it did, and the pacer spreads the
// reads of a burst. Where the kernel cannot tell everything (a watch missing, the log not there to
// be examined), the log is looked at every 0.4 seconds, and the missing watches are tried again.
//
// Events for other names than the log's are taken at most once a frame: after events that all
// concern other files the descriptor rests for a frame, so that a busy directory wakes the loop
// no more than about sixty times a second however many events it makes. (The log's own events
// are spread by the pacer.)
class LogLook {
    using Clock = std::chrono::steady_clock;

public:
    explicit LogLook(const std::string& path) : watch_(path), notifier_(path) {}

    // Looks at the log when it is due; true when it changed.
    bool changed() {
        if (!timed() && !(look_ && pacer_.due())) {
            return false;
        }
        if (!notifier_.complete() && Clock::now() >= last_rearm_ + look_interval) {
            notifier_.rearm();  // back on events as soon as every watch can be had
            last_rearm_ = Clock::now();
        }
        look_ = false;
        return watch_.changed();
    }

    // Sets every watch up again and looks at the log at the next chance.
    void rearm() {
        notifier_.rearm();
        look_ = true;
    }

    // A read of the log brought `mails` new mails.
    void read(std::uint64_t mails) { pacer_.read(mails); }

    // How long the next wait may sleep (-1: until a key or an event) and the
    // descriptor whose events end it (-1: none). A change already waiting for
    // its frame, or events for other files taken less than a frame ago, leave
    // further events in the kernel until then.
    int wait_ms() const {
        int wait = timed() ? look_interval_ms : -1;
        if (look_) {
            wait = shorter_wait(wait, pacer_.milliseconds_left());
        }
        if (const auto now = Clock::now(); now < rest_until_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(rest_until_ - now);
            wait = shorter_wait(wait, static_cast<int>(std::max<std::int64_t>(1, left.count())));
        }
        return wait;
    }
    int event_fd() const { return look_ || Clock::now() < rest_until_ ? -1 : notifier_.fd(); }

    // After a wait: events that came ask for a look.
    void take_events() {
        if (Clock::now() < rest_until_) {
            return;
        }
        int others = 0;
        const int concerning = notifier_.take_events(others);
        look_ = look_ || concerning > 0;
        if (concerning == 0 && others > 0) {
            rest_until_ = Clock::now() + frame;
        }
    }

private:
    static constexpr std::chrono::milliseconds look_interval{look_interval_ms};

    // Whether the log must be looked at on a timer: no event may tell of a
    // change (a watch missing, or the log cannot be examined just now).
    bool timed() const { return !notifier_.complete() || !watch_.reachable(); }

    FileWatch watch_;
    ChangeNotifier notifier_;
    FramePacer pacer_;
    bool look_ = false;  // the log may have changed since the last look
    Clock::time_point rest_until_{};
    Clock::time_point last_rearm_ = Clock::now();
};
