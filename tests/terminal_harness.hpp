#pragma once

// A terminal for tests: runs a program in a pseudo-terminal of a chosen size,
// feeds everything it writes into a terminal emulator (libvterm) and lets a
// test read the screen back cell by cell, type keys as the terminal would
// send them, resize the terminal and collect the program's exit status and
// standard error.
//
//   test::Terminal term({test::lurko_binary(), log_path}, {.rows = 24, .cols = 80});
//   ASSERT_TRUE(term.wait_for_text("New mail")) << term.screen();
//   term.press(test::Key::Down);
//   ASSERT_TRUE(term.settle());
//   EXPECT_TRUE(term.cell(2, 5).reverse);
//   term.type("q");
//   ASSERT_TRUE(term.wait_exit());
//   EXPECT_EQ(term.exit_status(), 0);
//
// Every wait is bounded and returns false when its time runs out; the output
// is read only inside the calls that wait (and pump), so the screen a test
// reads stays still between them.
//
// Known faults of the emulator (libvterm 0.1.4), which tests steer around:
// - a row ending in a run of one character that curses sends as a repeat
//   (ESC [ n b) reaching the last column: the emulator sets its pending wrap
//   one character early and puts the last one at the start of the next row;
//   such rows are best made of varied characters;
// - a resize that takes away rows while rows wrapped onto the next ones
//   are on the screen and the cursor is near the top corrupts its memory
//   once text follows (a crash, or a heap error later); output meant for
//   a wider screen wraps, so storms of resizes under load meet it.

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.hpp"

struct VTerm;
struct VTermScreen;

namespace test {

using Milliseconds = std::chrono::milliseconds;

// How long the waits of the harness allow by default: generous, since the
// tests also run under the sanitizers on a busy machine.
inline constexpr Milliseconds default_wait{15000};

// A colour of a cell: a palette index 0..255, or one of these.
inline constexpr int default_colour = -1;  // the terminal's own (no colour set)
inline constexpr int rgb_colour = -2;      // a direct RGB colour

// Palette indices of the curses colours.
inline constexpr int black = 0;
inline constexpr int red = 1;
inline constexpr int yellow = 3;
inline constexpr int blue = 4;
inline constexpr int white = 7;

// One character cell of the screen.
struct Cell {
    std::string text = " ";  // the character, UTF-8 ("" for the right half of a wide one)
    bool bold = false;
    bool underline = false;
    bool reverse = false;
    int foreground = default_colour;
    int background = default_colour;
};

// A screen position, counted from 0.
struct Position {
    int row = 0;
    int column = 0;
    bool operator==(const Position&) const = default;
};

// Keys that send more than their own character.
enum class Key {
    Enter,
    Tab,
    Backspace,
    Escape,
    Up,
    Down,
    Left,
    Right,
    Home,
    End,
    PageUp,
    PageDown,
    F1
};

struct TerminalOptions {
    int rows = 24;
    int cols = 80;
    // TERM of the child: an entry the emulator follows closely. Use `env` to
    // unset it ({"TERM", std::nullopt}) or to name an unknown one.
    std::string term = "xterm-256color";
    // Changes to the child's environment, applied after TERM (LANG, LC_ALL,
    // HOME...). Otherwise the child inherits the test's environment, less
    // LINES and COLUMNS, which would override the terminal size.
    EnvChanges env;
    std::string cwd;  // working directory of the child; empty: the test's
    // Keep every byte the child writes to the terminal (see output()).
    bool keep_output = false;
};

class Terminal {
public:
    // Starts argv (argv[0] is the program's path) on a new pseudo-terminal.
    // Its standard input and output are the terminal; its standard error is
    // a pipe of its own (see error_output). Throws when that cannot be set up.
    explicit Terminal(const std::vector<std::string>& argv, const TerminalOptions& options = {});
    // Kills the child if it is still running.
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // --- Waiting. Each reads the child's output while it waits. ---

    // Until `condition` (checked after every piece of output) holds.
    bool wait_until(const std::function<bool()>& condition, Milliseconds timeout = default_wait);
    // Until `text` shows anywhere on the screen (within one row).
    bool wait_for_text(std::string_view text, Milliseconds timeout = default_wait);
    // Until row `row` holds `text` from column `column` on.
    bool wait_for_text_at(int row, int column, std::string_view text,
                          Milliseconds timeout = default_wait);
    // Until the child has written nothing for `quiet`.
    bool settle(Milliseconds quiet = Milliseconds(300), Milliseconds timeout = default_wait);
    // Until the child has ended (its last output read).
    bool wait_exit(Milliseconds timeout = default_wait);
    // Reads the output for exactly `duration` (to see that nothing comes).
    void pump(Milliseconds duration);

