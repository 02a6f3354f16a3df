#include "app/TassioApp.h"

#include "app/SingleInstance.h"
#include "app/TrayIcon.h"
#include "dialogs/SettingsDialog.h"
#include "platform/Desktop.h"
#include "platform/MonitorWatcher.h"
#include "platform/SoundPlayer.h"
#include "resources/FigureIds.h"
#include "settings/ScreenGeometry.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"
#include "settings/SettingsSnapshot.h"
#include "swing/DropAction.h"
#include "viewers/PictureWindow.h"
#include "viewers/TextWindow.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSessionManager>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>

namespace {

// Calls back at the first paint of the widget it watches, then goes.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* widget, std::function<void()> painted) : QObject(widget), painted_(std::move(painted))
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && painted_) {
            watched->removeEventFilter(this);
            std::function<void()> painted = std::move(painted_);
            painted_ = nullptr;
            deleteLater();
            painted();
        }
        return false;
    }

private:
    std::function<void()> painted_;
};

// A viewer that has not been painted this long after it was opened (the X
// server is that far behind, or it opened off the screen) no longer holds up
// the next.
constexpr int kViewerWaitMs = 1000;

// After the session watch has asked the GUI thread to end the run, this long
// may pass before it ends the process itself: closing what is open and taking
// the windows down takes a few milliseconds when the GUI thread is free.
constexpr std::chrono::milliseconds kGuiGrace { 500 };

TassioApp* theApp = nullptr;
// Lives as long as the process: its thread may still run while main() returns.
SessionEndWatch* theWatch = nullptr;

// Qt ends the process with exit() when the X connection breaks; the settings
// of the run are written on the way out.
void writeSettingsOnExit()
{
    if (theApp)
        theApp->saveSettingsOnce();
}

} // namespace

struct TassioApp::Shared {
    SettingsSnapshot snapshot;
    std::string settingsPath;
    // The folders named when the settings cannot be written.
    std::string folders;
    // Set by whichever thread first learns that the session ends.
    std::atomic<bool> ending { false };
    std::atomic<bool> displayLost { false };

    bool saveOnce()
    {
        return snapshot.saveOnce(settingsPath, [this] {
            std::fprintf(stderr, "tassio: the settings were not saved: Tassio.ini could not be written in %s\n",
                         folders.c_str());
        });
    }
};

TassioApp::TassioApp()
    : swingWindow(settings, *this)
    , shared_(std::make_shared<Shared>())
{
    theApp = this;
    trim_.setSingleShot(true);
    trim_.setInterval(300);
    QObject::connect(&trim_, &QTimer::timeout, &events_, [] {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
    viewerWait_.setSingleShot(true);
    viewerWait_.setInterval(kViewerWaitMs);
    QObject::connect(&viewerWait_, &QTimer::timeout, &events_, [this] { openNextViewer(); });
    closer_.setInterval(10);
    QObject::connect(&closer_, &QTimer::timeout, &events_, [this] { closeModalWindows(); });
}

TassioApp::~TassioApp()
{
    // From here on the session watch neither asks this object for anything
    // nor watches the display connection, which the application closes.
    if (theWatch)
        theWatch->guiGone();
    for (const QPointer<QWidget>& viewer : viewers_)
        delete viewer.data();
    theApp = nullptr;
}

void TassioApp::keepViewer(QWidget* viewer)
{
    if (!viewer)
        return;
    // Closed viewers leave null pointers behind; drop them as new ones come.
    viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(), [](const QPointer<QWidget>& v) { return v.isNull(); }),
                   viewers_.end());
    viewers_.emplace_back(viewer);
    QObject::connect(viewer, &QObject::destroyed, &events_, [this] { trimSoon(); });
}

void TassioApp::trimSoon()
{
    // Once for many viewers closed together.
    if (!trim_.isActive())
        trim_.start();
}

void TassioApp::showPanel()
{
    if (!panel_)
        return;
    panel_->keepOnScreen(monitorLayout());
    // The tray's way back to the panel serves every window, with a tray or without.
    TrayIcon::bringUp(panel_);
}

void TassioApp::fileDropped(DropAction action, const std::string& name)
{
    switch (action) {
    case DropAction::PlaySound:
        playSound(name);
        return;
    case DropAction::AdoptAsFigure:
        adoptPicture(name);
        return;
    case DropAction::ShowPicture:
        openPictureViewer(name);
        return;
    case DropAction::OpenDocument:
        startProgram(settings.textProgram, name);
        return;
    case DropAction::ShowText:
        openTextViewer(name);
        return;
    }
}

