// The follow stream of the built binary on a pipe, as a script reads it:
// each mail once, through rotation and truncation, the hook run through a
// real shell, and a quiet end when the reader goes away.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace std::chrono_literals;

// lurko --follow with its standard output on a pipe that the test reads.
class Follower {
public:
    explicit Follower(std::vector<std::string> args) {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        args.insert(args.begin(), {test::lurko_binary(), "--follow"});
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ends[1], STDOUT_FILENO);
            test::exec_in_child(args, {{"LC_ALL", "C.UTF-8"}});
        }
        ::close(ends[1]);
        out_ = ends[0];
    }
    ~Follower() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        close_reader();
    }
    Follower(const Follower&) = delete;
    Follower& operator=(const Follower&) = delete;

    // Reads until the output holds `lines` lines or two seconds passed.
    std::string lines(std::size_t lines) {
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (std::count(text_.begin(), text_.end(), '\n') < static_cast<long>(lines) &&
               std::chrono::steady_clock::now() < until) {
            pollfd ready{out_, POLLIN, 0};
            if (::poll(&ready, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t got = ::read(out_, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                text_.append(buffer, static_cast<std::size_t>(got));
            }
        }
        return text_;
    }

    void close_reader() {
        if (out_ >= 0) {
            ::close(out_);
            out_ = -1;
        }
    }

    pid_t pid() const { return pid_; }

    // The exit status once it ended within two seconds, else -1.
    int wait_exit() {
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
};

// Waits until a follower started just now has read the log as it is: it
// sleeps in poll with its inotify descriptor open.
void settle(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int i = 0; i < 500; ++i) {
        bool watching = false;
        for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd")) {
            std::error_code error;
            watching = watching ||
                       std::filesystem::read_symlink(fd.path(), error).string().find("inotify") !=
                           std::string::npos;
        }
        if (watching && test::read_file(proc + "/wchan").find("poll") != std::string::npos) {
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "the follower did not settle";
}

TEST(Follow, EachMailOnceThroughRotationAndTruncation) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, test::log_entry("old@example.org", "already there", "inbox"));
    Follower text({log});
    Follower json({"--json", log});
    settle(text.pid());
    settle(json.pid());

    // A mail, then at once the log rotated and a new one begun: the mail is
    // read from the log renamed away before the new log.
    test::append_file(log, test::log_entry("a@example.org", "=?utf-8?q?caf=C3=A9?=", "work"));
    std::filesystem::rename(log, dir / "procmail.log.1");
    test::write_file(log, test::log_entry("b@example.org", "rotated", "lists"));
    EXPECT_EQ(text.lines(2), "work\ta@example.org\tcaf\xC3\xA9\nlists\tb@example.org\trotated\n");
    json.lines(2);              // both have read it before it is cut away
    test::write_file(log, "");  // truncated
    text.lines(2);
    test::append_file(log, test::log_entry("c@example.org", "bad\x1b]0;x\x07\xff", "work"));
    EXPECT_EQ(text.lines(3),
              "work\ta@example.org\tcaf\xC3\xA9\n"
              "lists\tb@example.org\trotated\n"
              "work\tc@example.org\tbad^[]0;x^G\xff\n");
    EXPECT_EQ(json.lines(3),
              "{\"folder\":\"work\",\"from\":\"a@example.org\",\"subject\":\"caf\xC3\xA9\","
              "\"subject_raw\":\"=?utf-8?q?caf=C3=A9?=\"}\n"
              "{\"folder\":\"lists\",\"from\":\"b@example.org\",\"subject\":\"rotated\","
              "\"subject_raw\":\"rotated\"}\n"
              "{\"folder\":\"work\",\"from\":\"c@example.org\",\"subject\":"
              "\"bad\\u001b]0;x\\u0007\xEF\xBF\xBD\",\"subject_raw\":"
              "\"bad\\u001b]0;x\\u0007\xEF\xBF\xBD\"}\n");

    // The reader goes away while the follower sleeps: it ends, status 0.
    text.close_reader();
    EXPECT_EQ(text.wait_exit(), 0);
}

