#pragma once

#include <vector>

// Where the figure may hang: the monitors of the desktop, in the logical
// pixels that the settings file and the motion use. Plain values, so the
// choices below are decided (and tested) without a display.

// A rectangle whose right and bottom lie one past the last pixel:
// right = left + width, bottom = top + height.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(long long x, long long y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Every monitor, and which of them is the primary one. An index out of range
// (or no monitors at all) means there is no primary; the first monitor is
// used in its place.
struct MonitorLayout {
    std::vector<ScreenRect> monitors;
    int primary = 0;

    // The primary monitor, the first one when primary is out of range, or an
    // empty rectangle when there are no monitors.
    ScreenRect primaryRect() const;
};

struct Pivot {
    int x = 0;
    int y = 0;
    bool operator==(const Pivot& o) const { return x == o.x && y == o.y; }
};

// Window coordinates are held within this distance of the origin, so that a
// hand-edited pivot or length (any int) cannot overflow; no desktop comes
// near it. The motion holds its offsets and places to it too.
inline constexpr int kCoordLimit = 1 << 24;
int heldCoord(long long v);

// Where the figure's top-left corner is at rest under the pivot: length
// pixels straight down (up, for a negative length), as the motion puts it.
Pivot restPlace(Pivot pivot, int length);

// The corners of the panel's corner buttons.
enum class Corner { TopLeft, BottomLeft, TopRight, BottomRight };

// Whether the figure hanging at rest under the pivot (its size x size square
// with the top-left corner at (x, y + length)) shows a quarter of itself or
// more, at least half its width and half its height, on one monitor: enough
// to be seen and dragged.
bool figureVisibleAtRest(const MonitorLayout& layout, Pivot pivot, int length, int size);

// The pivot of the first run on this monitor: the figure rests at the
// bottom, one and a half string lengths left of the right edge. Whatever the
// length (a hand-edited one may be negative or huge), the figure at rest is
// on the monitor: a place past the monitor's left or right edge is held to
// it, and with a negative length, which hangs the figure above its pivot,
// the figure rests at the top, one and a half lengths (by size) from the
// right edge.
Pivot firstRunPivot(const ScreenRect& monitor, int length, int size);

// The pivot to keep when the monitors are as given: the pivot itself when
// its figure is visible at rest, else the first-run place on the primary
// monitor (a monitor unplugged, the screen made smaller). Unchanged when no
// monitors are known.
Pivot pivotOnScreen(const MonitorLayout& layout, Pivot pivot, int length, int size);

// The pivot to start with: pivotOnScreen of the saved one. A pivot never
// placed (x -1) stays as it is; the figure window places it.
Pivot startPivot(const MonitorLayout& layout, Pivot saved, int length, int size);

// Where a window whose frame is given goes when the monitors are as given:
// where it is while it lies wholly on one monitor, else centred on the
// primary monitor (its top-left on the monitor when it is the larger).
// Unchanged when no monitors are known.
ScreenRect windowOnScreen(const MonitorLayout& layout, const ScreenRect& frame);

// The monitor that holds the pivot: the first containing the pivot itself,
// else the first containing the middle of the figure at rest, else the
// primary.
ScreenRect monitorHoldingPivot(const MonitorLayout& layout, Pivot pivot, int length, int size);

// The pivot for a corner button on this monitor. The 0.8 terms are worked in
// double and the sums truncated toward zero.
Pivot cornerPivot(const ScreenRect& monitor, Corner corner, int length, int size);

// Device pixels: a figure is drawn at size x size logical pixels, which on a
// screen with a device pixel ratio r are round(size x r) device pixels.
// Ratios that are not finite or not positive count as 1; others are held to
// 0.25..8.
double sanitizedPixelRatio(double ratio);
int frameSizeAtRatio(int logicalSize, double ratio);
// The built-in art to scale from at this ratio: 1 (the 96-pixel frames) up to
// a device size of 96, 2 (the 192-pixel frames) above it.
int artScaleForRatio(double ratio);

// One logical coordinate to device pixels and back, rounding halves up so
// that a shift of the whole desktop shifts every point alike. Converting a
// logical coordinate to device pixels and back gives it again at any ratio
// of 1 or more. Results are held to the int range.
int logicalToDevice(int logical, double ratio);
int deviceToLogical(int device, double ratio);
