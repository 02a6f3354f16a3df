// The settings panel: its form, its start, and what every control does to the
// settings record and the figure window.
#include "GuiTestSupport.h"

#include "dialogs/AboutDialog.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/SettingsDialog.h"
#include "settings/AppSettings.h"
#include "swing/SwingWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QTemporaryDir>
#include <QWindow>

#include <string>
#include <vector>

using guitest::child;
using guitest::clickIndicator;
using guitest::resourceColour;

namespace {

const char* const kBuiltInNames[] = { "女孩", "男孩", "猫", "护身符" };

using SettingsPanel = guitest::PanelTest;
using guitest::listEntries;
using guitest::selectFigure;

// A thumb drag through the given positions, then the release.
void dragSlider(QSlider* slider, std::initializer_list<int> positions)
{
    slider->setSliderDown(true);
    for (int p : positions)
        slider->setSliderPosition(p);
    slider->setSliderDown(false);
}

TEST_F(SettingsPanel, StartsFromTheRecord)
{
    const struct {
        const char* name;
        int tickInterval, pendulumLength, swingStep;
        int alwaysOnTop, uniformSwing, changePictureOnDrop;
        std::vector<std::string> pictures;
        int figureIndex;
        // Slider positions and list selection expected.
        int frequency, length, amplitude, selected;
    } cases[] = {
        { "defaults", 100, 128, 2, 1, 1, 0, {}, 0, 100, 128, 2, 0 },
        { "boxes the other way", 20, 400, 2, 0, 0, 1, {}, 3, 20, 400, 2, 3 },
        { "second user picture", 200, 50, 2, 1, 0, 1, { "狗", "猫咪" }, 5, 200, 50, 2, 5 },
        { "index past the list", 100, 128, 2, 1, 1, 0, { "狗", "猫咪" }, 6, 100, 128, 2, -1 },
        { "user index, no pictures", 100, 128, 2, 1, 1, 0, {}, 4, 100, 128, 2, -1 },
        { "negative index", 100, 128, 2, 1, 1, 0, {}, -1, 100, 128, 2, -1 },
        // Out of range values put the thumb at an end and are not written back.
        { "values beyond the sliders", 5, 1000, 2, 1, 1, 0, {}, 0, 20, 400, 2, 0 },
        { "negative length, zero interval", 0, -300, 2, 1, 1, 0, {}, 0, 20, 50, 2, 0 },
        { "far beyond", 100000, 5000, 2, 1, 1, 0, {}, 0, 200, 400, 2, 0 },
        // The thumb shows the step's size while the figure swings back.
        { "swinging back", 100, 128, -5, 1, 1, 0, {}, 0, 100, 128, 5, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings = AppSettings();
        settings.tickInterval = c.tickInterval;
        settings.pendulumLength = c.pendulumLength;
        window.motion.swingStep = c.swingStep;
        settings.alwaysOnTop = c.alwaysOnTop;
        settings.uniformSwing = c.uniformSwing;
        settings.changePictureOnDrop = c.changePictureOnDrop;
        settings.figureIndex = c.figureIndex;
        for (const std::string& name : c.pictures) {
            settings.pictures.add("/nowhere/" + name + ".bmp", name);
        }
        window.destroyWindow();
        makePanel();

        auto* frequency = control<QSlider>("frequencySlider");
        auto* length = control<QSlider>("lengthSlider");
        auto* amplitude = control<QSlider>("amplitudeSlider");
        EXPECT_EQ(frequency->minimum(), 20);
        EXPECT_EQ(frequency->maximum(), 200);
        EXPECT_EQ(length->minimum(), 50);
        EXPECT_EQ(length->maximum(), 400);
        EXPECT_EQ(amplitude->minimum(), 1);
        EXPECT_EQ(amplitude->maximum(), 12);
        EXPECT_EQ(frequency->value(), c.frequency);
        EXPECT_EQ(length->value(), c.length);
        EXPECT_EQ(amplitude->value(), c.amplitude);
        EXPECT_EQ(settings.tickInterval, c.tickInterval);
        EXPECT_EQ(settings.pendulumLength, c.pendulumLength);

        EXPECT_EQ(control<QCheckBox>("alwaysOnTopCheck")->isChecked(), c.alwaysOnTop == 1);
        EXPECT_EQ(control<QCheckBox>("uniformSwingCheck")->isChecked(), c.uniformSwing == 1);
        EXPECT_EQ(control<QCheckBox>("changePictureCheck")->isChecked(), c.changePictureOnDrop == 1);

        std::vector<std::string> expected(std::begin(kBuiltInNames), std::end(kBuiltInNames));
        expected.insert(expected.end(), c.pictures.begin(), c.pictures.end());
        auto* combo = control<QComboBox>("figureCombo");
        EXPECT_EQ(listEntries(combo), expected);
        EXPECT_EQ(combo->currentIndex(), c.selected);
        EXPECT_EQ(settings.figureIndex, c.figureIndex);

        // Whatever corner was chosen last time, none is marked.
        for (const char* corner : { "corner1000", "corner1001", "corner1002", "corner1003" })
            EXPECT_FALSE(control<QRadioButton>(corner)->isChecked()) << corner;
    }
}

TEST_F(SettingsPanel, CreatesTheFigureWindowAndStartsMinimisedAtTheCentre)
{
    // First run on the 1024 x 768 test screen with length 128.
    SettingsDialog& p = makePanel();
    EXPECT_TRUE(window.isCreated());
    EXPECT_EQ(window.geometry(), QRect(832, 672, 95, 96));

    EXPECT_EQ(p.windowTitle(), QStringLiteral("设定"));
    EXPECT_TRUE(p.windowState().testFlag(Qt::WindowMinimized));
    const DialogUnits units(p.font());
    EXPECT_EQ(p.size(), units.toPixels(186, 157));
    EXPECT_EQ(p.pos(), QPoint((1024 - p.width()) / 2, (768 - p.height()) / 2));
    EXPECT_TRUE(p.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(p.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(p.minimumSize(), p.maximumSize()) << "the panel is not resizable";

    const QList<QSize> sizes = p.windowIcon().availableSizes();
    for (int s : { 16, 32, 48, 256 })
        EXPECT_TRUE(sizes.contains(QSize(s, s))) << "icon size " << s;
}

TEST_F(SettingsPanel, MonitorsChangedBringTheFigureAndThePanelBack)
{
    settings.anchorX = 832;
    settings.anchorY = 544;
    SettingsDialog& p = makePanel();
    const MonitorLayout large { { { 0, 0, 1024, 768 } }, 0 };
    const MonitorLayout small { { { 0, 0, 640, 480 } }, 0 };

    // Still shown: nothing moves.
    p.move(700, 400);
    const QPoint before = p.frameGeometry().topLeft();
    window.keepOnScreen(large);
    p.keepOnScreen(large);
    EXPECT_EQ(settings.anchorX, 832);
    EXPECT_EQ(settings.anchorY, 544);
    EXPECT_EQ(p.frameGeometry().topLeft(), before);

    // The screen shrinks to 640 x 480 under both.
    window.keepOnScreen(small);
    p.keepOnScreen(small);
    EXPECT_EQ(settings.anchorX, 448);
    EXPECT_EQ(settings.anchorY, 256);
    const QRect figure = window.geometry();
    EXPECT_TRUE(QRect(0, 0, 640, 480).intersects(figure)) << "the figure at " << figure.x() << "," << figure.y();
    const QRect frame = p.frameGeometry();
    EXPECT_TRUE(QRect(0, 0, 640, 480).contains(frame)) << "the panel at " << frame.x() << "," << frame.y();
    EXPECT_EQ(frame.x(), (640 - frame.width()) / 2);
    EXPECT_EQ(frame.y(), (480 - frame.height()) / 2);
    EXPECT_TRUE(p.windowState().testFlag(Qt::WindowMinimized)) << "a minimised panel stays minimised";
}

TEST_F(SettingsPanel, RunsWithoutAFigureWindow)
{
    SettingsDialog p(settings, nullptr);
    clickIndicator(child<QRadioButton>(&p, "corner1000"));
    dragSlider(child<QSlider>(&p, "frequencySlider"), { 50 });
    clickIndicator(child<QCheckBox>(&p, "alwaysOnTopCheck"));
    selectFigure(child<QComboBox>(&p, "figureCombo"), 2);
    EXPECT_EQ(settings.anchorX, 150);
    EXPECT_EQ(settings.tickInterval, 50);
    EXPECT_EQ(settings.alwaysOnTop, 0);
    EXPECT_EQ(settings.figureIndex, 2);
}

TEST_F(SettingsPanel, FormHasEveryControlLaidOutInDialogUnits)
{
    SettingsDialog& p = makePanel();
    const struct {
        const char* name;
        const char* className;
        const char* caption;
    } controls[] = {
        { "corner1000", "QRadioButton", "" },
        { "corner1001", "QRadioButton", "" },
        { "corner1002", "QRadioButton", "" },
        { "corner1003", "QRadioButton", "" },
        { "exitButton", "QPushButton", "退出" },
        { "screenGroup", "QGroupBox", "屏幕" },
        { "amplitudeSlider", "QSlider", nullptr },
        { "lengthSlider", "QSlider", nullptr },
        { "amplitudeLabel", "QLabel", "振幅：" },
        { "lengthLabel", "QLabel", "摆长：" },
        { "frequencyLabel", "QLabel", "频率：" },
        { "frequencySlider", "QSlider", nullptr },
        { "alwaysOnTopCheck", "QCheckBox", "始终置顶" },
        { "figureCombo", "QComboBox", nullptr },
        { "aboutButton", "QPushButton", "关于" },
        { "uniformSwingCheck", "QCheckBox", "均匀摇摆" },
        { "openPictureButton", "QPushButton", "打开图片" },
        { "deletePictureButton", "QPushButton", "删除图片" },
        { "soundButton", "QPushButton", "音效设定" },
        { "textButton", "QPushButton", "文字" },
        { "changePictureCheck", "QCheckBox", "更换图片" },
    };
    std::vector<QWidget*> widgets;
    for (const auto& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* w = control<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        widgets.push_back(w);
        EXPECT_TRUE(w->inherits(c.className));
        EXPECT_TRUE(p.rect().contains(w->geometry())) << "outside the panel";
        if (auto* button = qobject_cast<QAbstractButton*>(w); button && c.caption) {
            EXPECT_EQ(button->text(), QString::fromUtf8(c.caption));
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), QString::fromUtf8(c.caption));
        }
        if (auto* group = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(group->title(), QString::fromUtf8(c.caption));
        }
        if (auto* slider = qobject_cast<QSlider*>(w)) {
            EXPECT_EQ(slider->orientation(), Qt::Horizontal);
            EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
        }
    }

    // The captions fit in their controls at this font.
    const QFontMetrics metrics(p.font());
    for (QWidget* w : widgets) {
        SCOPED_TRACE(w->objectName().toStdString());
        if (auto* check = qobject_cast<QCheckBox*>(w)) {
            const int indicator = check->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check)
                                  + check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
            EXPECT_LE(indicator + metrics.horizontalAdvance(check->text()), check->width());
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_LT(metrics.horizontalAdvance(button->text()), button->width());
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width());
        }
    }

