#pragma once

#include <string>
#include <string_view>

// How terminal control characters and Unicode format characters in log text
// are shown.
enum class ControlBytes {
    Raw,    // passed on unchanged (to a pipe or a file)
    Caret,  // shown inert: ESC as ^[, DEL as ^?, U+202E as <U+202E>
};

// The length of the control or format character at the front of `text`: 1
// for a C0 control or DEL; 2 for a C1 control in its UTF-8 form (0xC2
// followed by 0x80..0x9F, which a UTF-8 terminal obeys); 2 to 4 for a
// Unicode format character in UTF-8 (general category Cf, such as the
// bidirectional overrides and isolates and the zero-width joiners, and the
// line and paragraph separators U+2028 and U+2029), which a UTF-8 terminal
// shows as nothing or lets reorder the text around it. 0 when the text does
// not begin with one.
std::size_t control_length(std::string_view text);

// Appends the inert form of one character that control_length measured: ESC
// as ^[, DEL as ^?, a C1 control as "M-" and the caret form of its low bits,
// as cat -v writes them; a format character as its code point, "<U+202E>"
// (upper-case hexadecimal, at least four digits).
void append_control(std::string& out, std::string_view control);

// Appends `text` to `out`. With ControlBytes::Caret every C0 control and DEL
// is written in caret notation; a C1 control, in its UTF-8 form (0xC2
// followed by 0x80..0x9F, which a UTF-8 terminal obeys) or as a byte
// 0x80..0x9F outside any UTF-8 character (which a terminal in an 8-bit mode
// obeys), as "M-" and the caret form of its low bits, as cat -v writes it;
// and a format character as "<U+...>". Text from strangers (senders,
// subjects, folder names) thus can neither drive the user's terminal nor
// disguise itself. Every other byte, UTF-8 characters included, is kept.
void append_text(std::string& out, std::string_view text, ControlBytes mode);
