#include "platform/BitmapImage.h"

#include "raster/Bitmap.h"

#include <QImage>

QImage imageFromBitmap(const Bitmap& bitmap)
{
    if (bitmap.isNull() || bitmap.isMonochrome())
        return QImage();
    QImage image(bitmap.width(), bitmap.height(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint32_t* from = bitmap.colourRow(y);
        auto* to = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < bitmap.width(); ++x)
            to[x] = 0xFF000000u | from[x];
    }
    return image;
}