TEST(Follow, HookGetsTheMailInItsEnvironmentOnly) {
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    const std::string hooks = dir / "hooks.txt";
    test::write_file(log, "");
    Follower follower({"--ignore=spam*",
                       "--on-new=printf '%s|%s|%s|%s\\n' \"$LURKO_FOLDER\" \"$LURKO_FROM\" "
                       "\"$LURKO_SUBJECT\" \"$LURKO_COUNT\" >>" +
                           hooks,
                       log});
    settle(follower.pid());
    const std::string subject = "$(touch " + dir.path() + "/p1) `touch " + dir.path() + "/p2`";
    test::append_file(log, test::log_entry("x@example.org", "junk", "/m/spam.lots") +
                               test::log_entry("a@example.org", subject, "/m/work"));
    follower.lines(2);
    for (int i = 0; i < 100 && !std::filesystem::exists(hooks); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(test::read_file(hooks), "/m/work|a@example.org|" + subject + "|1\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "p1"));
    EXPECT_FALSE(std::filesystem::exists(dir / "p2"));
}

// A notification service of its own on a private session bus: records the
// summary and body of each Notify call.
class NotificationService {
public:
    NotificationService() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        daemon_ = ::fork();
        if (daemon_ == 0) {
            ::dup2(ends[1], STDOUT_FILENO);
            test::exec_in_child(
                {"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address"}, {});
        }
        ::close(ends[1]);
        char buffer[512];
        const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
        ::close(ends[0]);
        address = got > 0 ? std::string(buffer, static_cast<std::size_t>(got) - 1) : "";
        int step = address.empty() ? -1 : sd_bus_new(&bus_);
        step = step < 0 ? step : sd_bus_set_address(bus_, address.c_str());
        step = step < 0 ? step : sd_bus_set_bus_client(bus_, 1);
        step = step < 0 ? step : sd_bus_start(bus_);
        step = step < 0 ? step
                        : sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/Notifications",
                                                   "org.freedesktop.Notifications", vtable, this);
        step = step < 0 ? step : sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0);
        EXPECT_GE(step, 0) << "no private bus at '" << address << "': " << std::strerror(-step);
    }
    ~NotificationService() {
        sd_bus_flush_close_unref(bus_);
        ::kill(daemon_, SIGTERM);
        ::waitpid(daemon_, nullptr, 0);
    }
    NotificationService(const NotificationService&) = delete;
    NotificationService& operator=(const NotificationService&) = delete;

    // Serves the bus until `count` notifications came or five seconds passed.
    void serve(std::size_t count) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (notes.size() < count && std::chrono::steady_clock::now() < until) {
            if (sd_bus_process(bus_, nullptr) == 0) {
                sd_bus_wait(bus_, 50000);
            }
        }
    }

    std::string address;
    std::vector<std::string> notes;  // "summary|body"

private:
    static int notify(sd_bus_message* call, void* self, sd_bus_error* /*error*/) {
        const char* app = nullptr;
        std::uint32_t replaces = 0;
        const char* icon = nullptr;
        const char* summary = nullptr;
        const char* body = nullptr;
        sd_bus_message_read(call, "susss", &app, &replaces, &icon, &summary, &body);
        static_cast<NotificationService*>(self)->notes.push_back(std::string(summary) + "|" + body);
        return sd_bus_reply_method_return(call, "u", 1U);
    }
    static constexpr sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", notify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};

    pid_t daemon_ = -1;
    sd_bus* bus_ = nullptr;
};

TEST(Follow, DesktopNotificationOnTheSessionBus) {
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) {
        GTEST_SKIP() << "no dbus-daemon: scripts/test.sh installs it";
    }
    NotificationService service;
    test::TempDir dir;
    const std::string log = dir / "procmail.log";
    test::write_file(log, "");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", service.address.c_str(), 1);
    Follower follower({"--notify", log});  // the bus is there: the desktop
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    settle(follower.pid());
    test::append_file(log, test::log_entry("a@x", "<b>bold\x1b]0;x\x07 & co</b>", "/m/work"));
    follower.lines(1);
    service.serve(1);
    test::append_file(
        log, test::log_entry("b@x", "one", "/m/work") + test::log_entry("c@x", "two", "/m/lists"));
    follower.lines(3);
    service.serve(2);
    EXPECT_EQ(service.notes,
              (std::vector<std::string>{"work|a@x: &lt;b&gt;bold]0;x &amp; co&lt;/b&gt;",
                                        "Lurko|2 new mails: work 1, lists 1"}));
}

}  // namespace
