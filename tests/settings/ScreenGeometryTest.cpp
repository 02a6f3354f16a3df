#include "settings/ScreenGeometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int kSize = 96;

const ScreenRect kOne { 0, 0, 1024, 768 };
// Two monitors side by side, the primary on the right; a third one further
// right with a gap, and one left of the origin.
const ScreenRect kLeft { -1280, 0, 0, 1024 };
const ScreenRect kMiddle { 0, 0, 1024, 768 };
const ScreenRect kRight { 1024, 0, 2048, 768 };
const ScreenRect kApart { 2148, 0, 3148, 768 };

TEST(ScreenGeometry, FigureVisibleAtRest)
{
    struct Case {
        const char* what;
        MonitorLayout layout;
        Pivot pivot;
        int length;
        bool visible;
    };
    const MonitorLayout one { { kOne }, 0 };
    const MonitorLayout row { { kLeft, kMiddle, kRight, kApart }, 1 };
    const Case cases[] = {
        { "first-run place", one, { 832, 544 }, 128, true },
        { "on a monitor that is gone", one, { 1500, 400 }, 128, false },
        // The figure rests at (x, y + length): half its width must show.
        { "48 px in on the right", one, { 1024 - 48, 300 }, 128, true },
        { "47 px in on the right", one, { 1024 - 47, 300 }, 128, false },
        { "48 px in on the left", one, { -48, 300 }, 128, true },
        { "47 px in on the left", one, { -49, 300 }, 128, false },
        { "48 px in at the top", one, { 300, -48 - 128 }, 128, true },
        { "47 px in at the top", one, { 300, -49 - 128 }, 128, false },
        { "48 px in at the bottom", one, { 300, 768 - 48 - 50 }, 50, true },
        { "47 px in at the bottom", one, { 300, 768 - 47 - 50 }, 50, false },
        { "pivot above the screen, figure on it", one, { 300, -100 }, 200, true },
        { "wide enough but too little height", one, { 300, 768 - 20 - 128 }, 128, false },
        { "on the monitor left of the origin", row, { -600, 300 }, 128, true },
        { "on the rightmost monitor", row, { 3000, 300 }, 128, true },
        { "straddling two touching monitors", row, { 1024 - 40, 300 }, 128, true },
        { "in the gap between two monitors", row, { 2048 + 10, 300 }, 128, false },
        { "mostly in the gap", row, { 2148 - 50, 300 }, 128, false },
        { "below every monitor", row, { 500, 2000 }, 128, false },
        { "no monitors at all", MonitorLayout {}, { 100, 100 }, 128, false },
        { "extreme values do not wrap", one, { INT_MAX, INT_MAX }, INT_MAX, false },
        { "extreme negatives do not wrap", one, { INT_MIN, INT_MIN }, INT_MIN, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(figureVisibleAtRest(c.layout, c.pivot, c.length, kSize), c.visible) << c.what;
}

TEST(ScreenGeometry, FirstRunPivot)
{
    struct Case {
        ScreenRect monitor;
        int length;
        Pivot pivot;
    };
    const Case cases[] = {
        { { 0, 0, 800, 600 }, 128, { 608, 376 } },
        { kOne, 128, { 832, 544 } },
        { kOne, 75, { 911, 597 } },   // 1024 - 112.5 truncated
        { kRight, 128, { 1856, 544 } },
        { { 1024, 200, 2944, 1280 }, 400, { 2344, 784 } },
        { kLeft, 50, { -75, 878 } },  // -75 exactly; truncation toward zero matters only for fractions
        { kLeft, 51, { -76, 877 } },  // -76.5 truncated toward zero
    };
    for (const Case& c : cases) {
        const Pivot p = firstRunPivot(c.monitor, c.length, kSize);
        EXPECT_EQ(p.x, c.pivot.x) << c.monitor.left << " length " << c.length;
        EXPECT_EQ(p.y, c.pivot.y) << c.monitor.left << " length " << c.length;
        EXPECT_TRUE(figureVisibleAtRest(MonitorLayout { { c.monitor }, 0 }, p, c.length, kSize));
    }
}

// Whatever length a hand-edited file holds, the first-run place shows the
// figure; lengths of the slider's range keep the exact formula above.
TEST(ScreenGeometry, FirstRunPlaceShowsForAnyLength)
{
    const ScreenRect monitors[] = { kOne, kLeft, kRight, { 0, 0, 640, 480 }, { 0, 0, 800, 600 }, { 5, 7, 101, 103 } };
    const int lengths[] = { -300, -1, 0, 1, 31, 32, 47, 50, 63, 128, 400, 683, 1000, 5000, 1 << 24, (1 << 24) + 1,
                            INT_MAX, INT_MIN, INT_MIN + 1, -(1 << 24) - 1 };
    for (const ScreenRect& m : monitors) {
        for (int length : lengths) {
            const Pivot p = firstRunPivot(m, length, kSize);
            const Pivot rest = restPlace(p, length);
            EXPECT_TRUE(figureVisibleAtRest(MonitorLayout { { m }, 0 }, p, length, kSize))
                << "monitor at " << m.left << " of width " << m.width() << ", length " << length;
            // It rests on the bottom edge (the top, hanging upwards), wholly
            // on the monitor where it fits.
            EXPECT_EQ(rest.y, length >= 0 ? m.bottom - kSize : m.top) << length;
            if (m.width() >= kSize) {
                EXPECT_GE(rest.x, m.left) << length;
                EXPECT_LE(rest.x, m.right - kSize / 2) << length;
            }
        }
    }
    // A length of -300 on 1024 x 768 put the figure at (1657, 736) as it
    // swung. Now it rests at (574, 0), 450 pixels left of the right edge as
    // with a length of 300, and swings down from there.
    EXPECT_EQ(firstRunPivot(kOne, -300, kSize), (Pivot { 574, 300 }));
    EXPECT_EQ(firstRunPivot(kOne, 5000, kSize), (Pivot { 0, 768 - 96 - 5000 }));
    EXPECT_EQ(firstRunPivot(kOne, 0, kSize), (Pivot { 1024 - 96, 768 - 96 }));
    // Held like the motion holds its offsets.
    EXPECT_EQ(firstRunPivot(kOne, INT_MAX, kSize).y, 768 - 96 - kCoordLimit);
    EXPECT_EQ(restPlace({ 10, INT_MAX }, INT_MAX), (Pivot { 10, kCoordLimit }));
}

TEST(ScreenGeometry, PivotOnScreenWhenTheMonitorsChange)
{
    struct Case {
        const char* what;
        MonitorLayout layout;
        Pivot pivot;
        int length;
        Pivot expected;
    };
    const MonitorLayout small { { { 0, 0, 640, 480 } }, 0 };
    const MonitorLayout one { { kOne }, 0 };
    const MonitorLayout two { { kMiddle, kRight }, 0 };
    const Case cases[] = {
        // 1024 x 768 became 640 x 480 (a monitor swapped, a laptop undocked)
        // under a figure that swung from the large screen's first-run pivot.
        { "screen shrunk under the first-run place", small, { 832, 544 }, 128, { 448, 256 } },
        { "still on the smaller screen", small, { 300, 100 }, 128, { 300, 100 } },
        { "right monitor unplugged", one, { 1500, 200 }, 128, { 832, 544 } },
        { "right monitor still there", two, { 1500, 200 }, 128, { 1500, 200 } },
        { "negative length, off-screen", small, { 1474, 972 }, -300, { 190, 300 } },
        { "no monitors: nothing to judge by", MonitorLayout {}, { 5000, 5000 }, 128, { 5000, 5000 } },
        // Unlike at start, -1 is an ordinary pivot here: the figure is placed.
        { "pivot at x -1, off-screen", small, { -1, 5000 }, 128, { 448, 256 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(pivotOnScreen(c.layout, c.pivot, c.length, kSize), c.expected) << c.what;
}

TEST(ScreenGeometry, WindowOnScreen)
{
    struct Case {
        const char* what;
        MonitorLayout layout;
        ScreenRect frame;
        ScreenRect expected;
    };
    const MonitorLayout small { { { 0, 0, 640, 480 } }, 0 };
    const MonitorLayout two { { kMiddle, kRight }, 1 };
    const Case cases[] = {
        { "wholly on the screen", small, { 10, 20, 290, 300 }, { 10, 20, 290, 300 } },
        { "centred on the large screen, off the small one", small, { 372, 256, 652, 512 }, { 180, 112, 460, 368 } },
        { "touching the edges", small, { 360, 200, 640, 480 }, { 360, 200, 640, 480 } },
        { "on the other monitor", two, { 100, 100, 380, 356 }, { 100, 100, 380, 356 } },
        { "straddling two monitors: to the primary", two, { 900, 100, 1180, 356 }, { 1396, 256, 1676, 512 } },
        { "off every monitor", two, { 5000, 100, 5280, 356 }, { 1396, 256, 1676, 512 } },
        { "larger than the monitor: top-left on it", small, { 50, 50, 850, 650 }, { 0, 0, 800, 600 } },
        { "no monitors", MonitorLayout {}, { 5000, 5000, 5100, 5100 }, { 5000, 5000, 5100, 5100 } },
    };
    for (const Case& c : cases) {
        const ScreenRect r = windowOnScreen(c.layout, c.frame);
        EXPECT_EQ((std::vector<int> { r.left, r.top, r.right, r.bottom }),
                  (std::vector<int> { c.expected.left, c.expected.top, c.expected.right, c.expected.bottom }))
            << c.what;
    }
}

TEST(ScreenGeometry, StartPivotKeepsVisiblePivotsAndRescuesLostOnes)
{
    struct Case {
        const char* what;
        MonitorLayout layout;
        Pivot saved;
        Pivot expected;
    };
    const MonitorLayout two { { kMiddle, kRight }, 0 };
    const MonitorLayout secondPrimary { { kMiddle, kRight }, 1 };
    const Case cases[] = {
        { "never placed stays for the figure window", two, { -1, -1 }, { -1, -1 } },
        { "never placed, no monitors", MonitorLayout {}, { -1, 5 }, { -1, 5 } },
        { "on the primary", two, { 300, 200 }, { 300, 200 } },
        { "on the other monitor", two, { 1500, 200 }, { 1500, 200 } },
        { "monitor gone: first-run place on the primary", MonitorLayout { { kMiddle }, 0 }, { 1500, 200 }, { 832, 544 } },
        { "off every monitor, primary second", secondPrimary, { 5000, 200 }, { 1856, 544 } },
        { "primary out of range: the first monitor", MonitorLayout { { kRight, kMiddle }, 7 }, { 5000, 200 }, { 1856, 544 } },
        { "negative primary: the first monitor", MonitorLayout { { kMiddle }, -1 }, { 5000, 200 }, { 832, 544 } },
        { "far above the screen", two, { 300, -100000 }, { 832, 544 } },
        { "no monitors known: nothing to judge by", MonitorLayout {}, { 5000, 200 }, { 5000, 200 } },
    };
    for (const Case& c : cases) {
        const Pivot p = startPivot(c.layout, c.saved, 128, kSize);
        EXPECT_EQ(p.x, c.expected.x) << c.what;
        EXPECT_EQ(p.y, c.expected.y) << c.what;
    }
}

TEST(ScreenGeometry, CornerPivots)
{
    struct Case {
        ScreenRect monitor;
        int length;
        Corner corner;
        Pivot pivot;
    };
    const Case cases[] = {
        // One monitor at the origin: the panel's corner formulas as they were.
        { kOne, 128, Corner::TopLeft, { 150, 20 } },
        { kOne, 128, Corner::BottomLeft, { 150, 544 } },
        { kOne, 128, Corner::TopRight, { 825, 20 } },
        { kOne, 128, Corner::BottomRight, { 825, 544 } },
        { { 0, 0, 800, 600 }, 128, Corner::TopRight, { 601, 20 } },
        { kOne, 50, Corner::TopRight, { 888, 20 } },
        { kOne, 50, Corner::BottomRight, { 888, 622 } },
        { kOne, 400, Corner::TopLeft, { 368, 20 } },
        { kOne, 400, Corner::BottomLeft, { 368, 272 } },
        // Another monitor: the same corners of that monitor.
        { kRight, 128, Corner::TopLeft, { 1174, 20 } },
        { kRight, 128, Corner::BottomRight, { 1849, 544 } },
        { { 1024, 312, 2048, 1080 }, 128, Corner::TopRight, { 1849, 332 } },
        { { 1024, 312, 2048, 1080 }, 128, Corner::BottomLeft, { 1174, 856 } },
        // Left of the origin the sums still truncate toward zero.
        { kLeft, 128, Corner::TopLeft, { -1129, 20 } },
        { kLeft, 128, Corner::TopRight, { -198, 20 } },
    };
    for (const Case& c : cases) {
        const Pivot p = cornerPivot(c.monitor, c.corner, c.length, kSize);
        EXPECT_EQ(p.x, c.pivot.x) << c.monitor.left << " corner " << int(c.corner) << " length " << c.length;
        EXPECT_EQ(p.y, c.pivot.y) << c.monitor.left << " corner " << int(c.corner) << " length " << c.length;
    }
    // Lengths no slider gives (a hand-edited file) stay in range.
    const ScreenRect farLeft { INT_MIN, INT_MIN, INT_MIN + 1000, INT_MIN + 1000 };
    const Pivot low = cornerPivot(farLeft, Corner::BottomRight, INT_MAX, kSize);
    EXPECT_EQ(low.x, INT_MIN);
    EXPECT_EQ(low.y, INT_MIN);
    const ScreenRect farRight { INT_MAX - 1000, INT_MAX - 1000, INT_MAX, INT_MAX };
    const Pivot high = cornerPivot(farRight, Corner::BottomLeft, INT_MIN, kSize);
    EXPECT_EQ(high.y, INT_MAX);
}

TEST(ScreenGeometry, MonitorHoldingPivot)
{
    struct Case {
        const char* what;
        Pivot pivot;
        int length;
        int expectedLeft;
    };
    const MonitorLayout row { { kLeft, kMiddle, kRight }, 1 };
    const Case cases[] = {
        { "pivot on the left monitor", { -600, 300 }, 128, kLeft.left },
        { "pivot on the primary", { 500, 300 }, 128, kMiddle.left },
        { "pivot on the right monitor", { 1100, 20 }, 128, kRight.left },
        { "pivot on the edge belongs to the right", { 1024, 20 }, 128, kRight.left },
        { "pivot above, figure on the right monitor", { 1500, -50 }, 128, kRight.left },
        { "pivot and figure nowhere: the primary", { 9000, 9000 }, 128, kMiddle.left },
    };
    for (const Case& c : cases)
        EXPECT_EQ(monitorHoldingPivot(row, c.pivot, c.length, kSize).left, c.expectedLeft) << c.what;
    EXPECT_TRUE(monitorHoldingPivot(MonitorLayout {}, { 0, 0 }, 128, kSize).empty());
}

TEST(ScreenGeometry, FrameSizeAtRatio)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double ratio;
        int size;
        int art;
    } cases[] = {
        { 1.0, 96, 1 }, { 1.25, 120, 2 }, { 1.5, 144, 2 }, { 1.75, 168, 2 }, { 2.0, 192, 2 },
        { 3.0, 288, 2 }, { 0.5, 48, 1 }, { 1.004, 96, 1 }, { 1.006, 97, 2 },
        // Nonsense from a broken screen description draws at 1, or at most 8x.
        { 0.0, 96, 1 }, { -2.0, 96, 1 }, { nan, 96, 1 }, { inf, 96, 1 }, { 100.0, 768, 2 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameSizeAtRatio(96, c.ratio), c.size) << c.ratio;
        EXPECT_EQ(artScaleForRatio(c.ratio), c.art) << c.ratio;
    }
}

TEST(ScreenGeometry, LogicalDeviceConversion)
{
    const struct {
        double ratio;
        int logical;
        int device;
    } toDevice[] = {
        { 1.0, 0, 0 }, { 1.0, 1023, 1023 }, { 1.0, -1280, -1280 },
        { 1.25, 1, 1 }, { 1.25, 2, 3 }, { 1.25, 3, 4 }, { 1.25, 4, 5 }, { 1.25, -2, -2 }, { 1.25, 1024, 1280 },
        { 1.5, 1, 2 }, { 1.5, -1, -1 }, { 1.5, 1023, 1535 }, { 1.5, 1280, 1920 },
        { 2.0, 512, 1024 }, { 2.0, -7, -14 }, { 2.0, 96, 192 },
        { 2.0, INT_MAX, INT_MAX }, { 2.0, INT_MIN, INT_MIN },
    };
    for (const auto& c : toDevice)
        EXPECT_EQ(logicalToDevice(c.logical, c.ratio), c.device) << c.ratio << " " << c.logical;

    const struct {
        double ratio;
        int device;
        int logical;
    } toLogical[] = {
        { 1.0, 777, 777 }, { 1.25, 1280, 1024 }, { 1.25, 3, 2 }, { 1.25, 5, 4 }, { 1.25, -3, -2 },
        { 1.5, 1535, 1023 }, { 1.5, 3, 2 }, { 1.5, -3, -2 }, { 1.5, 1920, 1280 },
        { 2.0, 1023, 512 }, { 2.0, -1, 0 }, { 2.0, 3839, 1920 },
    };
    for (const auto& c : toLogical)
        EXPECT_EQ(deviceToLogical(c.device, c.ratio), c.logical) << c.ratio << " " << c.device;

    for (double ratio : { 1.0, 1.25, 1.5, 2.0 }) {
        // Logical -> device -> logical is exact: a pivot survives the trip to
        // the X server and back.
        for (int l = -3000; l <= 3000; ++l)
            ASSERT_EQ(deviceToLogical(logicalToDevice(l, ratio), ratio), l) << ratio;
        // Moving a point by a whole number of device pixels' worth of logical
        // pixels moves its device position by exactly that much, on either
        // side of the origin (a monitor left of the primary has negative x).
        const int step = ratio == 1.25 ? 4 : 2;
        const int deviceStep = static_cast<int>(step * ratio);
        for (int l = -3000; l <= 3000; ++l)
            ASSERT_EQ(logicalToDevice(l + step, ratio), logicalToDevice(l, ratio) + deviceStep) << ratio << " " << l;
    }
}

} // namespace
