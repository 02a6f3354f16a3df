#include "platform/WindowPainter.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#ifdef TASSIO_HAVE_XCB
#include <xcb/xcb.h>
#ifdef TASSIO_HAVE_XCB_SHAPE
#include <xcb/shape.h>
#endif

#include <cstdlib>
#include <cstring>
#include <vector>
#endif

WindowPainter::~WindowPainter() = default;

#ifdef TASSIO_HAVE_XCB
namespace {

class XcbWindowPainter : public WindowPainter, public QAbstractNativeEventFilter {
public:
    explicit XcbWindowPainter(xcb_connection_t* c) : connection_(c)
    {
#ifdef TASSIO_HAVE_XCB_SHAPE
        const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
        shape_ = shape && shape->present;
#endif
    }

    bool canShape() const override { return shape_; }

    void setShape(std::uintptr_t window, const std::uint8_t* mask, int stride, int w, int h) override
    {
#ifndef TASSIO_HAVE_XCB_SHAPE
        (void)window, (void)mask, (void)stride, (void)w, (void)h;
#else
        if (!shape_ || w <= 0 || h <= 0)
            return;
        // One rectangle per run of opaque pixels in a row.
        rects_.clear();
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = mask + std::size_t(y) * std::size_t(stride);
            for (int x = 0; x < w;) {
                while (x < w && !row[x])
                    ++x;
                const int start = x;
                while (x < w && row[x])
                    ++x;
                if (x > start)
                    rects_.push_back({ std::int16_t(start), std::int16_t(y), std::uint16_t(x - start), 1 });
            }
        }
        xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_SORTED,
                             static_cast<xcb_window_t>(window), 0, 0, std::uint32_t(rects_.size()), rects_.data());
        xcb_flush(connection_);
#endif
    }
    ~XcbWindowPainter() override
    {
        if (watched_ && qApp)
            qApp->removeNativeEventFilter(this);
        if (gc_)
            xcb_free_gc(connection_, gc_);
    }

    void takeOverNotifications(std::uintptr_t window, std::function<void()> onExpose) override
    {
        watched_ = static_cast<xcb_window_t>(window);
        onExpose_ = std::move(onExpose);
        qApp->installNativeEventFilter(this);
        // Nobody reads the window's own geometry and property notifications
        // any more: not asking for them spares a wake-up of Qt's event thread
        // and of the main thread on every move.
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, watched_), nullptr);
        if (attributes) {
            const std::uint32_t mask = attributes->your_event_mask
                & ~std::uint32_t(XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
            xcb_change_window_attributes(connection_, watched_, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(connection_);
            std::free(attributes);
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        switch (ev->response_type & 0x7F) {
        case XCB_EXPOSE: {
            auto* e = reinterpret_cast<xcb_expose_event_t*>(ev);
            if (e->window != watched_)
                return false;
            // One repaint for the last of a series of exposed rectangles.
            if (e->count == 0 && onExpose_)
                onExpose_();
            return true;
        }
        case XCB_CONFIGURE_NOTIFY:
            return reinterpret_cast<xcb_configure_notify_event_t*>(ev)->window == watched_;
        default:
            return false;
        }
    }

    bool paint(std::uintptr_t window, const std::uint32_t* pixels, int stride, int w, int h) override
    {
        if (w <= 0 || h <= 0 || stride < w || w > 4096 || h > 4096)
            return false;
        const auto id = static_cast<xcb_window_t>(window);
        if (id != gcWindow_) {
            if (gc_)
                xcb_free_gc(connection_, gc_);
            gc_ = xcb_generate_id(connection_);
            xcb_create_gc(connection_, gc_, id, 0, nullptr);
            gcWindow_ = id;
        }
        const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(pixels);
        if (stride != w) {
            rows_.resize(std::size_t(w) * std::size_t(h));
            for (int y = 0; y < h; ++y)
                std::memcpy(&rows_[std::size_t(y) * std::size_t(w)], pixels + std::size_t(y) * std::size_t(stride),
                            std::size_t(w) * 4);
            data = reinterpret_cast<const std::uint8_t*>(rows_.data());
        }
        // The request carries its own copy of the pixels, so the caller may
        // change them at once.
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, id, gc_, std::uint16_t(w), std::uint16_t(h), 0, 0, 0,
                      24, std::uint32_t(w) * std::uint32_t(h) * 4, data);
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
    xcb_gcontext_t gc_ = 0;
    xcb_window_t gcWindow_ = 0;
    xcb_window_t watched_ = 0;
    std::function<void()> onExpose_;
    std::vector<std::uint32_t> rows_;
#ifdef TASSIO_HAVE_XCB_SHAPE
    std::vector<xcb_rectangle_t> rects_;
#endif
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
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (c && !std::getenv("TASSIO_QT_PAINT") && plainLayout(c))
            return std::make_unique<XcbWindowPainter>(c);
    }
#endif
    return nullptr;
}
