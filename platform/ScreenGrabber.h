#pragma once

#include <cstdint>
#include <memory>

// Reads pixels off the screen for the window that paints what lies behind it.
class ScreenGrabber {
public:
    // The xcb fast path when Qt runs on X11 with a 24- or 32-bit TrueColor root,
    // else a grabber over QScreen::grabWindow. Needs a QGuiApplication, and must be
    // destroyed before it: the xcb grabber works on Qt's display connection.
    static std::unique_ptr<ScreenGrabber> create();

    virtual ~ScreenGrabber();

    // Copies the w x h area at (x, y) into dst as 0x00RRGGBB pixels, dstStride pixels a
    // row (dstStride >= w). Coordinates are the desktop's, as in window geometry and
    // desktopRect(). Parts off the screen come out black (0); columns past w are left
    // alone. Returns false if nothing could be read (dst's area is then all black).
    virtual bool grab(int x, int y, int w, int h, std::uint32_t* dst, int dstStride) = 0;

protected:
    ScreenGrabber() = default;
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;
};
