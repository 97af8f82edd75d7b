#include <unistd.h>

#include <string>

#include "app/inert_text.hpp"
#include "app/monitor.hpp"
#include "log/encoded_words.hpp"
#include "log/fd_io.hpp"
#include "log/folder.hpp"
#include "log/mail_observer.hpp"

namespace {

// Keeps the newest mail a read records, leaving out a hidden /dev/null.
class NewestMail : public MailObserver {
public:
    explicit NewestMail(bool hide_devnull) : hide_devnull_(hide_devnull) {}

    void on_read(Read /*read*/, std::uint64_t /*mails_before*/) override { found = false; }
    void on_mail(std::string_view mail_folder, std::string_view mail_from,
                 std::string_view mail_subject) override {
        if (hide_devnull_ && mail_folder == devnull_folder) {
            return;
        }
        found = true;
        folder = mail_folder;
        from = mail_from;
        subject = mail_subject;
    }

    bool found = false;
    std::string folder;
    std::string from;
    std::string subject;

private:
    bool hide_devnull_;
};

}  // namespace

int Monitor::print_status() {
    NewestMail newest(settings.hide_devnull);
    log.set_observer(&newest);
    refresh_list();
    log.set_observer(nullptr);

    std::string line;
    const std::string& format = settings.status_format;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%' || at + 1 == format.size()) {
            line.push_back(format[at]);
            continue;
        }
        switch (format[++at]) {
            case 'n':
                line.append(std::to_string(log.total()));
                break;
            case 'f':
                line.append(std::to_string(log.folders().size()));
                break;
            case 'F':
                append_text(line, newest.folder, ControlBytes::Caret);
                break;
            case 's':
                append_text(line, newest.from, ControlBytes::Caret);
                break;
            case 'S':
                append_text(line, decode_encoded_words(newest.subject), ControlBytes::Caret);
                break;
            case '%':
                line.push_back('%');
                break;
            default:
                line.append(format, at - 1, 2);  // not a field: kept as written
        }
    }
    line.push_back('\n');
    write_all(STDOUT_FILENO, line);
    return log.total() > 0 ? 0 : 1;
}
