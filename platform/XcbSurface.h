#pragma once

#include "platform/FigureSurface.h"

#include <cstddef>
#include <cstdint>

struct xcb_connection_t;

// What the X11 surfaces share. They speak on Qt's own connection, so that
// their requests reach the server after Qt's for the same window, and place
// the window themselves: it is override-redirect, and no window manager
// takes part. They take the window's exposure, geometry and property
// notifications away from Qt: the pictures live in the window's background,
// which the server draws by itself, and Qt would otherwise hear of every
// move. Input and drops stay with Qt.
class XcbSurface : public FigureSurface {
public:
    ~XcbSurface() override;

    void setSize(int width, int height, int shortHeight) override;
    void setKeepAbove(bool on) override;
    void letActiveWindowCover(std::uint32_t active) override;

protected:
    XcbSurface(xcb_connection_t* c, std::uint32_t window);

    // A tick's configure: the place, and the top of the stack when kept
    // above. Never the size: a compositing manager takes a new size for a
    // new window.
    void moveTo(int x, int y);
    void resize(int width, int height);
    // Sends an image into a drawable in bands small enough for one request each.
    void putImage(std::uint32_t drawable, std::uint32_t gc, std::uint8_t format, std::uint8_t depth, int width,
                  int height, const std::uint8_t* data, std::size_t stride);

    xcb_connection_t* c_;
    std::uint32_t window_;
    int width_ = 0;
    int height_ = 0;
    int shortHeight_ = 0;
    bool keepAbove_ = false;
};
