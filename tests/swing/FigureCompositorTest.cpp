#include "TestBmp.h"

#include "raster/Raster.h"
#include "resources/Resources.h"
#include "swing/FigureCompositor.h"
#include "swing/PendulumMotion.h"

#include <gtest/gtest.h>

#include <map>
#include <unistd.h>

namespace {

constexpr int N = FigureCompositor::kFrameSize;

struct Fixture {
    PendulumMotion motion;
    FigureCompositor c { motion.sinTable, motion.cosTable };
};

Bitmap filled(uint32_t colour)
{
    Bitmap b = Bitmap::colour(N, N);
    b.fill(colour);
    return b;
}

uint32_t background(int x, int y)
{
    return uint32_t(x * 2) << 16 | uint32_t(y * 2) << 8 | 0x40;
}

Bitmap pattern()
{
    Bitmap b = Bitmap::colour(N, N);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            b.setPixel(x, y, background(x, y));
    return b;
}

// Test resources: id -> bytes; frames of base 10 are solid colours 1..7.
std::map<int, std::vector<uint8_t>> gResources;
ResourceData testLookup(int id)
{
    auto it = gResources.find(id);
    if (it == gResources.end())
        return {};
    return { it->second.data(), it->second.size() };
}

} // namespace

TEST(Compositing, WhiteIsTheOnlyTransparentColour)
{
    Fixture f;
    f.c.frames[3] = filled(0xFFFFFF);
    // One column each of near-whites and ordinary colours.
    const uint32_t opaque[] = { 0xFEFFFF, 0xFFFEFF, 0xFFFFFE, 0x000000, 0x123456, 0xFEFEFE };
    for (int i = 0; i < 6; ++i)
        for (int y = 0; y < N; ++y)
            f.c.frames[3].setPixel(10 + i, y, opaque[i]);
    Bitmap first = pattern();
    const Bitmap& out = f.c.paint(3, 0, 0, &first);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            uint32_t want = (x >= 10 && x < 16) ? opaque[x - 10] : background(x, y);
            ASSERT_EQ(out.pixel(x, y), want) << x << "," << y;
        }
}

TEST(Compositing, FirstPaintUsesTheWindowContent)
{
    Fixture f;
    f.c.frames[0] = filled(0xFFFFFF);
    // screenCapture holds stale data; the first paint's offsets (0, 0) cover it all.
    f.c.screenCapture.fill(0xABCDEF);
    Bitmap first = pattern();
    const Bitmap& out = f.c.paint(0, 0, 0, &first);
    EXPECT_EQ(f.c.backgroundPending, 0);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            ASSERT_EQ(out.pixel(x, y), background(x, y));
    // Later paints do not look at the window content again.
    Bitmap other = filled(0x111111);
    f.c.screenCapture = pattern();
    EXPECT_EQ(f.c.paint(0, 0, 0, &other).pixel(5, 5), background(5, 5));
}

TEST(Compositing, RepairsTheCaptureAtTheMoveOffset)
{
    // The window moved by (dx, dy); the capture shows the old figure image in
    // the overlap, which must be replaced by the old clean background.
    struct Case { int dx, dy; };
    for (Case m : { Case { 5, 3 }, Case { -7, 2 }, Case { 0, -11 }, Case { -4, -4 }, Case { 96, 0 } }) {
        Fixture f;
        f.c.frames[3] = filled(0xFFFFFF);
        Bitmap first = pattern();
        f.c.paint(3, 0, 0, &first); // savedBackground = pattern at the old place
        f.c.screenCapture.fill(0x00FF00); // stands for "our own window" everywhere
        const Bitmap& out = f.c.paint(3, m.dx, m.dy, nullptr);
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                int ox = x - m.dx, oy = y - m.dy;
                bool overlap = ox >= 0 && ox < N && oy >= 0 && oy < N;
                uint32_t want = overlap ? background(ox, oy) : 0x00FF00;
                ASSERT_EQ(out.pixel(x, y), want) << "move " << m.dx << "," << m.dy << " at " << x << "," << y;
                ASSERT_EQ(f.c.savedBackground.pixel(x, y), want);
            }
    }
}

TEST(RotateFrame, TiltStepsAndIdentity)
{
    Fixture f;
    Bitmap square = pattern();
    Bitmap target = Bitmap::colour(N, N);
    f.c.rotateFrame(square, target, 3);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            ASSERT_EQ(target.pixel(x, y), square.pixel(x, y));

    // A dot above the centre (the figure's head) turns toward the upper left
    // in frame 0 and toward the upper right in frame 6.
    Bitmap dot = filled(0xFFFFFF);
    for (int y = 8; y < 14; ++y)
        for (int x = 45; x < 51; ++x)
            dot.setPixel(x, y, 0);
    auto centroidX = [&](int k) {
        Bitmap t = Bitmap::colour(N, N);
        f.c.rotateFrame(dot, t, k);
        long sum = 0, n = 0;
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x)
                if (t.pixel(x, y) == 0) {
                    sum += x;
                    ++n;
                }
        return n ? double(sum) / n : -1.0;
    };
    EXPECT_LT(centroidX(0), 30);
    EXPECT_GT(centroidX(6), 66);
    EXPECT_NEAR(centroidX(3), 47.5, 0.01);
}

