#include "swing/SwingWindow.h"

#include "app/TextWindow.h"
#include "dialogs/SettingsDialog.h"
#include "files/RegularFile.h"
#include "pictures/PictureWindow.h"
#include "platform/Desktop.h"
#include "platform/MainLoopLock.h"
#include "platform/ScreenGrabber.h"
#include "platform/SoundPlayer.h"
#include "platform/TickThread.h"
#include "platform/WindowPainter.h"
#include "settings/AppSettings.h"
#include "swing/DropAction.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimerEvent>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

int viewerCascade = 0;

namespace {

constexpr int kSize = FigureCompositor::kFrameSize;
constexpr int kBuiltInFigures = 4;

// Periods below this would turn the timer into a busy loop; the platform the
// program grew up on clamps the same way.
constexpr int kMinTimerPeriod = 10;

void advanceCascade()
{
    viewerCascade += 16;
    if (viewerCascade > 100)
        viewerCascade = 0;
}

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The names a drop carries, as bytes: from the URI list itself, so a name in
// any encoding opens; QUrl would decode it to text and lose such bytes.
std::vector<std::string> droppedNames(const QMimeData& data)
{
    const QByteArray list = data.data(QStringLiteral("text/uri-list"));
    if (!list.isEmpty())
        return localFilesFromUriList(list.toStdString(), QSysInfo::machineHostName().toStdString());
    std::vector<std::string> names;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            names.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return names;
}

} // namespace

SwingWindow::SwingWindow(AppSettings& settings)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , compositor(motion.sinTable, motion.cosTable)
    , playSoundAsync([](const std::string& wav) { SoundPlayer::instance().playAsync(wav); })
    , openDocument([](const std::string& program, const std::string& document) { startProgram(program, document); })
    , settings_(settings)
    , firstBackground_(Bitmap::colour(kSize, kSize))
{
    setWindowTitle(QStringLiteral("Tassio"));
    setCursor(Qt::CrossCursor);
    // Nothing may clear the window: every pixel comes from the composite.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    frontImage_ = std::make_unique<QImage>(reinterpret_cast<const uchar*>(compositor.composite.colourRow(0)),
                                           kSize, kSize, kSize * 4, QImage::Format_RGB32);
}

SwingWindow::~SwingWindow()
{
    // The tick thread calls into this window; it goes first.
    stopPainterEvents();
}

void SwingWindow::startPainterEvents()
{
    stopPainterEvents();
    if (MainLoopLock::install()) {
        ticker_ = std::make_unique<TickThread>(
            MainLoopLock::mutex(), painter_->eventFd(), [this] { swingTick(); },
            [this](bool readConnection) { painter_->dispatchEvents(readConnection); });
        if (ticker_->running()) {
            prefetcher_ = ScreenGrabber::createScheduling();
            // The server's clock, read once now: later, a pending grab would
            // hold the answer back until its time.
            std::int64_t server;
            if (prefetcher_ && prefetcher_->serverTime(server)) {
                serverOffsetMs_ = server - steadyMs();
                ticker_->setAlarm(prefetcher_->scheduleFd(), [this] { return collectPrefetch(); });
            } else {
                prefetcher_.reset();
            }
            return;
        }
        ticker_.reset();
    }
    painterEvents_ = new QSocketNotifier(painter_->eventFd(), QSocketNotifier::Read, this);
    connect(painterEvents_, &QSocketNotifier::activated, this, [this] { painter_->dispatchEvents(true); });
}

void SwingWindow::stopPainterEvents()
{
    ticker_.reset();
    prefetcher_.reset();
    prefetched_ = false;
    delete painterEvents_;
    painterEvents_ = nullptr;
}

