#pragma once

#include "settings/AppSettings.h"
#include "swing/SwingWindow.h"

#include <string>

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

    AppSettings settings;
    SwingWindow swingWindow;
    std::string settingsPath;
};

// The one application object; null before main() has made it.
TassioApp* tassioApp();
