#pragma once

#include <cstdint>
#include <string>

#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"

// The top bar: "Lurko -- New mail: 3 in 2 folders", with " (beep on)" when
// the bell rings on new mail. "folder" takes no "s" for exactly one folder.
std::string status_text(const Settings& settings, const MailLogScanner& log);

// The bottom bar: "KEY:Label " for every key table row that has a label.
std::string key_summary();

// Whether a read of the log that brought `new_mails` new mails rings the
// bell: only for new mail, never for an edit of the log, with the bell on,
// and not when the newest mail went to /dev/null and the settings ask for
// silence then. With /dev/null hidden it still counts as the newest folder.
bool bell_rings(const Settings& settings, const MailLogScanner& log, std::uint64_t new_mails);
