#include "platform/ArgbSurface.h"

#include <xcb/shape.h>

ArgbSurface::ArgbSurface(xcb_connection_t* c, std::uint32_t window)
    : PixmapSurface(c, window, 32, XCB_SHAPE_SK_INPUT)
{
}

void ArgbSurface::mapped()
{
    // xcompmgr gives a window that is configured before its map a shadow
    // (it takes the window for an opaque one then), and drops it only when
    // the size changes; Qt restacks a tool window as it shows it. So, once,
    // a change of size and back.
    resize(width_, height_ + 1);
    resize(width_, height_);
}
