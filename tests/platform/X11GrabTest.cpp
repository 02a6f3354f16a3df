// Screen grabs against a real X server: starts its own Xvfb (depth from
// TASSIO_TEST_XVFB_DEPTH, 24 by default), paints a known pattern on the root window
// and compares what every grabber reads back.
#include "ChildProcess.h"
#include "platform/QtScreenGrabber.h"
#include "platform/ScreenGrabber.h"
#include "platform/XcbScreenGrabber.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

constexpr int kScreenW = 320;
constexpr int kScreenH = 240;
constexpr std::uint32_t kUntouched = 0xDEADBEEF;

// Distinct for every pixel of the screen and never black, so misplaced or missing
// pixels cannot pass for each other or for the black outside.
std::uint32_t patternAt(int x, int y)
{
    return (std::uint32_t(y & 0xFF) << 16) | (std::uint32_t(x & 0xFF) << 8) | 0x40u |
           std::uint32_t(x >> 8) | (std::uint32_t(y >> 8) << 1);
}

std::uint32_t to565(std::uint32_t rgb)
{
    return ((rgb >> 19) & 0x1F) << 11 | ((rgb >> 10) & 0x3F) << 5 | ((rgb >> 3) & 0x1F);
}

struct Display {
    ChildProcess xvfb;
    int depth = 24;
    std::string name;
    xcb_connection_t* painter = nullptr; // our own connection, for drawing on the root
    xcb_screen_t* screen = nullptr;
    std::unique_ptr<QGuiApplication> app;
    std::string skipReason;
};

Display* g_display = nullptr;

// The test's own home, which the build makes for each test; /tmp only when
// the test is run by hand without one.
std::string logFolder()
{
    const char* home = std::getenv("HOME");
    return home && *home && ::access(home, W_OK) == 0 ? home : "/tmp";
}

bool startXvfb(Display& d)
{
    const std::string xvfb = ChildProcess::findInPath("Xvfb");
    if (xvfb.empty()) {
        d.skipReason = "Xvfb is not installed";
        return false;
    }
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string geometry =
        std::to_string(kScreenW) + "x" + std::to_string(kScreenH) + "x" + std::to_string(d.depth);
    const bool started = d.xvfb.start({xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", geometry,
                                       "-noreset", "-nolisten", "tcp"},
                                      logFolder() + "/x11-grab-test-xvfb-" + std::to_string(d.depth) + ".log", fds[1]);
    ::close(fds[1]);
    // Xvfb writes the display number it chose once it accepts connections.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (started && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char c;
        if (::read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty())
        return false;
    d.name = ":" + number;
    return true;
}

void sync(xcb_connection_t* c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Paints colour(x, y) over the rectangle, in strips that fit one request.
template <typename Colour>
void paint(int x0, int y0, int w, int h, Colour colour)
{
    Display& d = *g_display;
    const xcb_gcontext_t gc = xcb_generate_id(d.painter);
    xcb_create_gc(d.painter, gc, d.screen->root, 0, nullptr);
    const int bytesPerPixel = d.depth == 16 ? 2 : 4;
    const int stripRows = 16;
    for (int top = y0; top < y0 + h; top += stripRows) {
        const int rows = std::min(stripRows, y0 + h - top);
        const int rowBytes = (w * bytesPerPixel + 3) / 4 * 4;
        std::vector<std::uint8_t> data(std::size_t(rowBytes) * rows, 0);
        for (int r = 0; r < rows; ++r) {
            for (int col = 0; col < w; ++col) {
                std::uint32_t rgb = colour(x0 + col, top + r);
                std::uint32_t pixel = d.depth == 16 ? to565(rgb) : rgb;
                for (int b = 0; b < bytesPerPixel; ++b)
                    data[std::size_t(r) * rowBytes + std::size_t(col) * bytesPerPixel + b] =
                        std::uint8_t(pixel >> (8 * b));
            }
        }
        xcb_put_image(d.painter, XCB_IMAGE_FORMAT_Z_PIXMAP, d.screen->root, gc, std::uint16_t(w),
                      std::uint16_t(rows), std::int16_t(x0), std::int16_t(top), 0, std::uint8_t(d.depth),
                      std::uint32_t(data.size()), data.data());
    }
    xcb_free_gc(d.painter, gc);
    sync(d.painter);
}

void paintPattern()
{
    paint(0, 0, kScreenW, kScreenH, patternAt);
}

class X11Environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_display = new Display;
        Display& d = *g_display;
        if (const char* depth = std::getenv("TASSIO_TEST_XVFB_DEPTH"))
            d.depth = std::atoi(depth);
        if (!startXvfb(d)) {
            if (d.skipReason.empty())
                d.skipReason = "Xvfb did not start";
            return;
        }
        ::setenv("DISPLAY", d.name.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        d.painter = xcb_connect(d.name.c_str(), nullptr);
        if (xcb_connection_has_error(d.painter)) {
            d.skipReason = "cannot connect to " + d.name;
            return;
        }
        d.screen = xcb_setup_roots_iterator(xcb_get_setup(d.painter)).data;
        ASSERT_EQ(d.screen->root_depth, d.depth);
        paintPattern();
        static int argc = 1;
        static char arg0[] = "platform_x11_grab_test";
        static char* argv[] = {arg0, nullptr};
        d.app = std::make_unique<QGuiApplication>(argc, argv);
    }

    void TearDown() override
    {
        // Qt must let go of the display before the server goes away.
        g_display->app.reset();
        if (g_display->painter != nullptr)
            xcb_disconnect(g_display->painter);
        g_display->xvfb.stop();
        delete g_display;
        g_display = nullptr;
    }
};

