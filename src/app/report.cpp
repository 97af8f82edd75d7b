#include "app/report.hpp"

#include <fcntl.h>

#include <charconv>
#include <utility>

#include "app/json.hpp"
#include "log/encoded_words.hpp"
#include "log/fd_io.hpp"

namespace {

// The report of a large log is written in pieces of about this size, so it is
// never held whole in memory.
constexpr std::size_t flush_size = std::size_t{1} << 20;

}  // namespace

void append_count(std::string& out, std::uint64_t count) {
    constexpr std::size_t field = 5;
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, count);
    const auto length = static_cast<std::size_t>(end - digits);
    if (length < field) {
        out.append(field - length, ' ');
    }
    out.append(digits, length);
}

void append_folder_line(std::string& out, const Folder& folder, ControlBytes mode) {
    append_count(out, folder.count);
    out.push_back(' ');
    append_text(out, folder.name, mode);
    out.push_back('\n');
}

void append_mail_line(std::string& out, const MailEntry& mail, ControlBytes mode) {
    out.append("      ");
    append_text(out, mail.from(), mode);
    out.append(": ");
    if (mode == ControlBytes::Caret) {
        append_text(out, decode_encoded_words(mail.subject()), mode);
    } else {
        append_text(out, mail.subject(), mode);  // scripts get what the log says
    }
    out.push_back('\n');
}

namespace {

// Writes `out` to `fd` and empties it once it holds a piece.
bool flush_when_full(int fd, std::string& out) {
    if (out.size() < flush_size) {
        return true;
    }
    const bool written = write_all(fd, out);
    out.clear();
    return written;
}

}  // namespace

bool write_json_report(int fd, const MailLogScanner& log, bool wide) {
    std::string out = "{";
    append_json_member(out, "total", log.total());
    out.append(",\"folders\":[");
    const char* folder_separator = "";
    for (const Folder* folder : log.folders()) {
        out.append(std::exchange(folder_separator, ",")).push_back('{');
        append_json_member(out, "name", folder->name);
        out.push_back(',');
        append_json_member(out, "count", folder->count);
        if (wide) {
            out.append(",\"mails\":[");
            const char* mail_separator = "";
            for (const MailEntry& mail : folder->mails) {
                out.append(std::exchange(mail_separator, ","));
                append_json_mail(out, folder->name, mail.from(), mail.subject());
                if (!flush_when_full(fd, out)) {
                    return false;
                }
            }
            out.push_back(']');
        }
        out.push_back('}');
        if (!flush_when_full(fd, out)) {
            return false;
        }
    }
    out.append("]}\n");
    return write_all(fd, out);
}

bool write_report(int fd, const MailLogScanner& log, bool wide, ControlBytes mode) {
#ifdef F_SETPIPE_SZ
    if (wide) {
        // A pipe with room for a whole piece takes it at once; at its usual
        // size the writer waits for the reader many times per piece. Only
        // advice: a file, or a pipe that may not grow, stays as it is.
        ::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(flush_size));
    }
#endif
    std::string out;
    out.reserve(flush_size + std::size_t{2} * 4096);  // room for the line that crosses it
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