TEST(RotateFrame, CornersOutsideTheSourceBecomeTransparent)
{
    Fixture f;
    Bitmap black = filled(0);
    Bitmap t = Bitmap::colour(N, N);
    f.c.rotateFrame(black, t, 0); // 45 degrees: the corners come from outside
    EXPECT_EQ(t.pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(t.pixel(95, 95), 0xFFFFFFu);
    EXPECT_EQ(t.pixel(48, 48), 0u);
}

TEST(LoadPictureFigure, StretchesAnyShapeToTheSquare)
{
    Fixture f;
    char dir[] = "/tmp/tassio-fig-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/wide.bmp";
    // 300 x 30: left half red, right half white.
    testbmp::save(path, testbmp::rgb24(300, 30, [](int x, int) { return x < 150 ? 0xFF0000u : 0xFFFFFFu; }));
    ASSERT_EQ(f.c.loadPictureFigure(path), 1);
    const Bitmap& upright = f.c.frames[3];
    for (int y = 0; y < N; ++y) {
        EXPECT_EQ(upright.pixel(10, y), 0xFF0000u);
        EXPECT_EQ(upright.pixel(47, y), 0xFF0000u);
        EXPECT_EQ(upright.pixel(48, y), 0xFFFFFFu) << "all-white sources stay exactly white";
        EXPECT_EQ(upright.pixel(90, y), 0xFFFFFFu);
    }
    // Every frame is a rotation of the same square.
    Bitmap again = Bitmap::colour(N, N);
    Bitmap square = Bitmap::colour(N, N);
    MemoryDC src, dst;
    f.c.rotateFrame(const_cast<Bitmap&>(upright), again, 0);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x)
            ASSERT_EQ(again.pixel(x, y), f.c.frames[0].pixel(x, y));
    unlink(path.c_str());
    rmdir(dir);
}

TEST(LoadPictureFigure, UnusableFilesChangeNothing)
{
    Fixture f;
    f.c.frames[2] = filled(0x123456);
    char dir[] = "/tmp/tassio-fig-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string notBmp = std::string(dir) + "/x.bmp";
    testbmp::save(notBmp, std::vector<uint8_t>(20, 'x'));
    for (const std::string& p : { std::string("/nonexistent.bmp"), notBmp, std::string(dir) }) {
        EXPECT_EQ(f.c.loadPictureFigure(p), 0) << p;
        EXPECT_EQ(f.c.frames[2].pixel(0, 0), 0x123456u);
    }
    unlink(notBmp.c_str());
    rmdir(dir);
}

TEST(LoadBuiltInFigure, ReadsFramesByResourceId)
{
    gResources.clear();
    for (int k = 0; k < 7; ++k) {
        uint32_t colour = 0x010101u * uint32_t(k + 1);
        gResources[20 + k + 1] = testbmp::pal8(96, 96, { 0xFFFFFF, colour }, true,
                                               [](int x, int) { return uint8_t(x < 48 ? 1 : 0); });
    }
    setResourceLookup(testLookup);
    Fixture f;
    f.c.loadBuiltInFigure(20);
    setResourceLookup(nullptr);
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(f.c.frames[k].pixel(0, 0), 0x010101u * uint32_t(k + 1)) << k;
        EXPECT_EQ(f.c.frames[k].pixel(95, 95), 0xFFFFFFu) << k;
    }
}

TEST(LoadBuiltInFigure, MissingResourcesAreBlank)
{
    setResourceLookup([](int) { return ResourceData {}; });
    Fixture f;
    f.c.loadBuiltInFigure(30);
    setResourceLookup(nullptr);
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(f.c.frames[k].pixel(48, 48), 0xFFFFFFu);
}

TEST(DenserScreens, FramesAtTheDeviceSizeKeepTheirShape)
{
    // On a screen of device pixel ratio r the frames are r times as large:
    // the same figure, with the same share of opaque pixels, turned about the
    // new centre.
    PendulumMotion motion;
    FigureCompositor one { motion.sinTable, motion.cosTable };
    one.loadBuiltInFigure(0);
    auto opaqueShare = [](const Bitmap& b) {
        int n = 0;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                n += b.pixel(x, y) != FigureCompositor::kTransparent;
        return double(n) / (b.width() * b.height());
    };
    for (int size : { 120, 144, 192 }) {
        SCOPED_TRACE(size);
        FigureCompositor dense { motion.sinTable, motion.cosTable, size };
        dense.loadBuiltInFigure(0);
        for (int k = 0; k < FigureCompositor::kFrameCount; ++k) {
            ASSERT_EQ(dense.frames[k].width(), size);
            EXPECT_NEAR(opaqueShare(dense.frames[k]), opaqueShare(one.frames[k]), 0.03) << "frame " << k;
        }

        // The upright tilt copies; a quarter turn of a marked pixel lands
        // where the centre of this size puts it.
        Bitmap square = Bitmap::colour(size, size);
        square.fill(0x102030);
        square.setPixel(size / 2 + 10, size / 2, 0xABCDEF);
        Bitmap out = Bitmap::colour(size, size);
        dense.rotateFrame(square, out, 3);
        EXPECT_EQ(out.pixel(size / 2 + 10, size / 2), 0xABCDEFu);
        EXPECT_EQ(out.pixel(0, 0), 0x102030u);

        // A picture of one's own is stretched to the device size too.
        char tmpl[] = "/tmp/tassio-dense-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        testbmp::save(tmpl, testbmp::rgb24(30, 10, [](int, int) { return 0x445566u; }));
        ASSERT_EQ(dense.loadPictureFigure(tmpl), 1);
        unlink(tmpl);
        EXPECT_EQ(dense.frames[3].width(), size);
        EXPECT_EQ(dense.frames[3].pixel(size / 2, size / 2), 0x445566u);
        EXPECT_EQ(dense.frames[3].pixel(size - 1, size - 1), 0x445566u) << "upright: the whole square";
    }
}
