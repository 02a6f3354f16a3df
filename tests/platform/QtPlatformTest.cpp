// The Qt side of the platform layer on the offscreen platform: no display needed.
#include "platform/Desktop.h"
#include "platform/QtScreenGrabber.h"
#include "platform/ScreenGrabber.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/wait.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <vector>

namespace {

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

TEST(QtScreenGrabber, ClipsAndBlacksOutWhatLiesOffTheScreen)
{
    // The screen is 640x480 at (100, 50) (see main); what it holds is undefined on the
    // offscreen platform, but the parts of a request off it must be black and the stride
    // padding left alone.
    QtScreenGrabber grabber;
    const struct {
        const char* name;
        int x, y;
        int offLeft, offTop, offRight, offBottom; // columns/rows outside the screen
        bool anything;
    } cases[] = {
        {"top-left corner", 100 - 50, 50 - 30, 50, 30, 0, 0, true},
        {"bottom-right corner", 740 - 40, 530 - 10, 0, 0, 96 - 40, 96 - 10, true},
        {"desktop origin, left of the screen", 0, 0, 96, 96, 0, 0, false},
        {"entirely off", 5000, 5000, 96, 96, 0, 0, false},
        {"entirely off to the left", 100 - 96, 50, 96, 0, 0, 0, false},
    };
    const int w = 96, h = 96, stride = 100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint32_t> buffer(std::size_t(stride) * h, kUntouched);
        EXPECT_EQ(grabber.grab(c.x, c.y, w, h, buffer.data(), stride), c.anything);
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < stride; ++col) {
                const std::uint32_t p = buffer[std::size_t(row) * stride + col];
                const bool off = col < c.offLeft || row < c.offTop || col >= w - c.offRight ||
                                 row >= h - c.offBottom || !c.anything;
                if (col >= w)
                    ASSERT_EQ(p, kUntouched) << row << "," << col;
                else if (off)
                    ASSERT_EQ(p, 0u) << row << "," << col;
                else
                    ASSERT_EQ(p & 0xFF000000u, 0u) << row << "," << col;
            }
        }
    }
}

TEST(QtScreenGrabber, RefusesBadBuffersWithoutWriting)
{
    QtScreenGrabber grabber;
    std::vector<std::uint32_t> buffer(96 * 96, kUntouched);
    EXPECT_FALSE(grabber.grab(0, 0, 96, 96, nullptr, 96));
    EXPECT_FALSE(grabber.grab(0, 0, 96, 96, buffer.data(), 95));
    EXPECT_FALSE(grabber.grab(0, 0, 0, 96, buffer.data(), 96));
    EXPECT_FALSE(grabber.grab(0, 0, 96, -1, buffer.data(), 96));
    EXPECT_EQ(buffer, std::vector<std::uint32_t>(96 * 96, kUntouched));
}

TEST(ScreenGrabber, FallsBackToQtOffX11)
{
    const std::unique_ptr<ScreenGrabber> grabber = ScreenGrabber::create();
    ASSERT_NE(grabber, nullptr);
    EXPECT_NE(dynamic_cast<QtScreenGrabber*>(grabber.get()), nullptr);
}

TEST(Desktop, RectIsThePrimaryScreenWithExclusiveRightAndBottom)
{
    // The one screen is 640x480 at (100, 50) (see main).
    const DesktopRect r = desktopRect();
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right, 740);
    EXPECT_EQ(r.bottom, 530);
    EXPECT_EQ(r.width(), 640);
    EXPECT_EQ(r.height(), 480);
}

