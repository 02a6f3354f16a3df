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

    // A grabber whose grabs the display server takes by itself when its clock
    // reaches a set time, and then sends: the caller sleeps until the pixels
    // arrive instead of waking to ask for them. Nothing where the server
    // cannot (X11 without the SYNC extension or shared memory, other platforms).
    static std::unique_ptr<ScreenGrabber> createScheduling();

    // The server's clock now, in ms (a round trip).
    virtual bool serverTime(std::int64_t& ms) { (void)ms; return false; }
    // Asks for the w x h area at (x, y) at the server's time `when`. False,
    // with nothing sent, while an earlier one has not arrived or when the area
    // is off the screen.
    virtual bool schedule(std::int64_t when, int x, int y, int w, int h)
    {
        (void)when, (void)x, (void)y, (void)w, (void)h;
        return false;
    }
    // Becomes readable when the scheduled pixels arrive; -1 without scheduling.
    virtual int scheduleFd() const { return -1; }
    struct Collected {
        bool arrived = false; // false: not yet, or nothing was scheduled
        bool ok = false;      // the pixels are in dst (black off the screen)
        std::int64_t when = 0;
        int x = 0, y = 0;
    };
    // Never waits. Once arrived, another grab may be scheduled.
    virtual Collected collect(std::uint32_t* dst, int dstStride)
    {
        (void)dst, (void)dstStride;
        return {};
    }

protected:
    ScreenGrabber() = default;
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;
};
