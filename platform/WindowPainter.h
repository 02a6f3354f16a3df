#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Puts pixels straight into a native window, without Qt's backing store: the
// figure window changes its height on every move, and a backing store would be
// reallocated each time.
class WindowPainter {
public:
    // The xcb painter when Qt runs on X11 with a 24-bit TrueColor screen at 32
    // bits a pixel; otherwise nothing, and the caller paints through Qt.
    static std::unique_ptr<WindowPainter> create();
    virtual ~WindowPainter();

    // Copies w x h pixels (0x00RRGGBB, stride pixels a row) to (0, 0) of window.
    virtual bool paint(std::uintptr_t window, const std::uint32_t* pixels, int stride, int w, int h) = 0;

    // Moves and sizes the window with one request, without Qt's geometry
    // bookkeeping (size hints rewritten on every change). The request goes
    // out with the next paint.
    virtual void configure(std::uintptr_t window, int x, int y, int w, int h) = 0;

    // Takes the window's own exposure and geometry notifications away from Qt,
    // which would otherwise turn each move into widget events and a second
    // paint: the window is moved and painted only through this painter.
    // onExpose runs when part of the window needs its pixels again.
    virtual void takeOverNotifications(std::uintptr_t window, std::function<void()> onExpose) = 0;

    // Whether the window can be cut to the figure's shape (X SHAPE extension).
    virtual bool canShape() const = 0;
    // Cuts the window to the pixels where mask (one byte a pixel, stride bytes
    // a row) is non-zero; clicks and drops elsewhere reach what lies below.
    virtual void setShape(std::uintptr_t window, const std::uint8_t* mask, int stride, int w, int h) = 0;

protected:
    WindowPainter() = default;
};
