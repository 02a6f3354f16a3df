#include "platform/SurfaceLoader.h"

#include "platform/QtSurface.h"

#include <QWidget>

#include <cstdlib>
#include <cstring>

#ifdef TASSIO_HAVE_XCB
#include "platform/ArgbSurface.h"
#include "platform/GrabbedSurface.h"
#include "platform/ShapedSurface.h"
#include "platform/XcbDisplay.h"
#include "platform/XcbReply.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

// 24-bit TrueColor at 32 bits a pixel, little-endian: 0x00RRGGBB as it is.
bool plainLayout(const xcb_setup_t* setup, const xcb_screen_t* screen)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || screen->root_depth != 24)
        return false;
    bool bpp32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24 || f.data->depth == 32)
            bpp32 = f.data->bits_per_pixel == 32;
    if (!bpp32)
        return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000
                    && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
    return false;
}

bool hasArgbVisual(const xcb_screen_t* screen)
{
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        if (d.data->depth == 32)
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000
                    && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF)
                    return true;
    return false;
}

// The window's depth, 0 if it cannot be read.
int windowDepth(xcb_connection_t* c, std::uint32_t window)
{
    const auto g = xcbReply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    return g ? g->depth : 0;
}

} // namespace
#endif

SurfaceLoader::SurfaceLoader()
{
    const char* noShape = std::getenv("TASSIO_NO_SHAPE");
    noShape_ = noShape && std::strcmp(noShape, "1") == 0;
#ifdef TASSIO_HAVE_XCB
    const XcbDisplay display = XcbDisplay::ofQt();
    if (!display || !plainLayout(xcb_get_setup(display.connection), display.screen))
        return;
    c_ = display.connection;
    screenNumber_ = display.screenNumber;
    argbVisual_ = hasArgbVisual(display.screen);
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c_, &xcb_shape_id);
    shape_ = shape && shape->present;
#endif
}

FigureSurface::Kind SurfaceLoader::bestKind(bool compositing) const
{
    if (c_ && !noShape_) {
        if (argbVisual_ && compositing)
            return FigureSurface::Kind::Argb;
        if (shape_)
            return FigureSurface::Kind::Shaped;
    }
    return FigureSurface::Kind::Grabbed;
}

std::unique_ptr<FigureSurface> SurfaceLoader::create(QWidget& window, FigureSurface::Kind kind) const
{
#ifdef TASSIO_HAVE_XCB
    if (c_) {
        const auto id = static_cast<std::uint32_t>(window.winId());
        const int depth = windowDepth(c_, id);
        if (kind == FigureSurface::Kind::Argb && depth == 32)
            return std::make_unique<ArgbSurface>(c_, id);
        if (kind != FigureSurface::Kind::Grabbed && shape_ && depth == 24)
            return std::make_unique<ShapedSurface>(c_, id);
        if (depth == 24)
            return std::make_unique<GrabbedSurface>(window, c_, screenNumber_);
    }
#else
    (void)kind;
#endif
    return std::make_unique<QtSurface>(window);
}
