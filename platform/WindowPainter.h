#pragma once

#include "platform/ShapeRect.h"

#include <cstdint>
#include <functional>
#include <memory>

class ScreenGrabber;

// Puts pixels straight into a native window, without Qt's backing store: the
// figure window changes its height on every move, and a backing store would be
// reallocated each time. It talks to the display over a connection of its own,
// which no Qt thread reads, so that a thread of ours can drive the window.
class WindowPainter {
public:
    // The xcb painter when Qt runs on X11 with a 24-bit TrueColor screen at 32
    // bits a pixel; otherwise nothing, and the caller paints through Qt.
    static std::unique_ptr<WindowPainter> create();
    virtual ~WindowPainter();

    // A screen grabber on the painter's connection, so that a grab and the
    // paint after it reach the server in order; nothing if the screen does
    // not suit. The painter must outlive it.
    virtual std::unique_ptr<ScreenGrabber> createGrabber() = 0;

    // The connection's descriptor: readable when events wait (see dispatchEvents).
    virtual int eventFd() const = 0;
    // Handles what came in: read the connection first only when eventFd() was
    // readable, else what earlier replies brought along. Runs onExpose once, for
    // the rectangle around any number of exposures.
    virtual void dispatchEvents(bool readConnection) = 0;

    // Copies the w x h pixels at (x, y) of an image (0x00RRGGBB, stride pixels
    // a row) to (x, y) of window.
    virtual bool paint(std::uintptr_t window, const std::uint32_t* pixels, int stride, int x, int y, int w, int h) = 0;

    // Moves and sizes the window with one request, without Qt's geometry
    // bookkeeping (size hints rewritten on every change). The request goes
    // out with the next paint.
    virtual void configure(std::uintptr_t window, int x, int y, int w, int h) = 0;

    // Takes the window's own exposure and geometry notifications away from Qt,
    // which would otherwise wake its threads on each move and paint a second
    // time: the window is moved and painted only through this painter, and its
    // exposures come in on the painter's connection. onExpose runs, from
    // dispatchEvents, when part of the window needs its pixels again. Again
    // after Qt changes the window's flags: that resets what Qt listens to.
    using ExposeHandler = std::function<void(int x, int y, int w, int h)>;
    virtual void takeOverNotifications(std::uintptr_t window, ExposeHandler onExpose) = 0;

    // Whether the window can be cut to the figure's shape (X SHAPE extension).
    virtual bool canShape() const = 0;
    // Cuts the window to the rectangles (YX-sorted); clicks and drops
    // elsewhere reach what lies below. The request goes out with the next paint.
    virtual void setShape(std::uintptr_t window, const std::vector<ShapeRect>& rects) = 0;

protected:
    WindowPainter() = default;
};
