// The picture viewer window on the offscreen platform: scroll rules, drag
// panning, painted pixels, sizing and the refusal of unreadable files.
#include "viewers/PictureWindow.h"

#include "TestBmp.h"
#include "ViewerTestFiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <functional>
#include <vector>

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// Never white (blue stays below 0x80) and different from each neighbour.
uint32_t colourAt(int x, int y)
{
    return uint32_t((x * 7) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 | uint32_t((x + 3 * y) & 0x7F);
}

// Counts the paint events a window receives from its creation on: the
// tests' own instrument, so the viewer carries no counter for them.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) : QObject(w) { w->installEventFilter(this); }
    std::uint64_t count() const { return count_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count_;
        return false;
    }

private:
    std::uint64_t count_ = 0;
};

std::vector<PictureWindow*> openPictureWindows()
{
    std::vector<PictureWindow*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = dynamic_cast<PictureWindow*>(w))
            found.push_back(p);
    return found;
}

class PictureWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const QPointer<PictureWindow>& w : windows_)
            delete w.data();
    }

    PictureWindow* open(const std::string& path, int x = 0, int y = 0)
    {
        PictureWindow* w = PictureWindow::open(x, y, path, [this](const QString& text) { messages_ << text; });
        windows_.emplace_back(w);
        return w;
    }

    PictureWindow* openPicture(int width, int height, const std::string& name = "picture.bmp")
    {
        const std::string path = scratch_.path(name);
        testbmp::save(path, testbmp::rgb24(width, height, colourAt));
        return open(path);
    }

    // Sizes the window so that its client area is want; the bars come and go with the size.
    static void setClientSize(PictureWindow* w, QSize want)
    {
        for (int i = 0; i < 4 && w->clientSize() != want; ++i)
            w->resize(w->size() + want - w->clientSize());
        ASSERT_EQ(w->clientSize(), want);
        QCoreApplication::processEvents();
    }

    static int position(PictureWindow* w, Qt::Orientation o)
    {
        return o == Qt::Horizontal ? w->scrollX() : w->scrollY();
    }
    static int maximum(PictureWindow* w, Qt::Orientation o)
    {
        return o == Qt::Horizontal ? w->horizontalMaximum() : w->verticalMaximum();
    }

    // Every client pixel: the picture shifted by the scroll position, white beyond it.
    static void expectShows(PictureWindow* w, int pictureW, int pictureH,
                            const std::function<uint32_t(int, int)>& colour)
    {
        const QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QSize client = w->clientSize();
        ASSERT_GE(shot.width(), client.width());
        ASSERT_GE(shot.height(), client.height());
        int wrong = 0;
        for (int y = 0; y < client.height(); ++y) {
            for (int x = 0; x < client.width(); ++x) {
                const int px = x + w->scrollX(), py = y + w->scrollY();
                const uint32_t want = px < pictureW && py < pictureH ? colour(px, py) : kWhite;
                const uint32_t got = shot.pixel(x, y) & 0xFFFFFF;
                if (got != want && wrong++ < 3)
                    ADD_FAILURE() << "client pixel (" << x << "," << y << ") at scroll (" << w->scrollX() << ","
                                  << w->scrollY() << "): " << std::hex << got << " instead of " << want;
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    viewertest::Scratch scratch_;
    QStringList messages_;
    std::vector<QPointer<PictureWindow>> windows_;
};

const Qt::Orientation kBothAxes[] = { Qt::Horizontal, Qt::Vertical };

const char* axisName(Qt::Orientation o) { return o == Qt::Horizontal ? "horizontal" : "vertical"; }

TEST_F(PictureWindowTest, ScrollRequestsFollowTheTable)
{
    struct Request {
        int code;
        int thumb;
        int expect;
    };
    const struct {
        const char* name;
        int length; // picture extent along the scrolled axis
        int client; // client extent along it
        int maximum;
        std::vector<Request> requests;
    } cases[] = {
        { "nine line steps reach 99, the tenth is clamped to 100, start returns to 0", 300, 200, 100,
          { { 1, 0, 11 }, { 1, 0, 22 }, { 1, 0, 33 }, { 1, 0, 44 }, { 1, 0, 55 }, { 1, 0, 66 }, { 1, 0, 77 },
            { 1, 0, 88 }, { 1, 0, 99 }, { 1, 0, 100 }, { 1, 0, 100 }, { 6, 0, 0 }, { 0, 0, 0 } } },
        { "pages move by the line step", 300, 200, 100, { { 3, 0, 11 }, { 3, 0, 22 }, { 2, 0, 11 }, { 2, 0, 0 } } },
        { "a range of 0..5 steps by 1", 205, 200, 5,
          { { 1, 0, 1 }, { 3, 0, 2 }, { 0, 0, 1 }, { 7, 0, 5 }, { 1, 0, 5 }, { 6, 0, 0 } } },
        { "a range of 0..2100 steps by 211", 2300, 200, 2100, { { 1, 0, 211 }, { 7, 0, 2100 }, { 2, 0, 1889 } } },
        { "thumb positions are clamped to the range", 300, 200, 100,
          { { 5, 70, 70 }, { 4, 70, 70 }, { 5, 150, 100 }, { 4, -20, 0 }, { 4, 37, 37 } } },
        { "end of scrolling and unknown codes move nothing", 300, 200, 100,
          { { 4, 50, 50 }, { 8, 90, 50 }, { 9, 0, 50 }, { 1000, 0, 50 }, { -1, 0, 50 } } },
        { "a picture smaller than the client cannot move", 150, 200, 0,
          { { 1, 0, 0 }, { 3, 0, 0 }, { 7, 0, 0 }, { 5, 70, 0 }, { 4, 70, 0 } } },
    };
    for (Qt::Orientation axis : kBothAxes) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(axisName(axis)) + ": " + c.name);
            const bool h = axis == Qt::Horizontal;
            PictureWindow* w = openPicture(h ? c.length : 50, h ? 50 : c.length);
            ASSERT_NE(w, nullptr);
            setClientSize(w, h ? QSize(c.client, 100) : QSize(100, c.client));
            EXPECT_EQ(maximum(w, axis), c.maximum);
            EXPECT_EQ(w->scrollBar(axis)->isHidden(), c.maximum == 0);
            int previous = 0;
            const PaintCounter* painted = new PaintCounter(w);
            for (const Request& r : c.requests) {
                SCOPED_TRACE("code " + std::to_string(r.code) + " from " + std::to_string(previous));
                const std::uint64_t paints = painted->count();
                w->scrollRequest(axis, r.code, r.thumb);
                EXPECT_EQ(position(w, axis), r.expect);
                EXPECT_EQ(w->scrollBar(axis)->value(), r.expect);
                // A move repaints at once, exactly once; no move, no paint.
                EXPECT_EQ(painted->count() - paints, r.expect != previous ? 1u : 0u);
                previous = r.expect;
            }
            EXPECT_EQ(position(w, h ? Qt::Vertical : Qt::Horizontal), 0);
            delete w;
        }
    }
}

