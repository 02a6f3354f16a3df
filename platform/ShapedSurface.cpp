#include "platform/ShapedSurface.h"

#include <xcb/shape.h>

ShapedSurface::ShapedSurface(xcb_connection_t* c, std::uint32_t window)
    : PixmapSurface(c, window, 24, XCB_SHAPE_SK_BOUNDING)
{
}
