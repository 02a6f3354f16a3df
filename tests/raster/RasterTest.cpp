#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

namespace {

struct Surfaces {
    Bitmap dst, src;
    MemoryDC dstDC, srcDC;
    Surfaces(Bitmap d, Bitmap s) : dst(std::move(d)), src(std::move(s))
    {
        dstDC.select(&dst);
        srcDC.select(&src);
    }
};

} // namespace

TEST(BitBlt, RasterOperationTruthTables)
{
    struct Case { uint32_t rop; uint32_t d, s, want; };
    const Case colour[] = {
        { SRCCOPY, 0x123456, 0xABCDEF, 0xABCDEF },
        { NOTSRCCOPY, 0x123456, 0xABCDEF, 0x543210 },
        { SRCAND, 0xF0F0F0, 0x3C3C3C, 0x303030 },
        { SRCPAINT, 0xF00000, 0x0F00FF, 0xFF00FF },
    };
    for (const Case& c : colour) {
        Surfaces s(Bitmap::colour(2, 2), Bitmap::colour(2, 2));
        s.dst.fill(c.d);
        s.src.fill(c.s);
        ASSERT_TRUE(bitBlt(s.dstDC, 0, 0, 2, 2, s.srcDC, 0, 0, c.rop));
        EXPECT_EQ(s.dst.pixel(1, 1), c.want) << std::hex << c.rop;
    }
    // Monochrome: all four input pairs for each operation.
    const uint32_t rops[] = { SRCCOPY, NOTSRCCOPY, SRCAND, SRCPAINT };
    const int want[4][4] = { { 0, 1, 0, 1 }, { 1, 0, 1, 0 }, { 0, 0, 0, 1 }, { 0, 1, 1, 1 } };
    for (int r = 0; r < 4; ++r)
        for (int pair = 0; pair < 4; ++pair) {
            int d = pair >> 1, sv = pair & 1;
            Surfaces s(Bitmap::monochrome(1, 1), Bitmap::monochrome(1, 1));
            s.dst.setPixel(0, 0, d);
            s.src.setPixel(0, 0, sv);
            bitBlt(s.dstDC, 0, 0, 1, 1, s.srcDC, 0, 0, rops[r]);
            EXPECT_EQ(int(s.dst.pixel(0, 0)), want[r][pair]) << "rop " << r << " d=" << d << " s=" << sv;
        }
}

TEST(BitBlt, ColourToMonochromeMatchesTheSourceBackground)
{
    Surfaces s(Bitmap::monochrome(4, 1), Bitmap::colour(4, 1));
    const uint32_t px[] = { 0xFFFFFF, 0xFEFFFF, 0x000000, 0xFFFFFF };
    for (int x = 0; x < 4; ++x)
        s.src.setPixel(x, 0, px[x]);
    s.srcDC.setBackgroundColour(0xFFFFFF);
    bitBlt(s.dstDC, 0, 0, 4, 1, s.srcDC, 0, 0, SRCCOPY);
    EXPECT_EQ(s.dst.pixel(0, 0), 1u);
    EXPECT_EQ(s.dst.pixel(1, 0), 0u) << "one step off white is not white";
    EXPECT_EQ(s.dst.pixel(2, 0), 0u);
    EXPECT_EQ(s.dst.pixel(3, 0), 1u);
    // Another background colour picks other pixels.
    s.srcDC.setBackgroundColour(0x000000);
    bitBlt(s.dstDC, 0, 0, 4, 1, s.srcDC, 0, 0, SRCCOPY);
    EXPECT_EQ(s.dst.pixel(2, 0), 1u);
    EXPECT_EQ(s.dst.pixel(0, 0), 0u);
}

