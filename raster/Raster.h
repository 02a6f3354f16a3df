#pragma once

#include <cstdint>
#include <functional>

class Bitmap;
class MemoryDC;

// Raster-operation codes of the blits, by their classic values.
enum RasterOp : uint32_t {
    SRCCOPY = 0x00CC0020,    // D = S
    NOTSRCCOPY = 0x00330008, // D = ~S
    SRCAND = 0x008800C6,     // D = D & S
    SRCPAINT = 0x00EE0086,   // D = D | S
};

// getPixel's answer for a point outside the bitmap (or no bitmap).
constexpr uint32_t CLR_INVALID = 0xFFFFFFFF;

// Copies w x h pixels from src's bitmap at (sx, sy) to dst's bitmap at (x, y),
// combined by rop, clipped to both bitmaps. Colour to monochrome: 1 where the
// source pixel equals src's background colour, else 0. Monochrome to colour:
// 1 becomes dst's background colour, 0 its text colour. Returns false for an
// unknown rop or a missing bitmap.
bool bitBlt(MemoryDC& dst, int x, int y, int w, int h, MemoryDC& src, int sx, int sy, uint32_t rop);

// Scales the source rectangle (sx, sy, sw, sh) onto (x, y, w, h). Colour
// bitmaps only. Each destination pixel is the area-weighted average of the
// source pixels it covers (a box filter), so photographs and line drawings both
// shrink cleanly, and an all-white area stays exactly white.
bool stretchBlt(MemoryDC& dst, int x, int y, int w, int h, MemoryDC& src, int sx, int sy, int sw, int sh,
                uint32_t rop);

// The box filter behind stretchBlt, for any source that can hand out rows of
// 0x00RRGGBB pixels: row(r) must return srcWidth pixels of source row r. Each
// source row is fetched once, in order, so a picture can be decoded row by row
// without ever holding it whole.
using RowSource = std::function<const uint32_t*(int row)>;
bool stretchRows(Bitmap& dst, int x, int y, int w, int h, int srcWidth, int srcHeight, int sx, int sy, int sw,
                 int sh, const RowSource& row, uint32_t rop);

// Pixel access through a surface; CLR_INVALID outside its bitmap.
uint32_t getPixel(const MemoryDC& dc, int x, int y);
// Returns false outside the bitmap.
bool setPixel(MemoryDC& dc, int x, int y, uint32_t colour);
