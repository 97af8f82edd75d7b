#include "ui/status_bar.hpp"

#include "app/texts.hpp"
#include "ui/key_bindings.hpp"

std::string status_text(const Settings& settings, const MailLogScanner& log) {
    const std::size_t folder_count = log.folders().size();
    std::string text(program_name);
    text.append(" -- New mail: ").append(std::to_string(log.total()));
    text.append(" in ").append(std::to_string(folder_count)).append(" folder");
    if (folder_count != 1) {
        text.push_back('s');
    }
    if (settings.beep) {
        text.append(" (beep on)");
    }
    return text;
}

std::string key_summary() {
    std::string text;
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (!row->label.empty()) {
            text.push_back(static_cast<char>(row->key));
            text.append(":").append(row->label).append(" ");
        }
    }
    return text;
}

bool bell_rings(const Settings& settings, const MailLogScanner& log, std::uint64_t new_mails) {
    return settings.beep && new_mails > 0 && !log.folders().empty() &&
           !(settings.no_beep_devnull && log.last_folder() == devnull_folder);
}
