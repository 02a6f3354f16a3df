#pragma once

#include "platform/FigureSurface.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct xcb_connection_t;
class XcbScreenGrabber;

// The X11 surfaces. They speak on Qt's own connection, so that their requests
// reach the server after Qt's for the same window, and place the window
// themselves: it is override-redirect, and no window manager takes part.

// Argb and Shaped: the frames and their masks live on the server as pixmaps,
// each whole and cut to the short height; a tick is a move, and where the
// frame or its cut changes a switch of the background or the shape (and a
// clear).
class PixmapSurface : public FigureSurface {
public:
    // kind is Argb (a depth-32 window) or Shaped (depth 24).
    PixmapSurface(xcb_connection_t* c, std::uint32_t window, Kind kind);
    ~PixmapSurface() override;

    Kind kind() const override { return kind_; }
    void setSize(int width, int height, int shortHeight) override;
    void setFrames(const Bitmap* frames, int count) override;
    void show(int x, int y, bool cut, int k, const Bitmap* composite) override;
    void setKeepAbove(bool on) override;
    void mapped() override;
    void letActiveWindowCover() override;

private:
    // [0] whole, [1] without the rows from the short height down. A frame
    // with nothing of the figure there uses the same pixmaps for both, and
    // its ticks switch nothing.
    struct Frame {
        std::uint32_t picture[2]; // xcb_pixmap_t, the window's depth
        std::uint32_t mask[2];    // depth 1: where the figure is
    };
    std::uint32_t upload(int depth, const std::uint8_t* data, std::size_t stride);
    void releaseFrames();

    xcb_connection_t* c_;
    std::uint32_t window_;
    Kind kind_;
    int depth_;
    int bitmapPad_ = 32;
    bool lsbFirst_ = true;
    std::uint32_t gc_ = 0;
    std::uint32_t maskGc_ = 0;
    std::vector<Frame> frames_;
    int size_ = 0;
    int width_ = 0;
    int height_ = 0;
    int shortHeight_ = 0;
    int shownFrame_ = -1;
    std::uint32_t shownPicture_ = 0;
    std::uint32_t shownMask_ = 0;
    bool keepAbove_ = false;
};

// Grabbed: an opaque window, every row of it shown on every tick, whose
// picture the caller composites from the screen it read; the picture goes
// into the window's background pixmap (shared memory where the server
// allows), so the server fills exposures.
class GrabbedSurface : public FigureSurface {
public:
    GrabbedSurface(xcb_connection_t* c, std::uint32_t window, int screenNumber);
    ~GrabbedSurface() override;

    Kind kind() const override { return Kind::Grabbed; }
    void setSize(int width, int height, int shortHeight) override;
    void setFrames(const Bitmap*, int) override { }
    bool grab(int x, int y, Bitmap& into) override;
    void show(int x, int y, bool cut, int k, const Bitmap* composite) override;
    void setKeepAbove(bool on) override;
    void letActiveWindowCover() override;

private:
    bool makeBackground(int size);
    void releaseBackground();

    xcb_connection_t* c_;
    std::uint32_t window_;
    std::unique_ptr<XcbScreenGrabber> grabber_;
    std::uint32_t background_ = 0; // xcb_pixmap_t
    std::uint32_t gc_ = 0;
    std::uint32_t* shared_ = nullptr;
    std::uint32_t segment_ = 0;
    int size_ = 0;
    bool keepAbove_ = false;
};

// Takes the window's exposure, geometry and property notifications away from
// Qt's connection.
void takeOverNotifications(xcb_connection_t* c, std::uint32_t window);
// Puts window just below the desktop's active window (its frame, if the
// window manager gave it one).
void stackBelowActiveWindow(xcb_connection_t* c, std::uint32_t window);
// The window's depth, 0 if it cannot be read.
int windowDepth(xcb_connection_t* c, std::uint32_t window);
