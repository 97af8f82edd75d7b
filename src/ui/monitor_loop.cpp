#include <curses.h>

#include <cstdint>
#include <string>
#include <utility>

#include "app/monitor.hpp"
#include "log/file_watch.hpp"
#include "ui/key_bindings.hpp"
#include "ui/keyboard.hpp"
#include "ui/status_bar.hpp"
#include "ui/window.hpp"

namespace {

// How long a pass waits for a key before it looks at the log again.
constexpr int key_wait_ms = 400;

}  // namespace

void Monitor::draw_screen(Window& screen, const std::string& status,
                          const std::string& keys) const {
    const Highlight highlight = highlight_for(colour);
    screen.draw_bar(highlight, 0, 0, status);
    const bool listed = !log.folders().empty();
    if (listed) {
        draw_folders(screen.handle(), settings.expanded, screen.width());
        screen.draw_arrow(highlight, static_cast<int>(selected));
    }
    screen.draw_bar(highlight, screen.height() - 2, 0, keys);
    screen.draw_version();
    wmove(screen.handle(), listed ? static_cast<int>(selected) + 1 : 0, screen.width() - 1);
}

// Each pass: look at the log and read what changed, restore the screen after
// an external command, erase when the size changed or a command asked for it,
// draw what the flags ask for, then wait at most 0.4 seconds for one key and
// carry out its command.
void Monitor::run_screen() {
    Window screen(stdscr);
    Keyboard keyboard(stdscr);
    intrflush(stdscr, TRUE);
    bool need_clear = false;
    bool need_redraw = true;
    bool launched = false;
    // After d and r, keys typed before the new list is on screen were meant
    // for the old one: they are dropped. After l the log is read whole.
    bool drop_typeahead = false;
    bool read_again = false;

    refresh_list();
    FileWatch watch(settings.logfile);
    std::uint64_t mails_read = log.read_total();  // as of the last read, /dev/null included
    std::string status = status_text(settings, log);
    std::string keys = key_summary();

    for (;;) {
        if (watch.changed() || std::exchange(read_again, false)) {
            refresh_list();
            status = status_text(settings, log);
            need_redraw = true;
            // The list may now need fewer rows than are on the screen, so the
            // old rows are erased before it is drawn again.
            need_clear = true;
            if (!log.folders().empty() && settings.beep && log.read_total() > mails_read &&
                !(log.last_folder() == devnull_folder && settings.no_beep_devnull)) {
                beep();  // only for new mail, never for an edit of the log
            }
            mails_read = log.read_total();
            const auto count = static_cast<std::uint32_t>(log.folders().size());
            if (count == 0) {
                selected = 0;
            } else if (selected >= count) {
                selected = count - 1;
            }
        }

        if (launched) {
            wclear(screen.handle());
            wrefresh(screen.handle());
            launched = false;
            need_clear = true;
            intrflush(stdscr, TRUE);
        }

        if (screen.resized() || need_clear) {
            werase(screen.handle());
            need_clear = false;
            need_redraw = true;
            status = status_text(settings, log);
            keys = key_summary();
        }

        if (need_redraw) {
            draw_screen(screen, status, keys);
        }
        wrefresh(screen.handle());
        if (std::exchange(drop_typeahead, false)) {
            flushinp();
        }

        const Command command = key_to_command(keyboard.wait_key(key_wait_ms));
        if (dispatch(command, need_clear, need_redraw, launched)) {
            break;
        }
        drop_typeahead = command == Command::RemoveFolder || command == Command::ClearLog;
        if (command == Command::Redraw) {
            log.reread_next_update();
            read_again = true;
        }
    }
    screen.close();
}
