#include "platform/GrabbedSurface.h"

#include "platform/XcbReply.h"
#include "platform/XcbScreenGrabber.h"
#include "platform/XcbSharedMemory.h"

#include <QWidget>

#include <cstring>

#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

GrabbedSurface::GrabbedSurface(QWidget& window, xcb_connection_t* c, int screenNumber)
    : XcbSurface(c, static_cast<std::uint32_t>(window.winId()))
    , widget_(&window)
{
    // Its own connection: a reply read on Qt's would be handed over from
    // Qt's event thread on every grab.
    grabber_ = XcbScreenGrabber::createWithOwnConnection(screenNumber);
    if (!grabber_)
        grabber_ = XcbScreenGrabber::create(c, screenNumber);
}

GrabbedSurface::~GrabbedSurface()
{
    releaseBackground();
}

void GrabbedSurface::setFrames(const Bitmap* frames, const Bitmap* masks, int count)
{
    compositor_.setFrames(frames, masks, count);
}

void GrabbedSurface::releaseBackground()
{
    if (background_) {
        xcb_free_pixmap(c_, background_);
        xcb_free_gc(c_, gc_);
        background_ = gc_ = 0;
    }
    if (shared_) {
        xcb_shm_detach(c_, segment_);
        shmdt(shared_);
        shared_ = nullptr;
    }
    size_ = 0;
}

bool GrabbedSurface::makeBackground(int size)
{
    if (background_ && size == size_)
        return true;
    releaseBackground();
    background_ = xcb_generate_id(c_);
    // Where the server shares memory, painting is a copy into it and no image
    // goes through the socket.
    bool made = false;
    const auto version = xcbReply(xcb_shm_query_version_reply(c_, xcb_shm_query_version(c_), nullptr));
    const bool sharable = version && version->shared_pixmaps && version->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
    XcbSharedSegment segment;
    if (sharable && attachSharedSegment(c_, std::size_t(size) * std::size_t(size) * 4, segment)) {
        const auto error = xcbReply(xcb_request_check(
            c_, xcb_shm_create_pixmap_checked(c_, background_, window_, std::uint16_t(size), std::uint16_t(size), 24,
                                              segment.id, 0)));
        if (!error) {
            shared_ = static_cast<std::uint32_t*>(segment.address);
            segment_ = segment.id;
            made = true;
        } else {
            xcb_shm_detach(c_, segment.id);
            shmdt(segment.address);
        }
    }
    if (!made) {
        const auto error = xcbReply(xcb_request_check(
            c_, xcb_create_pixmap_checked(c_, 24, background_, window_, std::uint16_t(size), std::uint16_t(size))));
        if (error) {
            background_ = 0;
            return false;
        }
    }
    gc_ = xcb_generate_id(c_);
    xcb_create_gc(c_, gc_, background_, 0, nullptr);
    size_ = size;
    return true;
}

void GrabbedSurface::show(int x, int y, bool, int k)
{
    // The screen at the new place, read while the window still stands at the
    // old one; the composite repairs what of the window the read caught.
    const Bitmap* composite = nullptr;
    if (compositor_.hasFrames()) {
        Bitmap& capture = compositor_.screenCapture;
        if (grabber_)
            grabber_->grab(x, y, capture.width(), capture.height(), capture.colourRow(0), capture.width());
        else
            capture.fill(0);
        composite = &compositor_.composeFrame(k, x, y);
    }
    // The composite is a whole frame's square: it fills every row of the
    // window, the last included, on every tick.
    moveTo(x, y);
    if (composite && makeBackground(composite->width())) {
        const int size = composite->width();
        if (shared_)
            std::memcpy(shared_, composite->colourRow(0), std::size_t(size) * std::size_t(size) * 4);
        else
            putImage(background_, gc_, XCB_IMAGE_FORMAT_Z_PIXMAP, 24, size, size,
                     reinterpret_cast<const std::uint8_t*>(composite->colourRow(0)), std::size_t(size) * 4);
        // Set again after each change: the protocol leaves open whether the
        // server copies a background pixmap or keeps using it.
        xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXMAP, &background_);
        xcb_clear_area(c_, 0, window_, 0, 0, 0, 0);
    }
    xcb_flush(c_);
}

bool GrabbedSurface::wake()
{
    // What lies behind may have changed meanwhile: read it again with the
    // window off the screen, as at the first show.
    if (widget_ && widget_->isVisible()) {
        widget_->hide();
        // The unmap is done before the read on the grabber's own connection.
        xcbReply(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    compositor_.restart();
    return true;
}
