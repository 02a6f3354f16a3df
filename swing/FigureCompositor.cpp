#include "swing/FigureCompositor.h"

#include "pictures/DibImage.h"
#include "raster/Raster.h"
#include "resources/Resources.h"

#include <algorithm>
#include <vector>

namespace {
constexpr int kSize = FigureCompositor::kFrameSize;
}

FigureCompositor::FigureCompositor(const int* sinTable, const int* cosTable)
    : figureLayer(Bitmap::colour(kSize, kSize))
    , composite(Bitmap::colour(kSize, kSize))
    , opaqueMask(Bitmap::monochrome(kSize, kSize))
    , clearMask(Bitmap::monochrome(kSize, kSize))
    , savedBackground(Bitmap::colour(kSize, kSize))
    , screenCapture(Bitmap::colour(kSize, kSize))
    , sinTable_(sinTable)
    , cosTable_(cosTable)
{
}

void FigureCompositor::loadBuiltInFigure(int baseId)
{
    framesLoaded = 1;
    for (int k = 0; k < kFrameCount; ++k) {
        frames[k] = Bitmap::colour(kSize, kSize);
        frames[k].fill(kTransparent);
        ResourceData r = findResource(baseId + k + 1);
        DibImage image(r.data, r.size);
        workDC.select(&frames[k]);
        image.Draw(workDC);
        workDC.select(nullptr);
    }
}

int FigureCompositor::loadPictureFigure(const std::string& path)
{
    DibImage image(path);
    int w = 0, h = 0;
    if (image.GetImageSize(w, h) != 0 || int64_t { w } * h > kMaxPicturePixels)
        return 0;

    // The picture is decoded row by row straight into the 96 x 96 square, once
    // for all seven frames, so a large photograph never exists whole in memory.
    Bitmap square = Bitmap::colour(kSize, kSize);
    std::vector<uint32_t> row(static_cast<std::size_t>(w));
    stretchRows(square, 0, 0, kSize, kSize, w, h, 0, 0, w, h,
                [&](int r) {
                    image.decodeRow(r, row.data());
                    return row.data();
                },
                SRCCOPY);

    framesLoaded = 1;
    for (int k = 0; k < kFrameCount; ++k) {
        frames[k] = Bitmap::colour(kSize, kSize);
        rotateFrame(square, frames[k], k);
    }
    return 1;
}

void FigureCompositor::rotateFrame(Bitmap& source, Bitmap& target, int k)
{
    int t = ((45 - 15 * k) * 256) / 360;
    if (t < 0)
        t += 256;
    Bitmap* oldTarget = workDC.select(&target);
    Bitmap* oldSource = sourceDC.select(&source);
    const int c = cosTable_[t], s = sinTable_[t];
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            int sx = ((c * (x - 48) - s * (y - 48)) >> 8) + 48;
            int sy = ((s * (x - 48) + c * (y - 48)) >> 8) + 48;
            uint32_t p = getPixel(sourceDC, sx, sy);
            setPixel(workDC, x, y, p == CLR_INVALID ? kTransparent : p);
        }
    }
    workDC.select(oldTarget);
    sourceDC.select(oldSource);
}

void FigureCompositor::blit(Bitmap& target, int x, int y, Bitmap& source, uint32_t rop)
{
    Bitmap* oldTarget = workDC.select(&target);
    Bitmap* oldSource = sourceDC.select(&source);
    bitBlt(workDC, x, y, kSize, kSize, sourceDC, 0, 0, rop);
    workDC.select(oldTarget);
    sourceDC.select(oldSource);
}

void FigureCompositor::opaqueMaskOf(int k, uint8_t* mask) const
{
    if (k < 0 || k >= kFrameCount)
        k = 3;
    const Bitmap& frame = frames[k];
    for (int y = 0; y < kSize; ++y) {
        uint8_t* out = mask + static_cast<std::size_t>(y) * kSize;
        if (frame.isNull()) {
            std::fill_n(out, kSize, uint8_t(0));
            continue;
        }
        const uint32_t* row = frame.colourRow(y);
        for (int x = 0; x < kSize; ++x)
            out[x] = (row[x] & 0xFFFFFF) != kTransparent;
    }
}

const Bitmap& FigureCompositor::paint(int k, int prevDX, int prevDY, const Bitmap* windowContent)
{
    if (k < 0 || k >= kFrameCount)
        k = 3;
    Bitmap& frame = frames[k];
    if (frame.isNull()) {
        // No figure loaded yet: nothing is opaque.
        frame = Bitmap::colour(kSize, kSize);
        frame.fill(kTransparent);
    }

    if (backgroundPending == -1 && windowContent) {
        // The window was never erased, so what it shows at first is the screen.
        Bitmap* oldTarget = workDC.select(&savedBackground);
        MemoryDC content;
        content.select(const_cast<Bitmap*>(windowContent));
        bitBlt(workDC, 0, 0, kSize, kSize, content, 0, 0, SRCCOPY);
        workDC.select(oldTarget);
        backgroundPending = 0;
    }

    // Repair the fresh capture: where it shows our own old image, put back the
    // clean background saved for the old position.
    blit(screenCapture, prevDX, prevDY, savedBackground, SRCCOPY);
    blit(savedBackground, 0, 0, screenCapture, SRCCOPY);

    // Masks from the frame: exactly white is transparent.
    sourceDC.setBackgroundColour(0xFFFFFF);
    blit(clearMask, 0, 0, frame, SRCCOPY);
    blit(opaqueMask, 0, 0, clearMask, NOTSRCCOPY);

    // Figure pixels white and the rest black, then the reverse.
    sourceDC.setTextColour(0x000000);
    sourceDC.setBackgroundColour(0xFFFFFF);
    blit(figureLayer, 0, 0, opaqueMask, SRCCOPY);
    blit(composite, 0, 0, clearMask, SRCCOPY);

    blit(composite, 0, 0, savedBackground, SRCAND);
    blit(figureLayer, 0, 0, frame, SRCAND);
    blit(composite, 0, 0, figureLayer, SRCPAINT);
    return composite;
}
