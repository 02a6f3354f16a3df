#pragma once

#include "raster/Bitmap.h"
#include "raster/MemoryDC.h"
#include "resources/FigureIds.h"

#include <cstdint>
#include <string>

// A figure's seven tilted frames and their masks: a built-in figure's frames
// read from the resources, or one picture of the user's turned seven ways.
// Pure white is transparent; a mask is 1 where its frame shows the figure.
// The frames are kFrameSize square at a device pixel ratio of 1 and larger
// on denser screens (size()). They are never null: blank (all transparent)
// until a figure is loaded.
class FigureFrames {
public:
    static constexpr int kFrameSize = figure::kFrameSize;
    static constexpr int kFrameCount = figure::kFrameCount;
    static constexpr std::uint32_t kTransparent = 0xFFFFFF;
    // Larger pictures are refused as figures, like files that cannot be opened:
    // turning one into frames would take too long and too much memory.
    static constexpr std::int64_t kMaxPicturePixels = 100'000'000;

    // The tables are the pendulum's (256 entries each, scaled by 256); they
    // turn the frames.
    FigureFrames(const int* sinTable, const int* cosTable, int size = kFrameSize);

    int size() const { return size_; }
    // Another device size: the frames go blank; load a figure again.
    void setSize(int size);

    // Frame k of built-in resource set baseId is resource baseId + k + 1.
    // A missing resource leaves that frame blank.
    void loadBuiltInFigure(int baseId);
    // 1 when the frames were rebuilt from the .bmp file; 0, with nothing
    // changed, when it cannot be opened or holds no usable picture.
    int loadPictureFigure(const std::string& path);
    // Writes into target the square source turned by the tilt of frame k.
    void rotateFrame(Bitmap& source, Bitmap& target, int k);

    const Bitmap& frame(int k) const { return frames_[k]; }
    const Bitmap& mask(int k) const { return masks_[k]; }
    // All kFrameCount of each, for the surfaces that show them.
    const Bitmap* frames() const { return frames_; }
    const Bitmap* masks() const { return masks_; }

    // A monochrome bitmap of the frame's size, 1 where it is not pure white.
    static Bitmap maskOf(const Bitmap& frame);

private:
    void makeMasks();

    Bitmap frames_[kFrameCount];
    Bitmap masks_[kFrameCount];
    MemoryDC workDC;
    MemoryDC sourceDC;
    const int* sinTable_;
    const int* cosTable_;
    int size_ = 0;
};
