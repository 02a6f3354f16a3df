#include "TestBmp.h"

#include "raster/Bitmap.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t pixelAt(const Bytes& bmp, int x, int y, int w = 8, int h = 8)
{
    DibImage image(bmp.data(), bmp.size());
    Bitmap target = Bitmap::colour(w, h);
    MemoryDC dc;
    dc.select(&target);
    image.Draw(dc);
    return target.pixel(x, y);
}

uint32_t gradient(int x, int y)
{
    return uint32_t((x * 30) & 0xFF) << 16 | uint32_t((y * 30) & 0xFF) << 8 | 0x55;
}

} // namespace

TEST(DibImage, NormalisesColourCountAndImageSize)
{
    struct Case { const char* name; Bytes bmp; uint32_t colours; uint32_t imageSize; };
    Bytes pal1 = testbmp::rgb24(33, 2, gradient);
    // Turn it into a 1-bit header: rows of 33 pixels take 8 bytes.
    testbmp::put16(pal1, 28, 1);
    const Case cases[] = {
        { "8bitZeroColours", testbmp::pal8(4, 4, { 0x112233 }, false, [](int, int) { return 0; }), 256, 16 },
        { "8bitTwoColours", testbmp::pal8(4, 4, { 0x112233, 0x445566 }, true, [](int, int) { return 1; }), 2, 16 },
        { "24bitKeepsZero", testbmp::rgb24(97, 10, gradient), 0, 2920 },
        { "1bitRowsOf8Bytes", pal1, 2, 16 },
    };
    for (const Case& c : cases) {
        DibImage image(c.bmp.data(), c.bmp.size());
        ASSERT_TRUE(image.hasData()) << c.name;
        EXPECT_EQ(image.colourCount(), c.colours) << c.name;
        EXPECT_EQ(image.imageSize(), c.imageSize) << c.name;
    }
}

TEST(DibImage, DrawsRowsBottomUpAndTopDown)
{
    for (bool topDown : { false, true }) {
        Bytes bmp = testbmp::rgb24(8, 8, gradient, topDown);
        for (auto [x, y] : { std::pair { 0, 0 }, { 7, 0 }, { 0, 7 }, { 3, 5 } })
            EXPECT_EQ(pixelAt(bmp, x, y), gradient(x, y)) << (topDown ? "top-down " : "bottom-up ") << x << "," << y;
        DibImage image(bmp.data(), bmp.size());
        int w = 0, h = 0;
        ASSERT_EQ(image.GetImageSize(w, h), 0);
        EXPECT_EQ(w, 8);
        EXPECT_EQ(h, 8) << "a top-down picture reports its height, not the negative field";
    }
}

TEST(DibImage, PaletteLookupAndPixelOffsetZero)
{
    Bytes bmp = testbmp::pal8(8, 8, { 0x000000, 0xFF8000, 0x0080FF }, true,
                              [](int x, int y) { return uint8_t((x + y) % 3); }, 0);
    EXPECT_EQ(pixelAt(bmp, 1, 0), 0xFF8000u);
    EXPECT_EQ(pixelAt(bmp, 1, 1), 0x0080FFu);
    EXPECT_EQ(pixelAt(bmp, 3, 0), 0x000000u);
    // An index past the colour table draws black, not memory beyond it.
    Bytes bad = testbmp::pal8(8, 8, { 0x00FF00 }, true, [](int, int) { return uint8_t(200); });
    EXPECT_EQ(pixelAt(bad, 0, 0), 0u);
}

TEST(DibImage, SignatureIsNotExamined)
{
    Bytes bmp = testbmp::rgb24(8, 8, gradient);
    bmp[0] = 'X';
    bmp[1] = 'Y';
    EXPECT_EQ(pixelAt(bmp, 2, 3), gradient(2, 3));
}

TEST(DibImage, PlacementShiftsAndClips)
{
    Bytes bmp = testbmp::rgb24(30, 30, gradient);
    DibImage image(bmp.data(), bmp.size());
    image.SetPlacement(-10, -20, 30 - 10, 30 - 20);
    Bitmap target = Bitmap::colour(40, 40);
    target.fill(0xABCDEF);
    MemoryDC dc;
    dc.select(&target);
    image.Draw(dc);
    EXPECT_EQ(target.pixel(0, 0), gradient(10, 20));
    EXPECT_EQ(target.pixel(19, 9), gradient(29, 29));
    EXPECT_EQ(target.pixel(20, 0), 0xABCDEFu);
    EXPECT_EQ(target.pixel(0, 10), 0xABCDEFu);
}

