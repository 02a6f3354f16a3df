// Draws every picture of the public .bmp suite and compares, pixel for pixel,
// with Qt's independent reader. Bad files must only be survived.

#include "raster/Bitmap.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <fstream>

namespace {

QStringList suiteFiles(const char* folder)
{
    QDir dir(QString::fromUtf8(TASSIO_BMPSUITE) + "/" + folder);
    return dir.entryList({ "*.bmp" }, QDir::Files, QDir::Name);
}

struct Header {
    uint32_t headerSize = 0, compression = 0;
    int bits = 0;
};

Header readHeader(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    uint8_t b[54] = {};
    in.read(reinterpret_cast<char*>(b), sizeof b);
    Header h;
    h.headerSize = uint32_t(b[14]) | uint32_t(b[15]) << 8 | uint32_t(b[16]) << 16 | uint32_t(b[17]) << 24;
    h.bits = b[28] | b[29] << 8;
    h.compression = uint32_t(b[30]) | uint32_t(b[31]) << 8;
    return h;
}

} // namespace

TEST(BmpSuite, GoodPalettedAndTrueColourFilesMatchAnIndependentReader)
{
    const QStringList files = suiteFiles("g");
    if (files.isEmpty())
        GTEST_SKIP() << "bmp suite not found at " << TASSIO_BMPSUITE;
    int compared = 0;
    for (const QString& name : files) {
        const QString path = QString::fromUtf8(TASSIO_BMPSUITE) + "/g/" + name;
        Header h = readHeader(path);
        // Run-length pictures (compression 1 and 2) must match too.
        const bool required = h.headerSize == 40
            && ((h.compression == 0 && (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 24))
                || (h.compression == 1 && h.bits == 8) || (h.compression == 2 && h.bits == 4));
        DibImage image(path.toStdString());
        int w = 0, hgt = 0;
        if (image.GetImageSize(w, hgt) != 0) {
            EXPECT_FALSE(required) << name.toStdString() << " must load";
            continue;
        }
        QImage oracle(path);
        if (!required && oracle.isNull())
            continue;
        ASSERT_FALSE(oracle.isNull()) << name.toStdString();
        oracle = oracle.convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(w, oracle.width()) << name.toStdString();
        ASSERT_EQ(hgt, oracle.height()) << name.toStdString();
        Bitmap target = Bitmap::colour(w, hgt);
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc);
        int wrong = 0;
        for (int y = 0; y < hgt; ++y)
            for (int x = 0; x < w; ++x)
                wrong += target.pixel(x, y) != (oracle.pixel(x, y) & 0xFFFFFFu);
        if (required) {
            EXPECT_EQ(wrong, 0) << name.toStdString();
        }
        ++compared;
    }
    EXPECT_GE(compared, 10);
}

TEST(BmpSuite, BadFilesAreRefusedOrDrawnWithinBounds)
{
    const QStringList files = suiteFiles("b");
    if (files.isEmpty())
        GTEST_SKIP() << "bmp suite not found";
    // Files that cannot be drawn safely: missing pixels, impossible sizes,
    // unknown depths, palettes past the end, run-length data stored top-down.
    // Run-length data that strays past the picture is cut at its edges.
    const QStringList refused = { "badbitcount.bmp", "badpalettesize.bmp", "badwidth.bmp", "reallybig.bmp",
                                  "rletopdown.bmp", "shortfile.bmp" };
    for (const QString& name : files) {
        DibImage image((QString::fromUtf8(TASSIO_BMPSUITE) + "/b/" + name).toStdString());
        int w = 0, h = 0;
        const bool loaded = image.GetImageSize(w, h) == 0;
        EXPECT_EQ(loaded, !refused.contains(name)) << name.toStdString();
        if (!loaded)
            continue;
        // Fields that are not examined (planes, densities, sizes) do not stop
        // drawing; the sanitizer build checks that it stays within bounds.
        Bitmap target = Bitmap::colour(w, h);
        target.fill(0xABCDEF);
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc);
        EXPECT_NE(target.pixel(w / 2, h / 2), 0xABCDEFu) << name.toStdString() << " drew nothing";
    }
}
