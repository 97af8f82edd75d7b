#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"
#include "ui/curses_fwd.hpp"

enum class Command : unsigned char;  // ui/key_bindings.hpp
class Window;                        // ui/window.hpp
struct ListShape;                    // ui/rows.hpp
struct MaintenanceResult;            // log/log_maintenance.hpp

// The controller of one run: it refers to the settings and the log scanner,
// owned by the program entry, and holds the selection of the monitor.
class Monitor {
public:
    Monitor(Settings& run_settings, MailLogScanner& scanner)
        : settings(run_settings), log(scanner) {}

    // Runs the mode the settings ask for: empties the log and ends the
    // process, prints the report, or runs the interactive monitor.
    void run();

    // Prints the folder report (with `wide`, every mail) on standard output.
    // When it cannot be written, says so on standard error and ends the
    // process with status 1.
    void print_report(bool wide);

    // Brings the folder list up to date with the log and leaves out
    // /dev/null when the settings ask for it: the step after every read.
    void refresh_list();

    // The interactive monitor: the main loop, until the user quits. Curses
    // must have been started by start_screen.
    void run_screen();

    // Carries out one command for the main loop and tells it through the
    // flags what the screen needs next; true when the loop must end.
    bool dispatch(Command command, bool& need_clear, bool& need_redraw, bool& launched);

    // The step after every read of the log that brought `new_mails` new
    // mails: rings the bell when the settings ask for it and keeps the
    // selection on the folder `was_selected` (by name) wherever the list
    // now puts it, or on the list when that folder is gone.
    void after_read(std::uint64_t new_mails, std::string_view was_selected);

    // The name of the selected folder; empty when none is.
    std::string_view selected_name() const;

    // The rows the list takes with the present selection and expansion.
    ListShape list_shape() const;

    // Scrolls the view the least needed for the selected folder's row to be
    // in it, and no further than the list's last page.
    void show_selection();

    // Scrolls the view by `rows` rows (up when negative); a selection the
    // view leaves goes to the nearest folder still in it, as in a pager.
    void scroll_view(std::int64_t rows);

    // Selects folder `index` and keeps its row where it was on the screen,
    // although the expanded mails move under it.
    void select_folder(std::uint32_t index);

    // Selects the next folder (the previous one, `backwards`) after the
    // selected one, wrapping, whose name holds `text` in any case; false
    // when none does.
    bool find_folder(std::string_view text, bool backwards);

    // Asks for a line of text on the bottom bar after `prompt`; nothing when
    // the user cancels it (Escape, ^G).
    std::optional<std::string> ask(std::string_view prompt) const;

    // Carries out a command that moves the selection or the view; false
    // for any other command, which it leaves alone.
    bool navigate(Command command);

    // Carries out a mouse event: a click on a folder row selects it, the
    // wheel scrolls the view.
    void on_mouse();

    // Keeps the selection on the list: a row past its end becomes the last
    // row, and with the list empty the selection becomes `if_empty`.
    void clamp_selection(std::uint32_t if_empty);

    // Drops the selected folder from the list (the list must not be empty)
    // and, `from_log`, its entries from the log file: then only when they
    // could be removed, and the bottom bar tells how it went.
    void remove_selected(bool from_log);

    // After a change to the log: the bottom bar says how it went (`failed`
    // before the reason, or `done`), and a changed log is read again; false
    // when the change failed.
    bool change_log(const MaintenanceResult& result, std::string_view failed,
                    std::string_view done);

    // Draws the main screen into `screen` (not refreshed): the top bar with
    // `status`, the folder rows and the selection marker, the bottom bar with
    // `keys` and the version line; the cursor rests at the right end of the
    // selected row, or of the top bar when the list is empty.
    void draw_screen(Window& screen, const std::string& status, const std::string& keys) const;

    // Draws the folder rows into `window` (not refreshed): the selected row
    // highlighted across `width` columns, "N" beside the folder of the newest
    // mail and, when `expanded` is not -1, the selected folder's mails under
    // it. Rows below the window are not drawn.
    void draw_folders(WINDOW* window, int expanded, int width) const;

    // Shows the help page in a window of its own until the quit key is read.
    void show_help() const;

    // The selection of a list emptied by a command: no row. A move down
    // from it goes to the first row.
    static constexpr std::uint32_t no_row = UINT32_MAX;

    Settings& settings;
    MailLogScanner& log;
    std::uint32_t selected = 0;  // the selected row of the folder list
    bool colour = false;         // the terminal shows colours
    // Keys typed before the list changed under them (after d and r) were
    // meant for the old list: the loop drops them once the new one is shown.
    bool drop_typeahead = false;
    std::uint64_t top = 0;  // the first row of the list in view
    int page = 0;           // the rows the view shows; 0 before the screen is up
    std::string message;    // shown on the bottom bar instead of the keys, until a key
    std::string search;     // the text of the last search

    // The follow stream: a line (or JSON object) on standard output for each
    // mail logged from now on, with notifications and the hook, until the
    // reader goes away; then ends the process with status 0.
    [[noreturn]] void follow();

    // The status line for a status bar, from `status_format`; the exit
    // status: 0 when there is mail, 1 when there is none.
    int print_status();
};
