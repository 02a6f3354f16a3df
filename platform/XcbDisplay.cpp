#include "platform/XcbDisplay.h"

#include "platform/XcbReply.h"

#include <QGuiApplication>

#include <cstring>

#include <xcb/xcb.h>

XcbDisplay XcbDisplay::ofQt()
{
    XcbDisplay d;
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return d;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return d;
    // Qt opens the screen that DISPLAY names.
    char* host = nullptr;
    int display = 0, number = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &number))
        number = 0;
    const XcbReply<char> hostName(host);
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < number && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return d;
    d.connection = c;
    d.screen = it.data;
    d.screenNumber = number;
    return d;
}

std::uint32_t internAtom(xcb_connection_t* c, const char* name)
{
    const auto r = xcbReply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}
