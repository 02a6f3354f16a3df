#include "RecordingShell.h"
#include "TestBmp.h"

#include "settings/AppSettings.h"
#include "swing/SwingWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QMimeData>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include "TempDir.h"

#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

using testfs::TempDir;

std::string writeBmp(const TempDir& dir, const std::string& name, uint32_t colour)
{
    const std::string p = dir.file(name);
    testbmp::save(p, testbmp::rgb24(20, 20, [colour](int, int) { return colour; }));
    return p;
}

struct Fixture {
    AppSettings settings;
    RecordingShell rec;
    SwingWindow window { settings, rec };
};

// Runs the event loop until the window has handled every file dropped on it.
bool handleDrops(SwingWindow& window)
{
    return QTest::qWaitFor([&] { return !window.dropsPending(); }, 5000);
}

std::string uriOf(const std::string& path)
{
    return "file://" + QByteArray::fromStdString(path).toPercentEncoding("/").toStdString() + "\r\n";
}

// Drops the files on the window as the platform does, and says whether the drop was taken.
bool dropOn(SwingWindow& window, const std::vector<std::string>& paths)
{
    QMimeData data;
    std::string list;
    for (const std::string& p : paths)
        list += uriOf(p);
    data.setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(list));
    QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(40, 40), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

} // namespace

TEST(DroppedFiles, SubstringsDecideInOrder)
{
    TempDir dir("swing");
    const std::string docHeader = std::string(1, '\xD0') + "\xCF\x11\xE0";
    struct Case {
        const char* name;
        std::string content;
        const char* textProgram;
        int changePicture;
        DropAction expect;
    };
    const Case cases[] = {
        { "tune.wav", "RIFF", "NULL", 0, DropAction::PlaySound },
        { "TUNE.WAV", "RIFF", "NULL", 0, DropAction::PlaySound },
        { "notes.wav.txt", "hello", "NULL", 0, DropAction::PlaySound },
        { "x.Wav", "hello", "NULL", 0, DropAction::ShowText },
        { "a.bmp.doc", "", "NULL", 0, DropAction::ShowPicture },
        { "b.BMP", "", "NULL", 1, DropAction::AdoptAsFigure },
        { "letter.doc", docHeader, "/usr/bin/editor", 0, DropAction::OpenDocument },
        { "LETTER.DOC", docHeader, "/usr/bin/editor", 0, DropAction::OpenDocument },
        { "plain.doc", "plain text", "/usr/bin/editor", 0, DropAction::ShowText },
        { "nowriter.doc", docHeader, "NULL", 0, DropAction::ShowText },
        { "readme.txt", "text", "/usr/bin/editor", 0, DropAction::ShowText },
    };
    for (const Case& c : cases) {
        Fixture f;
        f.settings.textProgram = c.textProgram;
        f.settings.changePictureOnDrop = c.changePicture;
        std::string path = std::string(c.name).find(".bmp") != std::string::npos
                || std::string(c.name).find(".BMP") != std::string::npos
            ? writeBmp(dir, c.name, 0x336699)
            : dir.write(c.name, c.content);
        f.window.handleDroppedFile(path);
        const std::vector<std::pair<DropAction, std::string>> expected { { c.expect, path } };
        EXPECT_EQ(f.rec.drops, expected) << c.name;
        // The window only says what is to be done: the application does it.
        EXPECT_TRUE(f.rec.sounds.empty()) << c.name;
        EXPECT_EQ(f.settings.pictures.count(), 0) << c.name;
    }
}

