#include "platform/XcbSurface.h"

#include "platform/XcbReply.h"

#include <algorithm>

#include <xcb/xcb.h>

XcbSurface::XcbSurface(xcb_connection_t* c, std::uint32_t window)
    : c_(c)
    , window_(window)
{
    if (const auto attributes = xcbReply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr))) {
        const std::uint32_t mask = attributes->your_event_mask
            & ~std::uint32_t(XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
    }
}

XcbSurface::~XcbSurface()
{
    xcb_flush(c_);
}

void XcbSurface::moveTo(int x, int y)
{
    const std::uint32_t values[] = { std::uint32_t(std::int32_t(x)), std::uint32_t(std::int32_t(y)),
                                     XCB_STACK_MODE_ABOVE };
    std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
    if (keepAbove_)
        mask |= XCB_CONFIG_WINDOW_STACK_MODE;
    xcb_configure_window(c_, window_, mask, values);
}

void XcbSurface::resize(int width, int height)
{
    const std::uint32_t values[] = { std::uint32_t(std::max(1, width)), std::uint32_t(std::max(1, height)) };
    xcb_configure_window(c_, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(c_);
}

void XcbSurface::setSize(int width, int height, int shortHeight)
{
    width_ = width;
    height_ = height;
    shortHeight_ = shortHeight;
    resize(width, height);
}

void XcbSurface::setKeepAbove(bool on)
{
    keepAbove_ = on;
    if (on) {
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c_, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_flush(c_);
    }
}

void XcbSurface::letActiveWindowCover(std::uint32_t active)
{
    if (keepAbove_ || active == XCB_WINDOW_NONE || active == window_)
        return;
    // Up to the child of the root that holds it: the window manager's frame.
    xcb_window_t top = active;
    for (int depth = 0; depth < 16; ++depth) {
        const auto tree = xcbReply(xcb_query_tree_reply(c_, xcb_query_tree(c_, top), nullptr));
        if (!tree || tree->parent == XCB_WINDOW_NONE)
            return; // gone, or the root itself
        if (tree->parent == tree->root)
            break;
        top = tree->parent;
    }
    const std::uint32_t values[] = { top, XCB_STACK_MODE_BELOW };
    // The active window may be gone by now; then nothing moves.
    xcbReply(xcb_request_check(
        c_, xcb_configure_window_checked(c_, window_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values)));
}

void XcbSurface::putImage(std::uint32_t drawable, std::uint32_t gc, std::uint8_t format, std::uint8_t depth,
                          int width, int height, const std::uint8_t* data, std::size_t stride)
{
    const std::size_t maxBytes = std::size_t(xcb_get_maximum_request_length(c_)) * 4 - 64;
    const int band = std::max(1, int(std::min<std::size_t>(std::size_t(height), maxBytes / stride)));
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        xcb_put_image(c_, format, drawable, gc, std::uint16_t(width), std::uint16_t(rows), 0, std::int16_t(y), 0,
                      depth, std::uint32_t(stride * std::size_t(rows)), data + stride * std::size_t(y));
    }
}
