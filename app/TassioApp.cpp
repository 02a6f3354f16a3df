#include "app/TassioApp.h"

#include "app/SingleInstance.h"
#include "app/TrayIcon.h"
#include "dialogs/SettingsDialog.h"
#include "pictures/PictureWindow.h"
#include "pictures/TextWindow.h"
#include "platform/Desktop.h"
#include "platform/MonitorWatcher.h"
#include "platform/SoundPlayer.h"
#include "settings/SettingsFile.h"
#include "settings/ScreenGeometry.h"
#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>
#include <unistd.h>

namespace {

TassioApp* theApp = nullptr;
int signalPipe[2] = { -1, -1 };

extern "C" void onTerminationSignal(int signal)
{
    // Only async-signal-safe work here: the event loop does the rest.
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Qt ends the process with exit() when the X connection breaks; the settings
// of the run are written on the way out.
void writeSettingsOnExit()
{
    if (theApp)
        theApp->saveSettingsOnce();
}

} // namespace

TassioApp::TassioApp()
    : swingWindow(settings, *this)
{
    theApp = this;
}

TassioApp::~TassioApp()
{
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
}

void TassioApp::showPanel()
{
    if (!panel_)
        return;
    panel_->keepOnScreen(monitorLayout());
    // The tray's way back to the panel serves every window, with a tray or without.
    TrayIcon::bringUp(panel_);
}

void TassioApp::figureAdded(const std::string& name)
{
    if (panel_)
        panel_->addFigureEntry(QString::fromStdString(name));
}

void TassioApp::openPictureViewer(const std::string& path)
{
    // The place is used up even when the file cannot be shown.
    const int at = cascade_.next();
    keepViewer(PictureWindow::open(at, at, path));
}

void TassioApp::openTextViewer(const std::string& path)
{
    // The viewer shows itself and deletes itself when closed.
    const int at = cascade_.next();
    keepViewer(new TextWindow(at, at, path));
}

void TassioApp::playSound(const std::string& wav)
{
    SoundPlayer::instance().playAsync(wav);
}

void TassioApp::openDocument(const std::string& program, const std::string& document)
{
    startProgram(program, document);
}

bool TassioApp::saveSettingsOnce()
{
    if (settingsSaved_ || settingsPath.empty())
        return !settingsSaveFailed_;
    settingsSaved_ = true;
    settingsSaveFailed_ = !(ensureParentFolder(settingsPath) && writeSettingsFile(settingsPath, settings));
    if (settingsSaveFailed_) {
        std::string folders;
        for (const std::string& folder : settingsFolders(settingsPath, executablePath()))
            folders += (folders.empty() ? "" : " nor in ") + folder;
        std::fprintf(stderr, "tassio: the settings were not saved: Tassio.ini could not be written in %s\n",
                     folders.c_str());
    }
    return !settingsSaveFailed_;
}

void TassioApp::endRun(bool sessionEnding)
{
    sessionEnding_ = sessionEnding_ || sessionEnding;
    if (panel_)
        panel_->done(QDialog::Rejected);
}

void TassioApp::watchTerminationSignals()
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] {
        char byte = 0;
        bool ending = false;
        while (::read(signalPipe[0], &byte, 1) == 1)
            ending = ending || byte != SIGINT;
        // SIGTERM and SIGHUP come when the session or the system goes down:
        // save at once and skip the exit sound. Ctrl+C is an ordinary exit.
        endRun(ending);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : { SIGTERM, SIGINT, SIGHUP })
        sigaction(s, &action, nullptr);

    // Logging out: the session manager asks first; the settings are saved
    // then, in case the session does not wait for the rest.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp, [this](QSessionManager&) {
        saveSettingsOnce();
        endRun(true);
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
                                   settings.pendulumLength, 96);
    settings.anchorX = pivot.x;
    settings.anchorY = pivot.y;
    watchTerminationSignals();
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
        if (!sessionEnding_)
            loop.exec();
        tray_ = nullptr;
        tray.reset();

        // Shutdown, in this order: the exit sound to its end, the figure gone,
        // then the settings written.
        if (settings.soundFile != kNoFile && !sessionEnding_)
            SoundPlayer::instance().playSync(settings.soundFile);
        swingWindow.destroyWindow();
        const bool saved = saveSettingsOnce();
        panel_ = nullptr;
        // Never silently: the user learns that this run's changes are lost and
        // where the file could not go. Not while the session ends, when no
        // one is left to answer the box.
        if (!saved && !sessionEnding_)
            showMessage(unsavedSettingsMessage());
    }
    SoundPlayer::instance().shutdown();
    return settingsSaveFailed_ ? 1 : 0;
}

QString TassioApp::unsavedSettingsMessage() const
{
    QStringList folders;
    for (const std::string& folder : settingsFolders(settingsPath, executablePath()))
        folders << QString::fromStdString(folder);
    return QCoreApplication::translate("TassioApp", "设定没有保存：以下文件夹都无法写入 Tassio.ini：\n%1")
        .arg(folders.join(QLatin1Char('\n')));
}
