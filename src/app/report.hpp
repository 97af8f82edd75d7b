#pragma once

#include <cstdint>
#include <string>

#include "app/inert_text.hpp"
#include "log/mail_log_scanner.hpp"

// A folder's mail count as the report and the folder rows show it:
// right-aligned in five columns, a longer number whole.
void append_count(std::string& out, std::uint64_t count);

// The report line of one folder: its mail count right-aligned in five
// columns (a longer number whole), a blank, its name, a newline.
void append_folder_line(std::string& out, const Folder& folder, ControlBytes mode);

// The line of one mail under its folder: six blanks, sender, ": ", subject.
// With ControlBytes::Caret, for a person at a terminal, the subject's MIME
// encoded words are decoded; with ControlBytes::Raw it is left as logged.
void append_mail_line(std::string& out, const MailEntry& mail, ControlBytes mode);

// Writes the one-shot report of the folder list to a file descriptor: a line
// per folder, most mails first, and with `wide` a line per mail under each.
// Returns false when the output could not be written.
bool write_report(int fd, const MailLogScanner& log, bool wide, ControlBytes mode);

// The same report as one JSON document: the total and the folders in report
// order, each with its name and count and, with `wide`, its mails.
bool write_json_report(int fd, const MailLogScanner& log, bool wide);
