#include "raster/Bitmap.h"

#include <algorithm>

namespace {

// Larger bitmaps are refused (returned empty) instead of exhausting memory:
// 2^28 pixels is a gigabyte of colour data.
constexpr int64_t kMaxPixels = int64_t { 1 } << 28;

bool sane(int width, int height)
{
    return width > 0 && height > 0 && int64_t { width } * height <= kMaxPixels;
}

} // namespace

Bitmap Bitmap::colour(int width, int height)
{
    Bitmap b;
    if (!sane(width, height))
        return b;
    b.width_ = width;
    b.height_ = height;
    b.colours_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return b;
}

Bitmap Bitmap::monochrome(int width, int height)
{
    Bitmap b;
    if (!sane(width, height))
        return b;
    b.width_ = width;
    b.height_ = height;
    b.mono_ = true;
    b.bits_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    return b;
}

void Bitmap::fill(uint32_t value)
{
    if (mono_)
        std::fill(bits_.begin(), bits_.end(), value ? 1 : 0);
    else
        std::fill(colours_.begin(), colours_.end(), value & 0xFFFFFFu);
}
