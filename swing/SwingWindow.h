#pragma once

#include "platform/ShapeRect.h"
#include "settings/AppSettings.h"
#include "swing/FigureCompositor.h"
#include "swing/PendulumMotion.h"

#include <QBasicTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QImage;
class QSocketNotifier;
class ScreenGrabber;
class TickThread;
class WindowPainter;

// Where the next viewer window opens (x = y): 0, 16, ... 96, then 0 again.
extern int viewerCascade;

// The small borderless window that shows the figure and moves it along the
// pendulum path. It paints, around the figure, the screen content behind it,
// so that only the figure seems to hang on the desktop.
class SwingWindow : public QWidget {
    Q_OBJECT

public:
    explicit SwingWindow(AppSettings& settings);
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
    bool swingTimerActive() const;
    // Keeps the window above ordinary windows, or lets them cover it.
    void setTopMost(bool on);

    // Replace the frames; the next paint shows them.
    void loadBuiltInFigure(int baseId);
    int loadPictureFigure(const std::string& path);

    // One timer tick: motion, screen grab at the new place, move, paint.
    void swingTick();

    PendulumMotion motion;
    FigureCompositor compositor;

    // How sounds are started and documents opened; tests replace them.
    std::function<void(const std::string& wav)> playSoundAsync;
    std::function<void(const std::string& program, const std::string& document)> openDocument;

protected:
    QPaintEngine* paintEngine() const override;
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

public:
    // What a dropped file does, by the substrings of its name.
    void handleDroppedFile(const std::string& name);

private:
    void grabScreen(int left, int top);
    void moveWindow(const WindowRect& r);
    // Shows the composite, or the part of it in the given rectangle.
    void paintComposite(int x = 0, int y = 0, int w = FigureCompositor::kFrameSize,
                        int h = FigureCompositor::kFrameSize);
    void takeOverNotifications();
    // Cuts the window to frame k of the figure, unless it already is.
    void updateShape(int k);

    void startPainterEvents();
    void stopPainterEvents();
    // The server's own grab for the coming tick (see ScreenGrabber::schedule).
    void schedulePrefetch();
    bool collectPrefetch();

    AppSettings& settings_;
    // The painter's connection carries the grabber's requests too.
    std::unique_ptr<WindowPainter> painter_;
    std::unique_ptr<ScreenGrabber> grabber_;
    // Ticks come from the tick thread when the painter draws and the GUI
    // thread's event loop can lend it the lock; else from this timer.
    QBasicTimer timer_;
    std::unique_ptr<TickThread> ticker_;
    // Without the tick thread, the painter's events reach the GUI thread here.
    QSocketNotifier* painterEvents_ = nullptr;
    // With the tick thread, the server grabs the next tick's place when it is
    // due and the pixels wake the thread: one wake-up a tick, not two. The
    // place comes from a copy of the motion run ahead; a tick whose place
    // turns out otherwise (settings changed meanwhile) grabs for itself.
    std::unique_ptr<ScreenGrabber> prefetcher_;
    std::int64_t serverOffsetMs_ = 0; // server clock minus ours
    std::int64_t prefetchDue_ = 0;    // server time of the next tick
    int prefetchPeriod_ = 0;
    bool prefetched_ = false;
    int prefetchX_ = 0;
    int prefetchY_ = 0;
    PendulumMotion aheadMotion_;
    AppSettings aheadSettings_;
    std::unique_ptr<QImage> frontImage_;
    Bitmap firstBackground_;
    WindowRect rect_ { 0, 0, 96, 96 };
    bool created_ = false;
    // The composite no longer matches the window's place: it moved.
    bool compositeStale_ = true;
    // The window is cut to the figure's opaque pixels; the cut follows the
    // frame shown and the figure loaded.
    bool shaped_ = false;
    int shapeFrame_ = -1;
    int shapeGeneration_ = -1;
    int figureGeneration_ = 0;
    // Each frame's cut, made when first needed for the figure loaded.
    const std::vector<ShapeRect>& frameShape(int k);
    std::vector<ShapeRect> frameShapes_[FigureCompositor::kFrameCount];
    int frameShapeGeneration_[FigureCompositor::kFrameCount] = { -1, -1, -1, -1, -1, -1, -1 };
    // Drag state: the press point in window coordinates.
    int dragInProgress = 0;
    int grabX = 0;
    int grabY = 0;
};
