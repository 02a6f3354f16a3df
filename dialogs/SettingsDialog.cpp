#include "dialogs/SettingsDialog.h"

#include "dialogs/AboutDialog.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/PictureNameDialog.h"
#include "platform/AppIcon.h"
#include "resources/FigureIds.h"
#include "settings/AppSettings.h"
#include "swing/DropAction.h"
#include "swing/SwingWindow.h"
#include "ui_SettingsDialog.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>

namespace {
using figure::kBuiltInFigures;
using figure::kFrameSize;

// The form's layout in dialog units.
constexpr QSize kFormSize(186, 157);
struct Placement {
    const char* name;
    DialogUnitRect rect;
};
// The figure list's height is the closed box's own; its dropped list of
// 91 units holds about ten entries, which is Qt's default.
constexpr Placement kLayout[] = {
    { "screenGroup", { 13, 7, 62, 70 } },
    { "corner1000", { 18, 19, 13, 8 } },
    { "corner1001", { 18, 59, 9, 8 } },
    { "corner1002", { 59, 19, 10, 8 } },
    { "corner1003", { 59, 59, 10, 8 } },
    { "exitButton", { 139, 136, 40, 14 } },
    { "amplitudeSlider", { 115, 13, 64, 15 } },
    { "lengthSlider", { 115, 39, 64, 15 } },
    { "amplitudeLabel", { 88, 15, 26, 11 } },
    { "lengthLabel", { 88, 43, 26, 8 } },
    { "frequencyLabel", { 88, 68, 26, 12 } },
    { "frequencySlider", { 115, 65, 64, 15 } },
    { "alwaysOnTopCheck", { 75, 110, 45, 14 } },
    { "figureCombo", { 13, 81, 62, 0 } },
    { "aboutButton", { 77, 136, 40, 14 } },
    { "uniformSwingCheck", { 14, 110, 45, 14 } },
    { "openPictureButton", { 77, 87, 38, 14 } },
    { "deletePictureButton", { 117, 87, 38, 14 } },
    { "soundButton", { 13, 136, 40, 14 } },
    { "textButton", { 156, 87, 23, 14 } },
    { "changePictureCheck", { 133, 110, 46, 14 } },
};

// The native slider moves a fifth of its range per page; Qt's fixed 10 would
// cross almost the whole amplitude range in one step.
void setSliderRange(QSlider* slider, int low, int high)
{
    slider->setRange(low, high);
    slider->setSingleStep(1);
    slider->setPageStep(qMax(1, (high - low) / 5));
}

struct FileChoice {
    QStringList filters;
    const char* defaultSuffix;
    int startFilter = 0;
};

FileChoice fileChoice(SettingsDialog::FileKind kind)
{
    // Linux file names are case-sensitive: without the upper-case pattern a
    // DOG.BMP would not even be listed.
    switch (kind) {
    case SettingsDialog::FileKind::Picture:
        return { { QStringLiteral("Bitmap File(*.bmp *.BMP)") }, "bmp" };
    case SettingsDialog::FileKind::Sound:
        return { { QStringLiteral("Wave File(*.wav *.WAV)") }, "wav" };
    case SettingsDialog::FileKind::Program:
        // Programs here rarely end in .exe: the chooser starts on all files,
        // so that programs are listed and their names complete.
        return { { QStringLiteral("Word Program File(*.exe)"), QStringLiteral("All Files (*)") }, "exe", 1 };
    }
    return {};
}

// The default extension goes onto a name typed without one, unless a file of
// exactly that name exists: a program here usually has no extension, and
// picking it must not turn its path into one that does not exist.
QString withDefaultSuffix(const QString& path, const char* suffix)
{
    const QFileInfo info(path);
    if (info.fileName().contains(QLatin1Char('.')) || info.exists())
        return path;
    return path + QLatin1Char('.') + QLatin1String(suffix);
}
} // namespace