TEST_F(PictureWindowTest, ScrollBarActionsGoThroughTheSameRules)
{
    // The bars' own stepping is not used: each action becomes a request of the table.
    const struct {
        const char* name;
        std::function<void(QScrollBar*)> act;
        int expect;
    } steps[] = {
        { "arrow forward", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderSingleStepAdd); }, 11 },
        { "page forward", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderPageStepAdd); }, 22 },
        { "arrow back", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderSingleStepSub); }, 11 },
        { "to the end", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderToMaximum); }, 100 },
        { "page back", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderPageStepSub); }, 89 },
        { "to the start", [](QScrollBar* b) { b->triggerAction(QAbstractSlider::SliderToMinimum); }, 0 },
        { "thumb dragged and let go",
          [](QScrollBar* b) {
              b->setSliderDown(true);
              b->setSliderPosition(64);
              b->setSliderDown(false);
          },
          64 },
    };
    for (Qt::Orientation axis : kBothAxes) {
        SCOPED_TRACE(axisName(axis));
        const bool h = axis == Qt::Horizontal;
        PictureWindow* w = openPicture(h ? 300 : 50, h ? 50 : 300);
        ASSERT_NE(w, nullptr);
        setClientSize(w, h ? QSize(200, 100) : QSize(100, 200));
        for (const auto& s : steps) {
            SCOPED_TRACE(s.name);
            s.act(w->scrollBar(axis));
            EXPECT_EQ(position(w, axis), s.expect);
            EXPECT_EQ(w->scrollBar(axis)->value(), s.expect);
            EXPECT_EQ(w->scrollBar(axis)->sliderPosition(), s.expect);
        }
        delete w;
    }
}

