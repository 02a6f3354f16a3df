#pragma once

#include "settings/ScreenGeometry.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Whether the figure shows and swings, from what the desktop says: it stands
// aside for a fullscreen window on its monitor, and sleeps (no timer, no
// wake-ups, no raising) while nobody can see it. Plain values, so that every
// rule is decided and tested without a display; the platform layer only turns
// X events and D-Bus signals into these facts.

// A window that was active lately, as the X server last told.
struct RecentWindow {
    std::uint32_t id = 0;
    bool shown = false;      // viewable and not minimised
    bool fullscreen = false; // _NET_WM_STATE_FULLSCREEN
    ScreenRect rect;         // on the root, in the monitors' (logical) pixels
};

// The windows that were active, most recent first, a few of them: enough to
// know which was last active on each monitor. Window ids are reused, so a
// window leaves when it is destroyed and comes back as a new one.
class RecentWindows {
public:
    static constexpr std::size_t kKept = 4;

    // The window became the active one. Returns the id that fell off the end
    // to make room, or 0.
    std::uint32_t activated(std::uint32_t id);
    // What the server says of a window now; ignored for windows not kept.
    void update(const RecentWindow& window);
    // The window is gone (destroyed, or unreadable).
    void forget(std::uint32_t id);

    bool contains(std::uint32_t id) const;
    std::vector<std::uint32_t> ids() const;
    const std::vector<RecentWindow>& windows() const { return windows_; }

private:
    std::vector<RecentWindow> windows_;
};

// Everything else that decides.
struct DesktopFacts {
    bool saverOn = false;           // the X server's screen saver (on Xorg also DPMS)
    bool saverServiceOn = false;    // a screen saver service says it is active
    bool sessionLocked = false;     // logind's LockedHint
    bool sessionInactive = false;   // logind's Active is false (another seat or user in front)
    bool preparingForSleep = false; // logind's PrepareForSleep(true) until (false)
    bool composited = false;        // a compositing manager runs
    bool obscured = false;          // the figure window is fully covered
    bool obscuredByUnmanaged = false; // ... and an override-redirect window is among those covering it
    bool keepAbove = false;         // the user keeps the figure on top
};

struct Presence {
    bool standAside = false; // off the screen
    bool asleep = false;     // no timer, never raised
    bool operator==(const Presence& o) const { return standAside == o.standAside && asleep == o.asleep; }
};

// Whether a window lies on a monitor: they share at least half the smaller
// of the two. A window spanning several monitors lies on each it covers.
bool liesOn(const ScreenRect& window, const ScreenRect& monitor);

// The figure stands aside while the window last active on the monitor that
// holds its swing is fullscreen and shown; with no monitor known, any such
// window counts. It sleeps while it stands aside, while a saver runs, the
// session is locked, not active or about to suspend, and, without a
// compositing manager (which would make every window look visible), while
// its window is fully covered: by anything when it is not kept on top, and
// when it is, only by an override-redirect window such as a locker's (a
// managed window raised over it is covered again at the next tick; a locker
// is never fought).
Presence decidePresence(const RecentWindows& recent, const ScreenRect& swingMonitor, const DesktopFacts& facts);
