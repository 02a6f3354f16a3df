#include "viewers/PictureWindow.h"

#include "platform/BitmapImage.h"
#include "platform/Desktop.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace {

// Scroll request codes, numbered as scroll bars send them.
enum ScrollCode {
    kLineBack = 0,
    kLineForward = 1,
    kPageBack = 2,
    kPageForward = 3,
    kThumbPosition = 4,
    kThumbTrack = 5,
    kToStart = 6,
    kToEnd = 7,
    kEndScroll = 8,
};

// Room left around the picture for the frame, caption and scroll bars.
constexpr int kFrameAllowance = 32;

constexpr uint32_t kWhite = 0xFFFFFF;

// Shrinks the client area by the frame once the window manager has told us how
// large the frame is, so that the outer size is the one asked for. It acts once.
class FrameFitter : public QObject {
public:
    FrameFitter(QWidget& window, QSize outer) : QObject(&window), window_(window), outer_(outer)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_) {
            switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
                fit();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    void fit()
    {
        const QSize frame = window_.frameGeometry().size() - window_.geometry().size();
        // Without a window manager there is no frame to learn about.
        if (frame.width() <= 0 && frame.height() <= 0)
            return;
        window_.removeEventFilter(this);
        deleteLater();
        const QSize client = (outer_ - frame).expandedTo(QSize(1, 1));
        if (client != window_.size())
            window_.resize(client);
    }

    QWidget& window_;
    QSize outer_;
};

} // namespace

void placeTopLevelWindow(QWidget& window, int x, int y, std::int64_t outerWidth, std::int64_t outerHeight)
{
    // No larger than what the desktop leaves free from (x, y) to its far
    // edges, so that the frame's close box and the scroll bars stay on the
    // screen; the scroll bars show the rest of a large picture.
    std::int64_t maxWidth = QWIDGETSIZE_MAX, maxHeight = QWIDGETSIZE_MAX;
    const QScreen* screen = QGuiApplication::screenAt(QPoint(x, y));
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect free = screen->availableGeometry();
        maxWidth = std::int64_t { free.x() } + free.width() - std::max(x, free.x());
        maxHeight = std::int64_t { free.y() } + free.height() - std::max(y, free.y());
    }
    const QSize outer(int(std::clamp<std::int64_t>(outerWidth, 1, std::max<std::int64_t>(maxWidth, 1))),
                      int(std::clamp<std::int64_t>(outerHeight, 1, std::max<std::int64_t>(maxHeight, 1))));
    window.move(x, y);
    window.resize(outer);
    new FrameFitter(window, outer);
}

PictureWindow* PictureWindow::open(int x, int y, const std::string& path)
{
    return open(x, y, path, [](const QString& text) { showMessage(text); });
}

PictureWindow* PictureWindow::open(int x, int y, const std::string& path, const MessageFunction& message)
{
    auto image = std::make_unique<DibImage>(path);
    int width = 0, height = 0;
    if (image->GetImageSize(width, height) != 0) {
        if (message)
            message(QStringLiteral("Not Exist File!!"));
        return nullptr;
    }
    return new PictureWindow(x, y, std::move(image), path);
}

PictureWindow::PictureWindow(int x, int y, std::unique_ptr<DibImage> image, const std::string& path)
    : image_(std::move(image))
{
    image_->GetImageSize(pictureWidth_, pictureHeight_);

    setAttribute(Qt::WA_DeleteOnClose);
    // Viewers never keep the program running on their own.
    setAttribute(Qt::WA_QuitOnClose, false);
    // Every pixel is painted each time (picture or white): nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(path)));
    setCursor(Qt::CrossCursor);

    hbar_ = new QScrollBar(Qt::Horizontal, this);
    vbar_ = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar* bar : { hbar_, vbar_ }) {
        const Qt::Orientation o = bar->orientation();
        bar->setRange(0, 0);
        bar->hide();
        // An opaque bar repaints alone; the picture beneath it need not be drawn again.
        bar->setAutoFillBackground(true);
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, o](int action) { barAction(o, action); });
        connect(bar, &QAbstractSlider::sliderReleased, this, [this, o, bar] {
            scrollRequest(o, kThumbPosition, bar->sliderPosition());
            scrollRequest(o, kEndScroll, 0);
        });
    }

    placeTopLevelWindow(*this, x, y, std::int64_t { pictureWidth_ } + kFrameAllowance,
                        std::int64_t { pictureHeight_ } + kFrameAllowance);
    applySizeRule();
    show();
    raise();
    activateWindow();
}

