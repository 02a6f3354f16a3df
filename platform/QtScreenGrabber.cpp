#include "platform/QtScreenGrabber.h"

#include "platform/GrabRect.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cstddef>

bool QtScreenGrabber::grab(int x, int y, int w, int h, std::uint32_t* dst, int dstStride)
{
    if (!GrabRect::clearDestination(w, h, dst, dstStride))
        return false;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return false;
    // Qt grabs the whole screen (window 0) in coordinates relative to that screen.
    const QRect geometry = screen->geometry();
    const GrabRect r = GrabRect::clip(int(std::int64_t(x) - geometry.x()), int(std::int64_t(y) - geometry.y()), w,
                                      h, geometry.width(), geometry.height());
    if (r.empty())
        return false;

    const QImage image = screen->grabWindow(0, r.srcX, r.srcY, r.w, r.h)
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return false;
    // A scaled screen may hand back more or fewer device pixels than asked; copy the overlap.
    const int rows = std::min(r.h, image.height());
    const int cols = std::min(r.w, image.width());
    for (int row = 0; row < rows; ++row) {
        const auto* src = reinterpret_cast<const std::uint32_t*>(image.constScanLine(row));
        std::uint32_t* out = dst + std::size_t(r.dstY + row) * std::size_t(dstStride) + r.dstX;
        for (int col = 0; col < cols; ++col)
            out[col] = src[col] & 0x00FFFFFFu;
    }
    return rows > 0 && cols > 0;
}
