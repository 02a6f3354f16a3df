#include "app/TassioApp.h"

#include "dialogs/SettingsDialog.h"
#include "platform/Desktop.h"
#include "platform/SoundPlayer.h"
#include "settings/SettingsFile.h"

#include <QEventLoop>

namespace {
TassioApp* theApp = nullptr;
}

TassioApp* tassioApp()
{
    return theApp;
}

TassioApp::TassioApp()
    : swingWindow(settings)
{
    theApp = this;
}

TassioApp::~TassioApp()
{
    theApp = nullptr;
}

int TassioApp::initInstance()
{
    settingsPath = settingsFilePath(executablePath());
    readSettingsFile(settingsPath, settings);
    {
        // The panel creates the figure window while it is being built, and its
        // modal run is the program's whole life.
        SettingsDialog panel(settings, &swingWindow);
        // Runs until the panel closes, like a modal dialog, but without
        // blocking input to the figure and the viewers: the panel has no owner
        // to disable.
        QEventLoop loop;
        QObject::connect(&panel, &QDialog::finished, &loop, &QEventLoop::quit);
        panel.setModal(false);
        panel.show();
        loop.exec();

        // Shutdown, in this order: the exit sound to its end, the figure gone,
        // then the settings written.
        if (settings.soundFile != kNoFile)
            SoundPlayer::instance().playSync(settings.soundFile);
        swingWindow.destroyWindow();
        writeSettingsFile(settingsPath, settings);
    }
    settings.settingsDialog = nullptr;
    SoundPlayer::instance().shutdown();
    return 0;
}
