#include "test_support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "log/mail_log_scanner.hpp"

namespace test {

const std::string banner = "Lurko " LURKO_VERSION " (" LURKO_RELEASE_YEAR "-" LURKO_RELEASE_DATE
                           ") \n"
                           "Written by The Lurko developers <lurko@example.org>\n"
                           "\n"
                           "Copyright (C) " LURKO_RELEASE_YEAR
                           " The Lurko developers.\n"
                           "This is free software; see the source for copying conditions.\n"
                           "There is NO warranty, to the extent permitted by law.\n";

namespace {

std::string usage(const std::string& argv0) {
    return "\nUsage: " + argv0 +
           " [option(s)] [logfile]\n"
           "  Logfile is the Procmail logfile to monitor.\n"
           "\n"
           "Options\n"
           "  -h    Print help and exit\n"
           "  -v    Print version info and exit\n"
           "  -c    Clear contents of Procmail logfile\n"
           "  -m    Specify program to read mailfolders with\n"
           "  -M    Specify directory where mailfolders are stored\n"
           "  -p    Specify mailprogram arguments to choose a mailfolder\n"
           "  -C    Specify mailprogram arguments to compose a new mail\n"
           "  -o    Print new mail and exit\n"
           "  -l    Start in curses screen\n"
           "  -V    Be verbose: Send warnings and notices to stderr\n"
           "  -w    When printing new mail and exit, include folder contents\n"
           "  -b    Beep on new mail (terminal bell)\n"
           "  -s    Do not beep when new mail folder is /dev/null\n"
           "  -H    Do not show /dev/null in the folderview\n"
           "      --follow           Print each new mail as it is logged, until the reader goes "
           "away\n"
           "      --json             With -o or --follow, print JSON\n"
           "      --status[=FORMAT]  Print one line for a status bar and exit (%n %f %F %s %S "
           "%%)\n"
           "      --notify[=HOW]     Send a notification on new mail (terminal or desktop)\n"
           "      --on-new=CMD       Run CMD through the shell for each new mail\n"
           "      --ignore=GLOB      No bell, notification or command for folders matching "
           "GLOB\n"
           "      --no-mouse         Leave the mouse to the terminal, to select text with it\n"
           "      --undo             Undo the last removal or emptying of the log and exit\n"
           "\n";
}

}  // namespace

std::string help_output(const std::string& argv0) {
    return banner + usage(argv0) + "Lurko can be downloaded from https://lurko.example.org/\n";
}

std::string error_output(const std::string& argv0) {
    return "\n" + banner + usage(argv0) + "Written by The Lurko developers <lurko@example.org>\n";
}

std::string log_message(const std::string& path) {
    return "lurko error: Could not find Procmail logfile '" + path + "'\n";
}

std::string config_message(const std::string& path) {
    return "lurko error: Could not find Procmail config file '" + path + "'\n";
}

void print_to_death_test() {
    std::fflush(stdout);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY);
    ::dup2(nowhere, STDERR_FILENO);
    ::close(nowhere);
}

std::vector<std::string> folder_list(const MailLogScanner& log, bool with_mails) {
    std::vector<std::string> entries;
    for (const Folder* folder : log.folders()) {
        std::string& entry =
            entries.emplace_back(std::to_string(folder->count) + " " + folder->name);
        if (!with_mails) {
            continue;
        }
        for (const MailEntry& mail : folder->mails) {
            entry.append("\n  ").append(mail.from()).append(": ").append(mail.subject());
        }
    }
    return entries;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lurko-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave directories without write or search permission behind.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

namespace {

// Every test program keeps the journals of the logs it changes (and those of
// the Lurkos it starts) in a directory of its own, never in the user's.
const struct StateHome {
    TempDir dir;
    StateHome() { ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1); }
} state_home;

}  // namespace

LocaleScope::LocaleScope(const char* name) : locale_(::newlocale(LC_ALL_MASK, name, nullptr)) {
    if (locale_ != nullptr) {
        previous_ = ::uselocale(locale_);
    }
}

LocaleScope::~LocaleScope() {
    if (locale_ != nullptr) {
        ::uselocale(previous_);
        ::freelocale(locale_);
    }
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void append_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot append to " + path);
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

Argv::Argv(std::vector<std::string> args, const std::string& program) : words_(std::move(args)) {
    words_.insert(words_.begin(), program);
    for (std::string& word : words_) {
        pointers_.push_back(word.data());
    }
    pointers_.push_back(nullptr);
}

void exec_in_child(const std::vector<std::string>& argv, const EnvChanges& env,
                   const std::string& cwd) {
    for (const auto& [name, value] : env) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
        ::_exit(126);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env, const std::string& cwd) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_in, STDIN_FILENO);
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        exec_in_child(argv, env, cwd);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    RunResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[65536];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_count;
                }
            }
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string lurko_binary() {
    return LURKO_BINARY;
}

RunResult run_lurko(const std::vector<std::string>& args, const EnvChanges& env) {
    std::vector<std::string> argv{lurko_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env);
}

std::string source_file(const std::string& relative) {
    return std::string(LURKO_SOURCE_DIR) + "/" + relative;
}

std::string data_file(const std::string& name) {
    return std::string(LURKO_TEST_DATA_DIR) + "/" + name;
}

std::string gen_log() {
    return source_file("bench/gen-log");
}

std::optional<std::string> shared_tools() {
    std::error_code ignored;
    if (!std::filesystem::is_directory(LURKO_SHARED_TOOLS, ignored)) {
        return std::nullopt;
    }
    return LURKO_SHARED_TOOLS;
}

}  // namespace test
