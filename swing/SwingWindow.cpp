#include "swing/SwingWindow.h"

#include "files/RegularFile.h"
#include "platform/Desktop.h"
#include "platform/DesktopWatch.h"
#include "platform/SessionWatch.h"
#include "settings/AppSettings.h"
#include "settings/ScreenGeometry.h"
#include "swing/DropAction.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QSysInfo>
#include <QTimerEvent>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace {

constexpr int kSize = FigureFrames::kFrameSize;
constexpr int kBuiltInFigures = figure::kBuiltInFigures;

// Periods below this would turn the timer into a busy loop; the platform the
// program grew up on clamps the same way.
constexpr int kMinTimerPeriod = 10;

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

SwingWindow::SwingWindow(AppSettings& settings, AppShell& shell)
    // Override-redirect: the program places the window itself, as on the
    // desktop it grew up on, and no window manager takes part in a move.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus)
    , frames(motion.sinTable, motion.cosTable)
    , settings_(settings)
    , shell_(shell)
{
    setWindowTitle(QStringLiteral("Tassio"));
    setCursor(Qt::CrossCursor);
    // Nothing may clear the window: the surface shows every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

SwingWindow::~SwingWindow()
{
    // The surface speaks for the native window; it goes first.
    surface_.reset();
}

void SwingWindow::createWindow()
{
    if (created_)
        return;
    const int length = settings_.pendulumLength;
    // The first run hangs the figure at the bottom right of the primary
    // monitor; the window starts at rest under its pivot.
    const Pivot pivot = creationPivot(monitorLayout(), { settings_.anchorX, settings_.anchorY }, length, kSize);
    // Held like every place the motion gives: a hand-edited file may hold any
    // int, and the window's edges must not overflow.
    const Pivot rest = restPlace(pivot, length);
    const int x = rest.x;
    const int y = rest.y;
    setAcceptDrops(true);
    keepAbove_ = settings_.alwaysOnTop == 1;
    // The motion, the pointer and the desktop are in logical pixels; the
    // frames and the X server's requests in device pixels.
    ratio_ = sanitizedPixelRatio(devicePixelRatioF());
    frames.setSize(frameSizeAtRatio(kSize, ratio_));

    // A figure that is not there (a hand-edited index, a picture since
    // deleted) shows the girl rather than nothing.
    if (!loadFigure(settings_.figureIndex))
        loadBuiltInFigure(0);

    settings_.anchorX = pivot.x;
    settings_.anchorY = pivot.y;
    // The swing goes on from the angle saved.
    motion.swingAngle = settings_.swingAngle;
    if (settings_.soundFile != kNoFile)
        shell_.playSound(settings_.soundFile);

    rect_ = { x, y, x + figure::kWindowWidth, y + figure::kWindowHeight };
    setGeometry(x, y, figure::kWindowWidth, figure::kWindowHeight);
    // Before the window shows: it does not, over a fullscreen window that
    // was there first.
    watchDesktop();
    makeSurface();
    created_ = true;
    restartSwingTimer();
}

void SwingWindow::keepOnScreen(const MonitorLayout& layout)
{
    const Pivot now { settings_.anchorX, settings_.anchorY };
    const Pivot kept = pivotOnScreen(layout, now, settings_.pendulumLength, kSize);
    if (kept == now)
        return;
    settings_.anchorX = kept.x;
    settings_.anchorY = kept.y;
    // Shown there at once, not a tick later; a drag in progress sets its own
    // pivot when it ends.
    if (created_ && !dragInProgress)
        swingTick();
}

void SwingWindow::watchDesktop()
{
    if (desktop_)
        return;
    desktop_ = new DesktopWatch(this);
    session_ = new SessionWatch(this);
    connect(desktop_, &DesktopWatch::activeWindowChanged, this, [this](quint32 id) {
        // An override-redirect window is outside the window manager's
        // stacking: unless kept above, the figure goes below the new one.
        if (surface_)
            surface_->letActiveWindowCover(id);
        activeWindowChanged(id);
    });
    connect(desktop_, &DesktopWatch::compositingChanged, this, [this] {
        if (created_ && bestKind() != surface_->kind())
            makeSurface();
    });
    connect(desktop_, &DesktopWatch::windowChanged, this, [this](const DesktopWatch::WindowState& s) {
        RecentWindow w;
        w.id = s.id;
        w.shown = s.shown;
        w.fullscreen = s.fullscreen;
        w.rect = { deviceToLogical(s.x, ratio_), deviceToLogical(s.y, ratio_), deviceToLogical(s.x + s.width, ratio_),
                   deviceToLogical(s.y + s.height, ratio_) };
        windowChanged(w);
    });
    connect(desktop_, &DesktopWatch::windowGone, this, [this](quint32 id) { windowGone(id); });
    connect(desktop_, &DesktopWatch::saverChanged, this, [this](bool on) {
        DesktopFacts f = facts_;
        f.saverOn = on;
        setDesktopFacts(f);
    });
    connect(desktop_, &DesktopWatch::figureCovered, this, [this](bool covered, bool byUnmanaged) {
        DesktopFacts f = facts_;
        f.obscured = covered;
        f.obscuredByUnmanaged = byUnmanaged;
        setDesktopFacts(f);
    });
    connect(session_, &SessionWatch::changed, this, [this] {
        DesktopFacts f = facts_;
        f.sessionLocked = session_->locked();
        f.sessionInactive = session_->inactive();
        f.preparingForSleep = session_->preparingForSleep();
        f.saverServiceOn = session_->saverActive();
        setDesktopFacts(f);
    });
    facts_.saverOn = desktop_->saverOn();
    activeWindowChanged(desktop_->activeWindow());
}

void SwingWindow::setDesktopFacts(const DesktopFacts& facts)
{
    facts_ = facts;
    reconsider();
}

void SwingWindow::activeWindowChanged(std::uint32_t id)
{
    recent_.activated(id);
    // Listens to the windows on the list, and lets go of the one that fell
    // off it; each new one's state comes through windowChanged.
    if (desktop_)
        desktop_->watchWindows(recent_.ids());
    reconsider();
}

void SwingWindow::windowChanged(const RecentWindow& window)
{
    recent_.update(window);
    reconsider();
}

void SwingWindow::windowGone(std::uint32_t id)
{
    recent_.forget(id);
    reconsider();
}

void SwingWindow::reconsider()
{
    facts_.keepAbove = keepAbove_;
    facts_.composited = surface_ && surface_->kind() == FigureSurface::Kind::Argb;
    decidedPivot_ = { settings_.anchorX, settings_.anchorY };
    decidedLength_ = settings_.pendulumLength;
    const ScreenRect monitor = monitorHoldingPivot(monitorLayout(), decidedPivot_, decidedLength_, kSize);
    applyPresence(decidePresence(recent_, monitor, facts_));
}

void SwingWindow::applyPresence(const Presence& p)
{
    const Presence was = presence_;
    presence_ = p;
    if (!surface_ || p == was)
        return;
    if (p.asleep && !was.asleep) {
        killSwingTimer();
        // Nothing raises it while asleep: a locker's window is never fought.
        surface_->setKeepAbove(false);
    }
    if (p.standAside && !was.standAside) {
        // A drag cannot go on off the screen: its release would never come.
        dragInProgress = 0;
        // What covered it stays known: mapped again, it is told if that
        // changed.
        hide();
    }
    if (!p.asleep && was.asleep) {
        // A surface that shows the screen behind it reads that afresh.
        if (surface_->wake())
            showAt(rect_);
        if (!isVisible())
            mapFigure();
        surface_->setKeepAbove(keepAbove_);
        if (!dragInProgress)
            restartSwingTimer();
    } else if (!p.standAside && was.standAside) {
        // Back on the screen, though still asleep (a saver came on meanwhile).
        mapFigure();
    }
}

FigureSurface::Kind SwingWindow::bestKind() const
{
    return loader_.bestKind(desktop_ && desktop_->compositing());
}

void SwingWindow::makeSurface()
{
    const FigureSurface::Kind kind = bestKind();
    const bool alpha = SurfaceLoader::wantsAlpha(kind);
    surface_.reset();
    // The depth of a native window is fixed when it is made.
    if (internalWinId() && testAttribute(Qt::WA_TranslucentBackground) != alpha)
        destroy();
    setAttribute(Qt::WA_TranslucentBackground, alpha);
    winId();
    surface_ = loader_.create(*this, kind);
    setAttribute(Qt::WA_PaintOnScreen, !surface_->paintsThroughQt());
    surface_->setSize(frameSizeAtRatio(figure::kWindowWidth, ratio_), frameSizeAtRatio(figure::kWindowHeight, ratio_),
                      frameSizeAtRatio(figure::kShortWindowHeight, ratio_));
    surface_->setFrames(frames.frames(), frames.masks(), FigureFrames::kFrameCount);
    // A new window: told again what covers it.
    facts_.obscured = facts_.obscuredByUnmanaged = false;
    if (desktop_)
        desktop_->watchFigure(*this);
    // The first picture before the window maps (a grabbed surface reads the
    // screen there while nothing of ours covers it).
    showAt(rect_);
    if (!presence_.standAside)
        mapFigure();
    if (!presence_.asleep)
        surface_->setKeepAbove(keepAbove_);
    // Whether a compositing manager runs decides what covering means.
    reconsider();
}

void SwingWindow::mapFigure()
{
    show();
    surface_->mapped();
}

void SwingWindow::destroyWindow()
{
    killSwingTimer();
    if (!created_)
        return;
    surface_.reset();
    hide();
    destroy();
    created_ = false;
}

void SwingWindow::killSwingTimer()
{
    timer_.stop();
}

void SwingWindow::restartSwingTimer()
{
    if (presence_.asleep)
        return;
    timer_.start(std::max(settings_.tickInterval, kMinTimerPeriod), Qt::PreciseTimer, this);
}

void SwingWindow::setTopMost(bool on)
{
    keepAbove_ = on;
    // Asleep, it goes on top when it wakes.
    if (surface_ && !presence_.asleep)
        surface_->setKeepAbove(on);
    // Whether a covering window is fought for the top depends on it.
    reconsider();
}

bool SwingWindow::loadFigure(int index)
{
    if (index >= 0 && index < kBuiltInFigures) {
        loadBuiltInFigure(figure::baseId(index));
        return true;
    }
    const int picture = index - kBuiltInFigures;
    return picture >= 0 && picture < settings_.pictures.count()
        && loadPictureFigure(settings_.pictures.at(picture).path) == 1;
}

void SwingWindow::loadBuiltInFigure(int baseId)
{
    frames.loadBuiltInFigure(baseId);
    framesChanged();
}

int SwingWindow::loadPictureFigure(const std::string& path)
{
    const int loaded = frames.loadPictureFigure(path);
    if (loaded)
        framesChanged();
    return loaded;
}

void SwingWindow::framesChanged()
{
    if (surface_)
        surface_->setFrames(frames.frames(), frames.masks(), FigureFrames::kFrameCount);
}

void SwingWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer_.timerId())
        swingTick();
    else if (event->timerId() == dropTimer_.timerId())
        handleNextDrop();
    else
        QWidget::timerEvent(event);
}

