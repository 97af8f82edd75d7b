#pragma once

#include <string>
#include <string_view>

#include "app/new_mails.hpp"

// What a notification says about the new mails of one read: for one mail,
// its folder as the title and "sender: subject" as the body; for several,
// "Lurko" and "5 new mails: work 3, lists 2". The subject is decoded, and
// the texts are valid UTF-8 (a byte that is no character becomes U+FFFD)
// without any control character (C0, DEL, C1), which are dropped.
struct Notice {
    std::string title;
    std::string body;
};
Notice notice_for(const NewMailBatch& batch);

// Text as a notification field takes it: valid UTF-8, control characters
// dropped.
std::string notice_field(std::string_view text);

// The notification as escape sequences for the terminal `term` (the values
// of TERM, TERM_PROGRAM, LC_TERMINAL and KITTY_WINDOW_ID, and whether TMUX is
// set): one sequence, of the kind that terminal shows, wrapped for tmux's
// passthrough inside tmux.
struct TerminalKind {
    std::string_view term;
    std::string_view term_program;
    std::string_view lc_terminal;
    bool kitty = false;  // KITTY_WINDOW_ID is set
    bool tmux = false;   // TMUX is set
};
TerminalKind terminal_from_environment();
std::string terminal_notification(const Notice& notice, const TerminalKind& terminal);

// Escapes '&', '<' and '>' for a notification server that takes markup.
std::string escape_markup(std::string_view text);
