#include "terminal_harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
}

int colour_of(const VTermColor& colour, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour) : VTERM_COLOR_IS_DEFAULT_BG(&colour)) {
        return default_colour;
    }
    if (VTERM_COLOR_IS_INDEXED(&colour)) {
        return colour.indexed.idx;
    }
    return rgb_colour;
}

VTermKey vterm_key(Key key) {
    switch (key) {
        case Key::Enter:
            return VTERM_KEY_ENTER;
        case Key::Tab:
            return VTERM_KEY_TAB;
        case Key::Backspace:
            return VTERM_KEY_BACKSPACE;
        case Key::Escape:
            return VTERM_KEY_ESCAPE;
        case Key::Up:
            return VTERM_KEY_UP;
        case Key::Down:
            return VTERM_KEY_DOWN;
        case Key::Left:
            return VTERM_KEY_LEFT;
        case Key::Right:
            return VTERM_KEY_RIGHT;
        case Key::Home:
            return VTERM_KEY_HOME;
        case Key::End:
            return VTERM_KEY_END;
        case Key::PageUp:
            return VTERM_KEY_PAGEUP;
        case Key::PageDown:
            return VTERM_KEY_PAGEDOWN;
        case Key::F1:
            return static_cast<VTermKey>(VTERM_KEY_FUNCTION(1));
    }
    return VTERM_KEY_NONE;
}

std::string property_text(VTermProp property, const VTermValue& value) {
    switch (property) {
        case VTERM_PROP_CURSORVISIBLE:
            return "cursorvisible=" + std::to_string(value.boolean);
        case VTERM_PROP_CURSORBLINK:
            return "cursorblink=" + std::to_string(value.boolean);
        case VTERM_PROP_ALTSCREEN:
            return "altscreen=" + std::to_string(value.boolean);
        case VTERM_PROP_TITLE:
            return std::string("title=") + (value.string != nullptr ? value.string : "");
        case VTERM_PROP_ICONNAME:
            return std::string("iconname=") + (value.string != nullptr ? value.string : "");
        case VTERM_PROP_REVERSE:
            return "reverse=" + std::to_string(value.boolean);
        case VTERM_PROP_CURSORSHAPE:
            return "cursorshape=" + std::to_string(value.number);
        case VTERM_PROP_MOUSE:
            return "mouse=" + std::to_string(value.number);
        default:
            return "property" + std::to_string(static_cast<int>(property)) + "=?";
    }
}

}  // namespace

struct TerminalCallbacks {
    // What the emulator sends back: typed keys and answers to the program's
    // queries go to the child, as a real terminal's would.
    static void output(const char* bytes, std::size_t size, void* user) {
        auto* terminal = static_cast<Terminal*>(user);
        if (terminal->capture_ != nullptr) {
            terminal->capture_->append(bytes, size);
        } else {
            terminal->write_to_child(std::string_view(bytes, size));
        }
    }
    static int bell(void* user) {
        ++static_cast<Terminal*>(user)->bells_;
        return 1;
    }
    static int property(VTermProp property, VTermValue* value, void* user) {
        auto* terminal = static_cast<Terminal*>(user);
        terminal->property_changes_.push_back(property_text(property, *value));
        if (property == VTERM_PROP_CURSORVISIBLE) {
            terminal->cursor_visible_ = value->boolean != 0;
        } else if (property == VTERM_PROP_ALTSCREEN) {
            terminal->alternate_screen_ = value->boolean != 0;
        }
        return 1;
    }
};

namespace {

const VTermScreenCallbacks screen_callbacks = {
    nullptr,                      // damage
    nullptr,                      // moverect
    nullptr,                      // movecursor
    TerminalCallbacks::property,  // settermprop
    TerminalCallbacks::bell,      // bell
    nullptr,                      // resize
    nullptr,                      // sb_pushline
    nullptr,                      // sb_popline
};

}  // namespace

