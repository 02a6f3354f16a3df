#pragma once

#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"

#include <cstdint>

// Where the figure's window can be neither translucent nor shaped, it is an
// opaque square that shows, around the figure, the screen behind itself. The
// screen at the window's next place is read into screenCapture before each
// move; a compose repairs what of the window itself that read caught at the
// old place, and lays the frame over it where its mask is set.
// The work bitmaps are made at the frames' size when the frames come:
// composing allocates nothing. Only that path makes one.
class GrabCompositor {
public:
    explicit GrabCompositor(int size = 0);

    int size() const { return size_; }

    // The figure's count frames and their masks (1 where the figure shows),
    // all of one square size, kept by the caller, alive and unmoved until the
    // next call. Another size makes the work bitmaps anew and restarts.
    void setFrames(const Bitmap* frames, const Bitmap* masks, int count);
    bool hasFrames() const { return count_ > 0; }

    // The next compose takes the capture for what the window shows at
    // first, as for a window shown anew: its old place says nothing then.
    void restart() { backgroundPending = -1; }

    // Frame k of those set (the middle, upright one for a k out of range)
    // over the screen read into screenCapture at (x, y), the window's next
    // place. Without frames, the last composite as it is.
    const Bitmap& composeFrame(int k, int x, int y);

    // The same for any frame and its mask of the compositor's size.
    const Bitmap& compose(const Bitmap& frame, const Bitmap& opaque, int x, int y);

    // The step itself: (prevDX, prevDY) is the old place minus the new. On
    // the first paint windowContent is what the window shows at first (the
    // screen it was shown over); later it is not used and may be null.
    const Bitmap& paint(const Bitmap& frame, const Bitmap& opaque, int prevDX, int prevDY,
                        const Bitmap* windowContent);

    // The screen under the window's next place, read before each move.
    Bitmap screenCapture;
    // What the window shows, and the screen it hides at its place.
    Bitmap composite;
    Bitmap savedBackground;
    // -1 until the first paint has saved the window's first background.
    int backgroundPending = -1;

private:
    void resize(int size);
    void blit(Bitmap& target, int x, int y, const Bitmap& source, std::uint32_t rop);

    Bitmap figureLayer;
    Bitmap clearMask;
    MemoryDC workDC;
    MemoryDC sourceDC;
    const Bitmap* frames_ = nullptr;
    const Bitmap* masks_ = nullptr;
    int count_ = 0;
    int size_ = 0;
    int lastX_ = 0;
    int lastY_ = 0;
};
