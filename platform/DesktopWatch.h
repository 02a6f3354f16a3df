#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <vector>

class QWidget;

// What the X server tells of the desktop around the figure, from events only:
// the active window, the state of the windows the caller asks about, the
// screen saver, a compositing manager coming or going, and whether the
// figure's own window is covered. Where Qt is not on X11 it stays silent and
// reports nothing.
class DesktopWatch : public QObject {
    Q_OBJECT

public:
    struct WindowState {
        std::uint32_t id = 0;
        bool shown = false;      // viewable, and not minimised
        bool fullscreen = false; // _NET_WM_STATE_FULLSCREEN
        int x = 0, y = 0, width = 0, height = 0; // on the root, in the server's pixels
    };

    explicit DesktopWatch(QObject* parent = nullptr);
    ~DesktopWatch() override;

    // On X11, where all of this means something.
    bool isActive() const;
    // The desktop's active window as the root names it now; 0 for none.
    std::uint32_t activeWindow() const;
    // The screen saver, as the server said at start and since.
    bool saverOn() const;

    // Hears of changes to these windows, and only these: events are selected
    // on each new one (ids are reused, so a window that comes back is new)
    // and let go for those no longer named. The state of each new one is
    // reported at once, through windowChanged or windowGone.
    void watchWindows(const std::vector<std::uint32_t>& ids);
    // Reads the state of every watched window again (a desktop switch may
    // hide them without a word to the window itself).
    void rereadWindows();

    // The figure's window: whether it is fully covered is reported from now
    // on. Again each time the window is made anew.
    void watchFigure(QWidget& figure);
    // Whether a compositing manager runs now (it owns _NET_WM_CM_Sn).
    bool compositing() const;

signals:
    void activeWindowChanged(quint32 id);
    void windowChanged(const DesktopWatch::WindowState& state);
    void windowGone(quint32 id);
    void saverChanged(bool on);
    // A compositing manager came or went: compositing() may differ now.
    void compositingChanged();
    // Fully covered or not; byUnmanaged: an override-redirect window (a
    // locker's, say) is one of those above it there.
    void figureCovered(bool covered, bool byUnmanaged);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