#define REQUIRE_DISPLAY()                                  \
    do {                                                   \
        if (!g_display->skipReason.empty())                \
            GTEST_SKIP() << g_display->skipReason;         \
        ASSERT_NE(g_display->app, nullptr);                \
    } while (0)

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

struct NamedGrabber {
    std::string name;
    std::unique_ptr<ScreenGrabber> grabber;
};

// Every grabber that can work on this display.
std::vector<NamedGrabber> allGrabbers()
{
    std::vector<NamedGrabber> out;
    if (auto shm = XcbScreenGrabber::create(qtConnection(), 0, true))
        out.push_back({"xcb shm", std::move(shm)});
    if (auto plain = XcbScreenGrabber::create(qtConnection(), 0, false))
        out.push_back({"xcb get_image", std::move(plain)});
    out.push_back({"qt", std::make_unique<QtScreenGrabber>()});
    out.push_back({"create()", ScreenGrabber::create()});
    return out;
}

bool sameColour(std::uint32_t got, std::uint32_t want)
{
    if (got > 0xFFFFFF)
        return false;
    if (g_display->depth != 16)
        return got == want;
    // 5 and 6 bits a channel: compare to within the quantisation step.
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = int((got >> shift) & 0xFF), b = int((want >> shift) & 0xFF);
        if (std::abs(a - b) > 8)
            return false;
    }
    return true;
}

TEST(X11Grab, CreatePicksTheFastPathOnlyWhereItApplies)
{
    REQUIRE_DISPLAY();
    const std::unique_ptr<ScreenGrabber> grabber = ScreenGrabber::create();
    ASSERT_NE(grabber, nullptr);
    auto* xcb = dynamic_cast<XcbScreenGrabber*>(grabber.get());
    if (g_display->depth == 24) {
        ASSERT_NE(xcb, nullptr);
        EXPECT_TRUE(xcb->usesSharedMemory());
    } else {
        EXPECT_EQ(xcb, nullptr);
        EXPECT_EQ(XcbScreenGrabber::create(qtConnection(), 0), nullptr);
        EXPECT_NE(dynamic_cast<QtScreenGrabber*>(grabber.get()), nullptr);
    }
    EXPECT_EQ(XcbScreenGrabber::create(qtConnection(), 1), nullptr); // no second screen
    EXPECT_EQ(XcbScreenGrabber::create(nullptr, 0), nullptr);
}

