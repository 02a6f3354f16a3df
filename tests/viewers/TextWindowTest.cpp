// The text viewer: what it reads from a file, and its window.
#include "viewers/TextWindow.h"

#include "ViewerTestFiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTextBlock>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStringDecoder>
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

const QByteArray kWestern = "windows-1252";

std::string dataFile(const char* name)
{
    return std::string(TASSIO_TEST_DATA) + "/" + name;
}

TEST(TextForViewer, KeepsTheTextUpToTheFirstZeroWithCrLfAsLf)
{
    const struct {
        const char* name;
        std::string bytes;
        QString text;
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
        { "UTF-8", "中文\r\n", QStringLiteral("中文\n") },
        { "UTF-8 with its mark", "\xEF\xBB\xBF" "abc", "abc" },
        // Invalid UTF-8 is some older encoding, here the Western one.
        { "invalid UTF-8", "caf\xe9\r\n", QStringLiteral("café\n") },
        { "UTF-8 cut short at the end of the file", "ab\xe4\xb8", QStringLiteral("abä¸") },
        { "valid up to a zero byte, garbage after", "中\0\xff\xfe"s, QStringLiteral("中") },
        // After a byte-order mark, UTF-16, and zero bytes are part of characters.
        { "UTF-16LE", "\xff\xfe" "a\0\r\0\n\0\x2d\x4e"s, QStringLiteral("a\n中") },
        { "UTF-16BE", "\xfe\xff" "\0a\0\r\0\n\x4e\x2d"s, QStringLiteral("a\n中") },
        { "UTF-16 up to a zero character", "\xff\xfe" "a\0\0\0b\0"s, "a" },
        { "UTF-16 mark alone", "\xff\xfe", "" },
    };
    viewertest::Scratch scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(textForViewer(scratch.write("file.txt", c.bytes), kWestern), c.text);
    }
}

// Legacy text files as this toy's users have them, each decoded in the
// encoding it was written in, or by its byte-order mark whatever the locale.
TEST(TextForViewer, ShowsLegacyEncodings)
{
    const QString twoLines = QStringLiteral("Grüße 你好\nzwei\n");
    const struct {
        const char* file;
        QByteArray legacy;
        QString text;
    } cases[] = {
        { "gb18030.txt", "GB18030", QStringLiteral("摆动的小女孩：中文测试\n第二行 € \U00020000\n") },
        { "latin1.txt", "windows-1252", QStringLiteral("Café crème, naïve façade\nÆsir ø ÿ\n") },
        { "latin1.txt", "ISO-8859-1", QStringLiteral("Café crème, naïve façade\nÆsir ø ÿ\n") },
        { "utf16le-bom.txt", "GB18030", twoLines },
        { "utf16le-bom.txt", "windows-1252", twoLines },
        { "utf16be-bom.txt", "GB18030", twoLines },
    };
    for (const auto& c : cases)
        EXPECT_EQ(textForViewer(dataFile(c.file), c.legacy), c.text) << c.file << " as " << c.legacy.constData();
    // An encoding Qt does not know leaves the old reading, not an empty window.
    EXPECT_EQ(textForViewer(dataFile("latin1.txt"), "no-such-encoding").left(3), QStringLiteral("Caf"));
}

TEST(TextForViewer, LegacyEncodingFollowsTheLocale)
{
    const struct {
        const char* locale;
        QByteArray codeset;
        QByteArray expected;
    } cases[] = {
        { "zh_CN", "UTF-8", "GB18030" },
        { "zh_SG", "utf8", "GB18030" },
        { "zh_TW", "UTF-8", "Big5" },
        { "zh_HK", "UTF-8", "Big5" },
        { "en_US", "UTF-8", "windows-1252" },
        { "de_DE", "ANSI_X3.4-1968", "windows-1252" },
        { "ru_RU", "UTF-8", "windows-1251" },
        { "pl_PL", "UTF-8", "windows-1250" },
        { "ja_JP", "UTF-8", "Shift_JIS" },
        // A locale with a legacy character set of its own keeps it.
        { "de_DE", "ISO-8859-15", "ISO-8859-15" },
        { "zh_CN", "GBK", "GBK" },
    };
    for (const auto& c : cases) {
        const QByteArray e = legacyTextEncoding(QLocale(QString::fromLatin1(c.locale)), c.codeset);
        EXPECT_EQ(e, c.expected) << c.locale << " " << c.codeset.constData();
        EXPECT_TRUE(QStringDecoder(e.constData()).isValid()) << e.constData();
    }
}