    // --- The screen. ---

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    Cell cell(int row, int column) const;
    // `length` cells of a row from `column`, as text.
    std::string text(int row, int column, int length) const;
    // A whole row as text, without its trailing blanks.
    std::string row_text(int row) const;
    // The whole screen, one line per row, framed for failure messages.
    std::string screen() const;
    // Whether `text` shows anywhere on the screen.
    bool contains(std::string_view text) const;
    Position cursor() const;
    bool cursor_visible() const { return cursor_visible_; }
    // Whether the program switched to the alternate screen (smcup).
    bool alternate_screen() const { return alternate_screen_; }
    // How often the terminal bell rang.
    int bells() const { return bells_; }
    // Bytes the child has written to the terminal so far.
    std::size_t output_size() const { return output_size_; }
    // Those bytes themselves, as the terminal received them; empty unless
    // the options asked to keep them.
    const std::string& output() const { return output_; }
    // The terminal properties the program set, in order, as "name=value"
    // ("title=...", "mouse=1", "reverse=1"...).
    const std::vector<std::string>& property_changes() const { return property_changes_; }

    // --- Input. ---

    // Sends bytes as typed ("q", "\x03" for Ctrl-C).
    void type(std::string_view bytes);
    // Sends a key as the terminal sends it in its current mode: the cursor
    // keys as ESC O A... once the program has switched keypad transmit mode
    // on, as ESC [ A... otherwise.
    void press(Key key);
    // What press(key) would send now.
    std::string key_sequence(Key key);
    // Gives the terminal a new size; the kernel tells the child (SIGWINCH).
    void resize(int rows, int cols);
    // Tells the child a new size (SIGWINCH) while the emulator keeps its
    // own: for storms of resizes, since the emulator's own resizing is what
    // the faults noted above come from. The screen read back then shows the
    // child's output as a terminal of the old size would.
    void resize_child_only(int rows, int cols);
    // The terminal modes the child's side of the terminal has now.
    termios modes() const;

    // --- The child. ---

    pid_t pid() const { return child_; }
    // Whether the child is still running (looks without waiting).
    bool running();
    // Its exit status, or -1 while it runs or when a signal ended it.
    int exit_status() const { return exit_status_; }
    // The signal that ended it, or 0.
    int exit_signal() const { return exit_signal_; }
    void send_signal(int number);
    // What it wrote on standard error so far.
    const std::string& error_output() const { return error_output_; }

private:
    // Reads output until `deadline`, returning early after the first piece
    // when `early` is set. False when nothing more can come.
    bool read_output(std::chrono::steady_clock::time_point deadline, bool early);
    void reap(bool block);
    void write_to_child(std::string_view bytes);

    friend struct TerminalCallbacks;  // libvterm's callbacks

    VTerm* vterm_ = nullptr;
    VTermScreen* screen_ = nullptr;
    int master_ = -1;
    int error_pipe_ = -1;
    bool output_open_ = true;  // the child's side of the terminal may still write
    bool errors_open_ = true;  // its standard error may still write
    pid_t child_ = -1;
    bool exited_ = false;
    int exit_status_ = -1;
    int exit_signal_ = 0;
    int rows_;
    int cols_;
    int bells_ = 0;
    bool cursor_visible_ = true;
    bool alternate_screen_ = false;
    std::size_t output_size_ = 0;
    bool keep_output_ = false;
    std::string output_;
    std::vector<std::string> property_changes_;
    std::chrono::steady_clock::time_point last_output_;
    std::string error_output_;
    std::string* capture_ = nullptr;  // where key_sequence collects what a key sends
};

// Ends the program with q: it must end within `timeout`, with status 0 and
// nothing on standard error (unless `errors_allowed`: what the programs it
// ran wrote there).
void quit(Terminal& term, Milliseconds timeout = default_wait, bool errors_allowed = false);

// The modes of a new pseudo-terminal, before any program changed them.
termios fresh_modes();

// The terminal is as a program that has ended must leave it: the modes of
// `before` back (flag for flag and control character for control character,
// what `stty -g` prints), the main screen, the cursor shown and keypad
// transmit mode off.
::testing::AssertionResult handed_back(Terminal& term, const termios& before);

}  // namespace test
