#pragma once

#include "raster/Bitmap.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class DibImage;
class QScrollBar;
class QString;

// A top-level window showing one .bmp file at its natural size, with scroll
// bars and drag panning when the picture is larger than the client area.
// It owns itself: closing it deletes it and its picture.
class PictureWindow : public QWidget {
public:
    using MessageFunction = std::function<void(const QString&)>;

    // Opens a window at screen position (x, y) for the picture at path. When the
    // picture cannot be read, shows "Not Exist File!!" through message (default:
    // the application's message box) and returns nullptr.
    static PictureWindow* open(int x, int y, const std::string& path);
    static PictureWindow* open(int x, int y, const std::string& path, const MessageFunction& message);

    ~PictureWindow() override;

    // A scroll request as a scroll bar sends it. code: 0/1 line back/forward,
    // 2/3 page back/forward, 4 thumb position, 5 thumb track (both go to
    // thumbPos), 6 start, 7 end; anything else asks for no change.
    void scrollRequest(Qt::Orientation orientation, int code, int thumbPos);

    int scrollX() const { return scrollX_; }
    int scrollY() const { return scrollY_; }
    int horizontalMaximum() const;
    int verticalMaximum() const;
    QScrollBar* scrollBar(Qt::Orientation orientation) const;
    // The area the picture is drawn in: the window less its visible scroll bars.
    QSize clientSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    PictureWindow(int x, int y, std::unique_ptr<DibImage> image, const std::string& path);

    void applySizeRule();
    void layoutScrollBars();
    void barAction(Qt::Orientation orientation, int action);
    void placeImage();

    std::unique_ptr<DibImage> image_;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    int scrollX_ = 0;
    int scrollY_ = 0;
    bool dragging_ = false;
    int lastX_ = 0;
    int lastY_ = 0;
    QScrollBar* hbar_ = nullptr;
    QScrollBar* vbar_ = nullptr;
    Bitmap viewport_; // the client area's pixels, reused while its size stays
};

// Places a new top-level window with its frame's top-left corner at (x, y) and an
// outer size (frame included) of outerWidth x outerHeight, limited to the
// screen area the desktop leaves free from (x, y) on. Qt sizes only the client area and
// learns the frame from the window manager after showing, so the client first
// takes the whole outer size and shrinks by the frame once the frame is known.
void placeTopLevelWindow(QWidget& window, int x, int y, std::int64_t outerWidth, std::int64_t outerHeight);
