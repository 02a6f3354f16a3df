// The monitor list as the program sees it: every screen of the desktop in
// Qt's pixels, the primary named by its index, and the desktop rectangle the
// primary's. Runs on the offscreen platform with three screens of its own.
#include "platform/Desktop.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <vector>

namespace {

TEST(MonitorLayout, EveryScreenOfTheDesktopAndWhichIsPrimary)
{
    const MonitorLayout layout = monitorLayout();
    ASSERT_EQ(layout.monitors.size(), 3u);
    const struct {
        int left, top, right, bottom;
    } expected[] = {
        { 0, 0, 1024, 768 },
        { 1024, 0, 2304, 1024 },
        { -800, 100, 0, 700 },
    };
    for (std::size_t i = 0; i < layout.monitors.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(layout.monitors[i].left, expected[i].left);
        EXPECT_EQ(layout.monitors[i].top, expected[i].top);
        EXPECT_EQ(layout.monitors[i].right, expected[i].right);
        EXPECT_EQ(layout.monitors[i].bottom, expected[i].bottom);
    }
    EXPECT_EQ(layout.primary, 0);
    const DesktopRect primary = desktopRect();
    EXPECT_EQ(primary.left, layout.primaryRect().left);
    EXPECT_EQ(primary.right, layout.primaryRect().right);
    EXPECT_EQ(primary.bottom, layout.primaryRect().bottom);
}

TEST(MonitorLayout, APivotOnTheLeftMonitorIsKeptAndOneOffAllIsMoved)
{
    const MonitorLayout layout = monitorLayout();
    EXPECT_TRUE(figureVisibleAtRest(layout, { -500, 200 }, 128, 96));
    EXPECT_FALSE(figureVisibleAtRest(layout, { -500, 700 }, 128, 96));
    const Pivot moved = startPivot(layout, { 5000, 5000 }, 128, 96);
    EXPECT_EQ(moved.x, 832);
    EXPECT_EQ(moved.y, 544);
}

} // namespace

int main(int argc, char** argv)
{
    // The primary at the origin, a larger one to its right and a smaller one
    // to its left, below its top.
    QTemporaryDir dir;
    const QString config = dir.filePath("screens.json");
    QFile file(config);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [
        {"name": "a", "x": 0, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBpi": 96, "dpr": 1},
        {"name": "b", "x": 1024, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBpi": 96, "dpr": 1},
        {"name": "c", "x": -800, "y": 100, "width": 800, "height": 600, "logicalDpi": 96, "logicalBpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
