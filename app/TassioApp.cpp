#include "app/TassioApp.h"

#include "app/TrayIcon.h"
#include "dialogs/SettingsDialog.h"
#include "pictures/PictureWindow.h"
#include "pictures/TextWindow.h"
#include "platform/Desktop.h"
#include "platform/SoundPlayer.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
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
    : swingWindow(settings)
{
    theApp = this;
}

TassioApp::~TassioApp()
{
    theApp = nullptr;
}

void TassioApp::showPanel()
{
    // The tray's way back to the panel serves every window, with a tray or without.
    if (tray_)
        tray_->showPanel();
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
    PictureWindow::open(at, at, path);
}

void TassioApp::openTextViewer(const std::string& path)
{
    // The viewer shows itself and owns itself.
    const int at = cascade_.next();
    new TextWindow(at, at, path);
}

void TassioApp::playSound(const std::string& wav)
{
    SoundPlayer::instance().playAsync(wav);
}

void TassioApp::openDocument(const std::string& program, const std::string& document)
{
    startProgram(program, document);
}

void TassioApp::saveSettingsOnce()
{
    if (settingsSaved_ || settingsPath.empty())
        return;
    settingsSaved_ = true;
    ensureParentFolder(settingsPath);
    writeSettingsFile(settingsPath, settings);
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
    readSettingsFile(settingsReadPath(settingsPath, executablePath()), settings);
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
        saveSettingsOnce();
        panel_ = nullptr;
    }
    settings.settingsDialog = nullptr;
    SoundPlayer::instance().shutdown();
    return 0;
}