// A drop hands over the names' bytes (here Latin-1 and GBK, neither of them
// UTF-8) untouched, and is answered as a copy even when a move was proposed;
// a source that allows only a move is refused.
TEST(DroppedFiles, DropsAreCopiesOfNamesGivenAsBytes)
{
    Fixture f;
    f.window.createWindow(); // where the window starts taking drops
    TempDir dir("swing");
    f.settings.textProgram = "/usr/bin/editor";
    const std::string sound = dir.write("caf\xe9.wav", "RIFF");
    const std::string document = dir.write("\xce\xc4\xd7\xd6.doc", "\xD0\xCF\x11\xE0");
    auto uri = [](const std::string& path) {
        return "file://" + QByteArray::fromStdString(path).toPercentEncoding("/").toStdString() + "\r\n";
    };
    const struct {
        Qt::DropActions offered;
        bool accepted;
    } cases[] = {
        { Qt::CopyAction | Qt::MoveAction, true },
        { Qt::MoveAction, false },
    };
    for (const auto& c : cases) {
        f.rec.drops.clear();
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), QByteArray::fromStdString(uri(sound) + uri(document)));
        QDragEnterEvent enter(QPoint(40, 40), c.offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        enter.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(&f.window, &enter);
        EXPECT_EQ(enter.isAccepted(), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        }
        QDropEvent drop(QPointF(40, 40), c.offered, &data, Qt::LeftButton, Qt::ShiftModifier);
        drop.setDropAction(Qt::MoveAction);
        QCoreApplication::sendEvent(&f.window, &drop);
        EXPECT_EQ(drop.isAccepted(), c.accepted);
        ASSERT_TRUE(handleDrops(f.window));
        if (!c.accepted) {
            EXPECT_TRUE(f.rec.drops.empty());
            continue;
        }
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        const std::vector<std::pair<DropAction, std::string>> expected {
            { DropAction::PlaySound, sound }, { DropAction::OpenDocument, document }
        };
        EXPECT_EQ(f.rec.drops, expected);
    }
}

// The drop is answered before any of its files is handled (one may show a box
// and wait); then one file per turn of the event loop, in order, each after
// the drop sound, and none while another one's handling waits in a loop.
TEST(DroppedFiles, AnsweredFirstThenOneFilePerTurn)
{
    struct WaitingShell : RecordingShell {
        std::vector<std::string> whileWaiting;
        SwingWindow* window = nullptr;
        std::string late; // dropped while the box waits
        void fileDropped(DropAction action, const std::string& path) override
        {
            RecordingShell::fileDropped(action, path);
            if (path.find("box") == std::string::npos)
                return;
            // As a box's loop does: events go on, the figure ticks, and more
            // files may be dropped.
            const std::size_t before = drops.size();
            EXPECT_TRUE(dropOn(*window, { late }));
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
            if (drops.size() != before)
                whileWaiting.push_back(drops.back().second);
        }
        std::vector<std::string> texts() const { return dropped(DropAction::ShowText); }
    };
    AppSettings settings;
    settings.soundFile = "/sounds/drop.wav";
    WaitingShell shell;
    SwingWindow window(settings, shell);
    window.createWindow();
    shell.sounds.clear(); // the start sound
    shell.window = &window;
    TempDir dir("swing");
    std::vector<std::string> paths;
    for (const char* name : { "a.txt", "box.txt", "c.txt", "d.txt" })
        paths.push_back(dir.write(name, "text"));
    shell.late = dir.write("late.txt", "text");
    ASSERT_TRUE(dropOn(window, paths));
    EXPECT_TRUE(shell.drops.empty()) << "a file was handled before the drop was answered";
    EXPECT_TRUE(shell.sounds.empty());
    EXPECT_TRUE(window.dropsPending());
    std::size_t handled = 0;
    for (int turn = 0; turn < 1000 && window.dropsPending(); ++turn) {
        QCoreApplication::processEvents();
        ASSERT_LE(shell.drops.size(), handled + 1) << "two files in one turn";
        handled = shell.drops.size();
    }
    paths.push_back(shell.late);
    EXPECT_EQ(shell.texts(), paths);
    EXPECT_EQ(shell.drops.size(), paths.size());
    EXPECT_EQ(shell.sounds, std::vector<std::string>(paths.size(), "/sounds/drop.wav"));
    EXPECT_TRUE(shell.whileWaiting.empty()) << "handled while another file's box waited: " << shell.whileWaiting[0];

    // Files not yet handled when the run ends are forgotten.
    shell.drops.clear();
    paths.pop_back();
    ASSERT_TRUE(dropOn(window, paths));
    window.cancelPendingDrops();
    EXPECT_FALSE(window.dropsPending());
    QTest::qWait(50);
    EXPECT_TRUE(shell.drops.empty());
    window.destroyWindow();
}

TEST(DroppedFiles, UnreadableDocumentIsShownAsText)
{
    Fixture f;
    f.settings.textProgram = "/usr/bin/editor";
    f.window.handleDroppedFile("/nonexistent/report.doc");
    const std::vector<std::pair<DropAction, std::string>> expected { { DropAction::ShowText, "/nonexistent/report.doc" } };
    EXPECT_EQ(f.rec.drops, expected);
}

