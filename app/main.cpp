#include "app/TassioApp.h"
#include "app/Translations.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifdef TASSIO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

// Qt aborts when it cannot reach its display; say why in one line instead.
bool displayReachable()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::strncmp(platform, "xcb", 3) != 0)
        return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "tassio: no X display: DISPLAY is not set (Tassio needs X11 or XWayland)\n");
        return false;
    }
#ifdef TASSIO_HAVE_XCB
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    bool ok = c && !xcb_connection_has_error(c);
    if (c)
        xcb_disconnect(c);
    if (!ok) {
        std::fprintf(stderr, "tassio: cannot open X display \"%s\"\n", display);
        return false;
    }
#endif
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
#ifdef __GLIBC__
    // A large text's buffers (the file, its decoded text, the viewer's
    // document) live in their own mappings and go back to the system when
    // freed. Otherwise glibc raises this threshold after the first one is
    // freed, and later ones stay in the heap of the thread that made them.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    // A Wayland client can neither place its windows nor read the screen, so
    // the figure runs through XWayland.
    if (std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (!displayReachable())
        return 1;

    QApplication application(argc, argv);
    installTranslations(application);
    // Viewer windows do not keep the program alive, nor does closing them end it.
    application.setQuitOnLastWindowClosed(false);
    TassioApp tassio;
    return tassio.initInstance();
}
