#pragma once

#include <termios.h>

#include <string_view>

// The text for a signal number, as "NAME - Text" with the C library's wording
// ("SIGINT - Interrupt", "SIGQUIT - Quit", "SIGRTMIN+3 - Real-time signal
// 3"...) for every signal catch_signal handles, "Unknown signal" otherwise.
std::string_view signal_name(int number);

// Installs catch_signal for every signal whose default action ends the
// process, but for SIGPIPE and SIGIO; SIGIO is made harmless. A signal that
// the program inherited as ignored (under nohup, say) stays ignored, except
// SIGINT and SIGSEGV.
void install_signal_handlers();

// Installs catch_signal for SIGPIPE too: for the monitor, where a broken pipe
// can only mean that its terminal is gone. (The report keeps the default: a
// reader that stops reading it ends it quietly.)
void catch_broken_pipe();

// Restores the terminal, writes "Caught signal (NAME - Text)" on standard
// error and ends the process: with status 0 after SIGINT, by the signal's
// default action otherwise, so that a crash never looks like success and
// SIGQUIT still leaves its core dump.
[[noreturn]] void catch_signal(int number);

// What catch_signal needs to hand the terminal back while curses runs: the
// modes to restore on `fd` and the terminal's own text that clears the screen
// and leaves full-screen mode. Saved ahead so the handler never calls curses.
void prepare_terminal_restore(int fd, const termios& modes, std::string_view leave_text);
// After curses has ended: nothing is left to restore.
void forget_terminal_restore();