void TassioApp::adoptPicture(const std::string& path)
{
    if (swingWindow.loadPictureFigure(path) != 1)
        return;
    const std::string name = displayNameFromPath(path);
    settings.pictures.add(path, name);
    // figureIndex follows the panel's selection.
    if (panel_)
        panel_->addFigureEntry(QString::fromStdString(name));
}

void TassioApp::openPictureViewer(const std::string& path)
{
    viewerQueue_.push_back({ true, path });
    openNextViewer();
}

void TassioApp::openTextViewer(const std::string& path)
{
    viewerQueue_.push_back({ false, path });
    openNextViewer();
}

void TassioApp::openNextViewerLater()
{
    QMetaObject::invokeMethod(&events_, [this] { openNextViewer(); }, Qt::QueuedConnection);
}

void TassioApp::openNextViewer()
{
    if (openingViewer_ || viewerQueue_.empty() || (arriving_ && viewerWait_.isActive()))
        return;
    const ViewerRequest request = std::move(viewerQueue_.front());
    viewerQueue_.pop_front();
    openingViewer_ = true;
    // The place is used up even when the file cannot be shown.
    const int at = cascade_.next();
    QWidget* viewer = nullptr;
    if (request.picture) {
        viewer = PictureWindow::open(at, at, request.path, [this](const QString& text) {
            // No one is left to answer a box while the session ends.
            if (!sessionEnding())
                showMessage(text);
        });
    } else {
        // The viewer shows itself and deletes itself when closed.
        viewer = new TextWindow(at, at, request.path);
    }
    openingViewer_ = false;
    keepViewer(viewer);
    arriving_ = viewer;
    if (!viewer) {
        openNextViewerLater();
        return;
    }
    viewerWait_.start();
    new FirstPaint(viewer, [this] {
        arriving_ = nullptr;
        viewerWait_.stop();
        openNextViewerLater();
    });
}

void TassioApp::playSound(const std::string& wav)
{
    SoundPlayer::instance().playAsync(wav);
}

void TassioApp::publishSettings()
{
    shared_->snapshot.publish(settings);
}

bool TassioApp::sessionEnding() const
{
    return shared_->ending.load();
}

bool TassioApp::saveSettingsOnce()
{
    if (settingsPath.empty())
        return true;
    publishSettings();
    return shared_->saveOnce();
}

void TassioApp::closeModalWindows()
{
    // A closed dialog's exec() returns only once control is back in its loop,
    // so each is closed where it stands; whatever one opens on its way out
    // is caught by the next round.
    for (int round = 0; round < 8; ++round) {
        bool closed = false;
        for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i) {
            QApplication::activePopupWidget()->close();
            closed = true;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (dialog && dialog != static_cast<QWidget*>(panel_) && dialog->isVisible()) {
                dialog->reject();
                closed = true;
            }
        }
        if (!closed)
            break;
    }
}

void TassioApp::endForSession(SessionEndWatch::Reason reason)
{
    shared_->ending = true;
    if (reason == SessionEndWatch::Reason::DisplayLost)
        shared_->displayLost = true;
    swingWindow.cancelPendingDrops();
    viewerQueue_.clear();
    closeModalWindows();
    if (panel_)
        panel_->done(QDialog::Rejected);
    if (!closer_.isActive())
        closer_.start();
}

void TassioApp::watchSession()
{
    // The settings as the settings file would hold them, made anew each time
    // the GUI thread has nothing left to do: what the watch writes if the GUI
    // thread cannot.
    publishSettings();
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &events_,
                     [this] { publishSettings(); });

    std::shared_ptr<Shared> shared = shared_;
    QObject* receiver = &events_;
    SessionEndWatch::Actions actions;
    actions.saveSettings = [shared](SessionEndWatch::Reason reason) {
        if (reason == SessionEndWatch::Reason::DisplayLost)
            shared->displayLost = true;
        shared->ending = true;
        return shared->saveOnce();
    };
    actions.stopSound = [] { SoundPlayer::instance().shutdown(); };
    actions.endRun = [receiver, this](SessionEndWatch::Reason reason) {
        QMetaObject::invokeMethod(receiver, [this, reason] { endForSession(reason); }, Qt::QueuedConnection);
    };
    if (!theWatch)
        theWatch = new SessionEndWatch(std::move(actions), displayConnectionSocket(), kGuiGrace);

    // Logging out: the session manager asks first; the settings are saved
    // then, in case the session does not wait for the rest.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &events_, [this](QSessionManager&) {
        shared_->ending = true;
        saveSettingsOnce();
        endForSession(SessionEndWatch::Reason::Terminated);
    });
    std::atexit(writeSettingsOnExit);
}

