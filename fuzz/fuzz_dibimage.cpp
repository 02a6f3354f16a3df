// Any bytes as a .bmp: loaded from memory, measured, drawn, and loaded from a
// file as a figure. Sanitizers catch bad reads; the checks below catch wrong
// answers that do not crash.

#include "FuzzTempFile.h"

#include "raster/Bitmap.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"
#include "swing/FigureFrames.h"
#include "swing/PendulumMotion.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Drawing is clipped to the target, so a bounded target still reaches every
// decoder while keeping each run fast.
constexpr int kMaxDraw = 2048;
constexpr uint32_t kMarker = 0x00ABCDEF;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_dibimage: %s\n", what);
    std::abort();
}

bool sameFrames(const FigureFrames& a, const Bitmap (&before)[FigureFrames::kFrameCount])
{
    for (int k = 0; k < FigureFrames::kFrameCount; ++k) {
        const Bitmap& x = a.frame(k);
        const Bitmap& y = before[k];
        if (x.width() != y.width() || x.height() != y.height())
            return false;
        for (int r = 0; r < x.height(); ++r)
            if (!std::equal(x.colourRow(r), x.colourRow(r) + x.width(), y.colourRow(r)))
                return false;
    }
    return true;
}

// Each mask is set exactly where its frame is not pure white.
bool masksFollowFrames(const FigureFrames& a)
{
    for (int k = 0; k < FigureFrames::kFrameCount; ++k) {
        const Bitmap& frame = a.frame(k);
        const Bitmap& mask = a.mask(k);
        if (!mask.isMonochrome() || mask.width() != frame.width() || mask.height() != frame.height())
            return false;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                if ((mask.monoRow(y)[x] != 0) != (frame.colourRow(y)[x] != FigureFrames::kTransparent))
                    return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::scratchDir() + "/input.bmp";
    static PendulumMotion motion;

    DibImage image(data, size);
    int w = -7, h = -7;
    bool loaded = image.GetImageSize(w, h) == 0;
    if (loaded != image.hasData())
        fail("GetImageSize disagrees with hasData");
    if (!loaded && (w != -7 || h != -7))
        fail("GetImageSize without data changed its outputs");
    if (loaded && (w <= 0 || h <= 0))
        fail("loaded picture with a non-positive size");

    if (loaded) {
        Bitmap target = Bitmap::colour(std::min(w, kMaxDraw), std::min(h, kMaxDraw));
        target.fill(kMarker);
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc);
        // Every pixel drawn is 0x00RRGGBB; nothing may spill into the top byte.
        for (int y = 0; y < target.height(); ++y) {
            const uint32_t* row = target.colourRow(y);
            for (int x = 0; x < target.width(); ++x)
                if (row[x] > 0xFFFFFFu)
                    fail("Draw wrote a pixel outside 0x00RRGGBB");
        }
    }

    // The same bytes through the file path, as a dropped or chosen picture.
    fuzzing::writeWhole(path, data, size);
    // One set of frames for the whole run: they are whatever the last
    // accepted picture made of them, which a refused one must leave alone.
    static FigureFrames frames = [] {
        FigureFrames c(motion.sinTable, motion.cosTable);
        c.loadBuiltInFigure(0);
        return c;
    }();
    Bitmap before[FigureFrames::kFrameCount];
    for (int k = 0; k < FigureFrames::kFrameCount; ++k)
        before[k] = frames.frame(k);
    int result = frames.loadPictureFigure(path);
    bool usable = loaded && int64_t { w } * h <= FigureFrames::kMaxPicturePixels;
    if (result != (usable ? 1 : 0))
        fail("loadPictureFigure disagrees with the picture loaded from memory");
    if (result == 0 && !sameFrames(frames, before))
        fail("a refused picture changed the frames");
    if (result == 1) {
        for (int k = 0; k < FigureFrames::kFrameCount; ++k)
            if (frames.frame(k).width() != FigureFrames::kFrameSize || frames.frame(k).height() != FigureFrames::kFrameSize)
                fail("a frame is not 96 x 96");
        if (!masksFollowFrames(frames))
            fail("a mask disagrees with its frame");
    }
    return 0;
}
