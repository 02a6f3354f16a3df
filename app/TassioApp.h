#pragma once

#include "settings/AppSettings.h"
#include "swing/SwingWindow.h"

#include <QString>

#include <string>

class SettingsDialog;

// The application object: the settings record and the figure window, for the
// whole life of the process. Constructed in main() after the QApplication.
class TassioApp {
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

    SettingsDialog* panel_ = nullptr;
    bool sessionEnding_ = false;
    bool settingsSaved_ = false;
    bool settingsSaveFailed_ = false;
};

// The one application object; null before main() has made it.
TassioApp* tassioApp();