    // No two controls overlap, except the radio buttons inside their group box.
    for (std::size_t i = 0; i < widgets.size(); ++i)
        for (std::size_t j = i + 1; j < widgets.size(); ++j) {
            const QString a = widgets[i]->objectName(), b = widgets[j]->objectName();
            if ((a == "screenGroup" && b.startsWith("corner")) || (b == "screenGroup" && a.startsWith("corner")))
                continue;
            EXPECT_FALSE(widgets[i]->geometry().intersects(widgets[j]->geometry()))
                << a.toStdString() << " overlaps " << b.toStdString();
        }

    // A sample of the layout, converted with this font's units.
    const DialogUnits units(p.font());
    EXPECT_EQ(control<QWidget>("exitButton")->geometry(), units.toPixels(DialogUnitRect { 139, 136, 40, 14 }));
    EXPECT_EQ(control<QWidget>("corner1003")->geometry(), units.toPixels(DialogUnitRect { 59, 59, 10, 8 }));
    EXPECT_EQ(control<QWidget>("lengthSlider")->geometry(), units.toPixels(DialogUnitRect { 115, 39, 64, 15 }));

    // Tab order follows the layout table; the figure list takes no tab stop.
    const char* tabOrder[] = { "corner1000",       "corner1001",        "corner1002",          "corner1003",
                               "exitButton",       "amplitudeSlider",   "lengthSlider",        "frequencySlider",
                               "alwaysOnTopCheck", "aboutButton",       "uniformSwingCheck",   "openPictureButton",
                               "deletePictureButton", "soundButton",    "textButton",          "changePictureCheck" };
    std::vector<std::string> chain;
    QWidget* w = control<QWidget>("corner1000");
    for (std::size_t i = 0; i < std::size(tabOrder); ++i) {
        chain.push_back(w->objectName().toStdString());
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    EXPECT_EQ(chain, std::vector<std::string>(std::begin(tabOrder), std::end(tabOrder)));
    EXPECT_FALSE(control<QWidget>("figureCombo")->focusPolicy() & Qt::TabFocus);
}

TEST_F(SettingsPanel, CornerButtonsSetThePivot)
{
    const DesktopRect screen1024 { 0, 0, 1024, 768 };
    const struct {
        const char* name;
        DesktopRect desktop; // all zero: the test screen itself
        int length;
        const char* corner;
        int anchorX, anchorY;
    } cases[] = {
        { "top left", {}, 128, "corner1000", 150, 20 },
        { "bottom left", {}, 128, "corner1001", 150, 544 },
        { "top right", {}, 128, "corner1002", 825, 20 },
        { "bottom right", {}, 128, "corner1003", 825, 544 },
        { "right, shortest string: no truncation loss", screen1024, 50, "corner1002", 888, 20 },
        { "right bottom, shortest string", screen1024, 50, "corner1003", 888, 622 },
        { "left, longest string", screen1024, 400, "corner1000", 368, 20 },
        { "left bottom, longest string", screen1024, 400, "corner1001", 368, 272 },
        { "top right of an 800 wide screen: 601.6 truncated", { 0, 0, 800, 600 }, 128, "corner1002", 601, 20 },
        { "a desktop not at the origin", { 1920, 40, 3200, 1064 }, 128, "corner1000", 2070, 60 },
        { "bottom right of a desktop not at the origin", { 1920, 40, 3200, 1064 }, 128, "corner1003", 3001, 840 },
    };
    makePanel();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        panel->monitors = c.desktop.right == 0
            ? &monitorLayout
            : std::function<MonitorLayout()>([d = c.desktop] { return MonitorLayout { { d }, 0 }; });
        settings.pendulumLength = c.length;
        settings.anchorX = settings.anchorY = -7;
        clickIndicator(control<QRadioButton>(c.corner));
        EXPECT_EQ(settings.anchorX, c.anchorX);
        EXPECT_EQ(settings.anchorY, c.anchorY);
        EXPECT_EQ(settings.pendulumLength, c.length);
    }
}

