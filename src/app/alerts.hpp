#pragma once

#include <sys/types.h>

#include <deque>
#include <memory>
#include <vector>

#include "app/desktop_bus.hpp"
#include "app/new_mails.hpp"
#include "app/settings.hpp"
#include "log/unique_fd.hpp"

// Announces new mail as the settings ask: a notification (--notify) and the
// command run for each new mail (--on-new). Neither waits: the caller's loop
// waits on `fd` as well and calls `process` after each wait.
class Alerts {
public:
    // Where the hook's output goes: nowhere (the monitor's screen must stay
    // whole), or to standard error (the follow stream's standard output is
    // its data).
    enum class HookOutput : unsigned char { Discard, ToStderr };

    Alerts(const Settings& settings, HookOutput hook_output);

    // A notification for the batch and the hook for each of its mails; a
    // batch without mails does nothing.
    void announce(const NewMailBatch& batch);

    // What the loop waits for besides its own: the bus descriptor (-1 when
    // none) and its events, and how long a wait may last at most (-1: as
    // long as it takes). While hooks run, a wait lasts at most 0.1 seconds,
    // to reap them.
    int fd() const;
    short events() const;
    int timeout_ms() const;

    // After a wait: takes what came on the bus, reaps the hooks that ended
    // and starts those that waited for a place.
    void process();

    // Hooks running at once at most; the mails of a burst beyond these wait,
    // up to max_waiting, and the rest run no hook.
    static constexpr std::size_t max_running = 4;
    static constexpr std::size_t max_waiting = 64;

private:
    struct Hook {
        NewMail mail;
        std::uint64_t count;
    };

    void notify(const NewMailBatch& batch);
    void start_hooks();
    void spawn(const Hook& hook);

    const Settings& settings_;
    HookOutput hook_output_;
    Notify how_;
    std::unique_ptr<DesktopBus> bus_;
    UniqueFd terminal_;
    std::vector<pid_t> running_;
    std::deque<Hook> waiting_;
};
