#pragma once

#include <string>

// What one window asks of another, answered by the application: the figure
// window and the panel reach the rest of the program only through this, so
// that neither includes the other. Names are the file names' bytes.
class AppShell {
public:
    // Brings the settings panel up: restored, raised and active.
    virtual void showPanel() = 0;
    // A picture has become a figure and joined the settings' lists: its name
    // goes to the end of the panel's figure list and is selected there.
    virtual void figureAdded(const std::string& name) = 0;
    // Opens a viewer for the file at the next cascade position.
    virtual void openPictureViewer(const std::string& path) = 0;
    virtual void openTextViewer(const std::string& path) = 0;
    // Starts the sound, cutting off the one still playing.
    virtual void playSound(const std::string& wav) = 0;
    // Starts program with document as its only argument.
    virtual void openDocument(const std::string& program, const std::string& document) = 0;

protected:
    ~AppShell() = default;
};