TEST_F(SettingsPanel, CornerButtonReadsTheDesktopOnEveryClick)
{
    makePanel();
    DesktopRect desktop { 0, 0, 1024, 768 };
    panel->monitors = [&desktop] { return MonitorLayout { { desktop }, 0 }; };
    auto* bottomRight = control<QRadioButton>("corner1003");
    clickIndicator(bottomRight);
    EXPECT_EQ(settings.anchorX, 825);
    EXPECT_EQ(settings.anchorY, 544);
    desktop = { 0, 0, 1280, 1024 };
    clickIndicator(bottomRight); // the same, already marked button
    EXPECT_EQ(settings.anchorX, 1081);
    EXPECT_EQ(settings.anchorY, 800);
}

TEST_F(SettingsPanel, CornerButtonsUseTheMonitorHoldingThePivot)
{
    // The primary at the origin, a larger monitor to its right.
    const MonitorLayout two { { { 0, 0, 1024, 768 }, { 1024, 0, 2944, 1080 } }, 0 };
    const struct {
        const char* name;
        int anchorX, anchorY; // before the click; -1 keeps the pivot the last click set
        const char* corner;
        int expectedX, expectedY;
    } steps[] = {
        { "pivot on the second monitor: its bottom right", 1500, 300, "corner1003", 2745, 856 },
        { "then its top left, still the second", -1, -1, "corner1000", 1174, 20 },
        { "then its bottom left", -1, -1, "corner1001", 1174, 856 },
        { "then its top right", -1, -1, "corner1002", 2745, 20 },
        { "pivot above the second, figure on it", 2000, -60, "corner1000", 1174, 20 },
        { "pivot on the primary: the primary's corner", 300, 300, "corner1002", 825, 20 },
        { "pivot on no monitor: the primary's", 9000, 9000, "corner1003", 825, 544 },
    };
    makePanel();
    panel->monitors = [&two] { return two; };
    settings.pendulumLength = 128;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.anchorX != -1) {
            settings.anchorX = s.anchorX;
            settings.anchorY = s.anchorY;
        }
        clickIndicator(control<QRadioButton>(s.corner));
        EXPECT_EQ(settings.anchorX, s.expectedX);
        EXPECT_EQ(settings.anchorY, s.expectedY);
    }
}

