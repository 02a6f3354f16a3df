// The application as the windows' go-between: the viewers it opens share one
// cascade, whichever kind they are and whether or not the file can be shown,
// and those still open when it ends are closed with it.
#include "app/TassioApp.h"
#include "viewers/PictureWindow.h"
#include "viewers/TextWindow.h"

#include "PictureLists.h"
#include "TestBmp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<QWidget*> viewers(bool visibleOnly = true)
{
    std::vector<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if ((dynamic_cast<PictureWindow*>(w) || dynamic_cast<TextWindow*>(w)) && (w->isVisible() || !visibleOnly))
            found.push_back(w);
    return found;
}

TEST(AppShell, ViewersOfBothKindsShareOneCascade)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string text = dir.filePath("notes.txt").toStdString();
    std::ofstream(text) << "some text";
    const std::string picture = dir.filePath("p.bmp").toStdString();
    testbmp::save(picture, testbmp::rgb24(20, 10, [](int, int) { return 0x336699u; }));
    const std::string broken = dir.filePath("broken.bmp").toStdString();
    std::ofstream(broken) << "not a picture";

    auto app = std::make_unique<TassioApp>();
    TassioApp& shell = *app;
    const struct {
        const std::string* path;
        bool isPicture;
        int expectAt; // -1: no window
    } steps[] = {
        { &text, false, 0 },     { &picture, true, 16 }, { &text, false, 32 },    { &broken, true, -1 },
        { &picture, true, 64 },  { &text, false, 80 },   { &text, false, 96 },    { &picture, true, 0 },
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(*s.path + " expected at " + std::to_string(s.expectAt));
        const std::vector<QWidget*> before = viewers();
        // A picture that cannot be read says so in a message box; answered here.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        answer.start(10);
        if (s.isPicture)
            shell.openPictureViewer(*s.path);
        else
            shell.openTextViewer(*s.path);
        std::vector<QWidget*> opened;
        auto newOnes = [&] {
            opened.clear();
            for (QWidget* w : viewers())
                if (std::find(before.begin(), before.end(), w) == before.end())
                    opened.push_back(w);
            return !opened.empty();
        };
        // Each opens once the last one has been painted.
        static_cast<void>(QTest::qWaitFor(newOnes, s.expectAt < 0 ? 300 : 5000));
        if (s.expectAt < 0) {
            EXPECT_TRUE(opened.empty());
            continue;
        }
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0]->frameGeometry().topLeft(), QPoint(s.expectAt, s.expectAt));
    }
    // A viewer the user closed is gone at once; the rest go with the program.
    const std::vector<QWidget*> open = viewers();
    ASSERT_EQ(open.size(), 7u);
    open[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(viewers(false).size(), 6u);
    shell.openTextViewer(text);
    EXPECT_TRUE(QTest::qWaitFor([] { return viewers(false).size() == 7u; }, 5000));
    app.reset();
    EXPECT_TRUE(viewers(false).empty());
}

// What the figure window says a dropped file is to do, done: pictures become
// the figure and join the user's pictures under their files' names, the last
// one shown; one that cannot be read adds nothing; a document goes to the
// text program as its only argument; a text opens in a viewer.
TEST(AppShell, DroppedFilesAreCarriedOut)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto app = std::make_unique<TassioApp>();
    const uint32_t colours[] = { 0x112233, 0x445566, 0x778899 };
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(dir.filePath(QStringLiteral("p%1.bmp").arg(i)).toStdString());
        const uint32_t colour = colours[i];
        testbmp::save(paths.back(), testbmp::rgb24(20, 20, [colour](int, int) { return colour; }));
        app->fileDropped(DropAction::AdoptAsFigure, paths.back());
    }
    EXPECT_EQ(picturePaths(app->settings.pictures), paths);
    EXPECT_EQ(pictureNames(app->settings.pictures), (std::vector<std::string> { "p0.bmp", "p1.bmp", "p2.bmp" }));
    EXPECT_EQ(app->swingWindow.frames.frame(3).pixel(48, 48), 0x778899u) << "the last one is shown";
    const std::string bad = dir.filePath("bad.bmp").toStdString();
    std::ofstream(bad) << "xx";
    app->fileDropped(DropAction::AdoptAsFigure, bad);
    EXPECT_EQ(app->settings.pictures.count(), 3);
    EXPECT_EQ(app->swingWindow.frames.frame(3).pixel(48, 48), 0x778899u);

    // The program writes down its arguments, one a line.
    const QString record = dir.filePath(QStringLiteral("args.txt"));
    const std::string program = dir.filePath(QStringLiteral("editor.sh")).toStdString();
    std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" << record.toStdString()
                           << ".tmp'\nmv '" << record.toStdString() << ".tmp' '" << record.toStdString() << "'\n";
    ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(program), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    app->settings.textProgram = program;
    const std::string document = dir.filePath(QStringLiteral("letter one.doc")).toStdString();
    app->fileDropped(DropAction::OpenDocument, document);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(record) && waited.elapsed() < 10000)
        QThread::msleep(10);
    QFile args(record);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly)) << "the text program did not run within 10 s";
    EXPECT_EQ(args.readAll().toStdString(), "1\n" + document + "\n");

    const std::string text = dir.filePath(QStringLiteral("notes.txt")).toStdString();
    std::ofstream(text) << "some text";
    app->fileDropped(DropAction::ShowText, text);
    EXPECT_TRUE(QTest::qWaitFor([] { return viewers().size() == 1u; }, 5000)) << "no text viewer within 5 s";
    app.reset();
    EXPECT_TRUE(viewers(false).empty());
}

// Many viewers asked for at once open one after another, each once the last
// one has been painted, and every one of them opens.
TEST(AppShell, ManyViewersOpenOneAfterAnother)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto app = std::make_unique<TassioApp>();
    TassioApp& shell = *app;
    constexpr int kCount = 12;
    for (int i = 0; i < kCount; ++i) {
        const std::string path = dir.filePath(QStringLiteral("n%1.txt").arg(i)).toStdString();
        std::ofstream(path) << "note " << i;
        shell.openTextViewer(path);
    }
    EXPECT_LE(viewers(false).size(), 1u) << "all opened at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewers(false).size() == std::size_t(kCount); }, 10000))
        << viewers(false).size() << " of " << kCount << " opened";
    app.reset();
    EXPECT_TRUE(viewers(false).empty());
}

} // namespace
