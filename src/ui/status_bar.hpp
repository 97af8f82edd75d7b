#pragma once

#include <string>

#include "app/settings.hpp"
#include "log/mail_log_scanner.hpp"

// The top bar: "Lurko -- New mail: 3 in 2 folders", with " (beep on)" when
// the bell rings on new mail. "folder" takes no "s" for exactly one folder.
std::string status_text(const Settings& settings, const MailLogScanner& log);

// The bottom bar: "KEY:Label " for every key table row that has a label.
std::string key_summary();