TEST_F(SettingsPanel, FrequencySliderRestartsTheTimerOnEveryStep)
{
    makePanel();
    auto* slider = control<QSlider>("frequencySlider");
    // Each step of a drag: the timer, stopped before it, runs again after it
    // with the new interval in the record.
    slider->setSliderDown(true);
    for (int p : { 120, 150, 37, 200 }) {
        window.killSwingTimer();
        slider->setSliderPosition(p);
        EXPECT_EQ(settings.tickInterval, p);
        EXPECT_TRUE(window.swingTimerActive()) << "after the step to " << p;
    }
    window.killSwingTimer();
    slider->setSliderDown(false);
    EXPECT_TRUE(window.swingTimerActive()) << "after the release";
    EXPECT_EQ(settings.tickInterval, 200);

    // Keys: a line is 1, a page a fifth of the range, as on the native slider.
    const struct {
        Qt::Key key;
        int from, to;
    } keys[] = {
        { Qt::Key_Right, 100, 101 }, { Qt::Key_Left, 100, 99 }, { Qt::Key_PageUp, 100, 136 },
        { Qt::Key_PageDown, 100, 64 }, { Qt::Key_End, 100, 200 }, { Qt::Key_Home, 100, 20 },
    };
    for (const auto& k : keys) {
        slider->setValue(k.from);
        window.killSwingTimer();
        QTest::keyClick(slider, k.key);
        EXPECT_EQ(settings.tickInterval, k.to) << QTest::toString(k.key);
        EXPECT_TRUE(window.swingTimerActive());
    }
    window.killSwingTimer();
}