TEST_F(PictureWindowTest, ResizingPullsThePositionBackIntoTheRange)
{
    const struct {
        const char* name;
        int start;
        int client;
        int maximum;
        int expect;
        bool repaints;
    } cases[] = {
        { "widened to 250 at 100: pulled back to 50", 100, 250, 50, 50, true },
        { "widened to 250 at 30: stays", 30, 250, 50, 30, false },
        { "widened past the picture: range 0..0 at 0", 100, 350, 0, 0, true },
        { "narrowed to 150 at 50: stays", 50, 150, 150, 50, false },
    };
    for (Qt::Orientation axis : kBothAxes) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(axisName(axis)) + ": " + c.name);
            const bool h = axis == Qt::Horizontal;
            PictureWindow* w = openPicture(h ? 300 : 60, h ? 60 : 300);
            ASSERT_NE(w, nullptr);
            setClientSize(w, h ? QSize(200, 100) : QSize(100, 200));
            w->scrollRequest(axis, 4, c.start);
            ASSERT_EQ(position(w, axis), c.start);
            const PaintCounter* painted = new PaintCounter(w);
            const std::uint64_t paints = painted->count();
            setClientSize(w, h ? QSize(c.client, 100) : QSize(100, c.client));
            EXPECT_EQ(maximum(w, axis), c.maximum);
            EXPECT_EQ(position(w, axis), c.expect);
            EXPECT_EQ(w->scrollBar(axis)->isHidden(), c.maximum == 0);
            if (c.repaints) {
                EXPECT_GT(painted->count(), paints);
            }
            // Pulled back, the picture's far edge meets the client's far edge.
            expectShows(w, h ? 300 : 60, h ? 60 : 300, colourAt);
            delete w;
        }
    }
}

TEST_F(PictureWindowTest, DraggingPansThePictureWithThePointer)
{
    const struct {
        const char* name;
        int start;
        int press;              // pointer position along the axis at the press
        std::vector<int> moves; // pointer positions while the button is down
        int expect;
    } cases[] = {
        { "30 px towards the start from 10 goes to 40", 10, 150, { 120 }, 40 },
        { "in steps adds up the same", 10, 150, { 140, 130, 120 }, 40 },
        { "further than the range allows stops at 100", 10, 190, { 0 }, 100 },
        { "towards the end moves the picture along", 60, 50, { 80 }, 30 },
        { "past the start stops at 0", 20, 10, { 150 }, 0 },
        { "there and back returns", 50, 100, { 60, 100 }, 50 },
    };
    for (Qt::Orientation axis : kBothAxes) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(axisName(axis)) + ": " + c.name);
            const bool h = axis == Qt::Horizontal;
            auto at = [h](int along) { return h ? QPoint(along, 20) : QPoint(20, along); };
            PictureWindow* w = openPicture(h ? 300 : 50, h ? 50 : 300);
            ASSERT_NE(w, nullptr);
            setClientSize(w, h ? QSize(200, 100) : QSize(100, 200));
            w->scrollRequest(axis, 4, c.start);
            QTest::mousePress(w, Qt::LeftButton, {}, at(c.press));
            for (int m : c.moves)
                QTest::mouseMove(w, at(m));
            EXPECT_EQ(position(w, axis), c.expect);
            QTest::mouseRelease(w, Qt::LeftButton, {}, at(c.moves.back()));
            // Released, the pointer moves freely.
            QTest::mouseMove(w, at(c.press));
            EXPECT_EQ(position(w, axis), c.expect);
            expectShows(w, h ? 300 : 50, h ? 50 : 300, colourAt);
            delete w;
        }
    }
}