TEST(FigureWindow, DragMovesThePivotAndRestartsFromTheBottom)
{
    Fixture f;
    f.settings.anchorX = 300;
    f.settings.anchorY = 200;
    f.settings.swingAngle = 80;
    f.window.createWindow();
    ASSERT_TRUE(f.window.swingTimerActive());
    f.window.motion.swingAmplitude = 10;
    const QPoint grab(10, 20);
    QTest::mousePress(&f.window, Qt::LeftButton, {}, grab);
    EXPECT_FALSE(f.window.swingTimerActive()) << "the press stops the swing";
    EXPECT_EQ(f.window.motion.swingAmplitude, 32);
    // The grabbed point stays under the pointer.
    QMouseEvent move(QEvent::MouseMove, QPointF(grab), QPointF(500, 400), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&f.window, &move);
    EXPECT_EQ(f.window.geometry().topLeft(), QPoint(490, 380));
    EXPECT_EQ(f.window.width(), 95);
    EXPECT_EQ(f.settings.swingAngle, 80) << "the angle is kept during a drag";
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(grab), QPointF(500, 400), Qt::LeftButton,
                        Qt::NoButton, {});
    QApplication::sendEvent(&f.window, &release);
    EXPECT_EQ(f.settings.anchorX, 500 - 48);
    EXPECT_EQ(f.settings.anchorY, 400 - 48 - 128);
    EXPECT_EQ(f.settings.swingAngle, 64);
    EXPECT_TRUE(f.window.swingTimerActive());
    // A release without a press changes nothing.
    f.settings.swingAngle = 70;
    QApplication::sendEvent(&f.window, &release);
    EXPECT_EQ(f.settings.swingAngle, 70);
    f.window.destroyWindow();
    EXPECT_FALSE(f.window.swingTimerActive());
}

