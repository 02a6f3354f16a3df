#pragma once

#include "platform/FigureSurface.h"
#include "settings/AppSettings.h"
#include "settings/AppShell.h"
#include "settings/ScreenGeometry.h"
#include "swing/FigureCompositor.h"
#include "swing/PendulumMotion.h"

#include <QBasicTimer>
#include <QWidget>

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

    // The monitors changed: a figure that no longer shows on any of them goes
    // to the first-run place, as at start.
    void keepOnScreen(const MonitorLayout& layout);

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

    AppSettings& settings_;
    AppShell& shell_;
    SurfaceLoader* loader_ = nullptr;
    std::unique_ptr<FigureSurface> surface_;
    QBasicTimer timer_;
    // Where the window is, in logical pixels (the motion's rectangle, whose
    // height says whether the tick is short) and in the X server's.
    WindowRect rect_ { 0, 0, figure::kWindowWidth, figure::kWindowHeight };
    int deviceLeft_ = 0;
    int deviceTop_ = 0;
    double ratio_ = 1.0;
    bool created_ = false;
    bool keepAbove_ = false;
    // Drag state: the press point in window coordinates.
    int dragInProgress = 0;
    int grabX = 0;
    int grabY = 0;
};