void SwingWindow::createWindow()
{
    if (created_)
        return;
    DesktopRect screen = desktopRect();
    const int length = settings_.pendulumLength;
    int x, y;
    if (settings_.anchorX == -1) {
        x = static_cast<int>(screen.right - 1.5 * length);
        y = screen.bottom - kSize;
    } else {
        x = settings_.anchorX;
        y = static_cast<int>(std::clamp<long long>(static_cast<long long>(settings_.anchorY) + length,
                                                   -(1 << 24), 1 << 24));
    }
    setAcceptDrops(true);
    if (settings_.alwaysOnTop == 1)
        setWindowFlag(Qt::WindowStaysOnTopHint, true);

    // A figure that is not there (a hand-edited index, a picture since
    // deleted) shows the girl rather than nothing.
    const int index = settings_.figureIndex;
    const int picture = index - kBuiltInFigures;
    if (index >= 0 && index < kBuiltInFigures)
        loadBuiltInFigure(10 * index);
    else if (picture < 0 || picture >= settings_.picturePaths.count()
             || !loadPictureFigure(settings_.picturePaths.at(picture)))
        loadBuiltInFigure(0);

    if (settings_.anchorX == -1) {
        settings_.anchorX = static_cast<int>(screen.right - 1.5 * length);
        settings_.anchorY = screen.bottom - length - kSize;
    }
    if (settings_.soundFile != kNoFile)
        playSoundAsync(settings_.soundFile);

    stopPainterEvents();
    grabber_.reset();
    painter_ = WindowPainter::create();
    if (painter_)
        grabber_ = painter_->createGrabber();
    if (!grabber_)
        grabber_ = ScreenGrabber::create();
    // With a painter of our own the window has no backing store at all.
    setAttribute(Qt::WA_PaintOnScreen, painter_ != nullptr);
    // A new window's first paint is not the screen behind it, so that is read
    // now, before the window exists on the screen.
    grabber_->grab(x, y, kSize, kSize, firstBackground_.colourRow(0), kSize);
    rect_ = { x, y, x + kSize, y + kSize };
    setGeometry(x, y, kSize, kSize);
    show();
    if (painter_) {
        takeOverNotifications();
        // Cut to the figure, the desktop shows through live around it.
        const QByteArray noShape = qgetenv("TASSIO_NO_SHAPE");
        shaped_ = painter_->canShape() && noShape != "1";
        startPainterEvents();
        // The first picture at once: Qt no longer hears of the window's first
        // exposure, and the server shows the picture as the window maps.
        paintComposite();
    }
    created_ = true;
    restartSwingTimer();
}

void SwingWindow::destroyWindow()
{
    killSwingTimer();
    if (!created_)
        return;
    hide();
    destroy();
    created_ = false;
}

void SwingWindow::killSwingTimer()
{
    timer_.stop();
    if (ticker_)
        ticker_->stop();
}

void SwingWindow::restartSwingTimer()
{
    killSwingTimer();
    const int period = std::max(settings_.tickInterval, kMinTimerPeriod);
    if (ticker_) {
        ticker_->start(std::chrono::milliseconds(period));
        if (prefetcher_) {
            prefetchPeriod_ = period;
            prefetchDue_ = steadyMs() + serverOffsetMs_ + period;
            schedulePrefetch();
        }
    } else {
        timer_.start(period, Qt::PreciseTimer, this);
    }
}

bool SwingWindow::swingTimerActive() const
{
    return ticker_ ? ticker_->active() : timer_.isActive();
}

void SwingWindow::setTopMost(bool on)
{
    // Toggled on the live window: changing the widget's flags would recreate it.
    if (QWindow* w = windowHandle()) {
        w->setFlag(Qt::WindowStaysOnTopHint, on);
        // Qt has just asked for all of the window's notifications again.
        if (painter_ && created_)
            takeOverNotifications();
    } else {
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
    }
    if (on)
        raise();
}

void SwingWindow::takeOverNotifications()
{
    painter_->takeOverNotifications(winId(), [this](int x, int y, int w, int h) { paintComposite(x, y, w, h); });
}

void SwingWindow::loadBuiltInFigure(int baseId)
{
    compositor.loadBuiltInFigure(baseId);
    ++figureGeneration_;
}

int SwingWindow::loadPictureFigure(const std::string& path)
{
    const int loaded = compositor.loadPictureFigure(path);
    figureGeneration_ += loaded;
    return loaded;
}

void SwingWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer_.timerId())
        swingTick();
    else
        QWidget::timerEvent(event);
}

