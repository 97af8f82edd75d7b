#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/mail_log_scanner.hpp"
#include "ui/rows.hpp"

// The text of a folder row from its column 1 on: two blanks, the mail count
// right-aligned in five columns (a longer number whole), three blanks and the
// folder's name as the screen shows it (see ScreenText), cut to fit in
// `max_columns` columns.
std::string folder_row_text(const Folder& folder, int max_columns);

// The text of a mail line from its column 6 on: five blanks, the sender,
// ": ", the subject with its MIME encoded words decoded, as the screen shows
// them. In a window `width` columns wide (7 or more) it is cut to `width` - 6
// columns of what is shown, at the end of a whole character, so that the line
// ends in the last column at the latest.
std::string mail_line_text(const MailEntry& mail, int width);

// The rows of the folder list from row `first` on, at most `count` of them,
// in a window `width` columns wide: a row per folder (count, "N" beside the
// folder of the newest mail, name), the selected one highlighted, and under
// it, when `shape` has mail rows, its mails.
std::vector<Row> folder_rows(const MailLogScanner& log, const ListShape& shape, int width,
                             std::uint64_t first, std::uint64_t count);

// The shape of the list with folder `selected` selected, its mails listed
// under it when `expanded` is not -1.
ListShape list_shape_of(const MailLogScanner& log, std::uint32_t selected, int expanded);
