#pragma once

#include "platform/XcbSurface.h"
#include "raster/GrabCompositor.h"

#include <QPointer>

#include <memory>

class QWidget;
class XcbScreenGrabber;

// Where the window can be neither translucent nor shaped: an opaque square,
// every row of it shown on every tick. Before each move it reads the screen
// at the new place and composites the frame over it; the picture goes into
// the window's background pixmap (shared memory where the server allows),
// so the server fills exposures.
class GrabbedSurface : public XcbSurface {
public:
    GrabbedSurface(QWidget& window, xcb_connection_t* c, int screenNumber);
    ~GrabbedSurface() override;

    Kind kind() const override { return Kind::Grabbed; }
    void setFrames(const Bitmap* frames, const Bitmap* masks, int count) override;
    void show(int x, int y, bool cut, int k) override;
    bool wake() override;

private:
    bool makeBackground(int size);
    void releaseBackground();

    QPointer<QWidget> widget_;
    std::unique_ptr<XcbScreenGrabber> grabber_;
    GrabCompositor compositor_;
    std::uint32_t background_ = 0; // xcb_pixmap_t
    std::uint32_t gc_ = 0;
    std::uint32_t* shared_ = nullptr;
    std::uint32_t segment_ = 0;
    int size_ = 0;
};