void SwingWindow::swingTick()
{
    WindowRect next = motion.tick(settings_, rect_);
    // The server read the screen at the tick's time when the place was foreseen.
    if (!prefetched_ || next.left != prefetchX_ || next.top != prefetchY_)
        grabScreen(next.left, next.top);
    prefetched_ = false;
    moveWindow(next);
    if (prefetcher_ && swingTimerActive()) {
        prefetchDue_ += prefetchPeriod_;
        // Behind (a busy GUI thread): as the thread's own clock, skip ahead.
        const std::int64_t serverNow = steadyMs() + serverOffsetMs_;
        if (prefetchDue_ <= serverNow)
            prefetchDue_ = serverNow + prefetchPeriod_;
        schedulePrefetch();
    }
    // Exposures the grab's reply brought along, when no tick thread sees them.
    if (painterEvents_)
        painter_->dispatchEvents(false);
}

void SwingWindow::schedulePrefetch()
{
    // The next tick's place, from copies: the tick itself must still move the
    // real state, at its time.
    aheadMotion_ = motion;
    AppSettings& ahead = aheadSettings_;
    ahead.uniformSwing = settings_.uniformSwing;
    ahead.swingAngle = settings_.swingAngle;
    ahead.swingStep = settings_.swingStep;
    ahead.pendulumLength = settings_.pendulumLength;
    ahead.anchorX = settings_.anchorX;
    ahead.anchorY = settings_.anchorY;
    const WindowRect next = aheadMotion_.tick(ahead, rect_);
    if (prefetcher_->schedule(prefetchDue_, next.left, next.top, kSize, kSize)) {
        prefetchX_ = next.left;
        prefetchY_ = next.top;
        ticker_->armAlarm();
    }
}

bool SwingWindow::collectPrefetch()
{
    // Straight into the capture: nothing reads it between ticks.
    const ScreenGrabber::Collected got = prefetcher_->collect(compositor.screenCapture.colourRow(0), kSize);
    if (!got.arrived || !swingTimerActive())
        return false;
    if (got.when != prefetchDue_) {
        // From before a restart: the one for the new schedule can go out now.
        schedulePrefetch();
        return false;
    }
    // Pixels that waited for a busy GUI thread are not used; the tick reads
    // the screen again.
    const std::int64_t late = steadyMs() + serverOffsetMs_ - got.when;
    prefetched_ = got.ok && got.x == prefetchX_ && got.y == prefetchY_ && late <= prefetchPeriod_ / 2;
    return true;
}

void SwingWindow::grabScreen(int left, int top)
{
    if (grabber_)
        grabber_->grab(left, top, kSize, kSize, compositor.screenCapture.colourRow(0), kSize);
}

void SwingWindow::moveWindow(const WindowRect& r)
{
    rect_ = r;
    compositeStale_ = true;
    if (painter_) {
        painter_->configure(winId(), r.left, r.top, r.right - r.left, r.bottom - r.top);
        // The new place's picture, now: the server has the move before it.
        paintComposite();
        return;
    }
    setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    update();
}

QPaintEngine* SwingWindow::paintEngine() const
{
    return painter_ ? nullptr : QWidget::paintEngine();
}

void SwingWindow::paintEvent(QPaintEvent*)
{
    paintComposite();
}

namespace {

// For the start-up benchmark only: the monotonic time of the first paint,
// written to the file that TASSIO_BENCH_FIRST_PAINT names.
void noteFirstPaint()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QByteArray path = qgetenv("TASSIO_BENCH_FIRST_PAINT");
    if (path.isEmpty())
        return;
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (FILE* f = std::fopen(path.constData(), "w")) {
        std::fprintf(f, "%lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
        std::fclose(f);
    }
}

} // namespace

void SwingWindow::paintComposite(int x, int y, int w, int h)
{
    // A window that has not moved since its last paint shows the same picture
    // again (an expose, or the resize and the update of one move arriving
    // apart): building it anew would give the same pixels, and shifting the
    // saved background by the move's offsets twice would spoil it.
    if (compositeStale_ || compositor.backgroundPending == -1) {
        const int k = PendulumMotion::frameIndex(settings_.swingAngle);
        compositor.paint(k, motion.prevWindowDX, motion.prevWindowDY,
                         compositor.backgroundPending == -1 ? &firstBackground_ : nullptr);
        compositeStale_ = false;
        // A new picture is shown whole.
        x = y = 0;
        w = h = kSize;
        updateShape(k);
    }
    if (painter_) {
        // The X server clips the 96 x 96 image to the window's 95 x 95 or 96.
        const int left = std::clamp(x, 0, kSize), top = std::clamp(y, 0, kSize);
        const int right = std::clamp(x + w, left, kSize), bottom = std::clamp(y + h, top, kSize);
        if (right > left && bottom > top)
            painter_->paint(winId(), compositor.composite.colourRow(0), kSize, left, top, right - left, bottom - top);
    } else {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, *frontImage_);
    }
    noteFirstPaint();
}