TEST(FigureWindow, RightClickAsksForThePanelButNotDuringADrag)
{
    Fixture f;
    f.window.createWindow();
    QTest::mousePress(&f.window, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mousePress(&f.window, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(f.rec.panelShown, 0) << "ignored while dragging";
    QTest::mouseRelease(&f.window, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&f.window, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mousePress(&f.window, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(f.rec.panelShown, 1);
    f.window.destroyWindow();
}

TEST(FigureWindow, TickMovesToTheMotionsRectangle)
{
    Fixture f;
    f.settings.anchorX = 400;
    f.settings.anchorY = 100;
    f.window.createWindow();
    EXPECT_EQ(f.window.geometry(), QRect(400, 228, 95, 96));
    // The motion's rectangles are 95 and 96 high in turn; the window keeps
    // one size.
    f.window.swingTick();
    EXPECT_EQ(f.settings.swingAngle, 82);
    EXPECT_EQ(f.window.geometry(), QRect(400 - 55, 100 + 115, 95, 96));
    f.window.swingTick();
    EXPECT_EQ(f.window.geometry().size(), QSize(95, 96));
    f.window.destroyWindow();
}

TEST(FigureWindow, SwingsOnFromTheSavedAngleAndKeepsItForSaving)
{
    // The record's angle is what was saved: the motion starts there, and the
    // record follows the motion so that what is saved is where it is now.
    for (int saved : { 40, 64, 90, 200 }) {
        SCOPED_TRACE(saved);
        Fixture f;
        f.settings.anchorX = 400;
        f.settings.anchorY = 100;
        f.settings.swingAngle = static_cast<uint8_t>(saved);
        f.window.createWindow();
        EXPECT_EQ(f.window.motion.swingAngle, saved);
        PendulumMotion alone;
        alone.swingAngle = static_cast<uint8_t>(saved);
        WindowRect r { 0, 0, 95, 95 };
        for (int i = 0; i < 4; ++i) {
            f.window.swingTick();
            r = alone.tick(f.settings, r);
            EXPECT_EQ(f.window.motion.swingAngle, alone.swingAngle) << "tick " << i;
            EXPECT_EQ(f.settings.swingAngle, alone.swingAngle) << "tick " << i;
        }
        f.window.destroyWindow();
    }
}

TEST(FigureWindow, AsleepNothingStartsTheTimerAndWakingSwingsOnFromThere)
{
    Fixture f;
    f.settings.anchorX = 400;
    f.settings.anchorY = 100;
    f.window.createWindow();
    f.window.swingTick();
    f.window.swingTick();
    const int angle = f.settings.swingAngle;
    const QRect place = f.window.geometry();

    DesktopFacts saver;
    saver.saverOn = true;
    RecentWindow fullscreen { 5, true, true, { 0, 0, 1024, 768 } };
    RecentWindow plain { 6, true, false, { 100, 100, 500, 400 } };
    struct Step {
        const char* what;
        std::function<void()> change;
        bool visible;
    };
    const Step steps[] = {
        { "a saver on", [&] { f.window.setDesktopFacts(saver); }, true },
        { "and a fullscreen window", [&] {
              f.window.activeWindowChanged(fullscreen.id);
              f.window.windowChanged(fullscreen);
          }, false },
        { "the fullscreen window gone, the saver still on", [&] { f.window.windowGone(fullscreen.id); }, true },
        { "a fullscreen window again", [&] {
              f.window.activeWindowChanged(fullscreen.id);
              f.window.windowChanged(fullscreen);
          }, false },
        { "the saver off, the fullscreen window still there", [&] { f.window.setDesktopFacts(DesktopFacts {}); },
          false },
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_TRUE(f.window.presence().asleep) << step.what;
        EXPECT_FALSE(f.window.swingTimerActive()) << step.what;
        // The frequency slider and the end of a drag restart the timer;
        // the check box puts the figure on top.
        f.window.restartSwingTimer();
        f.window.setTopMost(true);
        EXPECT_FALSE(f.window.swingTimerActive()) << step.what << ": woken";
        EXPECT_EQ(f.window.isVisible(), step.visible) << step.what;
    }
    // Another window on its monitor becomes the active one.
    f.window.activeWindowChanged(plain.id);
    f.window.windowChanged(plain);
    EXPECT_TRUE(f.window.swingTimerActive()) << "awake";
    EXPECT_TRUE(f.window.isVisible());
    EXPECT_EQ(f.settings.swingAngle, angle) << "nothing moved while asleep";
    EXPECT_EQ(f.window.geometry().topLeft(), place.topLeft());

    // The next tick goes on from where it stopped, as if it had never slept.
    Fixture awake;
    awake.settings.anchorX = 400;
    awake.settings.anchorY = 100;
    awake.window.createWindow();
    for (int i = 0; i < 3; ++i)
        awake.window.swingTick();
    f.window.swingTick();
    EXPECT_EQ(f.settings.swingAngle, awake.settings.swingAngle);
    EXPECT_EQ(f.window.geometry(), awake.window.geometry());
    f.window.destroyWindow();
    awake.window.destroyWindow();
}

TEST(FigureWindow, MissingPictureShowsTheGirl)
{
    AppSettings reference;
    RecordingShell shell;
    SwingWindow girl(reference, shell);
    girl.loadBuiltInFigure(0);
    for (int index : { 4, 9, -3 }) {
        Fixture f;
        f.settings.anchorX = 100;
        f.settings.anchorY = 100;
        f.settings.figureIndex = index;
        if (index == 4) {
            f.settings.pictures.add("/nonexistent/gone.bmp", "gone");
        }
        f.window.createWindow();
        for (int k = 0; k < 7; ++k)
            for (int p = 0; p < 96 * 96; p += 97)
                ASSERT_EQ(f.window.frames.frame(k).pixel(p % 96, p / 96),
                          girl.frames.frame(k).pixel(p % 96, p / 96)) << "index " << index;
        f.window.destroyWindow();
    }
}

TEST(FigureWindow, FirstRunPlacesThePivotAndPlaysTheSound)
{
    Fixture f;
    f.settings.soundFile = "/sounds/start.wav";
    f.window.createWindow();
    // 1024 x 768 screen, length 128.
    EXPECT_EQ(f.window.geometry().topLeft(), QPoint(832, 672));
    EXPECT_EQ(f.settings.anchorX, 832);
    EXPECT_EQ(f.settings.anchorY, 544);
    EXPECT_EQ(f.rec.sounds, std::vector<std::string> { "/sounds/start.wav" });
    f.window.destroyWindow();
}