int TassioApp::initInstance()
{
    settingsPath = chooseSettingsPathFromEnvironment(executablePath());
    // A second start with the same settings file brings the running panel up
    // and ends here, before it has read, played or shown anything.
    ensureParentFolder(settingsPath);
    SingleInstance instance(settingsPath);
    switch (instance.claim()) {
    case SingleInstance::Outcome::Raised:
        return 0;
    case SingleInstance::Outcome::NoAnswer:
        std::fprintf(stderr,
                     "tassio: another Tassio runs with %s (here, or on another machine sharing the folder) and does "
                     "not answer; not starting a second one\n",
                     settingsPath.c_str());
        return 1;
    case SingleInstance::Outcome::First:
        break;
    }
    instance.onRaiseRequest = [this] { showPanel(); };
    // No other instance writes now: temporary files beside the settings are
    // what a save cut short (killed at logout) left behind.
    removeSettingsLeftovers(settingsPath);

    readSettingsFile(settingsReadPath(settingsPath, executablePath()), settings);
    // A pivot saved on a monitor that is gone would leave the figure where no
    // one can see or click it: it starts at the first-run place instead.
    const Pivot pivot = startPivot(monitorLayout(), { settings.anchorX, settings.anchorY },
                                   settings.pendulumLength, figure::kFrameSize);
    settings.anchorX = pivot.x;
    settings.anchorY = pivot.y;
    shared_->settingsPath = settingsPath;
    for (const std::string& folder : settingsFolders(settingsPath, executablePath()))
        shared_->folders += (shared_->folders.empty() ? "" : " nor in ") + folder;
    watchSession();
    {
        // The panel creates the figure window while it is being built, and its
        // run is the program's whole life.
        SettingsDialog panel(settings, &swingWindow);
        panel_ = &panel;
        // Where the desktop has a tray, its icon brings the panel back and its
        // menu ends the run the normal way.
        auto tray = std::make_unique<TrayIcon>(&panel, [&panel] { panel.accept(); });
        tray_ = tray.get();
        // A monitor unplugged, the screen made smaller: the figure and the
        // panel come back where they can be seen, by the rules of the start.
        MonitorWatcher monitors;
        QObject::connect(&monitors, &MonitorWatcher::changed, &panel, [this, &panel] {
            const MonitorLayout layout = monitorLayout();
            swingWindow.keepOnScreen(layout);
            panel.keepOnScreen(layout);
        });
        // Runs until the panel closes, like a modal dialog, but without
        // blocking input to the figure and the viewers: the panel has no owner
        // to disable.
        QEventLoop loop;
        QObject::connect(&panel, &QDialog::finished, &loop, &QEventLoop::quit);
        panel.setModal(false);
        panel.show();
#ifdef __GLIBC__
        // Start-up (the font database, the panel's first layout, the frames)
        // leaves freed heap behind: hand it back once the swing has settled.
        QTimer::singleShot(2000, &panel, [] { malloc_trim(0); });
#endif
        if (!sessionEnding())
            loop.exec();
        tray_ = nullptr;
        tray.reset();

        // Shutdown, in this order: the exit sound to its end, the figure gone,
        // then the settings written. A session that ends meanwhile cuts the
        // sound off and has already saved.
        if (settings.soundFile != kNoFile && !sessionEnding())
            SoundPlayer::instance().playSync(settings.soundFile);
        swingWindow.destroyWindow();
        const bool saved = saveSettingsOnce();
        panel_ = nullptr;
        // Never silently: the user learns that this run's changes are lost and
        // where the file could not go. Not while the session ends, when no
        // one is left to answer the box.
        if (!saved && !sessionEnding())
            showMessage(unsavedSettingsMessage());
    }
    closer_.stop();
    SoundPlayer::instance().shutdown();
    return shared_->displayLost || !saveSettingsOnce() ? 1 : 0;
}

QString TassioApp::unsavedSettingsMessage() const
{
    QStringList folders;
    for (const std::string& folder : settingsFolders(settingsPath, executablePath()))
        folders << QString::fromStdString(folder);
    return QCoreApplication::translate("TassioApp", "设定没有保存：以下文件夹都无法写入 Tassio.ini：\n%1")
        .arg(folders.join(QLatin1Char('\n')));
}