PictureWindow::~PictureWindow() = default;

int PictureWindow::horizontalMaximum() const { return hbar_->maximum(); }
int PictureWindow::verticalMaximum() const { return vbar_->maximum(); }

QScrollBar* PictureWindow::scrollBar(Qt::Orientation orientation) const
{
    return orientation == Qt::Horizontal ? hbar_ : vbar_;
}

QSize PictureWindow::clientSize() const
{
    const int w = width() - (vbar_->isHidden() ? 0 : vbar_->sizeHint().width());
    const int h = height() - (hbar_->isHidden() ? 0 : hbar_->sizeHint().height());
    return QSize(std::max(0, w), std::max(0, h));
}

void PictureWindow::placeImage()
{
    image_->SetPlacement(-scrollX_, -scrollY_, pictureWidth_ - scrollX_, pictureHeight_ - scrollY_);
}

void PictureWindow::applySizeRule()
{
    const int oldX = hbar_->value();
    const int oldY = vbar_->value();

    // A bar is shown exactly when its range is more than 0..0, and a shown bar
    // takes room from the other axis. Starting from no bars, two rounds reach
    // the smallest set of bars that agrees with the ranges it leaves.
    const int barWidth = vbar_->sizeHint().width();
    const int barHeight = hbar_->sizeHint().height();
    bool needH = pictureWidth_ > width();
    bool needV = pictureHeight_ > height();
    for (int round = 0; round < 2; ++round) {
        needH = pictureWidth_ > width() - (needV ? barWidth : 0);
        needV = pictureHeight_ > height() - (needH ? barHeight : 0);
    }
    const int clientWidth = std::max(0, width() - (needV ? barWidth : 0));
    const int clientHeight = std::max(0, height() - (needH ? barHeight : 0));
    const int maxX = std::max(0, pictureWidth_ - clientWidth);
    const int maxY = std::max(0, pictureHeight_ - clientHeight);

    // Pull the positions into the new ranges before the ranges shrink under them.
    if (oldX > maxX)
        hbar_->setValue(maxX);
    if (oldY > maxY)
        vbar_->setValue(maxY);
    if (vbar_->maximum() != maxY)
        vbar_->setRange(0, maxY);
    if (hbar_->maximum() != maxX)
        hbar_->setRange(0, maxX);
    // The bar's own steps only size its thumb; scrollRequest decides the moves.
    hbar_->setPageStep(maxX / 10 + 1);
    vbar_->setPageStep(maxY / 10 + 1);
    hbar_->setVisible(needH);
    vbar_->setVisible(needV);
    layoutScrollBars();

    scrollX_ = hbar_->value();
    scrollY_ = vbar_->value();
    if (scrollX_ != oldX || scrollY_ != oldY) {
        placeImage();
        repaint(QRect(QPoint(0, 0), clientSize()));
    }
}

void PictureWindow::layoutScrollBars()
{
    const QSize client = clientSize();
    if (!hbar_->isHidden())
        hbar_->setGeometry(0, client.height(), client.width(), height() - client.height());
    if (!vbar_->isHidden())
        vbar_->setGeometry(client.width(), 0, width() - client.width(), client.height());
}

void PictureWindow::resizeEvent(QResizeEvent*)
{
    applySizeRule();
}

