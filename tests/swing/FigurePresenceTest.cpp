#include "swing/FigurePresence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Two monitors side by side, the right one shorter.
const ScreenRect kLeft { 0, 0, 1024, 768 };
const ScreenRect kRight { 1024, 0, 2048, 600 };

RecentWindow window(std::uint32_t id, ScreenRect rect, bool fullscreen, bool shown = true)
{
    RecentWindow w;
    w.id = id;
    w.rect = rect;
    w.fullscreen = fullscreen;
    w.shown = shown;
    return w;
}

// Activates the windows oldest first, so that the first listed ends up the
// most recent, and records what the server says of each.
RecentWindows history(const std::vector<RecentWindow>& newestFirst)
{
    RecentWindows r;
    for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it) {
        r.activated(it->id);
        r.update(*it);
    }
    return r;
}

} // namespace

TEST(LiesOn, SharesHalfOfTheSmaller)
{
    struct Case {
        ScreenRect window;
        ScreenRect monitor;
        bool on;
    };
    const Case cases[] = {
        { kLeft, kLeft, true },                       // fullscreen on it
        { kRight, kLeft, false },                     // fullscreen on the other
        { { 0, 0, 2048, 768 }, kLeft, true },         // spanning both
        { { 0, 0, 2048, 768 }, kRight, true },
        { { 1000, 0, 2024, 768 }, kLeft, false },     // mostly on the right one
        { { 1000, 0, 2024, 768 }, kRight, true },
        { { 512, 0, 1536, 768 }, kLeft, true },       // an exact half counts
        { { 100, 100, 300, 300 }, kLeft, true },      // a small window inside
        { { -5000, 0, -4000, 768 }, kLeft, false },   // off every monitor
        { { 10, 10, 10, 500 }, kLeft, false },        // no area
        { kLeft, ScreenRect {}, false },              // no monitor
        { { -2000000000, -2000000000, 2000000000, 2000000000 }, kLeft, true }, // huge, no overflow
    };
    for (const Case& c : cases)
        EXPECT_EQ(liesOn(c.window, c.monitor), c.on)
            << c.window.left << "," << c.window.top << " " << c.window.right << "," << c.window.bottom << " on "
            << c.monitor.left << "," << c.monitor.right;
}

TEST(RecentWindows, MostRecentFirstBoundedAndForgetful)
{
    RecentWindows r;
    EXPECT_EQ(r.activated(1), 0u);
    EXPECT_EQ(r.activated(2), 0u);
    EXPECT_EQ(r.activated(3), 0u);
    EXPECT_EQ(r.activated(0), 0u) << "no active window changes nothing";
    EXPECT_EQ(r.ids(), (std::vector<std::uint32_t> { 3, 2, 1 }));
    EXPECT_EQ(r.activated(1), 0u) << "an old one comes to the front, nothing falls off";
    EXPECT_EQ(r.ids(), (std::vector<std::uint32_t> { 1, 3, 2 }));
    EXPECT_EQ(r.activated(4), 0u);
    EXPECT_EQ(r.activated(5), 2u) << "the oldest falls off and is named, to be let go";
    EXPECT_EQ(r.ids(), (std::vector<std::uint32_t> { 5, 4, 1, 3 }));

    // A reused id: the old window's state must not stick to the new one.
    r.update(window(4, kLeft, true));
    r.forget(4);
    EXPECT_FALSE(r.contains(4));
    r.activated(4);
    EXPECT_FALSE(r.windows().front().fullscreen) << "a reused id starts unknown";
    EXPECT_FALSE(r.windows().front().shown);

    r.update(window(99, kLeft, true)); // not kept: ignored
    EXPECT_FALSE(r.contains(99));
}