TEST(TextForViewer, AnythingButAReadableRegularFileGivesEmptyText)
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
        EXPECT_EQ(textForViewer(c.path, kWestern), QString());
    }
}

TEST(TextForViewer, AFifoWithoutWriterReturnsAtOnce)
{
    viewertest::Scratch scratch;
    const std::string fifo = scratch.path("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::make_shared<std::promise<QString>>();
    std::future<QString> text = result->get_future();
    std::thread([result, fifo] { result->set_value(textForViewer(fifo, kWestern)); }).detach();
    if (text.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Release the reader stuck in open() before failing, so the thread can end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        text.wait();
        FAIL() << "reading a FIFO waited for a writer";
    }
    EXPECT_EQ(text.get(), QString());
}

// A file longer than the limit shows its first 16 MiB and says so in a last
// line; one whose text ends at a zero byte before the limit needs no such line.
TEST(TextForViewer, SaysWhenOnlyTheFirst16MiBAreShown)
{
    const std::size_t total = 20 * 1024 * 1024;
    const QString note = truncationNote(kTextViewerMaxBytes, total);
    EXPECT_EQ(note, QStringLiteral("……（仅显示前 16 MiB，共 20.0 MiB）"));
    viewertest::Scratch scratch;

    std::string bytes(total, 'x');
    bytes[kTextViewerMaxBytes / 2] = '\n';
    // A character cut in two by the limit is left out, and the rest still
    // reads as UTF-8.
    bytes.replace(kTextViewerMaxBytes - 2, 3, "中");
    QString text = textForViewer(scratch.write("large.txt", bytes), kWestern);
    EXPECT_EQ(text, QString::fromLatin1(bytes.substr(0, kTextViewerMaxBytes - 2)) + '\n' + note);

    // A CR LF pair that straddles the limit: its LF is never read, so the CR stays.
    std::string pair(total, 'x');
    pair[kTextViewerMaxBytes - 1] = '\r';
    pair[kTextViewerMaxBytes] = '\n';
    text = textForViewer(scratch.write("pair.txt", pair), kWestern);
    EXPECT_EQ(text, QString::fromLatin1(pair.substr(0, kTextViewerMaxBytes)) + '\n' + note);

    bytes[100] = '\0';
    EXPECT_EQ(textForViewer(scratch.write("large.txt", bytes), kWestern), QString(100, QLatin1Char('x')));
    // Exactly the limit: nothing was left out.
    EXPECT_EQ(textForViewer(scratch.write("limit.txt", std::string(kTextViewerMaxBytes, 'y')), kWestern).size(),
              qsizetype(kTextViewerMaxBytes));
}

class TextWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const QPointer<TextWindow>& w : windows_)
            delete w.data();
    }

    // Opens a viewer and waits until its whole text is in the control.
    TextWindow* open(int x, int y, const std::string& path)
    {
        auto* w = new TextWindow(x, y, path);
        windows_.emplace_back(w);
        // A limit, not a wait: 20 MiB take long in a sanitizer build.
        EXPECT_TRUE(QTest::qWaitFor([w] { return w->textComplete(); }, 120000)) << "the text never arrived";
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

// A name that is not UTF-8 (Latin-1, GBK) opens by its bytes; only its title
// shows replacement characters.
TEST_F(TextWindowTest, NamesInAnyEncodingOpen)
{
    for (const std::string name : { "caf\xe9.txt", "\xce\xc4\xd7\xd6.txt", "\xff.txt" }) {
        const std::string path = scratch_.write(name, "contents\n");
        TextWindow* w = open(0, 0, path);
        EXPECT_EQ(control(w)->toPlainText(), "contents\n") << name;
        EXPECT_TRUE(w->windowTitle().endsWith(QStringLiteral(".txt"))) << name;
        EXPECT_TRUE(w->windowTitle().contains(QChar::ReplacementCharacter)) << name;
    }
}

TEST_F(TextWindowTest, ALongFileSaysHowMuchIsShown)
{
    const std::string path = scratch_.write("long.log", std::string(kTextViewerMaxBytes + (4 << 20), 'z'));
    TextWindow* w = open(0, 0, path);
    const QString shown = w->shownText();
    EXPECT_EQ(shown.size(), qsizetype(kTextViewerMaxBytes) + 1 + truncationNote(kTextViewerMaxBytes, kTextViewerMaxBytes + (4 << 20)).size());
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\n") + truncationNote(kTextViewerMaxBytes, kTextViewerMaxBytes + (4 << 20))))
        << shown.right(60).toStdString();
}

TEST_F(TextWindowTest, LongTextScrollsVertically)
{
    std::string lines;
    for (int i = 0; i < 500; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    TextWindow* w = open(0, 0, scratch_.write("long.txt", lines));
    EXPECT_GT(control(w)->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(w->shownText().count(QLatin1Char('\n')), 500);
    // The last line can be scrolled to and shows.
    control(w)->moveCursor(QTextCursor::End);
    QCoreApplication::processEvents();
    EXPECT_TRUE(control(w)->viewport()->rect().contains(control(w)->cursorRect()));
    EXPECT_GT(control(w)->verticalScrollBar()->value(), 0);
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
    EXPECT_EQ(w->shownText().size(), qsizetype(bytes.size()));
    // Wrapping at word boundaries is what made such text take minutes.
    EXPECT_EQ(control(w)->wordWrapMode(), QTextOption::WrapAnywhere);
}

// How a text goes into the control: lines share blocks up to the block
// length, and a longer line is cut, after a blank where there is one near the
// end of the block, never inside a surrogate pair.
TEST(ViewerTextLayout, BlocksOfBoundedLength)
{
    const QString ls(QChar::LineSeparator);
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two UTF-16 units
    const struct {
        const char* name;
        QString text;
        qsizetype blockChars;
        QString laidOut;
        std::vector<qsizetype> splits;
    } cases[] = {
        { "empty", "", 8, "", {} },
        { "short lines share a block", "ab\ncd\nef", 8, "ab" + ls + "cd" + ls + "ef", {} },
        { "the line that does not fit starts a block", "abcd\nefgh", 8, "abcd\nefgh", {} },
        { "then joins the next", "abcd\nefgh\nij", 8, "abcd\nefgh" + ls + "ij", {} },
        { "every kind of paragraph end", QString("a\rb") + QChar(QChar::ParagraphSeparator) + "c", 8,
          "a" + ls + "b" + ls + "c", {} },
        { "a last line end", "ab\n", 8, "ab" + ls, {} },
        { "a long line is cut", "abcdefghijklmnopqrst", 8, "abcdefghijklmnopqrst", { 8, 16 } },
        { "a long line after short ones", "ab\nabcdefghij", 8, "ab\nabcdefghij", { 11 } },
        { "after a blank near the end", "aaaaaaaaaaaaa bbbbbbbbbbbbbb", 16, "aaaaaaaaaaaaa bbbbbbbbbbbbbb", { 14 } },
        { "not after a blank far from it", "aaaa bbbbbbbbbbbbbbbbbbbbbbb", 16, "aaaa bbbbbbbbbbbbbbbbbbbbbbb", { 16 } },
        { "not inside a surrogate pair", "x" + smile.repeated(10), 8, "x" + smile.repeated(10), { 7, 15 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ViewerText v = layoutViewerText(c.text, c.blockChars);
        EXPECT_EQ(v.text, c.laidOut);
        EXPECT_EQ(v.splits, c.splits);
        EXPECT_FALSE(v.wrapAnywhere);
    }
    EXPECT_TRUE(layoutViewerText(QString(2000, QLatin1Char('x'))).wrapAnywhere);
}

// The control shows the file's text whatever its shape, in blocks of bounded
// length, and copies it as the file has it: without line ends where a line was
// cut into blocks.
TEST_F(TextWindowTest, EveryShapeOfTextShowsWholeInBoundedBlocks)
{
    std::string shortLines;
    for (int i = 0; i < 20000; ++i)
        shortLines += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
    std::string mixed = std::string(3 * kViewerBlockChars + 17, 'j') + "\n" + shortLines.substr(0, 5000);
    for (int i = 0; i < 3000; ++i)
        mixed += "word\xE4\xB8\xAD \xF0\x9F\x98\x80 ";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        { "one long line, no blanks", std::string(std::size_t { 1 } << 20, '{') },
        { "one long line with blanks", [] { std::string s; for (int i = 0; i < 100000; ++i) s += "ab cd, "; return s; }() },
        { "many short lines", shortLines },
        { "long and short lines, wide characters", mixed },
        { "lone carriage returns", "one\rtwo\rthree" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch_.write("shape.txt", c.bytes);
        QString expected = textForViewer(path, kWestern);
        expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        TextWindow* w = open(0, 0, path);
        EXPECT_EQ(w->shownText(), expected);
        const QTextDocument* document = control(w)->document();
        int longest = 0;
        for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
            longest = std::max(longest, b.length() - 1);
        EXPECT_LE(longest, kViewerBlockChars);
        EXPECT_LE(document->blockCount(), 2 * expected.size() / kViewerBlockChars + 2);

        control(w)->selectAll();
        control(w)->copy();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
        w->close();
    }
}

} // namespace
