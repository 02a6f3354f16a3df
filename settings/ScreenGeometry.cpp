#include "settings/ScreenGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Settings files are edited by hand: any int may arrive as a length or a
// pivot, so sums are made wide and held to the int range.
int clampToInt(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

int truncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(v);
}

int roundHalfUpToInt(double v)
{
    return truncateToInt(std::floor(v + 0.5));
}

} // namespace

ScreenRect MonitorLayout::primaryRect() const
{
    if (monitors.empty())
        return {};
    if (primary >= 0 && static_cast<std::size_t>(primary) < monitors.size())
        return monitors[static_cast<std::size_t>(primary)];
    return monitors.front();
}

int heldCoord(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, -kCoordLimit, kCoordLimit));
}

Pivot restPlace(Pivot pivot, int length)
{
    return { heldCoord(pivot.x), heldCoord(static_cast<long long>(pivot.y) + heldCoord(length)) };
}

bool figureVisibleAtRest(const MonitorLayout& layout, Pivot pivot, int length, int size)
{
    const Pivot rest = restPlace(pivot, length);
    const long long left = rest.x;
    const long long top = rest.y;
    const long long right = left + size;
    const long long bottom = top + size;
    for (const ScreenRect& m : layout.monitors) {
        const long long w = std::min<long long>(right, m.right) - std::max<long long>(left, m.left);
        const long long h = std::min<long long>(bottom, m.bottom) - std::max<long long>(top, m.top);
        if (w > 0 && h > 0 && 2 * w >= size && 2 * h >= size)
            return true;
    }
    return false;
}

Pivot firstRunPivot(const ScreenRect& monitor, int length, int size)
{
    // For lengths of the slider's range this is right - 1.5 x length exactly.
    // A length too short or too long for that puts the figure wholly on the
    // monitor at its right or left edge.
    int x = truncateToInt(monitor.right - 1.5 * std::abs(static_cast<double>(length)));
    if (x > monitor.right - size / 2)
        x = monitor.right - size;
    if (x < monitor.left)
        x = monitor.left;
    // The rest place is length below the pivot, as far as the motion goes.
    // Hanging upwards (a negative length) the figure swings down from its
    // rest place: it rests at the top, so that the swing stays in sight.
    const long long rest = length >= 0 ? static_cast<long long>(monitor.bottom) - size : monitor.top;
    const int y = clampToInt(rest - heldCoord(length));
    return { x, y };
}

Pivot pivotOnScreen(const MonitorLayout& layout, Pivot pivot, int length, int size)
{
    if (layout.monitors.empty() || figureVisibleAtRest(layout, pivot, length, size))
        return pivot;
    return firstRunPivot(layout.primaryRect(), length, size);
}

Pivot startPivot(const MonitorLayout& layout, Pivot saved, int length, int size)
{
    // -1 is the settings file's "never placed"; the figure window places it.
    if (saved.x == -1)
        return saved;
    return pivotOnScreen(layout, saved, length, size);
}

ScreenRect windowOnScreen(const MonitorLayout& layout, const ScreenRect& frame)
{
    if (layout.monitors.empty())
        return frame;
    for (const ScreenRect& m : layout.monitors)
        if (frame.left >= m.left && frame.top >= m.top && frame.right <= m.right && frame.bottom <= m.bottom)
            return frame;
    const ScreenRect m = layout.primaryRect();
    const long long w = frame.width(), h = frame.height();
    const int left = clampToInt(m.left + std::max<long long>(0, (m.width() - w) / 2));
    const int top = clampToInt(m.top + std::max<long long>(0, (m.height() - h) / 2));
    return { left, top, clampToInt(left + w), clampToInt(top + h) };
}

ScreenRect monitorHoldingPivot(const MonitorLayout& layout, Pivot pivot, int length, int size)
{
    for (const ScreenRect& m : layout.monitors)
        if (m.contains(pivot.x, pivot.y))
            return m;
    const long long midX = static_cast<long long>(pivot.x) + size / 2;
    const long long midY = static_cast<long long>(pivot.y) + length + size / 2;
    for (const ScreenRect& m : layout.monitors)
        if (m.contains(midX, midY))
            return m;
    return layout.primaryRect();
}

Pivot cornerPivot(const ScreenRect& monitor, Corner corner, int length, int size)
{
    const bool right = corner == Corner::TopRight || corner == Corner::BottomRight;
    const bool bottom = corner == Corner::BottomLeft || corner == Corner::BottomRight;
    Pivot p;
    p.x = right ? truncateToInt(monitor.right - 0.8 * length - size)
                : truncateToInt(monitor.left + 0.8 * length + 48);
    p.y = bottom ? clampToInt(static_cast<long long>(monitor.bottom) - length - size)
                 : clampToInt(static_cast<long long>(monitor.top) + 20);
    return p;
}

double sanitizedPixelRatio(double ratio)
{
    if (!std::isfinite(ratio) || ratio <= 0)
        return 1.0;
    return std::clamp(ratio, 0.25, 8.0);
}

int frameSizeAtRatio(int logicalSize, double ratio)
{
    return std::max(1, roundHalfUpToInt(logicalSize * sanitizedPixelRatio(ratio)));
}

int artScaleForRatio(double ratio)
{
    return frameSizeAtRatio(96, ratio) > 96 ? 2 : 1;
}

int logicalToDevice(int logical, double ratio)
{
    return roundHalfUpToInt(logical * sanitizedPixelRatio(ratio));
}

int deviceToLogical(int device, double ratio)
{
    return roundHalfUpToInt(device / sanitizedPixelRatio(ratio));
}
