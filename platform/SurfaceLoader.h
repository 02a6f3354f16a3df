#pragma once

#include "platform/FigureSurface.h"

#include <memory>

class QWidget;
struct xcb_connection_t;

// Picks the surface that suits the display and makes it for a window. Whether
// a compositing manager runs, and when that changes, the desktop watch hears.
class SurfaceLoader {
public:
    SurfaceLoader();

    // What suits the display now, with or without a compositing manager.
    FigureSurface::Kind bestKind(bool compositing) const;

    // The surface of that kind for the window, whose native window must have
    // been made for it (an alpha channel for Argb: see wantsAlpha). Falls
    // back to a kind the window allows; never null.
    std::unique_ptr<FigureSurface> create(QWidget& window, FigureSurface::Kind kind) const;

    static bool wantsAlpha(FigureSurface::Kind kind) { return kind == FigureSurface::Kind::Argb; }

private:
    bool noShape_ = false;
    // On X11 with the plain pixel layout the X11 surfaces read and write.
    xcb_connection_t* c_ = nullptr;
    int screenNumber_ = 0;
    bool shape_ = false;
    bool argbVisual_ = false;
};
