#include <curses.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "app/alerts.hpp"
#include "app/monitor.hpp"
#include "app/new_mails.hpp"
#include "log/log_look.hpp"
#include "ui/key_bindings.hpp"
#include "ui/keyboard.hpp"
#include "ui/rows.hpp"
#include "ui/status_bar.hpp"
#include "ui/window.hpp"

namespace {

// Reads what changed in the log: the list, the pacing of reads, the
// announcements of new mail, the bell and the selection kept on its folder.
// `mails_read` counts the mails read so far, /dev/null included.
void read_changes(Monitor& monitor, LogLook& look, NewMails& announced, Alerts& alerts,
                  std::uint64_t& mails_read) {
    const std::string was_selected(monitor.selected_name());
    monitor.refresh_list();
    const std::uint64_t total = monitor.log.read_total();
    const std::uint64_t new_mails = total > mails_read ? total - mails_read : 0;
    mails_read = total;
    look.read(new_mails);
    const NewMailBatch batch = announced.take();
    monitor.after_read(monitor.settings.ignore.empty() ? new_mails : batch.ringing, was_selected);
    alerts.announce(batch);
}

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
    // New mail announced (notifications, the hook, folders that ring no
    // bell): the scanner hands its mails out only when something asks.
    NewMails announced(settings, NewMails::Rule::Count, NewMails::Format::None);
    Alerts alerts(settings, Alerts::HookOutput::Discard);
    if (settings.notify != Notify::Off || !settings.on_new.empty() || !settings.ignore.empty()) {
        log.set_observer(&announced);
    }

    for (;;) {
        if (log.reread_pending()) {
            look.rearm();  // a redraw asked for: every watch set up anew
        }
        if (look.changed() || log.reread_pending()) {
            read_changes(*this, look, announced, alerts, mails_read);
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
        const int key = keyboard.wait_key(shorter_wait(look.wait_ms(), alerts.timeout_ms()),
                                          look.event_fd(), alerts.fd(), alerts.events());
        look.take_events();
        alerts.process();
        if (key != ERR && !message.empty()) {
            message.clear();  // said until the next key
            need_clear = true;
        }
        if (dispatch(key_to_command(key), need_clear, need_redraw, launched)) {
            break;
        }
    }
    log.set_observer(nullptr);
    screen.close();
}
