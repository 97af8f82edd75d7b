#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/curses_fwd.hpp"
#include "ui/rows.hpp"
#include "ui/screen.hpp"

// One curses window and the size it had when `resized` last looked. Every
// drawing operation works with that cached size, never the live one, and
// draws nothing where a position lies outside the window. A Window deletes
// the curses window it created; a wrapped one (the standard screen) belongs
// to curses and is only refreshed when closed. Move-only.
class Window {
public:
    // A new window the size of the standard screen at its top left corner.
    // When curses cannot make one the Window is empty (see is_open).
    Window();
    // Wraps an existing window, which stays curses' own.
    explicit Window(WINDOW* existing);
    ~Window();

    Window(Window&& other) noexcept;
    Window& operator=(Window&& other) noexcept;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    WINDOW* handle() const { return handle_; }
    bool is_open() const { return handle_ != nullptr; }
    // The size as of the last `resized`; 0 by 0 after opening.
    int width() const { return width_; }
    int height() const { return height_; }

    // Reads the live size; true (and the new size cached) when it differs
    // from the cached one, which is always so on the first call.
    bool resized();

    // A full-width bar on `row` in the bar colours (or reverse video), bold,
    // with `text` written from its start and cut at the right edge. Leaves
    // the bar attributes set.
    void draw_bar(Highlight highlight, int row, std::string_view text);

    // "->" in the selection colours (or reverse video), bold, at the start of
    // row `index` + 1; the cursor then rests at that row's right end.
    void draw_arrow(Highlight highlight, int index);

    // Places `line` on `row`: its fill, then each span, cut at the window's
    // right edge (a span never goes on on the next row). A row outside the
    // window draws nothing.
    void draw_row(Highlight highlight, int row, const Row& line);

    // Where a view of `shown` rows from row `first` is in a list of `rows`
    // rows, "21-41/62", at the right end of the top bar, when the list does
    // not fit and the text leaves the bar's first `used` columns alone.
    void draw_view_position(Highlight highlight, std::uint64_t first, std::uint64_t shown,
                            std::uint64_t rows, std::size_t used);

    // The version line, "v0.5.5 (2004-12-17)", at the start of the last row.
    void draw_version();

    // Refreshes the window and deletes it when this Window created it. The
    // Window is empty afterwards; closing an empty one does nothing.
    void close();

private:
    WINDOW* handle_ = nullptr;
    bool owned_ = false;
    int width_ = 0;
    int height_ = 0;
};
