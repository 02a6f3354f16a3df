#pragma once

#include "app/ViewerCascade.h"
#include "settings/AppSettings.h"
#include "settings/AppShell.h"
#include "swing/SwingWindow.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

class SettingsDialog;
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

    // Closes the panel, which ends the run. When the session is ending the
    // exit sound is skipped.
    void endRun(bool sessionEnding);
    // Writes the settings file, once per run. When it cannot be written, says
    // so on stderr, naming the folders tried; false then.
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

private:
    // SIGTERM, SIGINT, SIGHUP, the session manager and a lost X connection
    // all end the run through the normal shutdown.
    void watchTerminationSignals();

    // Both exist only while the panel runs.
    SettingsDialog* panel_ = nullptr;
    TrayIcon* tray_ = nullptr;
    ViewerCascade cascade_;
    // Viewers delete themselves when closed; those still open at exit are
    // closed with the program.
    std::vector<QPointer<QWidget>> viewers_;
    void keepViewer(QWidget* viewer);
    bool sessionEnding_ = false;
    bool settingsSaved_ = false;
    bool settingsSaveFailed_ = false;
};
