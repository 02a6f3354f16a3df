#include "platform/ScreenGrabber.h"

#include "platform/QtScreenGrabber.h"

#include <QGuiApplication>

#ifdef TASSIO_HAVE_XCB
#include "platform/XcbDisplay.h"
#include "platform/XcbScreenGrabber.h"
#endif

ScreenGrabber::~ScreenGrabber() = default;

std::unique_ptr<ScreenGrabber> ScreenGrabber::create()
{
#if defined(TASSIO_HAVE_XCB) && QT_CONFIG(xcb)
    if (const XcbDisplay display = XcbDisplay::ofQt()) {
        // Qt's connection is read by Qt's own event thread; a grab waiting
        // there for its reply costs a hand-over between threads each tick.
        if (auto grabber = XcbScreenGrabber::createWithOwnConnection(display.screenNumber))
            return grabber;
        if (auto grabber = XcbScreenGrabber::create(display.connection, display.screenNumber))
            return grabber;
    }
#endif
    return std::make_unique<QtScreenGrabber>();
}