TEST_F(PictureWindowTest, OnlyALeftPressInTheClientAreaStartsADrag)
{
    PictureWindow* w = openPicture(300, 300);
    ASSERT_NE(w, nullptr);
    setClientSize(w, QSize(200, 200));
    ASSERT_FALSE(w->scrollBar(Qt::Horizontal)->isHidden());
    ASSERT_FALSE(w->scrollBar(Qt::Vertical)->isHidden());
    w->scrollRequest(Qt::Horizontal, 4, 50);
    w->scrollRequest(Qt::Vertical, 4, 50);

    const struct {
        const char* name;
        Qt::MouseButton button;
        QPoint press;
    } cases[] = {
        { "right button", Qt::RightButton, QPoint(100, 100) },
        { "the square between the scroll bars", Qt::LeftButton,
          QPoint(w->width() - 2, w->height() - 2) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTest::mousePress(w, c.button, {}, c.press);
        QTest::mouseMove(w, QPoint(10, 10));
        QTest::mouseRelease(w, c.button, {}, QPoint(10, 10));
        EXPECT_EQ(w->scrollX(), 50);
        EXPECT_EQ(w->scrollY(), 50);
    }
}

TEST_F(PictureWindowTest, PaintsTheVisiblePartOfThePictureOnWhite)
{
    const struct {
        const char* name;
        int pictureW, pictureH;
        QSize client;
        int x, y;
    } cases[] = {
        { "unscrolled", 300, 250, QSize(200, 150), 0, 0 },
        { "scrolled on both axes", 300, 250, QSize(200, 150), 37, 51 },
        { "at the far corner", 300, 250, QSize(200, 150), 100, 100 },
        { "smaller than the client, at the top-left corner", 50, 40, QSize(120, 90), 0, 0 },
        { "wider than the client only", 300, 40, QSize(200, 90), 64, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureWindow* w = openPicture(c.pictureW, c.pictureH);
        ASSERT_NE(w, nullptr);
        setClientSize(w, c.client);
        w->scrollRequest(Qt::Horizontal, 4, c.x);
        w->scrollRequest(Qt::Vertical, 4, c.y);
        ASSERT_EQ(w->scrollX(), c.x);
        ASSERT_EQ(w->scrollY(), c.y);
        expectShows(w, c.pictureW, c.pictureH, colourAt);
        delete w;
    }
}

TEST_F(PictureWindowTest, WindowIsPlacedTitledAndSizedByThePicture)
{
    const struct {
        const char* name;
        int x, y;
        int pictureW, pictureH;
    } cases[] = {
        { "at the origin", 0, 0, 120, 90 },
        { "at the second cascade step", 16, 16, 200, 100 },
        { "at the last cascade step", 96, 96, 64, 300 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = scratch_.path("图片 " + std::to_string(c.x) + ".bmp");
        testbmp::save(path, testbmp::rgb24(c.pictureW, c.pictureH, colourAt));
        PictureWindow* w = open(path, c.x, c.y);
        ASSERT_NE(w, nullptr);
        QCoreApplication::processEvents();
        EXPECT_TRUE(w->isWindow());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->windowTitle(), QString::fromStdString(path));
        EXPECT_EQ(w->cursor().shape(), Qt::CrossCursor);
        // The frame, not just the client, measures picture + 32.
        EXPECT_EQ(w->frameGeometry(), QRect(c.x, c.y, c.pictureW + 32, c.pictureH + 32));
        EXPECT_EQ(w->scrollX(), 0);
        EXPECT_EQ(w->scrollY(), 0);
        delete w;
    }
    EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(PictureWindowTest, ClosingTheWindowDeletesIt)
{
    QPointer<PictureWindow> w = openPicture(40, 30);
    ASSERT_FALSE(w.isNull());
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
}

TEST_F(PictureWindowTest, UnreadableFilesShowTheMessageAndOpenNoWindow)
{
    const std::string fifo = scratch_.path("fifo.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<uint8_t> good = testbmp::rgb24(20, 20, colourAt);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        { "a missing file", scratch_.path("missing.bmp") },
        { "a folder", scratch_.path("") },
        { "a FIFO with no writer", fifo },
        { "a device", "/dev/null" },
        { "an empty file", scratch_.write("empty.bmp", "") },
        { "text", scratch_.write("text.bmp", "not a picture at all, just words\n") },
        { "a bitmap cut short", scratch_.write("short.bmp", std::string(good.begin(), good.begin() + 200)) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        EXPECT_EQ(open(c.path), nullptr);
        EXPECT_EQ(messages_, QStringList { "Not Exist File!!" });
        EXPECT_TRUE(openPictureWindows().empty());
    }
}

TEST_F(PictureWindowTest, TheDefaultMessageIsABoxCaptionedWithTheProgramName)
{
    QString text, caption;
    bool ownerless = false;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            caption = box->windowTitle();
            ownerless = box->parentWidget() == nullptr;
            box->accept();
        }
    });
    closer.start();
    EXPECT_EQ(PictureWindow::open(0, 0, scratch_.path("missing.bmp")), nullptr);
    closer.stop();
    EXPECT_EQ(text, "Not Exist File!!");
    EXPECT_EQ(caption, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    EXPECT_TRUE(ownerless);
    EXPECT_TRUE(openPictureWindows().empty());
}

// A picture larger than the screen, at any cascade offset: the whole window,
// close box and scroll bars included, stays inside the free screen area.
TEST_F(PictureWindowTest, ALargePictureFitsTheScreenFromItsOffset)
{
    const std::string path = scratch_.path("large.bmp");
    const std::vector<uint32_t> palette(256, 0x336699);
    testbmp::save(path, testbmp::pal8(3000, 2500, palette, false, [](int, int) { return uint8_t(0); }));
    const QRect free = QApplication::primaryScreen()->availableGeometry();
    for (int offset : { 0, 16, 48, 96 }) {
        PictureWindow* w = open(path, offset, offset);
        ASSERT_NE(w, nullptr);
        QCoreApplication::processEvents();
        const QRect frame = w->frameGeometry();
        EXPECT_EQ(frame.topLeft(), QPoint(offset, offset));
        EXPECT_EQ(frame.right(), free.right()) << offset;
        EXPECT_EQ(frame.bottom(), free.bottom()) << offset;
        EXPECT_EQ(w->horizontalMaximum(), 3000 - w->clientSize().width()) << offset;
        EXPECT_EQ(w->verticalMaximum(), 2500 - w->clientSize().height()) << offset;
        delete w;
    }
}

TEST_F(PictureWindowTest, AHugePictureIsLimitedToTheScreenAndPansAsFastAsASmallOne)
{
    // 8000 x 8000 at 8 bits: 64 MB of pixels.
    const int side = 8000;
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i)
        palette[i] = i << 16 | (255 - i) << 8 | i / 2;
    auto index = [](int x, int y) { return uint8_t(x * 3 + y * 7); };
    const std::string bigPath = scratch_.path("big.bmp");
    testbmp::save(bigPath, testbmp::pal8(side, side, palette, false, index));
    PictureWindow* big = open(bigPath);
    ASSERT_NE(big, nullptr);
    QCoreApplication::processEvents();

    // The window asks for more than the screen and gets the screen; the bars cover the rest.
    const QSize screen = QApplication::primaryScreen()->geometry().size();
    EXPECT_EQ(big->frameGeometry().size(), screen);
    EXPECT_EQ(big->horizontalMaximum(), side - big->clientSize().width());
    EXPECT_EQ(big->verticalMaximum(), side - big->clientSize().height());

    big->scrollRequest(Qt::Horizontal, 7, 0);
    big->scrollRequest(Qt::Vertical, 7, 0);
    expectShows(big, side, side, [&](int x, int y) { return palette[index(x, y)]; });

    // Each pan step repaints once; what it costs is measured in bench/.
    setClientSize(big, QSize(400, 300));
    const PaintCounter* bigPainted = new PaintCounter(big);
    const std::uint64_t bigPaints = bigPainted->count();
    for (int i = 0; i < 10; ++i)
        big->scrollRequest(Qt::Horizontal, 4, i % 2 ? 0 : 99);
    EXPECT_EQ(bigPainted->count() - bigPaints, 10u);
}

} // namespace
