#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A window shape as rectangles, laid out as the X protocol's RECTANGLE so that
// a list goes out as it is.
struct ShapeRect {
    std::int16_t x, y;
    std::uint16_t w, h;
};
static_assert(sizeof(ShapeRect) == 8, "a protocol RECTANGLE is 8 bytes");

// One rectangle per run of pixels in a row where mask (one byte a pixel,
// stride bytes a row) is non-zero, rows top to bottom (YX-sorted).
inline void shapeFromMask(const std::uint8_t* mask, int stride, int w, int h, std::vector<ShapeRect>& out)
{
    out.clear();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = mask + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < w;) {
            while (x < w && !row[x])
                ++x;
            const int start = x;
            while (x < w && row[x])
                ++x;
            if (x > start)
                out.push_back({ std::int16_t(start), std::int16_t(y), std::uint16_t(x - start), 1 });
        }
    }
}
