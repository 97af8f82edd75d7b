#include "ui/commands.hpp"

#include <curses.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "app/monitor.hpp"
#include "app/signals.hpp"
#include "log/log_maintenance.hpp"
#include "ui/key_bindings.hpp"

namespace {

// How a command that failed ended, from the status std::system gave.
std::string failure(int status) {
    if (status == -1) {
        return "could not be started";
    }
    if (WIFSIGNALED(status)) {
        return "was ended by a signal (" + std::string(signal_name(WTERMSIG(status))) + ")";
    }
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

// Reads one key from the terminal in the shell's modes, without echo and
// without waiting for a line, then drops whatever else a key sent (the rest
// of an arrow's sequence). Input at its end ends the wait.
void wait_for_key() {
    termios shell_modes{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &shell_modes) == 0;
    if (terminal) {
        termios one_key = shell_modes;
        one_key.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        one_key.c_cc[VMIN] = 1;
        one_key.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &one_key);
    }
    char key = 0;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
    if (terminal) {
        ::tcflush(STDIN_FILENO, TCIFLUSH);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &shell_modes);
    }
}

}  // namespace

void run_external(const std::string& command_line) {
    def_prog_mode();
    endwin();
    const int status = std::system(command_line.c_str());
    if (status == 0) {
        return;
    }
    // What the command said stays on the terminal until the user has seen it.
    const std::string prompt =
        "lurko: \"" + command_line + "\" " + failure(status) + " -- press a key to return";
    std::fwrite(prompt.data(), 1, prompt.size(), stdout);
    std::fflush(stdout);
    wait_for_key();
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

std::string shell_quoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

std::string open_folder_command(const Settings& settings, std::string_view folder) {
    std::string line = settings.mail_program + " " + settings.mail_prefix + " ";
    if (!folder.starts_with('/')) {
        line.append(settings.mail_dir);
    }
    // Folder names can come from mail headers through the user's Procmail
    // rules: quoted, so that nothing in them is ever run.
    line.append("/").append(shell_quoted(folder));
    return line;
}

namespace {

// Where the selection goes after the selected folder left the list: it stays
// unless it is past the end. An emptied list leaves it at the largest value,
// which names no row.
std::uint32_t clamp_after_removal(std::uint32_t selected, std::size_t count) {
    if (selected < count) {
        return selected;
    }
    return static_cast<std::uint32_t>(count) - 1;
}

}  // namespace

bool Monitor::dispatch(Command command, bool& need_clear, bool& need_redraw, bool& launched) {
    need_redraw = true;
    const auto& folders = log.folders();
    const auto count = static_cast<std::uint32_t>(folders.size());
    const auto ask_clear_when_expanded = [&] {
        if (settings.expanded != -1) {
            need_clear = true;
        }
    };

    switch (command) {
        case Command::Quit:
            return true;
        case Command::Help:
            show_help();
            need_clear = true;
            break;
        case Command::OpenFolder:
            if (selected < count && folders[selected]->count > 0) {
                run_external(open_folder_command(settings, folders[selected]->name));
                launched = true;
                need_clear = true;
            }
            break;
        case Command::ClearLog:
            settings.truncate_log();
            log.forget_read_position();
            need_clear = true;
            break;
        case Command::Redraw:
            need_clear = true;
            break;
        case Command::Up:
            ask_clear_when_expanded();
            if (selected > 0) {
                --selected;
            } else if (count > 0) {
                selected = count - 1;
            }
            break;
        case Command::Down:
            ask_clear_when_expanded();
            ++selected;
            if (selected >= count) {
                selected = 0;
            }
            break;
        case Command::Last:
            ask_clear_when_expanded();
            selected = count > 0 ? count - 1 : 0;
            break;
        case Command::First:
            ask_clear_when_expanded();
            selected = 0;
            break;
        case Command::LaunchClient:
            run_external(settings.mail_program);
            launched = true;
            need_clear = true;
            break;
        case Command::Compose:
            run_external(settings.mail_program + " " + settings.compose_args);
            launched = true;
            need_clear = true;
            break;
        case Command::Expand:
            // The selection as a signed row: the "no row" value after the
            // last folder was marked read reads as -1, expansion off.
            settings.expanded = settings.expanded == -1 ? static_cast<std::int32_t>(selected) : -1;
            need_clear = true;
            break;
        case Command::ToggleBeep:
            settings.beep = !settings.beep;
            need_clear = true;
            break;
        case Command::MarkRead:
        case Command::RemoveFolder: {
            if (folders.empty()) {
                break;
            }
            // The list holds the name only while the folder is in it.
            const std::string name = folders[std::min(selected, count - 1)]->name;
            log.remove_folder(name);
            selected = clamp_after_removal(selected, log.folders().size());
            if (command == Command::RemoveFolder) {
                // Silent on failure: the folder then comes back with the log's
                // next change, as after a mark as read.
                rewrite_log(settings.logfile, name);
                log.forget_read_position();
            }
            need_clear = true;
            break;
        }
        case Command::None:
        default:
            need_redraw = false;
            break;
    }
    return false;
}