TEST(DibImage, MissingFileHasNoData)
{
    DibImage image("/nonexistent/picture.bmp");
    int w = 123, h = 456;
    EXPECT_EQ(image.GetImageSize(w, h), -1);
    EXPECT_EQ(w, 123);
    EXPECT_EQ(h, 456);
    Bitmap target = Bitmap::colour(4, 4);
    target.fill(0x777777);
    MemoryDC dc;
    dc.select(&target);
    image.Draw(dc);
    EXPECT_EQ(target.pixel(1, 1), 0x777777u);
}

TEST(DibImage, OnlyRegularFilesAreRead)
{
    char dir[] = "/tmp/tassio-dib-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string fifo = std::string(dir) + "/pipe.bmp";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& p : { fifo, std::string(dir), std::string("/dev/zero") }) {
        DibImage image(p); // must not block or read forever
        int w, h;
        EXPECT_EQ(image.GetImageSize(w, h), -1) << p;
    }
    std::string file = std::string(dir) + "/ok.bmp";
    testbmp::save(file, testbmp::rgb24(5, 3, gradient));
    DibImage ok(file);
    int w = 0, h = 0;
    EXPECT_EQ(ok.GetImageSize(w, h), 0);
    EXPECT_EQ(w * 10 + h, 53);
    unlink(file.c_str());
    unlink(fifo.c_str());
    rmdir(dir);
}

TEST(DibImage, MalformedFilesHaveNoData)
{
    auto with = [](Bytes b, std::size_t at, uint32_t v, int size = 4) {
        if (size == 2)
            testbmp::put16(b, at, v);
        else
            testbmp::put32(b, at, v);
        return b;
    };
    const Bytes good = testbmp::rgb24(8, 8, gradient);
    Bytes truncated = good;
    truncated.resize(good.size() - 1);
    Bytes shortHeader = good;
    shortHeader.resize(30);
    Bytes palTruncated = testbmp::pal8(4, 4, { 1, 2 }, false, [](int, int) { return 0; });
    palTruncated.resize(54 + 100);
    struct Case { const char* name; Bytes bmp; };
    const Case cases[] = {
        { "truncatedPixels", truncated },
        { "shorterThanHeaders", shortHeader },
        { "empty", {} },
        { "zeroWidth", with(good, 18, 0) },
        { "negativeWidth", with(good, 18, uint32_t(-8)) },
        { "zeroHeight", with(good, 22, 0) },
        { "minimumHeight", with(good, 22, 0x80000000u) },
        { "hugeInTinyFile", with(with(good, 18, 30000), 22, 30000) },
        { "rowSizeOverflow", with(good, 18, 0x7FFFFFFF) },
        { "headerSizeTooSmall", with(good, 14, 12) },
        { "headerSizePastFile", with(good, 14, 0x7FFFFFFF) },
        { "pixelOffsetPastFile", with(good, 10, 0xFFFFFFF0u) },
        { "unknownBitDepth", with(good, 28, 7, 2) },
        { "runLengthEncoded", with(good, 30, 1) },
        { "paletteTruncated", palTruncated },
        { "hugeColourCount", with(testbmp::pal8(4, 4, { 1 }, true, [](int, int) { return 0; }), 46, 0xFFFFFFFFu) },
    };
    for (const Case& c : cases) {
        DibImage image(c.bmp.data(), c.bmp.size());
        int w = -7, h = -7;
        EXPECT_EQ(image.GetImageSize(w, h), -1) << c.name;
        EXPECT_EQ(w, -7) << c.name;
        Bitmap target = Bitmap::colour(8, 8);
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc); // draws nothing, reads nothing
        EXPECT_EQ(target.pixel(0, 0), 0u) << c.name;
    }
}

