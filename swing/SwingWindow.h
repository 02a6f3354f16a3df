#pragma once

#include "platform/FigureSurface.h"
#include "settings/AppSettings.h"
#include "settings/AppShell.h"
#include "swing/FigureCompositor.h"
#include "swing/PendulumMotion.h"

#include <QBasicTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>

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

    // Timer 1: stop and start again with the current tickInterval.
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

    // What the figure is shown on now (see FigureSurface).
    FigureSurface::Kind surfaceKind() const;

    PendulumMotion motion;
    FigureCompositor compositor;

    // What a dropped file does, by the substrings of its name.
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
    // The figure at r: the screen read there first when the surface needs it.
    void showAt(const WindowRect& r);
    void framesChanged();
    void handleNextDrop();

    AppSettings& settings_;
    AppShell& shell_;
    SurfaceLoader* loader_ = nullptr;
    std::unique_ptr<FigureSurface> surface_;
    QBasicTimer timer_;
    QBasicTimer dropTimer_;
    std::deque<std::string> pendingDrops_;
    // A file's handling may wait in a box's loop, where the next file must not start.
    bool handlingDrop_ = false;
    // Where the window is, in logical pixels and in the X server's.
    WindowRect rect_ { 0, 0, FigureCompositor::kFrameSize, FigureCompositor::kFrameSize };
    WindowRect deviceRect_ { 0, 0, FigureCompositor::kFrameSize, FigureCompositor::kFrameSize };
    double ratio_ = 1.0;
    bool created_ = false;
    bool keepAbove_ = false;
    // Drag state: the press point in window coordinates.
    int dragInProgress = 0;
    int grabX = 0;
    int grabY = 0;
};
