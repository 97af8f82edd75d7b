#include "ui/window.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "app/texts.hpp"
#include "ui/screen.hpp"
#include "ui/screen_text.hpp"

#include <curses.h>

namespace {

// Both opening forms: function and arrow keys as single key codes.
void set_input_modes(WINDOW* window) {
    if (window != nullptr) {
        keypad(window, TRUE);
    }
}

}  // namespace

Window::Window() : handle_(newwin(getmaxy(stdscr), getmaxx(stdscr), 0, 0)), owned_(true) {
    set_input_modes(handle_);
}

Window::Window(WINDOW* existing) : handle_(existing) {
    set_input_modes(handle_);
}

Window::~Window() {
    close();
}

Window::Window(Window&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      owned_(other.owned_),
      width_(other.width_),
      height_(other.height_) {}

Window& Window::operator=(Window&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        owned_ = other.owned_;
        width_ = other.width_;
        height_ = other.height_;
    }
    return *this;
}

void Window::close() {
    if (handle_ == nullptr) {
        return;
    }
    wrefresh(handle_);
    if (owned_) {
        delwin(handle_);
    }
    handle_ = nullptr;
}

bool Window::resized() {
    const int live_height = getmaxy(handle_);
    const int live_width = getmaxx(handle_);
    if (live_height == height_ && live_width == width_) {
        return false;
    }
    height_ = live_height;
    width_ = live_width;
    return true;
}

void Window::draw_bar(Highlight highlight, int row, std::string_view text) {
    if (highlight == Highlight::Colour) {
        wattrset(handle_, COLOR_PAIR(bar_pair));
    } else {
        wattr_on(handle_, A_REVERSE, nullptr);
    }
    wattr_on(handle_, A_BOLD, nullptr);
    if (wmove(handle_, row, 0) == OK) {
        whline(handle_, ' ', width_);
        // Cut at the right edge: the rest would go on on the next row.
        const std::string_view shown =
            text.substr(0, static_cast<std::size_t>(std::max(width_, 0)));
        waddnstr(handle_, shown.data(), static_cast<int>(shown.size()));
    }
}

void Window::draw_arrow(Highlight highlight, int index) {
    wattrset(handle_, highlight == Highlight::Colour ? COLOR_PAIR(selection_pair) : A_REVERSE);
    wattr_on(handle_, A_BOLD, nullptr);
    if (wmove(handle_, index + 1, 0) == OK) {
        waddstr(handle_, "->");
    }
    wmove(handle_, index + 1, width_ - 1);  // off the window: the cursor stays
    wattr_off(handle_, A_BOLD, nullptr);
}

namespace {

void set_paint(WINDOW* window, Highlight highlight, Paint paint) {
    const bool colour = highlight == Highlight::Colour;
    switch (paint) {
        case Paint::Text:
            wattrset(window, COLOR_PAIR(text_pair));
            break;
        case Paint::Bold:
            wattrset(window, COLOR_PAIR(text_pair) | A_BOLD);
            break;
        case Paint::Heading:
            wattrset(window, COLOR_PAIR(text_pair) | A_BOLD | A_UNDERLINE);
            break;
        case Paint::Selection:
            wattrset(window, COLOR_PAIR(selection_pair) | (colour ? 0 : A_REVERSE) | A_BOLD);
            break;
        case Paint::Bar:
            if (colour) {
                wattrset(window, COLOR_PAIR(bar_pair) | A_BOLD);
            } else {
                wattrset(window, A_REVERSE | A_BOLD);
            }
            break;
    }
}

}  // namespace

void Window::draw_row(Highlight highlight, int row, const Row& line) {
    if (row < 0 || row >= height_ || wmove(handle_, row, 0) != OK) {
        return;
    }
    if (line.fill != Row::Fill::None) {
        wclrtoeol(handle_);
    }
    if (line.fill == Row::Fill::Selection) {
        wattrset(handle_, COLOR_PAIR(selection_pair));
        if (highlight == Highlight::Reverse) {
            wattr_on(handle_, A_REVERSE, nullptr);
        }
        whline(handle_, ' ', width_);
    }
    for (const Span& span : line.spans) {
        if (span.column >= width_ || wmove(handle_, row, span.column) != OK) {
            continue;
        }
        set_paint(handle_, highlight, span.paint);
        ScreenText clipped(width_ - span.column);
        clipped.append(span.text);
        waddnstr(handle_, clipped.text().data(), static_cast<int>(clipped.text().size()));
    }
}

void Window::draw_view_position(Highlight highlight, std::uint64_t first, std::uint64_t shown,
                                std::uint64_t rows, std::size_t used) {
    if (shown == 0 || rows <= shown) {
        return;
    }
    std::string where = std::to_string(first + 1) + "-" + std::to_string(first + shown);
    where.append("/").append(std::to_string(rows));
    const int column = width_ - static_cast<int>(where.size());
    if (column > static_cast<int>(used)) {
        draw_row(highlight, 0, {Row::Fill::None, {{column, where, Paint::Bar}}});
    }
}

void Window::draw_version() {
    wattrset(handle_, COLOR_PAIR(text_pair));
    const std::string text = version_tag();
    if (wmove(handle_, height_ - 1, 0) == OK) {
        waddnstr(handle_, text.data(), static_cast<int>(text.size()));
    }
}