TEST(X11Grab, ReadsTheRootPixelsAndBlackOutside)
{
    REQUIRE_DISPLAY();
    paintPattern();
    const struct {
        const char* name;
        int x, y, w, h;
        bool anything;
    } cases[] = {
        {"inside", 10, 20, 96, 96, true},
        {"origin", 0, 0, 96, 96, true},
        {"off the top-left", -30, -40, 96, 96, true},
        {"off the bottom-right", kScreenW - 20, kScreenH - 40, 96, 96, true},
        {"larger than the screen", -10, -5, kScreenW + 30, kScreenH + 10, true},
        {"last pixel", kScreenW - 1, kScreenH - 1, 1, 1, true},
        {"narrow column", 257, 0, 1, kScreenH, true},
        {"inside again after larger grabs", 100, 100, 96, 96, true},
        {"entirely off", kScreenW, 0, 96, 96, false},
        {"entirely above", 0, -96, 96, 96, false},
    };
    for (NamedGrabber& g : allGrabbers()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(g.name + ": " + c.name);
            const int stride = c.w + 3;
            std::vector<std::uint32_t> buffer(std::size_t(stride) * c.h, kUntouched);
            ASSERT_EQ(g.grabber->grab(c.x, c.y, c.w, c.h, buffer.data(), stride), c.anything);
            int bad = 0;
            for (int row = 0; row < c.h && bad < 5; ++row) {
                for (int col = 0; col < stride && bad < 5; ++col) {
                    const std::uint32_t got = buffer[std::size_t(row) * stride + col];
                    const int sx = c.x + col, sy = c.y + row;
                    bool ok;
                    if (col >= c.w)
                        ok = got == kUntouched;
                    else if (sx < 0 || sy < 0 || sx >= kScreenW || sy >= kScreenH || !c.anything)
                        ok = got == 0;
                    else
                        ok = sameColour(got, patternAt(sx, sy));
                    if (!ok) {
                        ++bad;
                        ADD_FAILURE() << "pixel " << col << "," << row << " (screen " << sx << "," << sy
                                      << ") is " << std::hex << got;
                    }
                }
            }
        }
    }
}

TEST(X11Grab, SeesEveryChangeOfTheScreen)
{
    REQUIRE_DISPLAY();
    const std::uint32_t colours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080};
    for (NamedGrabber& g : allGrabbers()) {
        for (std::uint32_t colour : colours) {
            SCOPED_TRACE(g.name);
            paint(50, 50, 96, 96, [colour](int, int) { return colour; });
            std::vector<std::uint32_t> buffer(96 * 96, kUntouched);
            ASSERT_TRUE(g.grabber->grab(50, 50, 96, 96, buffer.data(), 96));
            std::size_t matching = 0;
            for (std::uint32_t p : buffer)
                matching += sameColour(p, colour) ? 1 : 0;
            EXPECT_EQ(matching, buffer.size()) << std::hex << colour;
        }
    }
    paintPattern();
}

std::set<long> ownSharedSegments();

// Shared segments this process created, by id, from the kernel's table (removed
// segments stay listed while attached).
std::set<long> ownSharedSegments()
{
    std::set<long> ids;
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long key, id, perms, size, cpid;
        if (fields >> key >> id >> perms >> size >> cpid && cpid == ::getpid())
            ids.insert(id);
    }
    return ids;
}

TEST(X11Grab, SharedSegmentIsAllocatedOnceAndReleased)
{
    REQUIRE_DISPLAY();
    if (g_display->depth != 24)
        GTEST_SKIP() << "no xcb grabber at depth " << g_display->depth;
    if (!std::ifstream("/proc/sysvipc/shm"))
        GTEST_SKIP() << "no /proc/sysvipc/shm";
    const std::set<long> before = ownSharedSegments();
    auto grabber = XcbScreenGrabber::create(qtConnection(), 0, true);
    ASSERT_NE(grabber, nullptr);
    std::vector<std::uint32_t> buffer(200 * 150);

    ASSERT_TRUE(grabber->grab(10, 10, 96, 96, buffer.data(), 96));
    const std::set<long> first = ownSharedSegments();
    ASSERT_EQ(first.size(), before.size() + 1);
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(grabber->grab(i % 200, i % 100, 96, 96, buffer.data(), 96));
    ASSERT_TRUE(grabber->grab(0, 0, 40, 40, buffer.data(), 40));
    EXPECT_EQ(ownSharedSegments(), first) << "smaller and equal grabs must reuse the segment";

    ASSERT_TRUE(grabber->grab(0, 0, 200, 150, buffer.data(), 200));
    const std::set<long> grown = ownSharedSegments();
    EXPECT_EQ(grown.size(), before.size() + 1) << "the old segment must go when a larger one comes";
    EXPECT_NE(grown, first);
    EXPECT_TRUE(grabber->usesSharedMemory());

    grabber.reset();
    sync(qtConnection()); // the server has detached once this returns
    EXPECT_EQ(ownSharedSegments(), before);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new X11Environment);
    return RUN_ALL_TESTS();
}