const std::vector<ShapeRect>& SwingWindow::frameShape(int k)
{
    k = std::clamp(k, 0, FigureCompositor::kFrameCount - 1);
    if (frameShapeGeneration_[k] != figureGeneration_) {
        std::uint8_t mask[kSize * kSize];
        compositor.opaqueMaskOf(k, mask);
        shapeFromMask(mask, kSize, kSize, kSize, frameShapes_[k]);
        frameShapeGeneration_[k] = figureGeneration_;
    }
    return frameShapes_[k];
}

void SwingWindow::updateShape(int k)
{
    if (!shaped_ || (k == shapeFrame_ && figureGeneration_ == shapeGeneration_))
        return;
    painter_->setShape(winId(), frameShape(k));
    shapeFrame_ = k;
    shapeGeneration_ = figureGeneration_;
}

void SwingWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragInProgress = 1;
        motion.resetAmplitude();
        grabX = static_cast<int>(event->position().x());
        grabY = static_cast<int>(event->position().y());
        killSwingTimer();
        // Qt holds the pointer for this window until the release.
    } else if (event->button() == Qt::RightButton && !dragInProgress) {
        if (QWidget* panel = settings_.settingsDialog) {
            if (panel->isMinimized())
                panel->showNormal();
            panel->raise();
            panel->activateWindow();
        }
    }
    QWidget::mousePressEvent(event);
}

void SwingWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (dragInProgress == 1) {
        // From the global point: the window's own idea of where it is may lag
        // behind the window manager while it moves.
        const QPoint global = event->globalPosition().toPoint();
        WindowRect next = motion.moveTo(rect_, global.x() - grabX, global.y() - grabY);
        grabScreen(next.left, next.top);
        moveWindow(next);
        repaint();
    }
    QWidget::mouseMoveEvent(event);
}

void SwingWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragInProgress == 1) {
        dragInProgress = 0;
        const QPoint global = event->globalPosition().toPoint();
        settings_.anchorX = global.x() - 48;
        settings_.anchorY = global.y() - 48 - settings_.pendulumLength;
        settings_.swingAngle = 64;
        restartSwingTimer();
    }
    QWidget::mouseReleaseEvent(event);
}

// Dropped files are only read: every drop is taken as a copy, whatever the
// source proposed, so a file manager never deletes a file it thinks was moved.
void SwingWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls() && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void SwingWindow::dropEvent(QDropEvent* event)
{
    if (!(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    for (const std::string& name : droppedNames(*event->mimeData())) {
        if (settings_.soundFile != kNoFile)
            playSoundAsync(settings_.soundFile);
        handleDroppedFile(name);
    }
}

void SwingWindow::handleDroppedFile(const std::string& name)
{
    switch (dropActionFor(name, settings_.changePictureOnDrop, settings_.textProgram, firstByteOf)) {
    case DropAction::PlaySound:
        playSoundAsync(name);
        return;
    case DropAction::AdoptAsFigure:
        if (loadPictureFigure(name) == 1) {
            const std::string display = displayNameFromPath(name);
            settings_.picturePaths.append(name);
            settings_.pictureNames.append(display);
            if (settings_.settingsDialog)
                settings_.settingsDialog->addFigureEntry(QString::fromStdString(display));
        }
        return;
    case DropAction::ShowPicture:
        PictureWindow::open(viewerCascade, viewerCascade, name);
        break;
    case DropAction::OpenDocument:
        openDocument(settings_.textProgram, name);
        return;
    case DropAction::ShowText:
        (new TextWindow(viewerCascade, viewerCascade, name))->show();
        break;
    }
    advanceCascade();
}
