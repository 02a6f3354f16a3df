#include "platform/WindowPainter.h"

#include "platform/ScreenGrabber.h"

#include <QGuiApplication>

#ifdef TASSIO_HAVE_XCB
#include "platform/XcbScreenGrabber.h"
#include "platform/XcbSharedMemory.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/shm.h>
#ifdef TASSIO_HAVE_XCB_SHAPE
#include <xcb/shape.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>
#endif

WindowPainter::~WindowPainter() = default;

#ifdef TASSIO_HAVE_XCB
namespace {

class XcbWindowPainter : public WindowPainter {
public:
    XcbWindowPainter(xcb_connection_t* c, int screenNumber, xcb_connection_t* qt)
        : connection_(c)
        , qtConnection_(qt)
        , screenNumber_(screenNumber)
    {
#ifdef TASSIO_HAVE_XCB_SHAPE
        const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
        shape_ = shape && shape->present;
#endif
    }

    bool canShape() const override { return shape_; }

    void setShape(std::uintptr_t window, const std::vector<ShapeRect>& rects) override
    {
#ifndef TASSIO_HAVE_XCB_SHAPE
        (void)window, (void)rects;
#else
        if (!shape_)
            return;
        xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_SORTED,
                             static_cast<xcb_window_t>(window), 0, 0, std::uint32_t(rects.size()),
                             reinterpret_cast<const xcb_rectangle_t*>(rects.data()));
#endif
    }
    ~XcbWindowPainter() override
    {
        releaseBackground();
        xcb_disconnect(connection_);
    }

    std::unique_ptr<ScreenGrabber> createGrabber() override
    {
        return XcbScreenGrabber::create(connection_, screenNumber_);
    }

    int eventFd() const override { return xcb_get_file_descriptor(connection_); }

    void takeOverNotifications(std::uintptr_t window, ExposeHandler onExpose) override
    {
        watched_ = static_cast<xcb_window_t>(window);
        onExpose_ = std::move(onExpose);
        // Qt no longer hears of the window's exposures, geometry and
        // properties: each would wake Qt's event thread and the GUI thread on
        // a move. Input and drops stay with Qt.
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            qtConnection_, xcb_get_window_attributes(qtConnection_, watched_), nullptr);
        if (attributes) {
            const std::uint32_t mask = attributes->your_event_mask
                & ~std::uint32_t(XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY
                                 | XCB_EVENT_MASK_PROPERTY_CHANGE);
            xcb_change_window_attributes(qtConnection_, watched_, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(qtConnection_);
            std::free(attributes);
        }
        // The picture lives in the window's background: the server fills what
        // gets exposed (the window manager reshaping its frame after a paint)
        // by itself, and nobody need wake for it. Without that, exposures come
        // here.
        backgroundReady_ = makeBackground(watched_);
        const std::uint32_t ours = backgroundReady_ ? 0 : XCB_EVENT_MASK_EXPOSURE;
        xcb_change_window_attributes(connection_, watched_, XCB_CW_EVENT_MASK, &ours);
        xcb_flush(connection_);
    }

    // A pixmap of the window's largest size and its depth, for its background.
    bool makeBackground(xcb_window_t window)
    {
        if (background_ && backgroundWindow_ == window)
            return true;
        releaseBackground();
        xcb_get_geometry_reply_t* geometry
            = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        const bool depth24 = geometry && geometry->depth == 24;
        std::free(geometry);
        if (!depth24)
            return false;
        background_ = xcb_generate_id(connection_);
        xcb_generic_error_t* error = makeSharedPixmap(window)
            ? nullptr
            : xcb_request_check(connection_, xcb_create_pixmap_checked(connection_, 24, background_, window,
                                                                       kBackgroundSize, kBackgroundSize));
        if (error) {
            std::free(error);
            background_ = 0;
            return false;
        }
        backgroundGc_ = xcb_generate_id(connection_);
        xcb_create_gc(connection_, backgroundGc_, background_, 0, nullptr);
        backgroundWindow_ = window;
        return true;
    }

    void releaseBackground()
    {
        if (background_) {
            xcb_free_pixmap(connection_, background_);
            xcb_free_gc(connection_, backgroundGc_);
            background_ = backgroundGc_ = 0;
        }
        if (backgroundPixels_) {
            xcb_shm_detach(connection_, backgroundSegment_);
            xcb_flush(connection_);
            shmdt(backgroundPixels_);
            backgroundPixels_ = nullptr;
        }
    }

    // A background whose pixels are our memory: painting is a copy into it,
    // with no image to send through the socket. The server reads it when it
    // clears the window (right after the copy, in order) and when it fills an
    // exposure; a fill that raced a copy would mix two pictures until the
    // clear that follows the copy. Where the server cannot share memory, a
    // plain pixmap.
    bool makeSharedPixmap(xcb_window_t window)
    {
        xcb_shm_query_version_reply_t* version
            = xcb_shm_query_version_reply(connection_, xcb_shm_query_version(connection_), nullptr);
        const bool shared = version && version->shared_pixmaps && version->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
        std::free(version);
        if (!shared)
            return false;
        XcbSharedSegment segment;
        if (!attachSharedSegment(connection_, std::size_t(kBackgroundSize) * kBackgroundSize * 4, segment))
            return false;
        xcb_generic_error_t* error = xcb_request_check(
            connection_, xcb_shm_create_pixmap_checked(connection_, background_, window, kBackgroundSize,
                                                       kBackgroundSize, 24, segment.id, 0));
        if (error) {
            std::free(error);
            xcb_shm_detach(connection_, segment.id);
            shmdt(segment.address);
            return false;
        }
        backgroundPixels_ = static_cast<std::uint32_t*>(segment.address);
        backgroundSegment_ = segment.id;
        return true;
    }

