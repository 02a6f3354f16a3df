#include "TestBmp.h"

#include "raster/Raster.h"
#include "resources/Resources.h"
#include "swing/FigureFrames.h"
#include "swing/PendulumMotion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <unistd.h>

namespace {

constexpr int N = FigureFrames::kFrameSize;

struct Fixture {
    PendulumMotion motion;
    FigureFrames c { motion.sinTable, motion.cosTable };
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

TEST(FrameMasks, SetExactlyWhereTheFrameIsNotPureWhite)
{
    // Near-whites are the figure's; only 0xFFFFFF lets the screen through.
    struct Case {
        std::uint32_t colour;
        bool shows;
    };
    const Case cases[] = { { 0xFFFFFF, false }, { 0xFEFFFF, true }, { 0xFFFEFF, true }, { 0xFFFFFE, true },
                           { 0xFEFEFE, true },  { 0x000000, true }, { 0x123456, true } };
    Bitmap frame = filled(0xFFFFFF);
    for (int i = 0; i < int(std::size(cases)); ++i)
        frame.setPixel(10 + i, 20, cases[i].colour);
    const Bitmap mask = FigureFrames::maskOf(frame);
    ASSERT_TRUE(mask.isMonochrome());
    ASSERT_EQ(mask.width(), N);
    for (int i = 0; i < int(std::size(cases)); ++i)
        EXPECT_EQ(mask.pixel(10 + i, 20) != 0, cases[i].shows) << std::hex << cases[i].colour;
    EXPECT_EQ(mask.pixel(9, 20), 0u);
    EXPECT_EQ(mask.pixel(10, 21), 0u);
}

TEST(FrameMasks, FollowEveryWayOfLoadingAFigure)
{
    // The masks are made again whenever the frames change: blank at first,
    // a built-in figure, a picture of one's own, another device size.
    auto masksMatch = [](const FigureFrames& f) {
        for (int k = 0; k < FigureFrames::kFrameCount; ++k) {
            const Bitmap& frame = f.frame(k);
            const Bitmap& mask = f.mask(k);
            if (frame.isNull() || mask.width() != frame.width() || mask.height() != frame.height())
                return false;
            for (int y = 0; y < frame.height(); ++y)
                for (int x = 0; x < frame.width(); ++x)
                    if ((mask.pixel(x, y) != 0) != (frame.pixel(x, y) != FigureFrames::kTransparent))
                        return false;
        }
        return true;
    };
    auto opaqueCount = [](const FigureFrames& f, int k) {
        int n = 0;
        for (int y = 0; y < f.mask(k).height(); ++y)
            for (int x = 0; x < f.mask(k).width(); ++x)
                n += f.mask(k).pixel(x, y) != 0;
        return n;
    };
    Fixture f;
    EXPECT_TRUE(masksMatch(f.c)) << "blank";
    EXPECT_EQ(opaqueCount(f.c, 3), 0) << "nothing shows before a figure is loaded";

    f.c.loadBuiltInFigure(0);
    EXPECT_TRUE(masksMatch(f.c)) << "built in";
    EXPECT_GT(opaqueCount(f.c, 3), 0);

    char tmpl[] = "/tmp/tassio-masks-XXXXXX";
    const int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    testbmp::save(tmpl, testbmp::rgb24(40, 20, [](int x, int) { return x < 20 ? 0x336699u : 0xFFFFFFu; }));
    ASSERT_EQ(f.c.loadPictureFigure(tmpl), 1);
    unlink(tmpl);
    EXPECT_TRUE(masksMatch(f.c)) << "a picture";
    EXPECT_EQ(opaqueCount(f.c, 3), N * N / 2) << "the left half of the upright frame";

    f.c.setSize(144);
    EXPECT_TRUE(masksMatch(f.c)) << "another size";
    EXPECT_EQ(f.c.mask(0).width(), 144);
    EXPECT_EQ(opaqueCount(f.c, 3), 0) << "blank again until a figure is loaded";
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
    const Bitmap& upright = f.c.frame(3);
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
            ASSERT_EQ(again.pixel(x, y), f.c.frame(0).pixel(x, y));
    unlink(path.c_str());
    rmdir(dir);
}

TEST(LoadPictureFigure, UnusableFilesChangeNothing)
{
    Fixture f;
    f.c.loadBuiltInFigure(0);
    const Bitmap before = f.c.frame(2);
    char dir[] = "/tmp/tassio-fig-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string notBmp = std::string(dir) + "/x.bmp";
    testbmp::save(notBmp, std::vector<uint8_t>(20, 'x'));
    for (const std::string& p : { std::string("/nonexistent.bmp"), notBmp, std::string(dir) }) {
        EXPECT_EQ(f.c.loadPictureFigure(p), 0) << p;
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x)
                ASSERT_EQ(f.c.frame(2).pixel(x, y), before.pixel(x, y)) << p;
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
        EXPECT_EQ(f.c.frame(k).pixel(0, 0), 0x010101u * uint32_t(k + 1)) << k;
        EXPECT_EQ(f.c.frame(k).pixel(95, 95), 0xFFFFFFu) << k;
    }
}

TEST(LoadBuiltInFigure, MissingResourcesAreBlank)
{
    setResourceLookup([](int) { return ResourceData {}; });
    Fixture f;
    f.c.loadBuiltInFigure(30);
    setResourceLookup(nullptr);
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(f.c.frame(k).pixel(48, 48), 0xFFFFFFu);
}

TEST(DenserScreens, FramesAtTheDeviceSizeKeepTheirShape)
{
    // On a screen of device pixel ratio r the frames are r times as large:
    // the same figure, with the same share of opaque pixels, turned about the
    // new centre.
    PendulumMotion motion;
    FigureFrames one { motion.sinTable, motion.cosTable };
    one.loadBuiltInFigure(0);
    auto opaqueShare = [](const Bitmap& b) {
        int n = 0;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x)
                n += b.pixel(x, y) != FigureFrames::kTransparent;
        return double(n) / (b.width() * b.height());
    };
    for (int size : { 120, 144, 192 }) {
        SCOPED_TRACE(size);
        FigureFrames dense { motion.sinTable, motion.cosTable, size };
        dense.loadBuiltInFigure(0);
        for (int k = 0; k < FigureFrames::kFrameCount; ++k) {
            ASSERT_EQ(dense.frame(k).width(), size);
            EXPECT_NEAR(opaqueShare(dense.frame(k)), opaqueShare(one.frame(k)), 0.03) << "frame " << k;
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
        EXPECT_EQ(dense.frame(3).width(), size);
        EXPECT_EQ(dense.frame(3).pixel(size / 2, size / 2), 0x445566u);
        EXPECT_EQ(dense.frame(3).pixel(size - 1, size - 1), 0x445566u) << "upright: the whole square";
    }
}
