// Raster bitmaps turned into Qt images: every pixel kept, the top byte opaque.
#include "platform/BitmapImage.h"
#include "raster/Bitmap.h"

#include <gtest/gtest.h>

#include <QImage>

TEST(BitmapImage, KeepsEveryColourAndMakesItOpaque)
{
    const uint32_t colours[] = { 0x000000, 0xFFFFFF, 0x123456, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080 };
    constexpr int kCount = int(sizeof colours / sizeof colours[0]);
    // Odd width: rows of the image are padded, the bitmap's are not.
    Bitmap bitmap = Bitmap::colour(kCount, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < kCount; ++x)
            bitmap.setPixel(x, y, colours[(x + y) % kCount]);
    const QImage image = imageFromBitmap(bitmap);
    ASSERT_EQ(image.size(), QSize(kCount, 3));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < kCount; ++x)
            EXPECT_EQ(image.pixel(x, y), 0xFF000000u | colours[(x + y) % kCount]) << x << "," << y;
}

TEST(BitmapImage, MonochromeAndEmptyBitmapsGiveNoImage)
{
    EXPECT_TRUE(imageFromBitmap(Bitmap()).isNull());
    EXPECT_TRUE(imageFromBitmap(Bitmap::monochrome(4, 4)).isNull());
    EXPECT_TRUE(imageFromBitmap(Bitmap::colour(0, 5)).isNull());
}
