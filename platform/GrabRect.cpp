#include "platform/GrabRect.h"

#include <algorithm>
#include <cstddef>

GrabRect GrabRect::clip(int x, int y, int w, int h, int screenW, int screenH)
{
    GrabRect r;
    if (w <= 0 || h <= 0 || screenW <= 0 || screenH <= 0)
        return r;
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t(x) + w, screenW);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t(y) + h, screenH);
    if (right <= left || bottom <= top)
        return r;
    r.srcX = int(left);
    r.srcY = int(top);
    r.dstX = int(left - x);
    r.dstY = int(top - y);
    r.w = int(right - left);
    r.h = int(bottom - top);
    return r;
}

bool GrabRect::clearDestination(int w, int h, std::uint32_t* dst, int dstStride)
{
    if (dst == nullptr || w <= 0 || h <= 0 || dstStride < w)
        return false;
    for (int row = 0; row < h; ++row)
        std::fill_n(dst + std::size_t(row) * std::size_t(dstStride), w, 0u);
    return true;
}
