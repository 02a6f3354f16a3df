#pragma once

#include "platform/FigureSurface.h"
#include "platform/QtScreenGrabber.h"
#include "raster/GrabCompositor.h"

#include <QImage>
#include <QObject>
#include <QPointer>

class QWidget;

// Where Qt is not on X11 (the offscreen platform of the widget tests): Qt
// places the window and paints it, with the frame laid over the screen Qt
// can read there, as the grabbed surface does on X11.
class QtSurface : public FigureSurface, public QObject {
public:
    explicit QtSurface(QWidget& window);
    ~QtSurface() override;

    Kind kind() const override { return Kind::Grabbed; }
    void setSize(int width, int height, int shortHeight) override;
    void setFrames(const Bitmap* frames, const Bitmap* masks, int count) override;
    void show(int x, int y, bool cut, int k) override;
    void setKeepAbove(bool on) override;
    bool wake() override;
    bool paintsThroughQt() const override { return true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    QtScreenGrabber grabber_;
    GrabCompositor compositor_;
    QImage image_;
    bool keepAbove_ = false;
};
