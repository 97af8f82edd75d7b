#include "app/notice_text.hpp"

#include <cstdlib>

#include "app/json.hpp"
#include "log/encoded_words.hpp"

namespace {

// The last component of a folder path, which says enough in a notification.
std::string_view short_name(std::string_view folder) {
    std::string_view name = folder;
    if (name.size() > 1 && name.back() == '/') {
        name.remove_suffix(1);
    }
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos || slash + 1 == name.size() ? name
                                                                       : name.substr(slash + 1);
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The sequence types; see terminal_notification.
enum class Sequence { Osc9, Osc99, Osc777 };

Sequence sequence_for(const TerminalKind& terminal) {
    // kitty's own protocol, with a title and a body; it would also show 9
    // and 777, so only this one goes there.
    if (terminal.kitty || terminal.term == "xterm-kitty") {
        return Sequence::Osc99;
    }
    // iTerm2 and Apple's Terminal take OSC 9 (one text); iTerm2 names itself
    // in LC_TERMINAL also across ssh and inside tmux.
    if (terminal.term_program == "iTerm.app" || terminal.lc_terminal == "iTerm2" ||
        terminal.term_program == "Apple_Terminal") {
        return Sequence::Osc9;
    }
    // Everyone else: rxvt-unicode's notify, which foot, WezTerm, Ghostty
    // and VTE's notification patch show with a title and a body. Terminals
    // that know neither ignore an OSC they do not know.
    return Sequence::Osc777;
}

}  // namespace

std::string notice_field(std::string_view text) {
    std::string field;
    field.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8_length(text.substr(at));
        if (length == 0) {
            field.append("\xEF\xBF\xBD");
            ++at;
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[at]);
        const bool control =
            (length == 1 && (lead < 0x20 || lead == 0x7F)) ||
            (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
        if (!control) {
            field.append(text.substr(at, length));
        } else if (lead == '\t') {
            field.push_back(' ');
        }
        at += length;
    }
    return field;
}

Notice notice_for(const NewMailBatch& batch) {
    Notice notice;
    if (batch.count == 1 && !batch.mails.empty()) {
        const NewMail& mail = batch.mails.front();
        notice.title = notice_field(short_name(mail.folder));
        notice.body = notice_field(mail.from) + ": " +
                      notice_field(decode_encoded_words(mail.subject, DecodeTo::Utf8));
        return notice;
    }
    notice.title = "Lurko";
    notice.body = std::to_string(batch.count) + " new mails:";
    const char* separator = " ";
    for (const auto& [folder, count] : batch.by_folder) {
        notice.body.append(separator).append(notice_field(short_name(folder)));
        notice.body.append(" ").append(std::to_string(count));
        separator = ", ";
    }
    return notice;
}

TerminalKind terminal_from_environment() {
    return {environment("TERM"), environment("TERM_PROGRAM"), environment("LC_TERMINAL"),
            std::getenv("KITTY_WINDOW_ID") != nullptr, std::getenv("TMUX") != nullptr};
}

std::string terminal_notification(const Notice& notice, const TerminalKind& terminal) {
    std::string sequence;
    switch (sequence_for(terminal)) {
        case Sequence::Osc99:
            // The title first, then the body, which shows the notification.
            sequence.append("\x1b]99;i=lurko:d=0:p=title;").append(notice.title).append("\x1b\\");
            sequence.append("\x1b]99;i=lurko:d=1:p=body;").append(notice.body).append("\x1b\\");
            break;
        case Sequence::Osc9:
            // One text; it never starts with a digit, which ConEmu and
            // Windows Terminal would take for a command of their own (9;4).
            sequence.append("\x1b]9;Lurko: ").append(notice.title).append(": ");
            sequence.append(notice.body).append("\a");
            break;
        case Sequence::Osc777: {
            std::string title = notice.title;  // a ';' would start the body
            for (char& c : title) {
                c = c == ';' ? ',' : c;
            }
            sequence.append("\x1b]777;notify;").append(title).append(";");
            sequence.append(notice.body).append("\a");
            break;
        }
    }
    if (!terminal.tmux) {
        return sequence;
    }
    // tmux hands on what is wrapped in its passthrough (allow-passthrough
    // on), every ESC inside doubled.
    std::string wrapped = "\x1bPtmux;";
    for (const char c : sequence) {
        wrapped.push_back(c);
        if (c == '\x1b') {
            wrapped.push_back(c);
        }
    }
    wrapped.append("\x1b\\");
    return wrapped;
}

std::string escape_markup(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped.append("&amp;");
                break;
            case '<':
                escaped.append("&lt;");
                break;
            case '>':
                escaped.append("&gt;");
                break;
            default:
                escaped.push_back(c);
        }
    }
    return escaped;
}
