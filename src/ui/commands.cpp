#include "ui/commands.hpp"

#include <curses.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "app/monitor.hpp"
#include "app/signals.hpp"
#include "log/log_maintenance.hpp"
#include "ui/key_bindings.hpp"
#include "ui/rows.hpp"
#include "ui/screen.hpp"
#include "ui/screen_text.hpp"
#include "ui/window.hpp"

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

// The rows one step of the mouse wheel scrolls.
constexpr std::int64_t wheel_rows = 3;

// Where a movement command takes the selection in a list of `count` rows:
// up and down wrap around, and an empty list leaves nothing to move to.
std::uint32_t moved_selection(Command command, std::uint32_t selected, std::uint32_t count) {
    switch (command) {
        case Command::Up:
            return selected > 0 ? selected - 1 : (count > 0 ? count - 1 : selected);
        case Command::Down:
            return selected + 1 < count ? selected + 1 : 0;  // wraps, "no row" included
        case Command::Last:
            return count > 0 ? count - 1 : 0;
        default:  // First
            return 0;
    }
}

}  // namespace

void Monitor::clamp_selection(std::uint32_t if_empty) {
    const auto count = static_cast<std::uint32_t>(log.folders().size());
    if (count == 0) {
        selected = if_empty;
    } else if (selected >= count) {
        selected = count - 1;
    }
}

bool Monitor::dispatch(Command command, bool& need_clear, bool& need_redraw, bool& launched) {
    const auto& folders = log.folders();
    const auto count = static_cast<std::uint32_t>(folders.size());
    const Folder* folder = selected < count ? folders[selected] : nullptr;
    const auto run = [&](const std::string& command_line) {
        run_external(command_line);
        launched = true;
    };
    const std::uint64_t old_top = top;
    need_redraw = true;
    bool clear = true;  // most commands change the whole screen
    switch (command) {
        case Command::Quit:
            return true;
        case Command::Help:
            show_help();
            break;
        case Command::OpenFolder:
            clear = folder != nullptr && folder->count > 0;
            if (clear) {
                run(open_folder_command(settings, folder->name));
            }
            break;
        case Command::LaunchClient:
            run(settings.mail_program);
            break;
        case Command::Compose:
            run(settings.mail_program + " " + settings.compose_args);
            break;
        case Command::ClearLog:
            change_log(settings.truncate_log(), "Could not empty the log: ",
                       "Log emptied (" + mails_text(log.total()) + ") -- u to undo");
            break;
        case Command::Undo:
            change_log(undo_log(settings.logfile), "Could not undo: ", "Undone");
            break;
        case Command::Redraw:
            log.reread_next_update();  // the log as it is, marks as read kept
            break;
        case Command::Expand:
            // The selection as a signed row: "no row" reads as -1, expansion off.
            settings.expanded = settings.expanded == -1 ? static_cast<std::int32_t>(selected) : -1;
            break;
        case Command::ToggleBeep:
            settings.beep = !settings.beep;
            break;
        case Command::MarkRead:
        case Command::RemoveFolder:
            clear = count > 0;
            if (clear) {
                remove_selected(command == Command::RemoveFolder);
            }
            break;
        default:
            // The expanded folder's mails follow the selection; the search
            // asked on the bottom bar.
            need_redraw = navigate(command);
            clear = need_redraw && (settings.expanded != -1 || command == Command::Search);
            break;
    }
    // A view that scrolled shows other rows everywhere.
    need_clear = need_clear || clear || top != old_top;
    return false;
}

void Monitor::remove_selected(bool from_log) {
    const auto count = static_cast<std::uint32_t>(log.folders().size());
    // The list holds the name only while the folder is in it.
    const Folder& folder = *log.folders()[std::min(selected, count - 1)];
    const std::string name = folder.name;
    if (from_log &&
        !change_log(rewrite_log(settings.logfile, name), "Could not remove " + name + ": ",
                    "Removed " + name + " (" + mails_text(folder.count) + ") -- u to undo")) {
        return;  // the folder stays listed while its entries stay in the log
    }
    log.remove_folder(name);
    clamp_selection(no_row);
    show_selection();
}

bool Monitor::change_log(const MaintenanceResult& result, std::string_view failed,
                         std::string_view done) {
    switch (result.outcome) {
        case RewriteOutcome::Failed:
            message = std::string(failed) + result.reason;
            return false;
        case RewriteOutcome::Rewritten:
            message = done;
            break;
        case RewriteOutcome::Unchanged:
            message = result.reason;  // what there was not to undo; else nothing
            break;
    }
    // The list is read again from the changed log, and keys typed before
    // it changed were meant for the old one.
    log.forget_read_position();
    drop_typeahead = true;
    return true;
}

std::string mails_text(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " mail" : " mails");
}

bool Monitor::navigate(Command command) {
    const auto count = static_cast<std::uint32_t>(log.folders().size());
    switch (command) {
        case Command::PageDown:
        case Command::PageUp:
            scroll_view(command == Command::PageDown ? page : -static_cast<std::int64_t>(page));
            break;
        case Command::Search:
            if (std::optional<std::string> text = ask("/"); text && !text->empty()) {
                search = std::move(*text);
                if (!find_folder(search, false)) {
                    message = "Not found";
                }
            }
            break;
        case Command::SearchNext:
        case Command::SearchBack:
            if (!search.empty() && !find_folder(search, command == Command::SearchBack)) {
                message = "Not found";
            }
            break;
        case Command::Mouse:
            on_mouse();
            break;
        case Command::Up:
        case Command::Down:
        case Command::Last:
        case Command::First:
            if (const std::uint32_t moved = moved_selection(command, selected, count);
                moved < count) {
                select_folder(moved);
            } else {
                selected = moved;  // nothing to select: the empty list's value
            }
            break;
        default:
            return false;  // not a command that moves anything
    }
    return true;
}