TEST_F(SettingsPanel, LengthSliderMovesThePivotAndKeepsItOnTheScreen)
{
    const struct {
        const char* name;
        DesktopRect desktop;
        int fromLength, anchorY;
        std::initializer_list<int> drag;
        int length, expectedAnchorY;
    } cases[] = {
        { "resting height stays", { 0, 0, 1024, 768 }, 128, 544, { 200 }, 200, 472 },
        { "step by step, the same", { 0, 0, 1024, 768 }, 128, 544, { 150, 175, 200 }, 200, 472 },
        { "shorter moves the pivot down", { 0, 0, 1024, 768 }, 200, 472, { 128 }, 128, 544 },
        { "above the top: raised to it", { 0, 0, 1024, 768 }, 128, 20, { 400 }, 400, 0 },
        { "below the bottom: put back above it", { 0, 0, 1024, 768 }, 128, 720, { 50 }, 50, 622 },
        { "exactly at the bottom stays", { 0, 0, 1024, 768 }, 128, 690, { 50 }, 50, 768 },
        { "the top of a desktop not at 0", { 0, 30, 1024, 798 }, 128, 60, { 400 }, 400, 30 },
    };
    makePanel();
    auto* slider = control<QSlider>("lengthSlider");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        panel->desktop = [d = c.desktop] { return d; };
        slider->setValue(c.fromLength);
        settings.pendulumLength = c.fromLength;
        settings.anchorX = 300;
        settings.anchorY = c.anchorY;
        dragSlider(slider, c.drag);
        EXPECT_EQ(settings.pendulumLength, c.length);
        EXPECT_EQ(settings.anchorY, c.expectedAnchorY);
        EXPECT_EQ(settings.anchorX, 300);
    }
}

