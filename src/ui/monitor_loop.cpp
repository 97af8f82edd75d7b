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

// When the log may be read again after a change. A delivery on its own is
// read at once, and deliveries close together at most once a frame, about
// sixty times a second. In a flood (many mails in every read) the frames grow
// longer, up to 0.4 seconds, so that a flood costs no more than looking at the
// log every 0.4 seconds did; they are back to normal as soon as a read brings
// only a few mails.
class FramePacer {
public:
    bool due() const { return Clock::now() >= last_read_ + interval_; }

    // The log has been read, and `mails` new mails were in it.
    void read(std::uint64_t mails) {
        interval_ = mails >= flood ? std::min(2 * interval_, longest) : shortest;
        last_read_ = Clock::now();
    }

    // Milliseconds until the next read may come, at least 1.
    int milliseconds_left() const {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(last_read_ + interval_ - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(1, left.count()));
    }

private:
    static constexpr std::chrono::milliseconds shortest{16};
    static constexpr std::chrono::milliseconds longest{400};
    static constexpr std::uint64_t flood = 20;  // mails in one read

    Clock::time_point last_read_ = Clock::now() - longest;
    std::chrono::milliseconds interval_ = shortest;
};

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
// The changes of a burst are read and drawn at most once a frame (FramePacer).
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
    FramePacer pacer;
    std::uint64_t mails_read = log.read_total();  // as of the last read, /dev/null included
    std::string status = status_text(settings, log);
    std::string keys = key_summary();

    for (;;) {
        // With events, the log is looked at once one came, when the pacer
        // lets it.
        bool changed = false;
        if (!notifier.active() || (look && pacer.due())) {
            changed = watch.changed();
            look = !watch.reachable();  // no event may tell when it can be looked at again
        }
        if (changed || std::exchange(read_again, false)) {
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
            pacer.read(log.read_total() > mails_read ? log.read_total() - mails_read : 0);
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
            wait_ms = pacer.milliseconds_left();
        }
        // A change already waits for its frame: more events would only wake
        // the loop for nothing, so they wait in the kernel until then.
        const int key = keyboard.wait_key(wait_ms, look ? -1 : notifier.fd());
        look = notifier.take_events() > 0 || look;
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