std::string_view Monitor::selected_name() const {
    const auto& folders = log.folders();
    return selected < folders.size() ? std::string_view(folders[selected]->name)
                                     : std::string_view();
}

void Monitor::show_selection() {
    const ListShape shape = list_shape();
    if (page > 0 && shape.selected < shape.folders) {
        const std::uint64_t row = shape.folder_row(shape.selected);
        if (row < top) {
            top = row;
        } else if (row >= top + static_cast<std::uint64_t>(page)) {
            top = row - static_cast<std::uint64_t>(page) + 1;
        }
    }
    top = clamped_top(top, shape.rows(), static_cast<std::uint64_t>(std::max(page, 0)));
}

void Monitor::select_folder(std::uint32_t index) {
    const std::uint64_t before = list_shape().folder_row(index);
    const std::uint64_t screen_row = before >= top ? before - top : 0;
    selected = index;
    const std::uint64_t row = list_shape().folder_row(index);
    top = row >= screen_row ? row - screen_row : 0;
    show_selection();
}

void Monitor::scroll_view(std::int64_t rows) {
    if (page <= 0) {
        return;
    }
    const ListShape shape = list_shape();
    const auto shown = static_cast<std::uint64_t>(page);
    const std::uint64_t up = rows < 0 ? static_cast<std::uint64_t>(-rows) : 0;
    const std::uint64_t wanted = up > 0 ? (top > up ? top - up : 0) : top + rows;
    top = clamped_top(wanted, shape.rows(), shown);
    if (shape.selected >= shape.folders) {
        return;
    }
    // The selected folder's row and its mails: when the view left them, the
    // selection goes to the nearest folder in view.
    const std::uint64_t first = shape.folder_row(shape.selected);
    if (first + shape.mails < top) {
        select_folder(static_cast<std::uint32_t>(shape.folder_at(top)));
    } else if (first >= top + shown) {
        select_folder(static_cast<std::uint32_t>(shape.folder_at(top + shown - 1)));
    }
}

bool Monitor::find_folder(std::string_view text, bool backwards) {
    const auto& folders = log.folders();
    const auto count = static_cast<std::uint32_t>(folders.size());
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    // From "no row" a search forwards starts at the first folder.
    const std::uint32_t from = selected < count ? selected : (backwards ? 0 : count - 1);
    for (std::uint32_t step = 1; step <= count; ++step) {
        const std::uint32_t index =
            backwards ? (from + count - step) % count : (from + step) % count;
        const std::string& name = folders[index]->name;
        if (std::search(name.begin(), name.end(), text.begin(), text.end(), same) != name.end()) {
            select_folder(index);
            return true;
        }
    }
    return false;
}

std::optional<std::string> Monitor::ask(std::string_view prompt) const {
    Window bar(stdscr);
    bar.resized();
    std::string text;
    std::optional<std::string> answer;
    wtimeout(stdscr, -1);  // the keys of the answer are waited for
    for (bool asking = true; asking;) {
        ScreenText shown(std::max(bar.width() - 1, 0));
        shown.append(prompt);
        shown.append(text);
        bar.draw_bar(highlight_for(colour), bar.height() - 2, shown.text());
        wmove(stdscr, bar.height() - 2, shown.columns());
        wrefresh(stdscr);
        const int key = wgetch(stdscr);
        switch (key) {
            case key_code::carriage_return:
            case '\n':
            case key_code::enter:
                answer = text;
                asking = false;
                break;
            case ERR:  // the keyboard is at its end
            case key_code::escape:
            case key_code::control_g:
                asking = false;
                break;
            case KEY_BACKSPACE:
            case key_code::backspace:
            case key_code::del:
                // The last character, all of its bytes.
                while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xc0) == 0x80) {
                    text.pop_back();
                }
                if (!text.empty()) {
                    text.pop_back();
                }
                break;
            case KEY_RESIZE:
                bar.resized();
                break;
            default:
                if (key >= ' ' && key <= 0xff && key != key_code::del) {
                    text.push_back(static_cast<char>(key));
                }
                break;
        }
    }
    nodelay(stdscr, TRUE);
    return answer;
}

void Monitor::on_mouse() {
    MEVENT event{};
    if (getmouse(&event) != OK || !settings.mouse) {
        return;  // taken off the queue either way, never read as keys
    }
    if ((event.bstate & BUTTON4_PRESSED) != 0) {
        scroll_view(-wheel_rows);
    } else if ((event.bstate & BUTTON5_PRESSED) != 0) {
        scroll_view(wheel_rows);
    } else if ((event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) != 0 && event.y >= 1 &&
               event.y <= page) {
        const ListShape shape = list_shape();
        const std::uint64_t row = top + static_cast<std::uint64_t>(event.y) - 1;
        if (row < shape.rows() && shape.folder_row(shape.folder_at(row)) == row) {
            select_folder(static_cast<std::uint32_t>(shape.folder_at(row)));
        }
    }
}
