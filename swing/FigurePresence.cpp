#include "swing/FigurePresence.h"

#include <algorithm>

std::uint32_t RecentWindows::activated(std::uint32_t id)
{
    if (id == 0)
        return 0;
    auto it = std::find_if(windows_.begin(), windows_.end(), [id](const RecentWindow& w) { return w.id == id; });
    if (it != windows_.end()) {
        std::rotate(windows_.begin(), it, it + 1);
        return 0;
    }
    RecentWindow fresh;
    fresh.id = id;
    windows_.insert(windows_.begin(), fresh);
    if (windows_.size() <= kKept)
        return 0;
    const std::uint32_t dropped = windows_.back().id;
    windows_.pop_back();
    return dropped;
}

void RecentWindows::update(const RecentWindow& window)
{
    for (RecentWindow& w : windows_)
        if (w.id == window.id)
            w = window;
}

void RecentWindows::forget(std::uint32_t id)
{
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [id](const RecentWindow& w) { return w.id == id; }),
                   windows_.end());
}

bool RecentWindows::contains(std::uint32_t id) const
{
    return std::any_of(windows_.begin(), windows_.end(), [id](const RecentWindow& w) { return w.id == id; });
}

std::vector<std::uint32_t> RecentWindows::ids() const
{
    std::vector<std::uint32_t> ids;
    for (const RecentWindow& w : windows_)
        ids.push_back(w.id);
    return ids;
}

bool liesOn(const ScreenRect& window, const ScreenRect& monitor)
{
    if (window.empty() || monitor.empty())
        return false;
    // In double: the sides of a rectangle far out may not fit an int, nor
    // its area a long long.
    auto span = [](int a0, int a1, int b0, int b1) {
        return std::max(0.0, double(std::min(a1, b1)) - double(std::max(a0, b0)));
    };
    auto area = [](const ScreenRect& r) { return (double(r.right) - r.left) * (double(r.bottom) - r.top); };
    const double shared = span(window.left, window.right, monitor.left, monitor.right)
        * span(window.top, window.bottom, monitor.top, monitor.bottom);
    return shared > 0 && 2 * shared >= std::min(area(window), area(monitor));
}

Presence decidePresence(const RecentWindows& recent, const ScreenRect& swingMonitor, const DesktopFacts& facts)
{
    Presence p;
    for (const RecentWindow& w : recent.windows()) {
        // A minimised or unmapped window covers nothing; the one before it
        // on the monitor may.
        if (!w.shown)
            continue;
        if (!swingMonitor.empty() && !liesOn(w.rect, swingMonitor))
            continue;
        p.standAside = w.fullscreen;
        break;
    }
    const bool covered = !facts.composited && facts.obscured && (!facts.keepAbove || facts.obscuredByUnmanaged);
    p.asleep = p.standAside || facts.saverOn || facts.saverServiceOn || facts.sessionLocked || facts.sessionInactive
        || facts.preparingForSleep || covered;
    return p;
}
