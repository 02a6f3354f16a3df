#pragma once

#include "swing/DropAction.h"

#include <string>

// What the figure window asks of the application, which answers it: the
// window reaches the panel, the viewers, the sound and other programs only
// through this, so that it includes none of them. Names are the file names'
// bytes.
class AppShell {
public:
    // Brings the settings panel up: restored, raised and active.
    virtual void showPanel() = 0;
    // Starts the sound, cutting off the one still playing.
    virtual void playSound(const std::string& wav) = 0;
    // A file dropped on the figure and what it is to do (dropActionFor):
    // played, made the figure and one of the user's pictures, shown in a
    // viewer, or handed to the text program. One file per call, in the
    // order they were dropped.
    virtual void fileDropped(DropAction action, const std::string& name) = 0;

protected:
    ~AppShell() = default;
};
