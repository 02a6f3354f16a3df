#pragma once

#include <cstdint>

// A grab request clipped to the screen: which screen pixels to read (src) and where
// they land in the caller's buffer (dst). Shared by the grabbers.
struct GrabRect {
    int srcX = 0, srcY = 0;
    int dstX = 0, dstY = 0;
    int w = 0, h = 0;

    bool empty() const { return w <= 0 || h <= 0; }

    // Intersects (x, y, w, h) with the screen (0, 0, screenW, screenH). 64-bit
    // arithmetic, so coordinates near INT_MAX do not wrap.
    static GrabRect clip(int x, int y, int w, int h, int screenW, int screenH);

    // Checks the caller's buffer description and blacks out its w x h area.
    // False for a null buffer, a non-positive size or a stride shorter than a row.
    static bool clearDestination(int w, int h, std::uint32_t* dst, int dstStride);
};
