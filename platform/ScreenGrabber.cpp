#include "platform/ScreenGrabber.h"

#include "platform/QtScreenGrabber.h"

#include <QGuiApplication>

#ifdef TASSIO_HAVE_XCB
#include "platform/XcbScreenGrabber.h"

#include <cstdlib>
#include <xcb/xcb.h>
#endif

ScreenGrabber::~ScreenGrabber() = default;

std::unique_ptr<ScreenGrabber> ScreenGrabber::create()
{
#if defined(TASSIO_HAVE_XCB) && QT_CONFIG(xcb)
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (x11 != nullptr && x11->connection() != nullptr) {
            // Qt opens the display's default screen, the one DISPLAY names.
            char* host = nullptr;
            int display = 0;
            int screenNumber = 0;
            if (!xcb_parse_display(nullptr, &host, &display, &screenNumber))
                screenNumber = 0;
            std::free(host);
            // Qt's connection is read by Qt's own event thread; a grab waiting
            // there for its reply costs a hand-over between threads each tick.
            if (auto grabber = XcbScreenGrabber::createWithOwnConnection(screenNumber))
                return grabber;
            if (auto grabber = XcbScreenGrabber::create(x11->connection(), screenNumber))
                return grabber;
        }
    }
#endif
    return std::make_unique<QtScreenGrabber>();
}