TEST(Desktop, NamesComeFromTheRunningExecutable)
{
    const QString path = QString::fromStdString(executablePath());
    const QFileInfo info(path);
    EXPECT_TRUE(info.isAbsolute());
    EXPECT_TRUE(info.isExecutable());
    EXPECT_EQ(info.canonicalFilePath(), QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    EXPECT_EQ(applicationName(), QStringLiteral("platform_qt_test"));
}

class StartProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        // Records its argument count and arguments, one a line.
        script_ = dir_.filePath("record.sh");
        QFile f(script_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '%1.tmp'\nmv '%1.tmp' '%1'\n")
                    .arg(output())
                    .toUtf8());
        f.close();
        ASSERT_TRUE(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

    QString output() const { return dir_.filePath("args.txt"); }

    // The recorded lines, once the detached script has written them.
    QStringList recorded()
    {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(output()) && timer.elapsed() < 10000)
            QThread::msleep(10);
        QFile f(output());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    QTemporaryDir dir_;
    QString script_;
};

TEST_F(StartProgram, PassesTheDocumentAsOneArgumentUntouchedByAnyShell)
{
    const std::string document = "/tmp/a b;c $(touch pwned) `id` 'q\" *.bmp \xC3\xA9";
    ASSERT_TRUE(startProgram(script_.toStdString(), document));
    EXPECT_EQ(recorded(), (QStringList{"1", QString::fromStdString(document)}));
    EXPECT_FALSE(QFile::exists(QStringLiteral("pwned")));
}

TEST_F(StartProgram, PassesNoArgumentForAnEmptyDocument)
{
    ASSERT_TRUE(startProgram(script_.toStdString(), ""));
    EXPECT_EQ(recorded(), QStringList{"0"});
}

// Names in any encoding reach the program as their bytes, and the program
// is nobody's child of ours: nothing is left to reap, no zombie.
TEST_F(StartProgram, PassesTheNamesBytesAndLeavesNoChild)
{
    const struct {
        const char* what;
        std::string document;
    } cases[] = {
        { "Latin-1", "/tmp/caf\xe9 r\xe9sum\xe9.doc" },
        { "GBK", "/tmp/\xce\xc4\xd7\xd6\xb8\xe5.doc" },
        { "broken UTF-8", "/tmp/\xc3(\xff\xfe.doc" },
    };
    for (const auto& c : cases) {
        QFile::remove(output());
        ASSERT_TRUE(startProgram(script_.toStdString(), c.document)) << c.what;
        recorded();
        QFile f(output());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.what;
        EXPECT_EQ(f.readAll().toStdString(), "1\n" + c.document + "\n") << c.what;
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << c.what << ": a child of ours is left";
        EXPECT_EQ(errno, ECHILD) << c.what;
    }
}

TEST_F(StartProgram, FindsAProgramOnThePath)
{
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", "/nonexistent:" + QFile::encodeName(dir_.path()) + ":" + oldPath);
    const bool started = startProgram("record.sh", "x");
    qputenv("PATH", oldPath);
    ASSERT_TRUE(started);
    EXPECT_EQ(recorded(), (QStringList { "1", "x" }));
}

TEST_F(StartProgram, FailsForAMissingProgram)
{
    EXPECT_FALSE(startProgram(dir_.filePath("no-such-program").toStdString(), "x"));
    EXPECT_FALSE(startProgram("", "x"));
    EXPECT_FALSE(startProgram("no-such-program-on-any-path", "x"));
    // There but not a program.
    QFile plain(dir_.filePath("plain.txt"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_FALSE(startProgram(dir_.filePath("plain.txt").toStdString(), "x"));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child of ours is left";
}

TEST(Desktop, MessageIsAnOkBoxCaptionedWithTheProgramName)
{
    QString title, text;
    QMessageBox::StandardButtons buttons;
    bool hadParent = true;
    int polls = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (++polls > 500) // never shown: close whatever is open so the test ends
                QApplication::closeAllWindows();
            return;
        }
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        hadParent = box->parentWidget() != nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    showMessage(QStringLiteral("Cannot open the picture."));
    poll.stop();
    EXPECT_EQ(title, QStringLiteral("platform_qt_test"));
    EXPECT_EQ(text, QStringLiteral("Cannot open the picture."));
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_FALSE(hadParent);
}

} // namespace

int main(int argc, char** argv)
{
    // A screen away from the origin and not square, so that coordinate mix-ups show.
    QTemporaryDir dir;
    const QString config = dir.filePath("screens.json");
    QFile file(config);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [{"name": "s", "x": 100, "y": 50, "width": 640, "height": 480,
                  "logicalDpi": 96, "logicalBpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