TEST_F(SettingsPanel, AmplitudeSliderKeepsTheSwingsDirection)
{
    const struct {
        int swingStep, position, expected;
    } cases[] = {
        { -2, 5, -5 }, { 2, 5, 5 }, { -12, 1, -1 }, { 0, 7, 7 }, { 3, 12, 12 },
    };
    makePanel();
    auto* slider = control<QSlider>("amplitudeSlider");
    for (const auto& c : cases) {
        slider->setValue(c.position == 1 ? 2 : 1);
        window.motion.swingStep = c.swingStep;
        dragSlider(slider, { c.position });
        EXPECT_EQ(window.motion.swingStep, c.expected) << "from " << c.swingStep << " to " << c.position;
    }
    // A key step too, from the motion's -5.
    slider->setValue(5);
    window.motion.swingStep = -5;
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(window.motion.swingStep, -6);
}

TEST_F(SettingsPanel, CheckBoxesWriteTheRecordAndTellTheWindow)
{
    makePanel();
    auto* onTop = control<QCheckBox>("alwaysOnTopCheck");
    auto* uniform = control<QCheckBox>("uniformSwingCheck");
    auto* change = control<QCheckBox>("changePictureCheck");
    ASSERT_TRUE(onTop->isChecked());
    ASSERT_TRUE(uniform->isChecked());
    ASSERT_FALSE(change->isChecked());

    // Always on top: both ways, the window follows.
    for (int expected : { 0, 1, 0 }) {
        clickIndicator(onTop);
        EXPECT_EQ(settings.alwaysOnTop, expected);
        EXPECT_EQ(topMost(), expected == 1);
    }

    // Uniform swing: checking it restores the full amplitude at once; clearing
    // it leaves the amplitude where it has drifted.
    window.motion.swingAmplitude = 10;
    window.motion.amplitudeDrift = 1;
    clickIndicator(uniform);
    EXPECT_EQ(settings.uniformSwing, 0);
    EXPECT_EQ(window.motion.swingAmplitude, 10);
    EXPECT_EQ(window.motion.amplitudeDrift, 1);
    clickIndicator(uniform);
    EXPECT_EQ(settings.uniformSwing, 1);
    EXPECT_EQ(window.motion.swingAmplitude, 32);
    EXPECT_EQ(window.motion.amplitudeDrift, -1);

    for (int expected : { 1, 0 }) {
        clickIndicator(change);
        EXPECT_EQ(settings.changePictureOnDrop, expected);
    }
}

TEST_F(SettingsPanel, FigureListLoadsTheChosenFigure)
{
    QTemporaryDir dir;
    const std::string picture = dir.filePath("dog.bmp").toStdString();
    testbmp::save(picture, testbmp::rgb24(40, 30, [](int, int) { return 0xC08040u; }));
    settings.pictures.add(picture, "dog");
    settings.pictures.add(dir.filePath("gone.bmp").toStdString(), "gone");
    makePanel();
    auto* combo = control<QComboBox>("figureCombo");

    for (int position : { 1, 2, 3, 0 }) {
        SCOPED_TRACE(position);
        window.loadBuiltInFigure(90); // something none of them shows
        selectFigure(combo, position);
        EXPECT_EQ(settings.figureIndex, position);
        EXPECT_TRUE(showsBuiltIn(10 * position)) << "frames of resources " << 10 * position + 1 << "..";
    }

    selectFigure(combo, 4);
    EXPECT_EQ(settings.figureIndex, 4);
    EXPECT_EQ(figureColour(), 0xC08040u);

    // A picture that cannot be read: the index moves, the figure stays.
    selectFigure(combo, 5);
    EXPECT_EQ(settings.figureIndex, 5);
    EXPECT_EQ(figureColour(), 0xC08040u);
}

