#pragma once

#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"
#include "resources/FigureIds.h"

#include <cstdint>
#include <string>

// The figure's seven tilted frames, and the off-screen bitmaps that lay the
// current frame over the screen content behind the window, with pure white as
// the transparent colour. Everything is allocated once; painting allocates
// nothing. The frames are kFrameSize square at a device pixel ratio of 1 and
// larger on denser screens (size()).
class FigureCompositor {
public:
    static constexpr int kFrameSize = figure::kFrameSize;
    static constexpr int kFrameCount = figure::kFrameCount;
    static constexpr uint32_t kTransparent = 0xFFFFFF;
    // Larger pictures are refused as figures, like files that cannot be opened:
    // turning one into frames would take too long and too much memory.
    static constexpr int64_t kMaxPicturePixels = 100'000'000;

    // The tables are the pendulum's (256 entries each, scaled by 256); they
    // turn the frames.
    FigureCompositor(const int* sinTable, const int* cosTable, int size = kFrameSize);

    int size() const { return size_; }
    // Another device size: the work bitmaps are made anew and the frames
    // dropped; load a figure again.
    void setSize(int size);

    // Frame k of built-in resource set baseId is resource baseId + k + 1.
    // A missing resource leaves that frame blank (all transparent).
    void loadBuiltInFigure(int baseId);
    // 1 when the frames were rebuilt from the .bmp file; 0, with nothing
    // changed, when it cannot be opened or holds no usable picture.
    int loadPictureFigure(const std::string& path);
    // Writes into target the square source turned by the tilt of frame k.
    void rotateFrame(Bitmap& source, Bitmap& target, int k);

    // Builds composite for frame k; (prevDX, prevDY) is the old window position
    // minus the new one. On the first paint, windowContent is the screen where
    // the window was first shown; later it is not used and may be null.
    const Bitmap& paint(int k, int prevDX, int prevDY, const Bitmap* windowContent);

    Bitmap frames[kFrameCount];
    Bitmap figureLayer;
    Bitmap composite;
    Bitmap opaqueMask;
    Bitmap clearMask;
    Bitmap savedBackground;
    // The screen under the window's next position, grabbed before each move.
    Bitmap screenCapture;
    MemoryDC workDC;
    MemoryDC sourceDC;
    // -1 until the first paint has saved the window's first background.
    int backgroundPending = -1;

private:
    void blit(Bitmap& target, int x, int y, Bitmap& source, uint32_t rop);

    const int* sinTable_;
    const int* cosTable_;
    int size_;
};