TEST(BitBlt, MonochromeToColourUsesTheTargetColours)
{
    Surfaces s(Bitmap::colour(2, 1), Bitmap::monochrome(2, 1));
    s.src.setPixel(0, 0, 1);
    s.src.setPixel(1, 0, 0);
    s.dstDC.setBackgroundColour(0x00FF00);
    s.dstDC.setTextColour(0x0000FF);
    bitBlt(s.dstDC, 0, 0, 2, 1, s.srcDC, 0, 0, SRCCOPY);
    EXPECT_EQ(s.dst.pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(s.dst.pixel(1, 0), 0x0000FFu);
}

TEST(BitBlt, ClipsToBothBitmaps)
{
    struct Case { int x, y, w, h, sx, sy; int changed; };
    // 4x4 source of 1s onto a 4x4 destination of 0s: count the pixels written.
    const Case cases[] = {
        { 0, 0, 4, 4, 0, 0, 16 }, { 2, 2, 4, 4, 0, 0, 4 }, { -2, -2, 4, 4, 0, 0, 4 },
        { 0, 0, 4, 4, 3, 3, 1 },  { 0, 0, 4, 4, -3, 0, 4 }, { 5, 0, 4, 4, 0, 0, 0 },
        { 0, 0, 0, 4, 0, 0, 0 },  { 0, 0, -4, 4, 0, 0, 0 }, { 1, 0, 100, 100, -1, 0, 8 },
        { INT32_MIN, 0, INT32_MAX, 4, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        Surfaces s(Bitmap::monochrome(4, 4), Bitmap::monochrome(4, 4));
        s.src.fill(1);
        bitBlt(s.dstDC, c.x, c.y, c.w, c.h, s.srcDC, c.sx, c.sy, SRCCOPY);
        int n = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                n += s.dst.pixel(x, y);
        EXPECT_EQ(n, c.changed) << c.x << "," << c.y << " " << c.w << "x" << c.h << " from " << c.sx << "," << c.sy;
    }
}

TEST(BitBlt, RefusesUnknownOperationsAndMissingBitmaps)
{
    Surfaces s(Bitmap::colour(1, 1), Bitmap::colour(1, 1));
    EXPECT_FALSE(bitBlt(s.dstDC, 0, 0, 1, 1, s.srcDC, 0, 0, 0x00660046));
    MemoryDC empty;
    EXPECT_FALSE(bitBlt(empty, 0, 0, 1, 1, s.srcDC, 0, 0, SRCCOPY));
}

TEST(PixelAccess, OutsideIsInvalid)
{
    Bitmap b = Bitmap::colour(3, 2);
    MemoryDC dc;
    EXPECT_EQ(getPixel(dc, 0, 0), CLR_INVALID);
    dc.select(&b);
    EXPECT_TRUE(setPixel(dc, 2, 1, 0x123456));
    EXPECT_EQ(getPixel(dc, 2, 1), 0x123456u);
    for (auto [x, y] : { std::pair { -1, 0 }, { 3, 0 }, { 0, 2 }, { 0, -1 } }) {
        EXPECT_EQ(getPixel(dc, x, y), CLR_INVALID);
        EXPECT_FALSE(setPixel(dc, x, y, 0));
    }
}

TEST(Bitmap, RefusesImpossibleSizes)
{
    EXPECT_TRUE(Bitmap::colour(0, 10).isNull());
    EXPECT_TRUE(Bitmap::colour(-5, 10).isNull());
    EXPECT_TRUE(Bitmap::colour(100000, 100000).isNull());
    EXPECT_FALSE(Bitmap::colour(96, 96).isNull());
}

TEST(StretchBlt, AveragesTheSourceArea)
{
    // 4x2 onto 2x1: each destination pixel averages a 2x2 block.
    Surfaces s(Bitmap::colour(2, 1), Bitmap::colour(4, 2));
    const uint32_t px[2][4] = { { 0x000000, 0x646464, 0xFFFFFF, 0xFFFFFF },
                                { 0xC8C8C8, 0x646464, 0xFFFFFF, 0xFFFFFF } };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            s.src.setPixel(x, y, px[y][x]);
    ASSERT_TRUE(stretchBlt(s.dstDC, 0, 0, 2, 1, s.srcDC, 0, 0, 4, 2, SRCCOPY));
    EXPECT_EQ(s.dst.pixel(0, 0), 0x646464u);
    EXPECT_EQ(s.dst.pixel(1, 0), 0xFFFFFFu) << "an all-white area stays exactly white";
}

TEST(StretchBlt, NonIntegerRatiosWeighByCoverage)
{
    // 3 source pixels onto 2: the middle one is split between both.
    Surfaces s(Bitmap::colour(2, 1), Bitmap::colour(3, 1));
    s.src.setPixel(0, 0, 0x000000);
    s.src.setPixel(1, 0, 0x0000FF);
    s.src.setPixel(2, 0, 0x0000FF);
    stretchBlt(s.dstDC, 0, 0, 2, 1, s.srcDC, 0, 0, 3, 1, SRCCOPY);
    // dst 0 covers source [0, 1.5): 1 part black, 0.5 part blue -> 255/3 = 85.
    EXPECT_EQ(s.dst.pixel(0, 0), 85u);
    EXPECT_EQ(s.dst.pixel(1, 0), 255u);
}

TEST(StretchBlt, EnlargingRepeatsPixels)
{
    Surfaces s(Bitmap::colour(4, 4), Bitmap::colour(2, 2));
    s.src.setPixel(0, 0, 0x111111);
    s.src.setPixel(1, 0, 0x222222);
    s.src.setPixel(0, 1, 0x333333);
    s.src.setPixel(1, 1, 0x444444);
    stretchBlt(s.dstDC, 0, 0, 4, 4, s.srcDC, 0, 0, 2, 2, SRCCOPY);
    EXPECT_EQ(s.dst.pixel(0, 0), 0x111111u);
    EXPECT_EQ(s.dst.pixel(1, 1), 0x111111u);
    EXPECT_EQ(s.dst.pixel(3, 0), 0x222222u);
    EXPECT_EQ(s.dst.pixel(0, 3), 0x333333u);
    EXPECT_EQ(s.dst.pixel(3, 3), 0x444444u);
}

TEST(StretchBlt, ClipsAndRefusesMonochrome)
{
    Surfaces s(Bitmap::colour(4, 4), Bitmap::colour(4, 4));
    s.src.fill(0xABCDEF);
    // Half the target lies outside; the visible half is written, nothing else.
    EXPECT_TRUE(stretchBlt(s.dstDC, -2, -2, 4, 4, s.srcDC, 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(s.dst.pixel(0, 0), 0xABCDEFu);
    EXPECT_EQ(s.dst.pixel(2, 2), 0u);
    // A source rectangle reaching past the bitmap averages only what exists.
    Surfaces t(Bitmap::colour(1, 1), Bitmap::colour(2, 2));
    t.src.fill(0x808080);
    EXPECT_TRUE(stretchBlt(t.dstDC, 0, 0, 1, 1, t.srcDC, -2, -2, 4, 4, SRCCOPY));
    EXPECT_EQ(t.dst.pixel(0, 0), 0x808080u);
    Surfaces m(Bitmap::colour(2, 2), Bitmap::monochrome(2, 2));
    EXPECT_FALSE(stretchBlt(m.dstDC, 0, 0, 2, 2, m.srcDC, 0, 0, 2, 2, SRCCOPY));
}
