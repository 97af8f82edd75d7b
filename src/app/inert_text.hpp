#pragma once

#include <string>
#include <string_view>

// How terminal control characters in log text are shown.
enum class ControlBytes {
    Raw,    // passed on unchanged (to a pipe or a file)
    Caret,  // shown inert: ESC as ^[, DEL as ^?
};

// Appends `text` to `out`. With ControlBytes::Caret every C0 control and DEL
// is written in caret notation, and a C1 control, in its UTF-8 form (0xC2
// followed by 0x80..0x9F, which a UTF-8 terminal obeys) or as a byte
// 0x80..0x9F outside any UTF-8 character (which a terminal in an 8-bit mode
// obeys), as "M-" and the caret form of its low bits, as cat -v writes it.
// Text from strangers (senders, subjects, folder names) thus cannot drive
// the user's terminal. Every other byte, UTF-8 characters included, is kept.
void append_text(std::string& out, std::string_view text, ControlBytes mode);
