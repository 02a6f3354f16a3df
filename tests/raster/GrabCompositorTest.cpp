#include "raster/GrabCompositor.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr int N = 96;
constexpr std::uint32_t kScreenOfOurOwn = 0x00FF00;

Bitmap filled(std::uint32_t colour, int size = N)
{
    Bitmap b = Bitmap::colour(size, size);
    b.fill(colour);
    return b;
}

std::uint32_t background(int x, int y)
{
    return std::uint32_t(x * 2) << 16 | std::uint32_t(y * 2) << 8 | 0x40;
}

Bitmap pattern(int size = N)
{
    Bitmap b = Bitmap::colour(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            b.setPixel(x, y, background(x, y));
    return b;
}

// A mask with the columns [from, to) set.
Bitmap columns(int from, int to, int size = N)
{
    Bitmap m = Bitmap::monochrome(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = from; x < to; ++x)
            m.setPixel(x, y, 1);
    return m;
}

} // namespace

TEST(GrabCompositor, TheMaskAloneDecidesWhatShowsOfTheFrame)
{
    // Where the mask is set the frame's colour shows, white included; where
    // it is clear the screen shows, whatever colour the frame has there.
    GrabCompositor c(N);
    Bitmap frame = Bitmap::colour(N, N);
    const std::uint32_t colours[] = { 0xFFFFFF, 0xFEFEFE, 0x000000, 0x123456 };
    for (int x = 0; x < N; ++x)
        for (int y = 0; y < N; ++y)
            frame.setPixel(x, y, colours[x % 4]);
    const Bitmap mask = columns(10, 30);
    Bitmap first = pattern();
    const Bitmap& out = c.paint(frame, mask, 0, 0, &first);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const std::uint32_t want = x >= 10 && x < 30 ? colours[x % 4] : background(x, y);
            ASSERT_EQ(out.pixel(x, y), want) << x << "," << y;
        }
}

TEST(GrabCompositor, FirstPaintUsesTheWindowContent)
{
    GrabCompositor c(N);
    const Bitmap frame = filled(0xFFFFFF);
    const Bitmap nothing = Bitmap::monochrome(N, N);
    // screenCapture holds stale data; the first paint's offsets (0, 0) cover it all.
    c.screenCapture.fill(0xABCDEF);
    Bitmap first = pattern();
    const Bitmap& out = c.paint(frame, nothing, 0, 0, &first);
    EXPECT_EQ(c.backgroundPending, 0);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            ASSERT_EQ(out.pixel(x, y), background(x, y));
    // Later paints do not look at the window content again.
    Bitmap other = filled(0x111111);
    c.screenCapture = pattern();
    EXPECT_EQ(c.paint(frame, nothing, 0, 0, &other).pixel(5, 5), background(5, 5));
}

TEST(GrabCompositor, RepairsTheCaptureAtTheMoveOffset)
{
    // The window moved from (x0, y0) to (x1, y1); the capture at the new
    // place shows the old figure image in the overlap, which must be replaced
    // by the old clean background. compose() works the offset out itself.
    struct Case {
        int x0, y0, x1, y1;
    };
    const Case cases[] = { { 100, 100, 95, 97 },  { 100, 100, 107, 98 }, { 0, 0, 0, 11 },
                           { -20, -20, -16, -16 }, { 500, 40, 404, 40 },  { 10, 10, 10, 10 } };
    for (const Case& m : cases) {
        const int dx = m.x0 - m.x1, dy = m.y0 - m.y1;
        GrabCompositor c(N);
        const Bitmap frame = filled(0xFFFFFF);
        const Bitmap nothing = Bitmap::monochrome(N, N);
        c.screenCapture = pattern();
        c.compose(frame, nothing, m.x0, m.y0); // savedBackground = pattern at the old place
        c.screenCapture.fill(kScreenOfOurOwn);  // stands for "our own window" everywhere
        const Bitmap& out = c.compose(frame, nothing, m.x1, m.y1);
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const int ox = x - dx, oy = y - dy;
                const bool overlap = ox >= 0 && ox < N && oy >= 0 && oy < N;
                const std::uint32_t want = overlap ? background(ox, oy) : kScreenOfOurOwn;
                ASSERT_EQ(out.pixel(x, y), want) << "move by " << dx << "," << dy << " at " << x << "," << y;
                ASSERT_EQ(c.savedBackground.pixel(x, y), want);
            }
    }
}

TEST(GrabCompositor, ARestartTakesTheCaptureAsIsWhereverTheWindowWas)
{
    // After a wake the window was off the screen while the capture was read:
    // nothing of ours is in it, whatever the last place was.
    GrabCompositor c(N);
    const Bitmap frame = filled(0xFFFFFF);
    const Bitmap nothing = Bitmap::monochrome(N, N);
    c.screenCapture = filled(0x222222);
    c.compose(frame, nothing, 300, 300);
    c.restart();
    EXPECT_EQ(c.backgroundPending, -1);
    c.screenCapture = pattern();
    const Bitmap& out = c.compose(frame, nothing, 310, 305);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            ASSERT_EQ(out.pixel(x, y), background(x, y)) << x << "," << y;
}

TEST(GrabCompositor, FramesSetPickTheFrameAndTheSize)
{
    // Seven frames of one colour each, each mask a different column band.
    constexpr int kCount = 7;
    constexpr int kSize = 120;
    Bitmap frames[kCount], masks[kCount];
    for (int k = 0; k < kCount; ++k) {
        frames[k] = filled(0x010101u * std::uint32_t(k + 1), kSize);
        masks[k] = columns(k * 10, k * 10 + 10, kSize);
    }
    GrabCompositor c;
    EXPECT_FALSE(c.hasFrames());
    c.setFrames(frames, masks, kCount);
    ASSERT_TRUE(c.hasFrames());
    EXPECT_EQ(c.size(), kSize) << "the work bitmaps follow the frames' size";
    ASSERT_EQ(c.screenCapture.width(), kSize);

    struct Case {
        int k, shown; // asked, and the frame that shows
    };
    for (const Case& t : { Case { 0, 0 }, Case { 6, 6 }, Case { 2, 2 }, Case { -1, 3 }, Case { 7, 3 }, Case { 99, 3 } }) {
        c.restart();
        c.screenCapture.fill(0x808080);
        const Bitmap& out = c.composeFrame(t.k, 0, 0);
        ASSERT_EQ(out.width(), kSize);
        for (int x = 0; x < kSize; ++x) {
            const bool inBand = x >= t.shown * 10 && x < t.shown * 10 + 10;
            ASSERT_EQ(out.pixel(x, 50), inBand ? 0x010101u * std::uint32_t(t.shown + 1) : 0x808080u)
                << "asked " << t.k << " at column " << x;
        }
    }

    // Nothing usable: no frames, and nothing composed from them.
    c.setFrames(nullptr, nullptr, kCount);
    EXPECT_FALSE(c.hasFrames());
    c.setFrames(frames, masks, 0);
    EXPECT_FALSE(c.hasFrames());
}
