#include <curses.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "app/monitor.hpp"
#include "log/change_notifier.hpp"
#include "log/file_watch.hpp"
#include "ui/key_bindings.hpp"
#include "ui/keyboard.hpp"
#include "ui/status_bar.hpp"
#include "ui/window.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// How long a pass waits for a key before it looks at the log again, where
// no events tell when it changes.
constexpr int look_interval_ms = 400;

// Deliveries that come in a burst are read and drawn at most this often:
// about sixty times a second.
constexpr auto frame = std::chrono::milliseconds(16);

// Milliseconds from now until `due`, at least 1.
int milliseconds_until(Clock::time_point due) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, left.count()));
}

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
// draw what the flags ask for, then wait for one key, or for the log to
// change, and carry out the key's command.
//
// The wait sleeps until something happens: the kernel tells when the log
// may have changed (ChangeNotifier), and FileWatch then judges whether it
// did. Where the kernel cannot tell, the log is looked at every 0.4 seconds.
// The changes of a burst are read and drawn at most once per frame.
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
    ChangeNotifier notifier(settings.logfile);
    bool look = false;  // the log may have changed since the last look
    Clock::time_point last_read = Clock::now() - frame;
    std::uint64_t mails_read = log.read_total();  // as of the last read, /dev/null included
    std::string status = status_text(settings, log);
    std::string keys = key_summary();

    for (;;) {
        // With events, the log is looked at once one came, and no sooner
        // than a frame after the last read.
        const bool look_now = !notifier.active() || (look && Clock::now() - last_read >= frame);
        if (look_now) {
            look = false;
        }
        const bool changed = look_now && watch.changed();
        if (look_now && !watch.reachable()) {
            look = true;  // no event may tell when it can be looked at again
        }
        if (changed || std::exchange(read_again, false)) {
            last_read = Clock::now();
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

        int wait_ms = -1;  // asleep until a key or an event comes
        if (!notifier.active() || !watch.reachable()) {
            wait_ms = look_interval_ms;
        } else if (look) {
            wait_ms = milliseconds_until(last_read + frame);
        }
        const int key = keyboard.wait_key(wait_ms, notifier.fd());
        look = notifier.take_events() || look;
        const Command command = key_to_command(key);
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