    void dispatchEvents(bool readConnection) override
    {
        int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
        while (xcb_generic_event_t* ev
               = readConnection ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_)) {
            // Errors (a request on a window Qt has just destroyed) need nothing.
            // An exposure that the server made before it drew our last paint
            // is covered by that paint, which fills the whole window.
            if ((ev->response_type & 0x7F) == XCB_EXPOSE
                && reinterpret_cast<xcb_expose_event_t*>(ev)->window == watched_
                && std::int32_t(ev->full_sequence - paintSequence_) >= 0) {
                const auto* e = reinterpret_cast<const xcb_expose_event_t*>(ev);
                left = std::min<int>(left, e->x);
                top = std::min<int>(top, e->y);
                right = std::max<int>(right, e->x + e->width);
                bottom = std::max<int>(bottom, e->y + e->height);
            }
            std::free(ev);
        }
        // One paint of the rectangle around them all.
        if (right > left && bottom > top && onExpose_)
            onExpose_(left, top, right - left, bottom - top);
    }

    bool paint(std::uintptr_t window, const std::uint32_t* pixels, int stride, int x, int y, int w, int h) override
    {
        if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > stride || w > 4096 || h > 4096)
            return false;
        const auto id = static_cast<xcb_window_t>(window);
        const bool toBackground = backgroundReady_ && id == watched_ && x + w <= kBackgroundSize
            && y + h <= kBackgroundSize;
        if (!toBackground && id != gcWindow_) {
            if (gc_)
                xcb_free_gc(connection_, gc_);
            gc_ = xcb_generate_id(connection_);
            xcb_create_gc(connection_, gc_, id, 0, nullptr);
            gcWindow_ = id;
        }
        const std::uint32_t* first = pixels + std::size_t(y) * std::size_t(stride) + std::size_t(x);
        std::uint32_t sequence;
        if (toBackground && backgroundPixels_) {
            for (int row = 0; row < h; ++row)
                std::memcpy(backgroundPixels_ + std::size_t(y + row) * kBackgroundSize + std::size_t(x),
                            first + std::size_t(row) * std::size_t(stride), std::size_t(w) * 4);
        } else {
            const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(first);
            if (stride != w) {
                rows_.resize(std::size_t(w) * std::size_t(h));
                for (int row = 0; row < h; ++row)
                    std::memcpy(&rows_[std::size_t(row) * std::size_t(w)],
                                first + std::size_t(row) * std::size_t(stride), std::size_t(w) * 4);
                data = reinterpret_cast<const std::uint8_t*>(rows_.data());
            }
            // The request carries its own copy of the pixels, so the caller
            // may change them at once.
            sequence = xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, toBackground ? background_ : id,
                                     toBackground ? backgroundGc_ : gc_, std::uint16_t(w), std::uint16_t(h),
                                     std::int16_t(x), std::int16_t(y), 0, 24, std::uint32_t(w) * std::uint32_t(h) * 4,
                                     data)
                           .sequence;
        }
        if (toBackground) {
            // Set again after each change: the protocol leaves open whether
            // the server copies a background pixmap or keeps using it.
            xcb_change_window_attributes(connection_, id, XCB_CW_BACK_PIXMAP, &background_);
            sequence = xcb_clear_area(connection_, 0, id, std::int16_t(x), std::int16_t(y), std::uint16_t(w),
                                      std::uint16_t(h))
                           .sequence;
        }
        if (x == 0 && y == 0 && w == stride)
            paintSequence_ = sequence;
        xcb_flush(connection_);
        return true;
    }

    void configure(std::uintptr_t window, int x, int y, int w, int h) override
    {
        const std::uint32_t values[] = { std::uint32_t(std::int32_t(x)), std::uint32_t(std::int32_t(y)),
                                         std::uint32_t(w), std::uint32_t(h) };
        xcb_configure_window(connection_, static_cast<xcb_window_t>(window),
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                                 | XCB_CONFIG_WINDOW_HEIGHT,
                             values);
        // Sent with the paint that always follows a move.
    }

private:
    xcb_connection_t* connection_;
    xcb_connection_t* qtConnection_;
    int screenNumber_;
    xcb_gcontext_t gc_ = 0;
    std::uint32_t paintSequence_ = 0;
    static constexpr int kBackgroundSize = 96;
    xcb_pixmap_t background_ = 0;
    xcb_gcontext_t backgroundGc_ = 0;
    xcb_window_t backgroundWindow_ = 0;
    std::uint32_t* backgroundPixels_ = nullptr; // shared with the server, or null
    xcb_shm_seg_t backgroundSegment_ = 0;
    bool backgroundReady_ = false;
    xcb_window_t gcWindow_ = 0;
    xcb_window_t watched_ = 0;
    ExposeHandler onExpose_;
    std::vector<std::uint32_t> rows_;
    bool shape_ = false;
};

// 24-bit TrueColor, 32 bits a pixel, little-endian: 0x00RRGGBB as it is.
bool plainLayout(xcb_connection_t* c)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool bpp32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24)
            bpp32 = f.data->bits_per_pixel == 32;
    if (!bpp32)
        return false;
    xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
    if (!screen || screen->root_depth != 24)
        return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000
                    && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
    return false;
}

} // namespace
#endif

std::unique_ptr<WindowPainter> WindowPainter::create()
{
#ifdef TASSIO_HAVE_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* qt = x11 ? x11->connection() : nullptr;
        if (!qt || std::getenv("TASSIO_QT_PAINT") || !plainLayout(qt))
            return nullptr;
        // Qt opens the display that DISPLAY names; so do we.
        int screenNumber = 0;
        xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return nullptr;
        }
        return std::make_unique<XcbWindowPainter>(c, screenNumber, qt);
    }
#endif
    return nullptr;
}
