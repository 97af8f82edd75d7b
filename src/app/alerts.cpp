#include "app/alerts.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/notice_text.hpp"
#include "log/encoded_words.hpp"
#include "log/fd_io.hpp"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace {

// Whether a session bus may be there: its address is given, or the socket
// at its usual place exists.
bool session_bus_reachable() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat status {};
    return runtime != nullptr && ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0 &&
           S_ISSOCK(status.st_mode);
}

}  // namespace

Alerts::Alerts(const Settings& settings, HookOutput hook_output)
    : settings_(settings), hook_output_(hook_output), how_(settings.notify) {
    if (how_ == Notify::Auto) {
        how_ = session_bus_reachable() ? Notify::Desktop : Notify::Terminal;
    }
    if (how_ == Notify::Desktop) {
        bus_ = std::make_unique<DesktopBus>(settings.verbose);
    } else if (how_ == Notify::Terminal) {
        // The controlling terminal, not standard output, which may be the
        // follow stream's pipe.
        terminal_ = UniqueFd(::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!terminal_ && settings.verbose) {
            write_all(STDERR_FILENO, "lurko: no terminal for notifications\n");
        }
    }
}

void Alerts::announce(const NewMailBatch& batch) {
    if (batch.count == 0) {
        return;
    }
    notify(batch);
    if (settings_.on_new.empty()) {
        return;
    }
    for (const NewMail& mail : batch.mails) {
        if (waiting_.size() < max_waiting) {
            waiting_.push_back({mail, batch.count});
        }
    }
    start_hooks();
}

void Alerts::notify(const NewMailBatch& batch) {
    if (how_ == Notify::Off) {
        return;
    }
    const Notice notice = notice_for(batch);
    if (bus_) {
        bus_->notify(notice.title, escape_markup(notice.body));
    } else if (terminal_) {
        write_all(terminal_.get(), terminal_notification(notice, terminal_from_environment()));
    }
}

void Alerts::start_hooks() {
    while (running_.size() < max_running && !waiting_.empty()) {
        spawn(waiting_.front());
        waiting_.pop_front();
    }
}

// Runs the hook through the shell with the mail in its environment, never in
// its command line: a subject cannot become shell words.
void Alerts::spawn(const Hook& hook) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string_view(*variable).rfind("LURKO_", 0) != 0) {
            variables.emplace_back(*variable);
        }
    }
    variables.push_back("LURKO_FOLDER=" + hook.mail.folder);
    variables.push_back("LURKO_FROM=" + hook.mail.from);
    variables.push_back("LURKO_SUBJECT=" + decode_encoded_words(hook.mail.subject));
    variables.push_back("LURKO_COUNT=" + std::to_string(hook.count));
    std::vector<char*> environment;
    environment.reserve(variables.size() + 1);
    for (std::string& variable : variables) {
        environment.push_back(variable.data());
    }
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (hook_output_ == HookOutput::Discard) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);  // ignored by the follow stream
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::string shell = "sh";
    std::string option = "-c";
    std::string command = settings_.on_new;
    char* arguments[] = {shell.data(), option.data(), command.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, arguments, environment.data()) == 0) {
        running_.push_back(pid);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
}

int Alerts::fd() const {
    return bus_ ? bus_->fd() : -1;
}

short Alerts::events() const {
    return bus_ ? bus_->events() : short{0};
}

int Alerts::timeout_ms() const {
    constexpr int reap_interval_ms = 100;
    const int bus = bus_ ? bus_->timeout_ms() : -1;
    if (running_.empty()) {
        return bus;
    }
    return bus < 0 ? reap_interval_ms : std::min(bus, reap_interval_ms);
}

void Alerts::process() {
    if (bus_) {
        bus_->process();
    }
    std::erase_if(running_, [](pid_t pid) {
        int status = 0;
        return ::waitpid(pid, &status, WNOHANG) != 0;
    });
    start_hooks();
}
