#include "platform/QtSurface.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

QtSurface::QtSurface(QWidget& window)
    : window_(&window)
{
    window.installEventFilter(this);
}

QtSurface::~QtSurface()
{
    if (window_)
        window_->removeEventFilter(this);
}

void QtSurface::setSize(int width, int height, int)
{
    // Qt sizes windows in logical pixels.
    if (window_)
        window_->resize(QSizeF(width / window_->devicePixelRatioF(), height / window_->devicePixelRatioF()).toSize());
}

void QtSurface::setFrames(const Bitmap* frames, const Bitmap* masks, int count)
{
    compositor_.setFrames(frames, masks, count);
}

void QtSurface::show(int x, int y, bool, int k)
{
    if (!window_)
        return;
    if (compositor_.hasFrames()) {
        // The screen at the new place, read while the window still stands at
        // the old one.
        Bitmap& capture = compositor_.screenCapture;
        grabber_.grab(x, y, capture.width(), capture.height(), capture.colourRow(0), capture.width());
        const Bitmap& composite = compositor_.composeFrame(k, x, y);
        const int size = composite.width();
        if (image_.width() != size)
            image_ = QImage(size, size, QImage::Format_RGB32);
        for (int row = 0; row < size; ++row) {
            const std::uint32_t* from = composite.colourRow(row);
            auto* to = reinterpret_cast<std::uint32_t*>(image_.scanLine(row));
            for (int col = 0; col < size; ++col)
                to[col] = from[col] | 0xFF000000u;
        }
    }
    const qreal ratio = window_->devicePixelRatioF();
    window_->move(QPointF(x / ratio, y / ratio).toPoint());
    if (keepAbove_)
        window_->raise();
    window_->update();
}

void QtSurface::setKeepAbove(bool on)
{
    keepAbove_ = on;
    if (on && window_)
        window_->raise();
}

bool QtSurface::wake()
{
    // What lies behind may have changed meanwhile: read it again with the
    // window off the screen, as at the first show.
    if (window_ && window_->isVisible())
        window_->hide();
    compositor_.restart();
    return true;
}

bool QtSurface::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != window_ || event->type() != QEvent::Paint)
        return false;
    QPainter painter(window_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(image_.size()) / window_->devicePixelRatioF()), image_);
    return true;
}