void PictureWindow::barAction(Qt::Orientation orientation, int action)
{
    QScrollBar* bar = scrollBar(orientation);
    const int proposed = bar->sliderPosition();
    // Undo the bar's own move: the request below decides where it goes.
    bar->setSliderPosition(bar->value());
    int code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: code = kLineBack; break;
    case QAbstractSlider::SliderSingleStepAdd: code = kLineForward; break;
    case QAbstractSlider::SliderPageStepSub: code = kPageBack; break;
    case QAbstractSlider::SliderPageStepAdd: code = kPageForward; break;
    case QAbstractSlider::SliderMove: code = kThumbTrack; break;
    case QAbstractSlider::SliderToMinimum: code = kToStart; break;
    case QAbstractSlider::SliderToMaximum: code = kToEnd; break;
    default: return;
    }
    scrollRequest(orientation, code, proposed);
}

void PictureWindow::scrollRequest(Qt::Orientation orientation, int code, int thumbPos)
{
    QScrollBar* bar = scrollBar(orientation);
    const int minimum = bar->minimum();
    const int maximum = bar->maximum();
    const int old = bar->value();
    // One step serves lines and pages alike: a tenth of the range, at least 1.
    const std::int64_t step = (std::int64_t { maximum } - minimum) / 10 + 1;
    std::int64_t position;
    switch (code) {
    case kLineBack:
    case kPageBack: position = std::int64_t { old } - step; break;
    case kLineForward:
    case kPageForward: position = std::int64_t { old } + step; break;
    case kThumbPosition:
    case kThumbTrack: position = thumbPos; break;
    case kToStart: position = minimum; break;
    case kToEnd: position = maximum; break;
    default: return; // end of scrolling and unknown codes move nothing
    }
    position = std::clamp<std::int64_t>(position, minimum, maximum);
    if (position == old)
        return;

    bar->setValue(int(position));
    if (orientation == Qt::Horizontal)
        scrollX_ = bar->value();
    else
        scrollY_ = bar->value();
    placeImage();
    // Repaint now, so that panning follows the pointer without waiting for idle time.
    repaint(QRect(QPoint(0, 0), clientSize()));
}

void PictureWindow::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && QRect(QPoint(0, 0), clientSize()).contains(p)) {
        dragging_ = true;
        lastX_ = p.x();
        lastY_ = p.y();
    }
    QWidget::mousePressEvent(event);
}

void PictureWindow::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void PictureWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) {
        const QPoint p = event->position().toPoint();
        const int dx = p.x() - lastX_;
        const int dy = p.y() - lastY_;
        lastX_ = p.x();
        lastY_ = p.y();
        // The picture follows the pointer, so the position moves the other way.
        if (dx != 0)
            scrollRequest(Qt::Horizontal, kThumbPosition, hbar_->value() - dx);
        if (dy != 0)
            scrollRequest(Qt::Vertical, kThumbPosition, vbar_->value() - dy);
    }
    QWidget::mouseMoveEvent(event);
}

void PictureWindow::paintEvent(QPaintEvent* event)
{
    const QSize client = clientSize();
    QPainter painter(this);
    if (event->rect().intersects(QRect(QPoint(0, 0), client))) {
        if (viewport_.width() != client.width() || viewport_.height() != client.height())
            viewport_ = Bitmap::colour(client.width(), client.height());
        if (viewport_.isNull()) {
            painter.fillRect(QRect(QPoint(0, 0), client), Qt::white);
        } else {
            // White only right of and below the picture: elsewhere it covers the client.
            const int coveredW = std::clamp(pictureWidth_ - scrollX_, 0, client.width());
            const int coveredH = std::clamp(pictureHeight_ - scrollY_, 0, client.height());
            for (int y = 0; y < client.height(); ++y) {
                uint32_t* row = viewport_.colourRow(y);
                std::fill(row + (y < coveredH ? coveredW : 0), row + client.width(), kWhite);
            }
            MemoryDC dc;
            dc.select(&viewport_);
            image_->Draw(dc);
            painter.drawImage(0, 0, imageFromBitmap(viewport_));
        }
    }
    // The square between two scroll bars belongs to neither.
    if (!hbar_->isHidden() && !vbar_->isHidden())
        painter.fillRect(QRect(client.width(), client.height(), width() - client.width(),
                               height() - client.height()),
                         palette().window());
}
