#include "app/desktop_bus.hpp"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "log/fd_io.hpp"

namespace {

// An answer to a Notify call: only an error is of interest.
int on_reply(sd_bus_message* reply, void* user_data, sd_bus_error* /*error*/) {
    auto* bus = static_cast<DesktopBus*>(user_data);
    if (const sd_bus_error* error = sd_bus_message_get_error(reply); error != nullptr) {
        bus->complain(std::string("no desktop notification: ") +
                      (error->message != nullptr ? error->message : error->name));
    }
    return 0;
}

}  // namespace

DesktopBus::DesktopBus(bool verbose) : verbose_(verbose) {
    if (const int error = sd_bus_open_user(&bus_); error < 0) {
        bus_ = nullptr;
        complain(std::string("no session bus: ") + std::strerror(-error));
    }
}

DesktopBus::~DesktopBus() {
    if (bus_ != nullptr) {
        sd_bus_flush_close_unref(bus_);
    }
}

void DesktopBus::notify(const std::string& title, const std::string& body) {
    if (bus_ == nullptr) {
        return;
    }
    // Floating: the call lives until its answer came, however many follow.
    const int error = sd_bus_call_method_async(
        bus_, nullptr, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "Notify", on_reply, this, "susssasa{sv}i", "Lurko", 0U,
        "mail-unread", title.c_str(), body.c_str(), 0, 0, -1);
    if (error < 0) {
        complain(std::string("no desktop notification: ") + std::strerror(-error));
    }
    process();  // starts sending
}

int DesktopBus::fd() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

short DesktopBus::events() const {
    const int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
    return static_cast<short>(events > 0 ? events : 0);
}

int DesktopBus::timeout_ms() const {
    std::uint64_t until = UINT64_MAX;
    if (bus_ == nullptr || sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t now_us = static_cast<std::uint64_t>(now.tv_sec) * 1000000U +
                                 static_cast<std::uint64_t>(now.tv_nsec) / 1000U;
    if (until <= now_us) {
        return 0;
    }
    const std::uint64_t left = (until - now_us + 999) / 1000;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void DesktopBus::process() {
    if (bus_ == nullptr) {
        return;
    }
    for (;;) {
        const int result = sd_bus_process(bus_, nullptr);
        if (result < 0) {
            complain(std::string("the session bus went away: ") + std::strerror(-result));
            sd_bus_flush_close_unref(bus_);
            bus_ = nullptr;
            return;
        }
        if (result == 0) {
            return;
        }
    }
}

void DesktopBus::complain(const std::string& what) {
    if (verbose_ && !complained_) {
        complained_ = true;
        write_all(STDERR_FILENO, "lurko: " + what + "\n");
    }
}
