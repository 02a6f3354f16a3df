// The text viewer: what it reads from a file, and its window.
#include "pictures/TextWindow.h"

#include "ViewerTestFiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::string_literals;

TEST(ReadTextForViewer, KeepsTheTextUpToTheFirstZeroWithCrLfAsLf)
{
    const struct {
        const char* name;
        std::string bytes;
        std::string text;
    } cases[] = {
        { "plain text", "one\ntwo\n", "one\ntwo\n" },
        { "empty file", "", "" },
        { "zero byte ends the text", "hello\0world"s, "hello" },
        { "zero byte first", "\0hello"s, "" },
        { "CR LF pairs", "a\r\nb\r\n", "a\nb\n" },
        { "CR alone stays", "a\rb\r", "a\rb\r" },
        { "LF CR is not a pair", "a\n\rb", "a\n\rb" },
        { "CR CR LF", "\r\r\n", "\r\n" },
        { "CR LF before a zero byte, not after", "a\r\n\0b\r\n"s, "a\n" },
        { "UTF-8 bytes untouched", "中文\r\n", "中文\n" },
        { "invalid UTF-8 untouched", "\xff\xfe\r\n", "\xff\xfe\n" },
    };
    viewertest::Scratch scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readTextForViewer(scratch.write("file.txt", c.bytes)), c.text);
    }
}

TEST(ReadTextForViewer, AnythingButAReadableRegularFileGivesEmptyText)
{
    viewertest::Scratch scratch;
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        { "missing file", scratch.path("missing.txt") },
        { "folder", scratch.path("") },
        { "empty path", "" },
        { "device", "/dev/zero" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(readTextForViewer(c.path), "");
    }
}

TEST(ReadTextForViewer, AFifoWithoutWriterReturnsAtOnce)
{
    viewertest::Scratch scratch;
    const std::string fifo = scratch.path("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> text = result->get_future();
    std::thread([result, fifo] { result->set_value(readTextForViewer(fifo)); }).detach();
    if (text.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Release the reader stuck in open() before failing, so the thread can end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        text.wait();
        FAIL() << "reading a FIFO waited for a writer";
    }
    EXPECT_EQ(text.get(), "");
}

TEST(ReadTextForViewer, ReadsOnlyTheFirst16MiB)
{
    // The pair straddles the limit: its LF is never read, so the CR stays.
    std::string bytes(kTextViewerMaxBytes + 100, 'x');
    bytes[kTextViewerMaxBytes - 1] = '\r';
    bytes[kTextViewerMaxBytes] = '\n';
    bytes[kTextViewerMaxBytes / 2] = '\n';
    viewertest::Scratch scratch;
    const std::string text = readTextForViewer(scratch.write("large.txt", bytes));
    ASSERT_EQ(text.size(), kTextViewerMaxBytes);
    EXPECT_EQ(text, bytes.substr(0, kTextViewerMaxBytes));
}

class TextWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const QPointer<TextWindow>& w : windows_)
            delete w.data();
    }

    TextWindow* open(int x, int y, const std::string& path)
    {
        auto* w = new TextWindow(x, y, path);
        windows_.emplace_back(w);
        QCoreApplication::processEvents();
        return w;
    }

    static QPlainTextEdit* control(TextWindow* w) { return w->findChild<QPlainTextEdit*>(); }

    viewertest::Scratch scratch_;
    std::vector<QPointer<TextWindow>> windows_;
};

TEST_F(TextWindowTest, WindowGrowsWithItsPositionAndIsTitledWithThePath)
{
    const std::string path = scratch_.write("说明 one.txt", "text");
    const struct {
        int offset;
        QSize outer;
    } cases[] = {
        { 0, QSize(600, 400) },
        { 16, QSize(616, 416) },
        { 96, QSize(696, 496) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        TextWindow* w = open(c.offset, c.offset, path);
        EXPECT_TRUE(w->isWindow());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->windowTitle(), QString::fromStdString(path));
        EXPECT_EQ(w->frameGeometry(), QRect(QPoint(c.offset, c.offset), c.outer));
    }
}

TEST_F(TextWindowTest, ShowsTheFileReadOnlyAndFillsTheClientArea)
{
    TextWindow* w = open(0, 0, scratch_.write("notes.txt", "first\r\nsecond\0hidden"s));
    QPlainTextEdit* edit = control(w);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), "first\nsecond");
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    edit->setFocus();
    QTest::keyClicks(edit, "typed");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->toPlainText(), "first\nsecond");

    for (QSize size : { w->size(), QSize(300, 200), QSize(900, 650) }) {
        SCOPED_TRACE(QString("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        w->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(edit->geometry(), w->rect());
        EXPECT_TRUE(edit->isVisible());
    }
}

TEST_F(TextWindowTest, FilesWithoutTextOpenAnEmptyWindow)
{
    const std::string fifo = scratch_.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        { "empty file", scratch_.write("empty.txt", "") },
        { "missing file", scratch_.path("missing.txt") },
        { "folder", scratch_.path("") },
        { "FIFO", fifo },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextWindow* w = open(16, 16, c.path);
        ASSERT_NE(control(w), nullptr);
        EXPECT_EQ(control(w)->toPlainText(), "");
        EXPECT_TRUE(w->isVisible());
    }
}

TEST_F(TextWindowTest, LongTextScrollsVertically)
{
    std::string lines;
    for (int i = 0; i < 500; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    TextWindow* w = open(0, 0, scratch_.write("long.txt", lines));
    EXPECT_GT(control(w)->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(control(w)->document()->blockCount(), 501);
}

TEST_F(TextWindowTest, ClosingOneWindowDeletesItAndLeavesTheOthers)
{
    const std::string path = scratch_.write("a.txt", "a");
    QPointer<TextWindow> first = open(0, 0, path);
    QPointer<TextWindow> second = open(16, 16, path);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_FALSE(second.isNull());
    EXPECT_TRUE(second->isVisible());
}

TEST_F(TextWindowTest, AMegabyteWithoutLineBreaksWrapsAnywhere)
{
    // Binary without zero bytes: no spaces, no line ends, invalid UTF-8 throughout.
    // Word wrapping such a run takes minutes; the window must still come up quickly.
    const std::string bytes(std::size_t { 1 } << 20, '\x80');
    TextWindow* w = open(0, 0, scratch_.write("blob.bin", bytes));
    w->repaint();
    EXPECT_EQ(control(w)->toPlainText().size(), qsizetype(bytes.size()));
    // Wrapping at word boundaries is what made such text take minutes.
    EXPECT_EQ(control(w)->wordWrapMode(), QTextOption::WrapAnywhere);
}

} // namespace
