#include "ui/commands.hpp"

#include <curses.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/monitor.hpp"
#include "log/log_maintenance.hpp"
#include "ui/key_bindings.hpp"

void run_external(const std::string& command_line) {
    def_prog_mode();
    endwin();
    // The client's exit status is its own business: nothing to report.
    static_cast<void>(std::system(command_line.c_str()));
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
            settings.truncate_log();
            log.forget_read_position();
            drop_typeahead = true;
            break;
        case Command::Redraw:
            log.reread_next_update();  // the log as it is, marks as read kept
            break;
        case Command::Up:
        case Command::Down:
        case Command::Last:
        case Command::First:
            selected = moved_selection(command, selected, count);
            // The expanded folder's mails follow the selection.
            clear = settings.expanded != -1;
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
        case Command::None:
        default:
            need_redraw = false;
            clear = false;
            break;
    }
    need_clear = need_clear || clear;
    return false;
}

void Monitor::remove_selected(bool from_log) {
    const auto count = static_cast<std::uint32_t>(log.folders().size());
    // The list holds the name only while the folder is in it.
    const std::string name = log.folders()[std::min(selected, count - 1)]->name;
    log.remove_folder(name);
    clamp_selection(no_row);
    if (from_log) {
        // Silent on failure: the folder then comes back with the log's next
        // change, as after a mark as read.
        rewrite_log(settings.logfile, name);
        log.forget_read_position();
        drop_typeahead = true;
    }
}