TEST(FigurePresence, StandsAsideForTheLastActiveWindowOnItsMonitor)
{
    struct Case {
        const char* what;
        std::vector<RecentWindow> newestFirst;
        ScreenRect swingMonitor;
        bool standAside;
    };
    const Case cases[] = {
        { "nothing active", {}, kLeft, false },
        { "fullscreen on the figure's monitor", { window(1, kLeft, true) }, kLeft, true },
        { "fullscreen on the other monitor", { window(1, kRight, true) }, kLeft, false },
        { "fullscreen spanning both", { window(1, { 0, 0, 2048, 768 }, true) }, kRight, true },
        { "a plain window on the figure's monitor", { window(1, kLeft, false) }, kLeft, false },
        { "a click on the other monitor keeps it aside", { window(2, kRight, false), window(1, kLeft, true) }, kLeft,
          true },
        { "another window on its monitor brings it back", { window(2, { 10, 10, 400, 300 }, false),
                                                            window(1, kLeft, true) }, kLeft, false },
        { "the fullscreen window minimised or unmapped", { window(1, kLeft, true, false) }, kLeft, false },
        { "minimised, the fullscreen one under it shows again",
          { window(2, { 10, 10, 400, 300 }, false, false), window(1, kLeft, true) }, kLeft, true },
        { "a fullscreen window it was moved away from", { window(1, kLeft, true) }, kRight, false },
        { "no monitor known: any fullscreen window", { window(1, kRight, true) }, ScreenRect {}, true },
        { "not yet read (a new activation)", { RecentWindow { 7, false, false, {} } }, kLeft, false },
    };
    for (const Case& c : cases) {
        const Presence p = decidePresence(history(c.newestFirst), c.swingMonitor, DesktopFacts {});
        EXPECT_EQ(p.standAside, c.standAside) << c.what;
        EXPECT_EQ(p.asleep, c.standAside) << c.what << ": standing aside is sleeping";
    }
}

TEST(FigurePresence, SleepsWhileNobodyCanSeeIt)
{
    struct Case {
        const char* what;
        DesktopFacts facts;
        bool asleep;
    };
    auto facts = [](auto set) {
        DesktopFacts f;
        set(f);
        return f;
    };
    const Case cases[] = {
        { "nothing", DesktopFacts {}, false },
        { "the X screen saver", facts([](DesktopFacts& f) { f.saverOn = true; }), true },
        { "a screen saver service", facts([](DesktopFacts& f) { f.saverServiceOn = true; }), true },
        { "a locked session", facts([](DesktopFacts& f) { f.sessionLocked = true; }), true },
        { "an inactive session", facts([](DesktopFacts& f) { f.sessionInactive = true; }), true },
        { "about to suspend", facts([](DesktopFacts& f) { f.preparingForSleep = true; }), true },
        { "covered, not kept on top", facts([](DesktopFacts& f) { f.obscured = true; }), true },
        { "covered by a managed window, kept on top: raised at the next tick",
          facts([](DesktopFacts& f) { f.obscured = f.keepAbove = true; }), false },
        { "covered by a locker's window, kept on top: not fought",
          facts([](DesktopFacts& f) { f.obscured = f.keepAbove = f.obscuredByUnmanaged = true; }), true },
        { "covered, but composited: visibility means nothing then",
          facts([](DesktopFacts& f) { f.obscured = f.composited = true; }), false },
        { "composited, covered by a locker", facts([](DesktopFacts& f) {
              f.obscured = f.composited = f.keepAbove = f.obscuredByUnmanaged = true;
          }), false },
        { "composited and the saver on", facts([](DesktopFacts& f) { f.composited = f.saverOn = true; }), true },
        { "kept on top, nothing else", facts([](DesktopFacts& f) { f.keepAbove = true; }), false },
    };
    for (const Case& c : cases) {
        const Presence p = decidePresence(RecentWindows {}, kLeft, c.facts);
        EXPECT_EQ(p.asleep, c.asleep) << c.what;
        EXPECT_FALSE(p.standAside) << c.what << ": only a fullscreen window puts it off the screen";
    }
}
