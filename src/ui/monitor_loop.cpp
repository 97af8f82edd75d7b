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
#include "ui/rows.hpp"
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

// When the log is looked at: the kernel tells when it may have changed
// (ChangeNotifier), FileWatch then judges whether it did, and the pacer
// spreads the reads of a burst. Where the kernel cannot tell, the log is
// looked at every 0.4 seconds.
class LogLook {
public:
    explicit LogLook(const std::string& path) : watch_(path), notifier_(path) {}

    // Looks at the log when it is due; true when it changed.
    bool changed() {
        if (notifier_.active() && !(look_ && pacer_.due())) {
            return false;
        }
        const bool changed = watch_.changed();
        look_ = !watch_.reachable();  // no event may tell when it can be looked at again
        return changed;
    }

    // A read of the log brought `mails` new mails.
    void read(std::uint64_t mails) { pacer_.read(mails); }

    // How long the next wait may sleep (-1: until a key or an event) and the
    // descriptor whose events end it. A change already waiting for its frame
    // leaves further events in the kernel until then: they would only wake
    // the loop for nothing.
    int wait_ms() const {
        if (!notifier_.active() || !watch_.reachable()) {
            return look_interval_ms;
        }
        return look_ ? pacer_.milliseconds_left() : -1;
    }
    int event_fd() const { return look_ ? -1 : notifier_.fd(); }

    // After a wait: events that came ask for a look.
    void take_events() { look_ = notifier_.take_events() > 0 || look_; }

private:
    FileWatch watch_;
    ChangeNotifier notifier_;
    FramePacer pacer_;
    bool look_ = false;  // the log may have changed since the last look
};

}  // namespace

void Monitor::draw_screen(Window& screen, const std::string& status,
                          const std::string& keys) const {
    const Highlight highlight = highlight_for(colour);
    screen.draw_bar(highlight, 0, status);
    const ListShape shape = list_shape();
    // The list's rows lie between the top bar and the bottom bar.
    const auto shown = static_cast<std::uint64_t>(std::max(screen.height() - 3, 0));
    const std::uint64_t first = clamped_top(top, shape.rows(), shown);
    screen.draw_view_position(highlight, first, shown, shape.rows(), status.size());
    int cursor_row = 0;
    if (shape.folders > 0) {
        draw_folders(screen.handle(), settings.expanded, screen.width());
        const std::uint64_t row = shape.folder_row(shape.selected);
        if (shape.selected < shape.folders && row >= first && row - first < shown) {
            cursor_row = static_cast<int>(row - first) + 1;
            screen.draw_arrow(highlight, cursor_row - 1);
        }
    }
    screen.draw_bar(highlight, screen.height() - 2, message.empty() ? keys : message);
    screen.draw_version();
    wmove(screen.handle(), cursor_row, screen.width() - 1);
}

void Monitor::after_read(std::uint64_t new_mails, std::string_view was_selected) {
    if (bell_rings(settings, log, new_mails)) {
        beep();
    }
    const auto& folders = log.folders();
    const auto found = std::find_if(folders.begin(), folders.end(), [&](const Folder* folder) {
        return !was_selected.empty() && folder->name == was_selected;
    });
    if (found != folders.end()) {
        selected = static_cast<std::uint32_t>(found - folders.begin());
    } else {
        clamp_selection(0);
    }
    show_selection();
}

// Each pass: look at the log and read what changed, restore the screen after
// an external command, erase when the size changed or a command asked for it,
// draw what the flags ask for, then wait for one key, or for the log to
// change, and carry out the key's command. The wait sleeps until something
// happens; the changes of a burst are read and drawn at most once a frame.
void Monitor::run_screen() {
    Window screen(stdscr);
    Keyboard keyboard(stdscr);
    bool need_clear = false;
    bool need_redraw = true;
    bool launched = false;

    refresh_list();
    LogLook look(settings.logfile);
    std::uint64_t mails_read = log.read_total();  // as of the last read, /dev/null included
    std::string status = status_text(settings, log);
    const std::string keys = key_summary();

    for (;;) {
        if (look.changed() || log.reread_pending()) {
            const std::string was_selected(selected_name());
            refresh_list();
            const std::uint64_t new_mails =
                log.read_total() > mails_read ? log.read_total() - mails_read : 0;
            mails_read = log.read_total();
            look.read(new_mails);
            after_read(new_mails, was_selected);
            // The list may now need fewer rows than are on the screen, so the
            // old rows are erased before it is drawn again.
            need_clear = true;
        }
        if (std::exchange(launched, false)) {
            wclear(screen.handle());  // back from the shell: every cell is drawn anew
            need_clear = true;
        }
        if (screen.resized() || need_clear) {
            page = std::max(0, screen.height() - 3);  // between the top and the bottom bar
            show_selection();
            werase(screen.handle());
            need_clear = false;
            need_redraw = true;
            status = status_text(settings, log);
        }
        if (need_redraw) {
            draw_screen(screen, status, keys);
        }
        wrefresh(screen.handle());
        if (std::exchange(drop_typeahead, false)) {
            flushinp();
        }
        const int key = keyboard.wait_key(look.wait_ms(), look.event_fd());
        look.take_events();
        if (key != ERR && !message.empty()) {
            message.clear();  // said until the next key
            need_clear = true;
        }
        if (dispatch(key_to_command(key), need_clear, need_redraw, launched)) {
            break;
        }
    }
    screen.close();
}