SettingsDialog::SettingsDialog(AppSettings& settings, SwingWindow* swingWindow, QWidget* parent)
    : QDialog(parent)
    , chooseFile([this](FileKind kind) { return runFileDialog(kind); })
    , desktop(&desktopRect)
    , monitors(&monitorLayout)
    , settings_(settings)
    , swingWindow_(swingWindow)
    , ui_(std::make_unique<Ui::SettingsDialog>())
{
    // The figure window is created while the panel is, before its controls
    // are filled, so that it swings from the first moment.
    if (swingWindow_)
        swingWindow_->createWindow();

    ui_->setupUi(this);
    changePictureCheck = ui_->changePictureCheck;
    uniformSwingCheck = ui_->uniformSwingCheck;
    figureCombo = ui_->figureCombo;
    alwaysOnTopCheck = ui_->alwaysOnTopCheck;
    frequencySlider = ui_->frequencySlider;
    amplitudeSlider = ui_->amplitudeSlider;
    lengthSlider = ui_->lengthSlider;

    layOutForm();
    initialise();
    connectControls();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::layOutForm()
{
    // The panel is the main window: it can be minimised, but not resized.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(dialogFont());
    const DialogUnits units(font());
    setFixedSize(units.toPixels(kFormSize.width(), kFormSize.height()));
    for (const Placement& p : kLayout) {
        auto* widget = findChild<QWidget*>(QLatin1String(p.name));
        QRect r = units.toPixels(p.rect);
        if (r.height() == 0)
            r.setHeight(widget->sizeHint().height());
        widget->setGeometry(r);
    }
}

void SettingsDialog::initialise()
{
    setWindowIcon(applicationIcon());

    // Positions set here notify nobody: the handlers answer user actions only.
    setSliderRange(frequencySlider, 20, 200);
    setSliderRange(lengthSlider, 50, 400);
    setSliderRange(amplitudeSlider, 1, 12);
    frequencySlider->setValue(settings_.tickInterval);
    lengthSlider->setValue(settings_.pendulumLength);
    // The step's size, whichever way the figure swings now.
    amplitudeSlider->setValue(swingWindow_ ? swingWindow_->motion.stepSize() : PendulumMotion::kDefaultStep);

    alwaysOnTopCheck->setChecked(settings_.alwaysOnTop != 0);
    uniformSwingCheck->setChecked(settings_.uniformSwing != 0);
    changePictureCheck->setChecked(settings_.changePictureOnDrop != 0);

    for (const UserPicture& picture : settings_.pictures)
        figureCombo->addItem(QString::fromStdString(picture.name));
    // An index the list does not have (a hand-edited settings file) selects nothing.
    const int index = settings_.figureIndex;
    figureCombo->setCurrentIndex(index >= 0 && index < figureCombo->count() ? index : -1);

    // Normal place: centred on the desktop; shown minimised from the start,
    // so that at first only the figure is seen.
    const ScreenRect centred = centredOn(desktop(), width(), height());
    move(centred.left, centred.top);
    setWindowState(Qt::WindowMinimized);
}

void SettingsDialog::keepOnScreen(const MonitorLayout& layout)
{
    // The frame, title bar included: that is what the user grabs.
    const QRect f = frameGeometry();
    const ScreenRect frame { f.x(), f.y(), f.x() + f.width(), f.y() + f.height() };
    const ScreenRect placed = windowOnScreen(layout, frame);
    if (placed.left != frame.left || placed.top != frame.top)
        move(placed.left, placed.top);
}

void SettingsDialog::connectControls()
{
    const std::pair<const char*, int> corners[] = {
        { "corner1000", 1000 }, { "corner1001", 1001 }, { "corner1002", 1002 }, { "corner1003", 1003 }
    };
    for (const auto& [name, id] : corners) {
        auto* button = findChild<QRadioButton*>(QLatin1String(name));
        connect(button, &QRadioButton::clicked, this, [this, id = id] { cornerClicked(id); });
    }

    // Every user action on a slider applies at once: each line or page step,
    // each step of a thumb drag and its end. When actionTriggered arrives the
    // slider position already holds the new value; value() follows after it.
    const std::pair<QSlider*, void (SettingsDialog::*)(int)> sliders[] = {
        { frequencySlider, &SettingsDialog::frequencyMoved },
        { lengthSlider, &SettingsDialog::lengthMoved },
        { amplitudeSlider, &SettingsDialog::amplitudeMoved },
    };
    for (const auto& [slider, handler] : sliders) {
        connect(slider, &QSlider::actionTriggered, this,
                [this, slider = slider, handler = handler] { (this->*handler)(slider->sliderPosition()); });
        connect(slider, &QSlider::sliderReleased, this,
                [this, slider = slider, handler = handler] { (this->*handler)(slider->sliderPosition()); });
    }

    connect(alwaysOnTopCheck, &QCheckBox::clicked, this, [this](bool checked) {
        settings_.alwaysOnTop = checked ? 1 : 0;
        if (swingWindow_)
            swingWindow_->setTopMost(checked);
    });
    connect(uniformSwingCheck, &QCheckBox::clicked, this, [this](bool checked) {
        settings_.uniformSwing = checked ? 1 : 0;
        // Clearing it lets the drift go on from wherever the amplitude is.
        if (checked && swingWindow_)
            swingWindow_->motion.resetAmplitude();
    });
    connect(changePictureCheck, &QCheckBox::clicked, this,
            [this](bool checked) { settings_.changePictureOnDrop = checked ? 1 : 0; });

    // activated, not currentIndexChanged: selections made from code
    // (addFigureEntry, deleting a picture) must not load a figure again.
    connect(figureCombo, &QComboBox::activated, this, &SettingsDialog::figureSelected);

    connect(ui_->openPictureButton, &QPushButton::clicked, this, &SettingsDialog::openPicture);
    connect(ui_->deletePictureButton, &QPushButton::clicked, this, &SettingsDialog::deletePicture);
    connect(ui_->soundButton, &QPushButton::clicked, this, &SettingsDialog::chooseSound);
    connect(ui_->textButton, &QPushButton::clicked, this, &SettingsDialog::chooseTextProgram);
    connect(ui_->aboutButton, &QPushButton::clicked, this, &SettingsDialog::showAbout);
    // "退出" ends the run like Esc and the close box; whoever ran it does not
    // look at the result.
    connect(ui_->exitButton, &QPushButton::clicked, this, &SettingsDialog::accept);
}

void SettingsDialog::cornerClicked(int id)
{
    const Corner corner = id == 1000 ? Corner::TopLeft
        : id == 1001                 ? Corner::BottomLeft
        : id == 1002                 ? Corner::TopRight
                                     : Corner::BottomRight;
    // With several monitors the figure goes to a corner of the one it hangs
    // on, not across the desktop to the primary's.
    const Pivot pivot = pivotForCorner(monitors(), { settings_.anchorX, settings_.anchorY }, corner,
                                       settings_.pendulumLength, kFrameSize);
    settings_.anchorX = pivot.x;
    settings_.anchorY = pivot.y;
    // The figure moves to the new pivot on its next tick.
}

void SettingsDialog::frequencyMoved(int position)
{
    settings_.tickInterval = position;
    // Restarting stops the running timer first.
    if (swingWindow_)
        swingWindow_->restartSwingTimer();
}

void SettingsDialog::lengthMoved(int position)
{
    // The pivot moves with the length, so the figure's resting height stays.
    const Pivot pivot = pivotForLength(desktop(), { settings_.anchorX, settings_.anchorY },
                                       settings_.pendulumLength, position, kFrameSize);
    settings_.pendulumLength = position;
    settings_.anchorY = pivot.y;
}

void SettingsDialog::amplitudeMoved(int position)
{
    // The slider sets the size of the step; its sign is the swing's direction.
    if (swingWindow_)
        swingWindow_->motion.setStepSize(position);
}

void SettingsDialog::figureSelected(int position)
{
    if (position < 0)
        return;
    settings_.figureIndex = position;
    // A file that cannot be read leaves the old figure; nothing is said.
    if (swingWindow_)
        swingWindow_->loadFigure(position);
}

void SettingsDialog::addFigureEntry(const QString& name)
{
    figureCombo->addItem(name);
    figureCombo->setCurrentIndex(figureCombo->count() - 1);
    settings_.figureIndex = figureCombo->count() - 1;
}

void SettingsDialog::openPicture()
{
    const std::string path = chosenPath(FileKind::Picture);
    if (path.empty())
        return;
    // The picture becomes the figure before it is named; one that cannot be
    // read adds nothing, silently. Without a figure window nothing can show it.
    if (!swingWindow_ || swingWindow_->loadPictureFigure(path) == 0)
        return;

    PictureNameDialog nameDialog(this);
    // Only the panel waits for the answer; the figure goes on taking clicks
    // and drops.
    nameDialog.setWindowModality(Qt::WindowModal);
    std::string name;
    if (nameDialog.exec() == QDialog::Accepted && !nameDialog.pictureName.isEmpty())
        name = nameDialog.pictureName.toStdString();
    else
        name = displayNameFromPath(path);

    // Added once the name is known: while the name dialog runs, the figure
    // window ticks and may take drops that add pictures of their own.
    settings_.pictures.add(path, name);
    addFigureEntry(QString::fromStdString(name));
}

void SettingsDialog::deletePicture()
{
    const int position = figureCombo->currentIndex();
    if (position < kBuiltInFigures)
        return;
    figureCombo->removeItem(position);
    settings_.figureIndex = 0;
    figureCombo->setCurrentIndex(0);
    settings_.pictures.removeAt(position - kBuiltInFigures);
    // The picture file itself stays where it is.
    if (swingWindow_)
        swingWindow_->loadBuiltInFigure(0);
}

void SettingsDialog::chooseSound()
{
    // Not played here; it plays on start, on drops and at exit.
    const std::string path = chosenPath(FileKind::Sound);
    if (!path.empty())
        settings_.soundFile = path;
}

void SettingsDialog::chooseTextProgram()
{
    const std::string path = chosenPath(FileKind::Program);
    if (!path.empty())
        settings_.textProgram = path;
}

void SettingsDialog::showAbout()
{
    AboutDialog about(this);
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

std::string SettingsDialog::chosenPath(FileKind kind)
{
    const QString path = chooseFile(kind);
    if (path.isEmpty())
        return std::string();
    // The name as the file system spells it, not as UTF-8 text.
    return QFile::encodeName(withDefaultSuffix(path, fileChoice(kind).defaultSuffix)).toStdString();
}

QString SettingsDialog::runFileDialog(FileKind kind)
{
    QFileDialog dialog(this);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The file need not exist: a sound or program may be named before it is there.
    dialog.setFileMode(QFileDialog::AnyFile);
    const FileChoice choice = fileChoice(kind);
    dialog.setNameFilters(choice.filters);
    dialog.selectNameFilter(choice.filters.value(choice.startFilter));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}
