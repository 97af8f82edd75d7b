#include "ui/folder_view.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/monitor.hpp"
#include "app/report.hpp"
#include "log/encoded_words.hpp"
#include "ui/screen.hpp"
#include "ui/screen_text.hpp"

#include <curses.h>

namespace {

// Folder rows start below the top bar; the first column of a row is left for
// the selection marker.
constexpr int first_row = 1;
constexpr int row_text_column = 1;
constexpr int count_column = row_text_column + 2;  // after two blanks
constexpr int new_mail_column = 9;
constexpr int mail_column = 6;

void write_text(WINDOW* window, const std::string& text) {
    waddnstr(window, text.data(), static_cast<int>(text.size()));
}

// The columns a mail count takes when written whole.
int digits(std::uint64_t count) {
    int columns = 1;
    for (; count >= 10; count /= 10) {
        ++columns;
    }
    return columns;
}

}  // namespace

std::string folder_row_text(const Folder& folder, int max_columns) {
    std::string count;
    append_count(count, folder.count);
    ScreenText row(max_columns);
    row.append("  ");
    row.append(count);
    row.append("   ");
    row.append(folder.name);
    return row.text();
}

std::string mail_line_text(const MailEntry& mail, int width) {
    ScreenText line(width >= 7 ? width - 6 : INT_MAX);
    line.append("     ");
    line.append(mail.from());
    line.append(": ");
    // Decoded when shown, never when the log is read, which stays fast.
    line.append(decode_encoded_words(mail.subject()));
    return line.text();
}

void Monitor::draw_folders(WINDOW* window, int expanded, int width) const {
    const std::vector<const Folder*>& folders = log.folders();
    // Rows are counted wide: a long list only ever moves further below the
    // window, where every move fails and nothing is drawn.
    std::int64_t offset = first_row;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const Folder& folder = *folders[i];
        const auto row = static_cast<int>(
            std::min<std::int64_t>(static_cast<std::int64_t>(i) + offset, INT32_MAX));
        if (wmove(window, row, 0) == OK) {
            wclrtoeol(window);
        }
        const bool is_selected = i == selected;
        if (is_selected) {
            wattrset(window, COLOR_PAIR(selection_pair));
            if (!colour) {
                wattr_on(window, A_REVERSE, nullptr);
            }
            if (wmove(window, row, 0) == OK) {
                whline(window, ' ', width);
            }
        } else {
            wattrset(window, COLOR_PAIR(text_pair));
        }
        wattr_on(window, A_BOLD, nullptr);
        if (wmove(window, row, row_text_column) == OK) {
            // Cut at the right edge: a name that went on on the next row
            // would leave its end behind on a mail line.
            write_text(window, folder_row_text(folder, width - row_text_column));
        }
        // A count wider than its field pushes the "N" right, so that no digit
        // is covered.
        const int marker_column = std::max(new_mail_column, count_column + digits(folder.count));
        if (folder.name == log.last_folder() && wmove(window, row, marker_column) == OK) {
            waddstr(window, "N");
        }
        if (expanded == -1 || !is_selected) {
            continue;
        }
        wattrset(window, COLOR_PAIR(text_pair));
        for (const MailEntry& mail : folder.mails) {
            ++offset;
            const auto mail_row = static_cast<int>(
                std::min<std::int64_t>(static_cast<std::int64_t>(i) + offset, INT32_MAX));
            if (wmove(window, mail_row, mail_column) == OK) {
                write_text(window, mail_line_text(mail, width));
            }
        }
    }
}