void SwingWindow::swingTick()
{
    // A pivot moved to another monitor (a corner button, a drag, the
    // length) may put the figure where a fullscreen window is.
    if (!(Pivot { settings_.anchorX, settings_.anchorY } == decidedPivot_) || settings_.pendulumLength != decidedLength_)
        reconsider();
    if (presence_.asleep)
        return;
    const WindowRect next = motion.tick(settings_, rect_);
    settings_.swingAngle = motion.swingAngle;
    showAt(next);
}

void SwingWindow::showAt(const WindowRect& r)
{
    rect_ = r;
    if (!surface_)
        return;
    const int left = logicalToDevice(r.left, ratio_), top = logicalToDevice(r.top, ratio_);
    // The motion's short rectangles: the window keeps its size, and its last
    // row is cut away instead.
    const bool cut = r.bottom - r.top < figure::kWindowHeight;
    surface_->show(left, top, cut, motion.frameIndex());
}

QPaintEngine* SwingWindow::paintEngine() const
{
    return testAttribute(Qt::WA_PaintOnScreen) ? nullptr : QWidget::paintEngine();
}

void SwingWindow::paintEvent(QPaintEvent*)
{
    // The surface paints.
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
        shell_.showPanel();
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
        showAt(next);
    }
    QWidget::mouseMoveEvent(event);
}

void SwingWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragInProgress == 1) {
        dragInProgress = 0;
        const QPoint global = event->globalPosition().toPoint();
        const Pivot pivot = pivotForRelease(global.x(), global.y(), settings_.pendulumLength, kSize);
        settings_.anchorX = pivot.x;
        settings_.anchorY = pivot.y;
        motion.swingAngle = PendulumMotion::kRestAngle;
        settings_.swingAngle = motion.swingAngle;
        restartSwingTimer();
    }
    QWidget::mouseReleaseEvent(event);
}

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
    // Answered when this returns; the files are handled afterwards, since
    // handling one may show a box and wait for the user.
    for (std::string& name : droppedNames(*event->mimeData()))
        pendingDrops_.push_back(std::move(name));
    if (!pendingDrops_.empty() && !dropTimer_.isActive())
        dropTimer_.start(0, this);
}

void SwingWindow::handleNextDrop()
{
    // The next one waits until a box shown for this one has been answered.
    if (handlingDrop_ || pendingDrops_.empty()) {
        dropTimer_.stop();
        return;
    }
    handlingDrop_ = true;
    const std::string name = std::move(pendingDrops_.front());
    pendingDrops_.pop_front();
    if (settings_.soundFile != kNoFile)
        shell_.playSound(settings_.soundFile);
    handleDroppedFile(name);
    handlingDrop_ = false;
    if (pendingDrops_.empty())
        dropTimer_.stop();
    else if (!dropTimer_.isActive())
        dropTimer_.start(0, this);
}

void SwingWindow::handleDroppedFile(const std::string& name)
{
    shell_.fileDropped(dropActionFor(name, settings_.changePictureOnDrop, settings_.textProgram, firstByteOf), name);
}
