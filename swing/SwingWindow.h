#pragma once

#include "platform/FigureSurface.h"
#include "platform/SurfaceLoader.h"
#include "settings/AppSettings.h"
#include "swing/AppShell.h"
#include "settings/ScreenGeometry.h"
#include "swing/FigureFrames.h"
#include "swing/FigurePresence.h"
#include "swing/PendulumMotion.h"

#include <QBasicTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>

class DesktopWatch;
class SessionWatch;

// The small borderless window that shows the figure and moves it along the
// pendulum path. It ties the motion, the surface the figure is shown on and
// the user's input together. What it asks of other windows (the panel, the
// viewers, a sound, a document's program) goes through the application.
class SwingWindow : public QWidget {
    Q_OBJECT

public:
    SwingWindow(AppSettings& settings, AppShell& shell);
    ~SwingWindow() override;

    // Creates the on-screen window at its first position, loads the figure,
    // fixes the pivot on the first run, starts the sound and the swing timer.
    void createWindow();
    // Stops the timer and takes the window off the screen.
    void destroyWindow();
    bool isCreated() const { return created_; }

    // The monitors changed: a figure that no longer shows on any of them goes
    // to the first-run place, as at start.
    void keepOnScreen(const MonitorLayout& layout);

    // Timer 1: stop and start again with the current tickInterval (not
    // while asleep: then it starts on waking).
    void killSwingTimer();
    void restartSwingTimer();
    bool swingTimerActive() const { return timer_.isActive(); }
    // Keeps the window above ordinary windows, or lets them cover it.
    void setTopMost(bool on);
    bool keepsAbove() const { return keepAbove_; }

    // Replace the frames; the next tick shows them. loadFigure takes the
    // figure list's index: a built-in figure, or a picture of the user's;
    // false, with nothing changed, when that picture cannot be read.
    bool loadFigure(int index);
    void loadBuiltInFigure(int baseId);
    int loadPictureFigure(const std::string& path);

    // One timer tick: motion, then the figure at its new place.
    void swingTick();

    // Off the screen for a fullscreen window, or asleep while nobody can see
    // it, as the desktop's facts decide (see FigurePresence). Waking, it
    // swings on from where it was, goes back on top when kept there, and in
    // the grab-and-composite fallback reads the screen behind it afresh.
    Presence presence() const { return presence_; }
    // What the desktop says, as the watchers hear it (and a test may say).
    // keepAbove and composited are the window's own and taken from it.
    void setDesktopFacts(const DesktopFacts& facts);
    const DesktopFacts& desktopFacts() const { return facts_; }
    void activeWindowChanged(std::uint32_t id);
    void windowChanged(const RecentWindow& window);
    void windowGone(std::uint32_t id);

    PendulumMotion motion;
    FigureFrames frames;

    // Hands a dropped file to the application with what it is to do, as the
    // substrings of its name and the settings decide (dropActionFor).
    void handleDroppedFile(const std::string& name);
    // Files dropped and not yet handled: a drop is answered at once and its
    // files are handled one per turn of the event loop, so that the drag's
    // source is not kept waiting and the figure goes on swinging between them.
    bool dropsPending() const { return !pendingDrops_.empty(); }
    // Forgets the files not yet handled (the run is ending).
    void cancelPendingDrops() { pendingDrops_.clear(); }

protected:
    QPaintEngine* paintEngine() const override;
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Makes the native window and its surface for the kind that suits the
    // display, showing the figure at rect_; again when that kind changes.
    void makeSurface();
    FigureSurface::Kind bestKind() const;
    // Shows the window, then lets the surface follow up on the map.
    void mapFigure();
    // The figure at r.
    void showAt(const WindowRect& r);
    void framesChanged();
    // Listens to the desktop and the session, and reads what they say now.
    void watchDesktop();
    // Decides again from the facts known, and acts on it.
    void reconsider();
    void applyPresence(const Presence& p);
    void handleNextDrop();

    AppSettings& settings_;
    AppShell& shell_;
    SurfaceLoader loader_;
    std::unique_ptr<FigureSurface> surface_;
    QBasicTimer timer_;
    QBasicTimer dropTimer_;
    std::deque<std::string> pendingDrops_;
    // A file's handling may wait in a box's loop, where the next file must not start.
    bool handlingDrop_ = false;
    // Where the window is, in logical pixels: the motion's rectangle, whose
    // height says whether the tick is short.
    WindowRect rect_ { 0, 0, figure::kWindowWidth, figure::kWindowHeight };
    double ratio_ = 1.0;
    bool created_ = false;
    bool keepAbove_ = false;
    // What the desktop and the session say, and what was made of it.
    DesktopWatch* desktop_ = nullptr;
    SessionWatch* session_ = nullptr;
    RecentWindows recent_;
    DesktopFacts facts_;
    Presence presence_;
    // The pivot and length the last decision was made for.
    Pivot decidedPivot_;
    int decidedLength_ = 0;
    // Drag state: the press point in window coordinates.
    int dragInProgress = 0;
    int grabX = 0;
    int grabY = 0;
};