TEST(DibImage, DecodesSixteenAndThirtyTwoBitPixels)
{
    // 16-bit 5-5-5 by default, 32-bit 8-8-8 by default.
    Bytes b16 = testbmp::rgb24(2, 1, [](int, int) { return 0u; });
    testbmp::put16(b16, 28, 16);
    testbmp::put16(b16, 54, 0x7C00); // pure red
    testbmp::put16(b16, 56, 0x001F); // pure blue
    EXPECT_EQ(pixelAt(b16, 0, 0, 2, 1), 0xFF0000u);
    EXPECT_EQ(pixelAt(b16, 1, 0, 2, 1), 0x0000FFu);

    Bytes b32 = testbmp::rgb24(2, 1, [](int, int) { return 0u; });
    b32.resize(54 + 8);
    testbmp::put16(b32, 28, 32);
    testbmp::put32(b32, 54, 0xFF123456);
    EXPECT_EQ(pixelAt(b32, 0, 0, 2, 1), 0x123456u);
}

namespace {

// A run-length file: palette index i is colour 0x0000ii, data as given.
Bytes runLength(int w, int h, bool four, const Bytes& data)
{
    const std::size_t entries = four ? 16 : 256;
    const std::size_t start = 54 + 4 * entries;
    Bytes b(start, 0);
    b[0] = 'B';
    b[1] = 'M';
    testbmp::put32(b, 10, uint32_t(start));
    testbmp::put32(b, 14, 40);
    testbmp::put32(b, 18, uint32_t(w));
    testbmp::put32(b, 22, uint32_t(h));
    testbmp::put16(b, 26, 1);
    testbmp::put16(b, 28, four ? 4 : 8);
    testbmp::put32(b, 30, four ? 2 : 1);
    for (std::size_t i = 0; i < entries; ++i)
        testbmp::put32(b, 54 + 4 * i, uint32_t(i));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The picture's rows, top first, as palette indices.
std::vector<std::vector<int>> indices(const Bytes& bmp)
{
    DibImage image(bmp.data(), bmp.size());
    int w = 0, h = 0;
    if (image.GetImageSize(w, h) != 0)
        return {};
    std::vector<std::vector<int>> rows;
    std::vector<uint32_t> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        image.decodeRow(y, row.data());
        rows.emplace_back(row.begin(), row.end());
    }
    return rows;
}

} // namespace

TEST(DibImage, RunLengthPicturesExpand)
{
    using Rows = std::vector<std::vector<int>>;
    struct Case { const char* name; int w, h; bool four; Bytes data; Rows want; };
    const Case cases[] = {
        // Rows are stored bottom first: the first row of data is the bottom one.
        { "encodedRuns", 4, 2, false, { 4, 7, 0, 0, 2, 1, 2, 2, 0, 1 }, { { 1, 1, 2, 2 }, { 7, 7, 7, 7 } } },
        { "absoluteWithPadding", 3, 1, false, { 0, 3, 5, 6, 9, 0, 0, 1 }, { { 5, 6, 9 } } },
        { "deltaSkipsPixels", 4, 2, false, { 1, 3, 0, 2, 2, 1, 1, 4, 0, 1 }, { { 0, 0, 0, 4 }, { 3, 0, 0, 0 } } },
        { "runPastTheEdgeIsCut", 2, 1, false, { 9, 8, 0, 1 }, { { 8, 8 } } },
        { "nibblesAlternate", 4, 1, true, { 4, 0x3A, 0, 1 }, { { 3, 10, 3, 10 } } },
        { "absoluteNibbles", 3, 1, true, { 0, 3, 0x12, 0x30, 0, 1 }, { { 1, 2, 3 } } },
        { "noEndMarkerAfterTheLastRow", 2, 1, false, { 2, 6 }, { { 6, 6 } } },
        { "truncatedAbsoluteRun", 4, 1, false, { 0, 4, 1, 2 }, {} },
        { "endsBeforeTheTopRow", 2, 3, false, { 2, 6, 0, 0 }, {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(indices(runLength(c.w, c.h, c.four, c.data)), c.want) << c.name;
}

TEST(DibImage, RunLengthSizeIsCheckedBeforeExpanding)
{
    // 30000 x 30000 from a few bytes of data is refused, not allocated.
    EXPECT_TRUE(indices(runLength(30000, 30000, false, { 0, 1 })).empty());
    // Top-down run-length data does not exist.
    Bytes topDown = runLength(2, 1, false, { 2, 6, 0, 1 });
    testbmp::put32(topDown, 22, uint32_t(-1));
    EXPECT_TRUE(indices(topDown).empty());
}
