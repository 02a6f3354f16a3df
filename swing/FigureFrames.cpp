#include "swing/FigureFrames.h"

#include "raster/DibImage.h"
#include "raster/Raster.h"
#include "resources/Resources.h"
#include "settings/ScreenGeometry.h"

#include <vector>

FigureFrames::FigureFrames(const int* sinTable, const int* cosTable, int size)
    : sinTable_(sinTable)
    , cosTable_(cosTable)
{
    setSize(size);
}

void FigureFrames::setSize(int size)
{
    if (size == size_ || size <= 0)
        return;
    size_ = size;
    for (Bitmap& frame : frames_) {
        frame = Bitmap::colour(size, size);
        frame.fill(kTransparent);
    }
    makeMasks();
}

Bitmap FigureFrames::maskOf(const Bitmap& frame)
{
    Bitmap mask = Bitmap::monochrome(frame.width(), frame.height());
    for (int y = 0; y < frame.height(); ++y) {
        const std::uint32_t* in = frame.colourRow(y);
        std::uint8_t* out = mask.monoRow(y);
        for (int x = 0; x < frame.width(); ++x)
            out[x] = in[x] != kTransparent;
    }
    return mask;
}

void FigureFrames::makeMasks()
{
    for (int k = 0; k < kFrameCount; ++k)
        masks_[k] = maskOf(frames_[k]);
}

void FigureFrames::loadBuiltInFigure(int baseId)
{
    // The art drawn nearest above the device size, 96 or 192 pixels.
    const int scale = artScaleForRatio(double(size_) / kFrameSize);
    const int artSize = kFrameSize * scale;
    Bitmap art = artSize == size_ ? Bitmap() : Bitmap::colour(artSize, artSize);
    for (int k = 0; k < kFrameCount; ++k) {
        frames_[k] = Bitmap::colour(size_, size_);
        frames_[k].fill(kTransparent);
        ResourceData r = findFrameResource(figure::frameId(baseId, k), scale);
        DibImage image(r.data, r.size);
        if (art.isNull()) {
            workDC.select(&frames_[k]);
            image.Draw(workDC);
            workDC.select(nullptr);
            continue;
        }
        // Between sizes: the art through the box filter, to the device size.
        art.fill(kTransparent);
        workDC.select(&art);
        image.Draw(workDC);
        workDC.select(&frames_[k]);
        sourceDC.select(&art);
        stretchBlt(workDC, 0, 0, size_, size_, sourceDC, 0, 0, artSize, artSize, SRCCOPY);
        workDC.select(nullptr);
        sourceDC.select(nullptr);
    }
    makeMasks();
}

int FigureFrames::loadPictureFigure(const std::string& path)
{
    DibImage image(path);
    int w = 0, h = 0;
    if (image.GetImageSize(w, h) != 0 || std::int64_t { w } * h > kMaxPicturePixels)
        return 0;

    // The picture is decoded row by row straight into the frame-sized square,
    // once for all seven frames, so a large photograph never exists whole in
    // memory.
    Bitmap square = Bitmap::colour(size_, size_);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(w));
    stretchRows(square, 0, 0, size_, size_, w, h, 0, 0, w, h,
                [&](int r) {
                    image.decodeRow(r, row.data());
                    return row.data();
                },
                SRCCOPY);

    for (int k = 0; k < kFrameCount; ++k) {
        frames_[k] = Bitmap::colour(size_, size_);
        rotateFrame(square, frames_[k], k);
    }
    makeMasks();
    return 1;
}

void FigureFrames::rotateFrame(Bitmap& source, Bitmap& target, int k)
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
            std::uint32_t p = getPixel(sourceDC, sx, sy);
            setPixel(workDC, x, y, p == CLR_INVALID ? kTransparent : p);
        }
    }
    workDC.select(oldTarget);
    sourceDC.select(oldSource);
}
