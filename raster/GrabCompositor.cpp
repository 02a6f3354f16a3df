#include "raster/GrabCompositor.h"

#include "raster/Raster.h"

GrabCompositor::GrabCompositor(int size)
{
    resize(size);
}

void GrabCompositor::resize(int size)
{
    size_ = size > 0 ? size : 0;
    screenCapture = Bitmap::colour(size_, size_);
    composite = Bitmap::colour(size_, size_);
    savedBackground = Bitmap::colour(size_, size_);
    figureLayer = Bitmap::colour(size_, size_);
    clearMask = Bitmap::monochrome(size_, size_);
    restart();
}

void GrabCompositor::setFrames(const Bitmap* frames, const Bitmap* masks, int count)
{
    const bool usable = frames && masks && count > 0 && frames[0].width() > 0;
    frames_ = usable ? frames : nullptr;
    masks_ = usable ? masks : nullptr;
    count_ = usable ? count : 0;
    if (usable && frames[0].width() != size_)
        resize(frames[0].width());
}

const Bitmap& GrabCompositor::composeFrame(int k, int x, int y)
{
    if (!hasFrames())
        return composite;
    if (k < 0 || k >= count_)
        k = count_ / 2;
    return compose(frames_[k], masks_[k], x, y);
}

const Bitmap& GrabCompositor::compose(const Bitmap& frame, const Bitmap& opaque, int x, int y)
{
    // A window shown anew covers nothing of its own yet: no offset to repair.
    const bool first = backgroundPending == -1;
    const int dx = first ? 0 : lastX_ - x;
    const int dy = first ? 0 : lastY_ - y;
    lastX_ = x;
    lastY_ = y;
    return paint(frame, opaque, dx, dy, first ? &screenCapture : nullptr);
}

void GrabCompositor::blit(Bitmap& target, int x, int y, const Bitmap& source, std::uint32_t rop)
{
    Bitmap* oldTarget = workDC.select(&target);
    // Only read from: the source side of a blit.
    Bitmap* oldSource = sourceDC.select(const_cast<Bitmap*>(&source));
    bitBlt(workDC, x, y, size_, size_, sourceDC, 0, 0, rop);
    workDC.select(oldTarget);
    sourceDC.select(oldSource);
}

const Bitmap& GrabCompositor::paint(const Bitmap& frame, const Bitmap& opaque, int prevDX, int prevDY,
                                    const Bitmap* windowContent)
{
    if (backgroundPending == -1 && windowContent) {
        // The window was never erased, so what it shows at first is the screen.
        blit(savedBackground, 0, 0, *windowContent, SRCCOPY);
        backgroundPending = 0;
    }

    // Repair the fresh capture: where it shows our own old image, put back the
    // clean background saved for the old position.
    blit(screenCapture, prevDX, prevDY, savedBackground, SRCCOPY);
    blit(savedBackground, 0, 0, screenCapture, SRCCOPY);

    blit(clearMask, 0, 0, opaque, NOTSRCCOPY);

    // Figure pixels white and the rest black, then the reverse (a set bit is
    // the work surface's background colour, white; a clear one its text
    // colour, black).
    blit(figureLayer, 0, 0, opaque, SRCCOPY);
    blit(composite, 0, 0, clearMask, SRCCOPY);

    blit(composite, 0, 0, savedBackground, SRCAND);
    blit(figureLayer, 0, 0, frame, SRCAND);
    blit(composite, 0, 0, figureLayer, SRCPAINT);
    return composite;
}
