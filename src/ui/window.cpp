#include "ui/window.hpp"

#include <string>
#include <utility>

#include "app/texts.hpp"
#include "ui/screen.hpp"

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
        waddnstr(handle_, text.data(), static_cast<int>(text.size()));
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

void Window::draw_version() {
    wattrset(handle_, COLOR_PAIR(text_pair));
    const std::string text = version_tag();
    if (wmove(handle_, height_ - 1, 0) == OK) {
        waddnstr(handle_, text.data(), static_cast<int>(text.size()));
    }
}
