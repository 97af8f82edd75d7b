#include "app/report.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace {

// The report of a large log is written in pieces of about this size, so it is
// never held whole in memory.
constexpr std::size_t flush_size = std::size_t{1} << 20;

bool write_all(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t size = text.size();
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

void append_folder_line(std::string& out, const Folder& folder, ControlBytes mode) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, folder.mails.size());
    const auto length = static_cast<std::size_t>(end - digits);
    if (length < 5) {
        out.append(5 - length, ' ');
    }
    out.append(digits, length);
    out.push_back(' ');
    append_text(out, folder.name, mode);
    out.push_back('\n');
}

void append_mail_line(std::string& out, const MailEntry& mail, ControlBytes mode) {
    out.append("      ");
    append_text(out, mail.from(), mode);
    out.append(": ");
    append_text(out, mail.subject(), mode);
    out.push_back('\n');
}

bool write_report(int fd, const MailLogScanner& log, bool wide, ControlBytes mode) {
    std::string out;
    out.reserve(flush_size + 2 * 4096);
    const auto flush_when_full = [&] {
        if (out.size() < flush_size) {
            return true;
        }
        const bool written = write_all(fd, out);
        out.clear();
        return written;
    };
    for (const Folder* folder : log.folders()) {
        append_folder_line(out, *folder, mode);
        if (!flush_when_full()) {
            return false;
        }
        if (!wide) {
            continue;
        }
        for (const MailEntry& mail : folder->mails) {
            append_mail_line(out, mail, mode);
            if (!flush_when_full()) {
                return false;
            }
        }
    }
    return write_all(fd, out);
}
