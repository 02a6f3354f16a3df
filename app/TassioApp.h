#pragma once

#include "app/SessionEndWatch.h"
#include "app/ViewerCascade.h"
#include "settings/AppSettings.h"
#include "settings/AppShell.h"
#include "swing/SwingWindow.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class SettingsDialog;
class SettingsSnapshot;
class TrayIcon;

// The application object: the settings record and the figure window, for the
// whole life of the process. Constructed in main() after the QApplication.
// Windows reach one another through it (AppShell).
class TassioApp : public AppShell {
public:
    TassioApp();
    ~TassioApp();

    // Reads the settings, runs the settings panel until it closes, then shuts
    // down: exit sound, figure window gone, settings written. Returns the
    // process exit code.
    int initInstance();

    // The session is ending (a signal, the session manager, the display
    // gone): every dialog, box, chooser and menu is closed and the panel's
    // run ends; no exit sound and no more boxes.
    void endForSession(SessionEndWatch::Reason reason);
    // Writes the settings file, once per run, whichever thread gets there
    // first. When it cannot be written, says so on stderr, naming the folders
    // tried; false then.
    bool saveSettingsOnce();

    void showPanel() override;
    void figureAdded(const std::string& name) override;
    void openPictureViewer(const std::string& path) override;
    void openTextViewer(const std::string& path) override;
    void playSound(const std::string& wav) override;
    void openDocument(const std::string& program, const std::string& document) override;

    AppSettings settings;
    SwingWindow swingWindow;
    std::string settingsPath;

    // The message shown at exit when the settings could not be saved: the
    // folders tried, one a line.
    QString unsavedSettingsMessage() const;

    // Closes every dialog, box, chooser and popup menu that is open, so that
    // the loops they run return.
    void closeModalWindows();

private:
    // What the session watch's thread shares with the GUI thread; it may
    // outlive this object, as the thread outlives main().
    struct Shared;

    // SIGTERM, SIGINT, SIGHUP, the session manager and a lost X connection
    // all end the run; the settings are saved first, off the GUI thread.
    void watchSession();
    void publishSettings();
    bool sessionEnding() const;

    std::shared_ptr<Shared> shared_;
    // Both exist only while the panel runs.
    SettingsDialog* panel_ = nullptr;
    TrayIcon* tray_ = nullptr;
    ViewerCascade cascade_;
    // Viewers delete themselves when closed; those still open at exit are
    // closed with the program.
    std::vector<QPointer<QWidget>> viewers_;
    void keepViewer(QWidget* viewer);
    // Viewers open one after another, each once the last one has been
    // painted (or after viewerWait_): hundreds of windows mapped at once keep
    // the window manager and the X server busy for seconds, and the figure's
    // moves wait behind them.
    struct ViewerRequest {
        bool picture;
        std::string path;
    };
    std::deque<ViewerRequest> viewerQueue_;
    QPointer<QWidget> arriving_;
    QTimer viewerWait_;
    // Opening a picture may show a box, whose loop must not open the next.
    bool openingViewer_ = false;
    void openNextViewer();
    void openNextViewerLater();
    // Memory a closed viewer gave back goes back to the system.
    void trimSoon();
    QTimer trim_;
    // Closes what code unwinding from a closed dialog may still open.
    QTimer closer_;
    // The receiver of what the session watch asks of the GUI thread.
    QObject events_;
};
