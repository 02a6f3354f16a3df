#include "swing/FigureCompositor.h"

#include "pictures/DibImage.h"
#include "raster/Raster.h"
#include "resources/Resources.h"
#include "settings/ScreenGeometry.h"

#include <algorithm>
#include <vector>

FigureCompositor::FigureCompositor(const int* sinTable, const int* cosTable, int size)
    : figureLayer(Bitmap::colour(size, size))
    , composite(Bitmap::colour(size, size))
    , opaqueMask(Bitmap::monochrome(size, size))
    , clearMask(Bitmap::monochrome(size, size))
    , savedBackground(Bitmap::colour(size, size))
    , screenCapture(Bitmap::colour(size, size))
    , sinTable_(sinTable)
    , cosTable_(cosTable)
    , size_(size)
{
}

void FigureCompositor::setSize(int size)
{
    if (size == size_ || size <= 0)
        return;
    size_ = size;
    figureLayer = Bitmap::colour(size, size);
    composite = Bitmap::colour(size, size);
    opaqueMask = Bitmap::monochrome(size, size);
    clearMask = Bitmap::monochrome(size, size);
    savedBackground = Bitmap::colour(size, size);
    screenCapture = Bitmap::colour(size, size);
    for (Bitmap& frame : frames)
        frame = Bitmap();
    backgroundPending = -1;
}

void FigureCompositor::loadBuiltInFigure(int baseId)
{
    // The art drawn nearest above the device size, 96 or 192 pixels.
    const int scale = artScaleForRatio(double(size_) / kFrameSize);
    const int artSize = kFrameSize * scale;
    Bitmap art = artSize == size_ ? Bitmap() : Bitmap::colour(artSize, artSize);
    for (int k = 0; k < kFrameCount; ++k) {
        frames[k] = Bitmap::colour(size_, size_);
        frames[k].fill(kTransparent);
        ResourceData r = findFrameResource(figure::frameId(baseId, k), scale);
        DibImage image(r.data, r.size);
        if (art.isNull()) {
            workDC.select(&frames[k]);
            image.Draw(workDC);
            workDC.select(nullptr);
            continue;
        }
        // Between sizes: the art through the box filter, to the device size.
        art.fill(kTransparent);
        workDC.select(&art);
        image.Draw(workDC);
        workDC.select(&frames[k]);
        sourceDC.select(&art);
        stretchBlt(workDC, 0, 0, size_, size_, sourceDC, 0, 0, artSize, artSize, SRCCOPY);
        workDC.select(nullptr);
        sourceDC.select(nullptr);
    }
}

int FigureCompositor::loadPictureFigure(const std::string& path)
{
    DibImage image(path);
    int w = 0, h = 0;
    if (image.GetImageSize(w, h) != 0 || int64_t { w } * h > kMaxPicturePixels)
        return 0;

    // The picture is decoded row by row straight into the frame-sized square,
    // once for all seven frames, so a large photograph never exists whole in
    // memory.
    Bitmap square = Bitmap::colour(size_, size_);
    std::vector<uint32_t> row(static_cast<std::size_t>(w));
    stretchRows(square, 0, 0, size_, size_, w, h, 0, 0, w, h,
                [&](int r) {
                    image.decodeRow(r, row.data());
                    return row.data();
                },
                SRCCOPY);

    for (int k = 0; k < kFrameCount; ++k) {
        frames[k] = Bitmap::colour(size_, size_);
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
    const int h = size_ / 2;
    for (int y = 0; y < size_; ++y) {
        for (int x = 0; x < size_; ++x) {
            int sx = ((c * (x - h) - s * (y - h)) >> 8) + h;
            int sy = ((s * (x - h) + c * (y - h)) >> 8) + h;
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
    bitBlt(workDC, x, y, size_, size_, sourceDC, 0, 0, rop);
    workDC.select(oldTarget);
    sourceDC.select(oldSource);
}

const Bitmap& FigureCompositor::paint(int k, int prevDX, int prevDY, const Bitmap* windowContent)
{
    if (k < 0 || k >= kFrameCount)
        k = 3;
    Bitmap& frame = frames[k];
    if (frame.isNull()) {
        // No figure loaded yet: nothing is opaque.
        frame = Bitmap::colour(size_, size_);
        frame.fill(kTransparent);
    }

    if (backgroundPending == -1 && windowContent) {
        // The window was never erased, so what it shows at first is the screen.
        Bitmap* oldTarget = workDC.select(&savedBackground);
        MemoryDC content;
        content.select(const_cast<Bitmap*>(windowContent));
        bitBlt(workDC, 0, 0, size_, size_, content, 0, 0, SRCCOPY);
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
