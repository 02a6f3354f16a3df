#pragma once

#include <cstdint>
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
    // bookkeeping (size hints rewritten on every change); Qt learns the new
    // geometry from the server's notification.
    virtual void configure(std::uintptr_t window, int x, int y, int w, int h) = 0;

protected:
    WindowPainter() = default;
};
