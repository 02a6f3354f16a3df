#pragma once

#include "platform/Desktop.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <string>

struct AppSettings;
class SwingWindow;
class QCheckBox;
class QComboBox;
class QSlider;
namespace Ui {
class SettingsDialog;
}

// The settings panel and the program's main window. Every control writes its
// field of the settings record at once and, where the figure window has to
// react, tells that window directly; the panel keeps no copy of the settings.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    // The files the panel's commands ask for.
    enum class FileKind { Picture, Sound, Program };

    // Creates the figure window first (unless swingWindow is null), then the
    // form; fills the controls from settings and starts minimised.
    SettingsDialog(AppSettings& settings, SwingWindow* swingWindow, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Appends a display name to the figure list and selects it; figureIndex
    // follows. The caller has already made the picture the figure.
    void addFigureEntry(const QString& name);

    // The monitors changed: a panel that no longer lies wholly on one of them
    // comes back to the centre of the primary monitor, minimised or not.
    void keepOnScreen(const MonitorLayout& layout);

    // Asks the user for a file of this kind; the path as picked or typed, or
    // empty when cancelled. Shows a file dialog; tests put their own answer here.
    std::function<QString(FileKind)> chooseFile;
    // The desktop rectangle, read anew whenever a control needs it.
    std::function<DesktopRect()> desktop;
    // The monitors, read anew on each corner button click: the corners are
    // those of the monitor that holds the pivot.
    std::function<MonitorLayout()> monitors;

private:
    void layOutForm();
    void initialise();
    void connectControls();

    void cornerClicked(int id);
    void frequencyMoved(int position);
    void lengthMoved(int position);
    void amplitudeMoved(int position);
    void figureSelected(int position);

    void openPicture();
    void deletePicture();
    void chooseSound();
    void chooseTextProgram();
    void showAbout();

    QString runFileDialog(FileKind kind);
    std::string chosenPath(FileKind kind);

    AppSettings& settings_;
    SwingWindow* swingWindow_;
    std::unique_ptr<Ui::SettingsDialog> ui_;

    QCheckBox* changePictureCheck = nullptr;
    QCheckBox* uniformSwingCheck = nullptr;
    QComboBox* figureCombo = nullptr;
    QCheckBox* alwaysOnTopCheck = nullptr;
    QSlider* frequencySlider = nullptr;
    QSlider* amplitudeSlider = nullptr;
    QSlider* lengthSlider = nullptr;
};
