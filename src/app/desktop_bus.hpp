#pragma once

#include <memory>
#include <string>

struct sd_bus;

// A connection to the session bus that sends org.freedesktop.Notifications
// Notify calls without waiting for their answers: the caller's loop waits on
// `fd` and calls `process`, which takes the answers as they come.
class DesktopBus {
public:
    // Connects when a session bus is there; otherwise not `connected`.
    // `verbose`: a failing bus or service is said once on standard error.
    explicit DesktopBus(bool verbose);
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;
    ~DesktopBus();

    bool connected() const { return bus_ != nullptr; }

    // Sends a notification; the body is taken as markup by some servers and
    // must be escaped already.
    void notify(const std::string& title, const std::string& body);

    // The descriptor and events to wait for, and how long at most (-1: as
    // long as it takes); -1 as the descriptor when not connected.
    int fd() const;
    short events() const;
    int timeout_ms() const;

    // Takes what came on the bus: answers, errors, a lost connection.
    void process();

    // Says `what` on standard error, once, when verbose.
    void complain(const std::string& what);

private:
    sd_bus* bus_ = nullptr;
    bool verbose_;
    bool complained_ = false;
};
