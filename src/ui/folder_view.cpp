#include "ui/folder_view.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

#include "app/monitor.hpp"
#include "app/report.hpp"
#include "log/encoded_words.hpp"
#include "ui/screen.hpp"
#include "ui/screen_text.hpp"
#include "ui/window.hpp"

#include <curses.h>

namespace {

// Folder rows start below the top bar; the first column of a row is left for
// the selection marker.
constexpr int first_row = 1;
constexpr int row_text_column = 1;
constexpr int count_column = row_text_column + 2;  // after two blanks
constexpr int new_mail_column = 9;
constexpr int mail_column = 6;

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

namespace {

Row folder_row(const Folder& folder, bool selected, bool newest, int width) {
    const Paint paint = selected ? Paint::Selection : Paint::Bold;
    Row row{selected ? Row::Fill::Selection : Row::Fill::Clear, {}};
    // Cut at the right edge: a name that went on on the next row would leave
    // its end behind on a mail line.
    row.spans.push_back({row_text_column, folder_row_text(folder, width - row_text_column), paint});
    if (newest) {
        // A count wider than its field pushes the "N" right, so that no digit
        // is covered.
        row.spans.push_back(
            {std::max(new_mail_column, count_column + digits(folder.count)), "N", paint});
    }
    return row;
}

}  // namespace

std::vector<Row> folder_rows(const MailLogScanner& log, const ListShape& shape, int width,
                             std::uint64_t first, std::uint64_t count) {
    const std::vector<const Folder*>& folders = log.folders();
    std::vector<Row> rows;
    const std::uint64_t end = std::min(shape.rows(), first + std::min(count, shape.rows()));
    for (std::uint64_t row = first; row < end;) {
        const std::uint64_t index = shape.folder_at(row);
        const Folder& folder = *folders[index];
        if (row == shape.folder_row(index)) {
            rows.push_back(folder_row(folder, index == shape.selected,
                                      folder.name == log.last_folder(), width));
            ++row;
        }
        if (index != shape.selected || shape.mails == 0 || row >= end) {
            continue;
        }
        auto mail = folder.mails.begin();
        std::advance(mail, row - shape.folder_row(index) - 1);
        for (; row < end && mail != folder.mails.end(); ++mail, ++row) {
            rows.push_back(
                {Row::Fill::None, {{mail_column, mail_line_text(*mail, width), Paint::Text}}});
        }
        if (row <= shape.selected + shape.mails && row < end) {
            break;  // fewer mails kept than counted: nothing more to show
        }
    }
    return rows;
}

ListShape list_shape_of(const MailLogScanner& log, std::uint32_t selected, int expanded) {
    const std::vector<const Folder*>& folders = log.folders();
    ListShape shape{folders.size(), selected, 0};
    if (expanded != -1 && selected < folders.size()) {
        shape.mails = folders[selected]->count;
    }
    return shape;
}

ListShape Monitor::list_shape() const {
    return list_shape_of(log, selected, settings.expanded);
}

void Monitor::draw_folders(WINDOW* window, int expanded, int width) const {
    Window view(window);
    view.resized();
    const ListShape shape = list_shape_of(log, selected, expanded);
    // The list's rows lie between the top bar and the bottom bar.
    const auto shown = static_cast<std::uint64_t>(std::max(0, view.height() - 3));
    const std::uint64_t first = clamped_top(top, shape.rows(), shown);
    const std::vector<Row> rows = folder_rows(log, shape, width, first, shown);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        view.draw_row(highlight_for(colour), first_row + static_cast<int>(i), rows[i]);
    }
}