Terminal::Terminal(const std::vector<std::string>& argv, const TerminalOptions& options)
    : rows_(options.rows),
      cols_(options.cols),
      keep_output_(options.keep_output),
      last_output_(Clock::now()) {
    int error_pipe[2];
    if (::pipe2(error_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows_);
    size.ws_col = static_cast<unsigned short>(cols_);
    child_ = ::forkpty(&master_, nullptr, nullptr, &size);
    if (child_ < 0) {
        throw std::runtime_error("forkpty: " + std::string(std::strerror(errno)));
    }
    if (child_ == 0) {
        ::dup2(error_pipe[1], STDERR_FILENO);
        EnvChanges env = {
            {"TERM", options.term}, {"LINES", std::nullopt}, {"COLUMNS", std::nullopt}};
        for (const auto& [name, value] : options.env) {
            env[name] = value;
        }
        exec_in_child(argv, env, options.cwd);
    }
    ::close(error_pipe[1]);
    error_pipe_ = error_pipe[0];
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(error_pipe_, F_SETFL, ::fcntl(error_pipe_, F_GETFL) | O_NONBLOCK);

    vterm_ = vterm_new(rows_, cols_);
    vterm_set_utf8(vterm_, 1);
    vterm_output_set_callback(vterm_, TerminalCallbacks::output, this);
    screen_ = vterm_obtain_screen(vterm_);
    vterm_screen_set_callbacks(screen_, &screen_callbacks, this);
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_screen_reset(screen_, 1);
    property_changes_.clear();  // the emulator's own defaults, not the program's
}

Terminal::~Terminal() {
    if (child_ > 0 && !exited_) {
        ::kill(child_, SIGKILL);
        reap(true);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
    if (error_pipe_ >= 0) {
        ::close(error_pipe_);
    }
    if (vterm_ != nullptr) {
        vterm_free(vterm_);
    }
}

void Terminal::write_to_child(std::string_view bytes) {
    while (!bytes.empty() && master_ >= 0) {
        const ssize_t written = ::write(master_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            // The child reads its input slowly: let it catch up.
            pollfd ready{master_, POLLOUT, 0};
            ::poll(&ready, 1, 100);
        } else {
            return;  // the child's side is gone
        }
    }
}

void Terminal::reap(bool block) {
    if (exited_ || child_ <= 0) {
        return;
    }
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(child_, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != child_) {
        return;
    }
    exited_ = true;
    if (WIFEXITED(status)) {
        exit_status_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit_signal_ = WTERMSIG(status);
    }
}

bool Terminal::read_output(Clock::time_point deadline, bool early) {
    bool got_any = false;
    for (;;) {
        if (!output_open_ && !errors_open_) {
            return false;
        }
        pollfd fds[2] = {{output_open_ ? master_ : -1, POLLIN, 0},
                         {errors_open_ ? error_pipe_ : -1, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
        const int ready = ::poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        char buffer[65536];
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = ::read(master_, buffer, sizeof buffer);
            if (got > 0) {
                vterm_input_write(vterm_, buffer, static_cast<std::size_t>(got));
                output_size_ += static_cast<std::size_t>(got);
                if (keep_output_) {
                    output_.append(buffer, static_cast<std::size_t>(got));
                }
                last_output_ = Clock::now();
                got_any = true;
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                // EIO: every process that held the child's side has let it
                // go. The master stays open so that modes() still answers.
                output_open_ = false;
            }
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t got = ::read(error_pipe_, buffer, sizeof buffer);
            if (got > 0) {
                error_output_.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                errors_open_ = false;
            }
        }
        if ((early && got_any) || Clock::now() >= deadline) {
            return true;
        }
    }
}

bool Terminal::wait_until(const std::function<bool()>& condition, Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        if (!read_output(deadline, true) && !condition()) {
            return false;  // the child is gone: nothing will change any more
        }
    }
    return true;
}

bool Terminal::wait_for_text(std::string_view text, Milliseconds timeout) {
    return wait_until([&] { return contains(text); }, timeout);
}

bool Terminal::wait_for_text_at(int row, int column, std::string_view text, Milliseconds timeout) {
    return wait_until(
        [&] {
            // Cell by cell until as many bytes as `text` has: a cell may hold
            // a character of several bytes.
            std::string shown;
            for (int at = column; at < cols_ && shown.size() < text.size(); ++at) {
                shown += cell(row, at).text;
            }
            return shown == text;
        },
        timeout);
}

bool Terminal::settle(Milliseconds quiet, Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    last_output_ = Clock::now();
    for (;;) {
        const auto quiet_until = last_output_ + quiet;
        if (Clock::now() >= quiet_until) {
            return true;
        }
        if (quiet_until > deadline) {
            read_output(deadline, false);
            return false;
        }
        if (!read_output(quiet_until, false)) {
            return true;  // the child is gone and all it wrote is read
        }
    }
}

bool Terminal::wait_exit(Milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        reap(false);
        if (exited_ && !output_open_ && !errors_open_) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        // A little at a time: the end of the child shows through waitpid,
        // the end of its output through poll.
        read_output(std::min(deadline, Clock::now() + Milliseconds(20)), true);
    }
}

void Terminal::pump(Milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (Clock::now() < deadline) {
        if (!read_output(deadline, false)) {
            return;
        }
    }
}

Cell Terminal::cell(int row, int column) const {
    Cell result;
    VTermScreenCell cell{};
    if (row < 0 || row >= rows_ || column < 0 || column >= cols_ ||
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell) == 0) {
        return result;
    }
    if (cell.chars[0] == static_cast<std::uint32_t>(-1)) {
        result.text.clear();  // right half of a double-width character
    } else if (cell.chars[0] != 0) {
        result.text.clear();
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
            append_utf8(result.text, cell.chars[i]);
        }
    }
    result.bold = cell.attrs.bold != 0;
    result.underline = cell.attrs.underline != 0;
    result.reverse = cell.attrs.reverse != 0;
    result.foreground = colour_of(cell.fg, true);
    result.background = colour_of(cell.bg, false);
    return result;
}