TEST_F(SettingsPanel, AddFigureEntrySelectsItWithoutLoading)
{
    settings.pictures.add("/p/a.bmp", "a");
    makePanel();
    window.loadBuiltInFigure(20);
    auto* combo = control<QComboBox>("figureCombo");
    for (const char* name : { "小狗", "x y" }) {
        panel->addFigureEntry(QString::fromUtf8(name));
        EXPECT_EQ(combo->itemText(combo->count() - 1), QString::fromUtf8(name));
        EXPECT_EQ(combo->currentIndex(), combo->count() - 1);
        EXPECT_EQ(settings.figureIndex, combo->count() - 1);
    }
    EXPECT_EQ(combo->count(), 7);
    EXPECT_TRUE(showsBuiltIn(20));
}

TEST_F(SettingsPanel, AboutButtonRunsTheAboutBoxModally)
{
    makePanel();
    QString caption;
    auto ran = guitest::whenModal<AboutDialog>([&](AboutDialog* about) {
        caption = about->windowTitle();
        QTest::mouseClick(child<QPushButton>(about, "closeButton"), Qt::LeftButton);
    });
    QTest::mouseClick(control<QPushButton>("aboutButton"), Qt::LeftButton);
    EXPECT_TRUE(ran->ran());
    EXPECT_EQ(caption, QStringLiteral("关于"));
}

TEST_F(SettingsPanel, DoesNotTakeInputWhileADialogIsOpen)
{
    // Without a dialog, Esc and a click on "退出" sent to the panel's window
    // close it; while the about box is open, neither reaches it.
    for (bool dialogOpen : { false, true }) {
        for (bool click : { false, true }) {
            SCOPED_TRACE(std::string(dialogOpen ? "about box open, " : "nothing open, ") + (click ? "click" : "Esc"));
            makePanel();
            panel->showNormal();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
            QWindow* handle = panel->windowHandle();
            auto* exitButton = control<QPushButton>("exitButton");
            const QPoint exitPoint = exitButton->mapTo(panel.get(), exitButton->rect().center());
            auto poke = [&] {
                if (click)
                    QTest::mouseClick(handle, Qt::LeftButton, {}, exitPoint);
                else
                    QTest::keyClick(handle, Qt::Key_Escape);
            };
            bool visibleAfterPoke = false;
            if (dialogOpen) {
                auto ran = guitest::whenModal<AboutDialog>([&](AboutDialog* about) {
                    poke();
                    visibleAfterPoke = panel->isVisible();
                    about->reject();
                });
                QTest::mouseClick(control<QPushButton>("aboutButton"), Qt::LeftButton);
                ASSERT_TRUE(ran->ran());
            } else {
                poke();
                visibleAfterPoke = panel->isVisible();
            }
            EXPECT_EQ(visibleAfterPoke, dialogOpen);
            panel.reset();
            window.destroyWindow();
        }
    }
}

TEST_F(SettingsPanel, EveryWayOfClosingEndsTheRun)
{
    const struct {
        const char* name;
        std::function<void(SettingsDialog*)> close;
    } cases[] = {
        { "退出", [](SettingsDialog* p) { QTest::mouseClick(child<QPushButton>(p, "exitButton"), Qt::LeftButton); } },
        { "Esc", [](SettingsDialog* p) { QTest::keyClick(p, Qt::Key_Escape); } },
        { "Enter on a check box",
          [](SettingsDialog* p) {
              auto* box = child<QCheckBox>(p, "alwaysOnTopCheck");
              box->setFocus();
              QTest::keyClick(box, Qt::Key_Return);
          } },
        { "Enter on a slider", [](SettingsDialog* p) { QTest::keyClick(child<QSlider>(p, "lengthSlider"), Qt::Key_Enter); } },
        { "close box", [](SettingsDialog* p) { p->close(); } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings = AppSettings();
        makePanel();
        auto ran = guitest::whenModal<SettingsDialog>(c.close);
        panel->exec();
        EXPECT_TRUE(ran->ran());
        EXPECT_FALSE(panel->isVisible());
        // Enter only ends the run; it does not toggle the box it was pressed on.
        EXPECT_EQ(settings.alwaysOnTop, 1);
        panel.reset();
        window.destroyWindow();
    }
}

} // namespace