std::string Terminal::text(int row, int column, int length) const {
    std::string out;
    for (int i = 0; i < length && column + i < cols_; ++i) {
        out += cell(row, column + i).text;
    }
    return out;
}

std::string Terminal::row_text(int row) const {
    std::string out = text(row, 0, cols_);
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

std::string Terminal::screen() const {
    std::string out = "screen ";
    out.append(std::to_string(rows_)).append("x").append(std::to_string(cols_)).append(":\n");
    for (int row = 0; row < rows_; ++row) {
        out.append("|").append(text(row, 0, cols_)).append("|\n");
    }
    return out;
}

bool Terminal::contains(std::string_view text) const {
    for (int row = 0; row < rows_; ++row) {
        if (this->text(row, 0, cols_).find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

Position Terminal::cursor() const {
    VTermPos position{};
    vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &position);
    return {position.row, position.col};
}

void Terminal::type(std::string_view bytes) {
    write_to_child(bytes);
}

void Terminal::press(Key key) {
    vterm_keyboard_key(vterm_, vterm_key(key), VTERM_MOD_NONE);
}

std::string Terminal::key_sequence(Key key) {
    std::string sequence;
    capture_ = &sequence;
    vterm_keyboard_key(vterm_, vterm_key(key), VTERM_MOD_NONE);
    capture_ = nullptr;
    return sequence;
}

void Terminal::resize(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    vterm_set_size(vterm_, rows, cols);
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    // On the master side this also sends SIGWINCH to the child's foreground
    // process group, as a terminal window does.
    ::ioctl(master_, TIOCSWINSZ, &size);
}

void Terminal::resize_child_only(int rows, int cols) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    ::ioctl(master_, TIOCSWINSZ, &size);
}

termios Terminal::modes() const {
    termios modes{};
    ::tcgetattr(master_, &modes);  // Linux answers with the child's side
    return modes;
}

bool Terminal::running() {
    reap(false);
    return !exited_;
}

void Terminal::send_signal(int number) {
    if (!exited_) {
        ::kill(child_, number);
    }
}

void quit(Terminal& term, Milliseconds timeout, bool errors_allowed) {
    term.type("q");
    ASSERT_TRUE(term.wait_exit(timeout)) << "q did not end it" << term.screen();
    EXPECT_EQ(term.exit_status(), 0) << term.error_output();
    if (!errors_allowed) {
        EXPECT_EQ(term.error_output(), "");
    }
}

termios fresh_modes() {
    const Terminal fresh({"/bin/sleep", "30"});
    return fresh.modes();
}

::testing::AssertionResult handed_back(Terminal& term, const termios& before) {
    std::ostringstream faults;
    const termios now = term.modes();
    if (now.c_iflag != before.c_iflag || now.c_oflag != before.c_oflag ||
        now.c_cflag != before.c_cflag || now.c_lflag != before.c_lflag ||
        std::memcmp(now.c_cc, before.c_cc, sizeof now.c_cc) != 0) {
        faults << std::hex << " modes differ (before/after): iflag " << before.c_iflag << "/"
               << now.c_iflag << " oflag " << before.c_oflag << "/" << now.c_oflag << " cflag "
               << before.c_cflag << "/" << now.c_cflag << " lflag " << before.c_lflag << "/"
               << now.c_lflag << ";";
    }
    if (term.alternate_screen()) {
        faults << " the alternate screen is on;";
    }
    if (!term.cursor_visible()) {
        faults << " the cursor is hidden;";
    }
    if (term.key_sequence(Key::Up) != "\x1b[A") {
        faults << " keypad transmit mode is on;";
    }
    if (faults.str().empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the terminal is not handed back:" << faults.str();
}

}  // namespace test
