#include "platform/FigureSurface.h"

#include "platform/QtScreenGrabber.h"
#include "raster/Bitmap.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <string>

#ifdef TASSIO_HAVE_XCB
#include "platform/XcbFigureSurface.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#endif

FigureSurface::~FigureSurface() = default;

namespace {

// Where Qt is not on X11 (the offscreen platform of the widget tests): Qt
// places the window and paints the composite the caller made from the
// screen Qt can read.
class QtSurface : public FigureSurface, public QObject {
public:
    explicit QtSurface(QWidget& window)
        : window_(&window)
    {
        window.installEventFilter(this);
    }
    ~QtSurface() override
    {
        if (window_)
            window_->removeEventFilter(this);
    }

    Kind kind() const override { return Kind::Grabbed; }
    void setFrames(const Bitmap*, int) override { }
    bool paintsThroughQt() const override { return true; }

    void setSize(int width, int height, int) override
    {
        // Qt sizes windows in logical pixels.
        if (window_)
            window_->resize(QSizeF(width / window_->devicePixelRatioF(), height / window_->devicePixelRatioF()).toSize());
    }

    bool grab(int x, int y, Bitmap& into) override
    {
        return grabber_.grab(x, y, into.width(), into.height(), into.colourRow(0), into.width());
    }

    void show(int x, int y, bool, int, const Bitmap* composite) override
    {
        if (!window_)
            return;
        if (composite) {
            const int size = composite->width();
            if (image_.width() != size)
                image_ = QImage(size, size, QImage::Format_RGB32);
            for (int row = 0; row < size; ++row) {
                const std::uint32_t* from = composite->colourRow(row);
                auto* to = reinterpret_cast<std::uint32_t*>(image_.scanLine(row));
                for (int col = 0; col < size; ++col)
                    to[col] = from[col] | 0xFF000000u;
            }
        }
        const qreal ratio = window_->devicePixelRatioF();
        window_->move(QPointF(x / ratio, y / ratio).toPoint());
        if (keepAbove_)
            window_->raise();
        window_->update();
    }

    void setKeepAbove(bool on) override
    {
        keepAbove_ = on;
        if (on && window_)
            window_->raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::Paint)
            return false;
        QPainter painter(window_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(image_.size()) / window_->devicePixelRatioF()), image_);
        return true;
    }

private:
    QPointer<QWidget> window_;
    QtScreenGrabber grabber_;
    QImage image_;
    bool keepAbove_ = false;
};

} // namespace

#ifdef TASSIO_HAVE_XCB
namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const std::string& name)
{
    xcb_intern_atom_reply_t* r
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

// 24-bit TrueColor at 32 bits a pixel, little-endian: 0x00RRGGBB as it is.
bool plainLayout(const xcb_setup_t* setup, const xcb_screen_t* screen)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || screen->root_depth != 24)
        return false;
    bool bpp32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24 || f.data->depth == 32)
            bpp32 = f.data->bits_per_pixel == 32;
    if (!bpp32)
        return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000
                    && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
    return false;
}

bool hasArgbVisual(const xcb_screen_t* screen)
{
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        if (d.data->depth == 32)
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000
                    && v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF)
                    return true;
    return false;
}

} // namespace
#endif

struct SurfaceLoader::Private : QAbstractNativeEventFilter {
    SurfaceLoader* q = nullptr;
    bool x11 = false;
    bool noShape = false;
#ifdef TASSIO_HAVE_XCB
    xcb_connection_t* c = nullptr;
    const xcb_screen_t* screen = nullptr;
    int screenNumber = 0;
    xcb_atom_t compositorAtom = XCB_ATOM_NONE;
    xcb_atom_t activeAtom = XCB_ATOM_NONE;
    std::uint8_t xfixesEvent = 0;
    bool plain = false;
    bool shape = false;
    bool argbVisual = false;

    bool compositing() const
    {
        if (compositorAtom == XCB_ATOM_NONE)
            return false;
        xcb_get_selection_owner_reply_t* r
            = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, compositorAtom), nullptr);
        const bool owned = r && r->owner != XCB_NONE;
        std::free(r);
        return owned;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* ev = static_cast<const xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
            if (p->window == screen->root && p->atom == activeAtom)
                QTimer::singleShot(0, q, &SurfaceLoader::activeWindowChanged);
            return false;
        }
        if (xfixesEvent == 0)
            return false;
        if ((ev->response_type & 0x7F) == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY
            && reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(ev)->selection == compositorAtom) {
            // Not from inside Qt's event handling: the answer may remake windows.
            QTimer::singleShot(0, q, &SurfaceLoader::compositingChanged);
        }
        return false;
    }
#else
    bool nativeEventFilter(const QByteArray&, void*, qintptr*) override { return false; }
#endif
};

SurfaceLoader::SurfaceLoader(QObject* parent)
    : QObject(parent)
    , d_(std::make_unique<Private>())
{
    d_->q = this;
    const char* noShape = std::getenv("TASSIO_NO_SHAPE");
    d_->noShape = noShape && std::string(noShape) == "1";
#ifdef TASSIO_HAVE_XCB
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    d_->c = x11 ? x11->connection() : nullptr;
    if (!d_->c)
        return;
    // Qt opens the screen that DISPLAY names.
    char* host = nullptr;
    int display = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &d_->screenNumber))
        d_->screenNumber = 0;
    std::free(host);
    const xcb_setup_t* setup = xcb_get_setup(d_->c);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < d_->screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    d_->x11 = true;
    d_->screen = it.data;
    d_->plain = plainLayout(setup, d_->screen);
    d_->argbVisual = hasArgbVisual(d_->screen);
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(d_->c, &xcb_shape_id);
    d_->shape = shape && shape->present;
    d_->compositorAtom = internAtom(d_->c, "_NET_WM_CM_S" + std::to_string(d_->screenNumber));

    // The root's properties name the active window; Qt listens to them
    // already, and this keeps it so.
    d_->activeAtom = internAtom(d_->c, "_NET_ACTIVE_WINDOW");
    xcb_get_window_attributes_reply_t* root
        = xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, d_->screen->root), nullptr);
    if (root && !(root->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
        const std::uint32_t mask = root->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(d_->c, d_->screen->root, XCB_CW_EVENT_MASK, &mask);
    }
    std::free(root);
    QCoreApplication::instance()->installNativeEventFilter(d_.get());

    // A compositing manager takes or gives up this selection as it starts or stops.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(d_->c, &xcb_xfixes_id);
    if (xfixes && xfixes->present && d_->compositorAtom != XCB_ATOM_NONE) {
        std::free(xcb_xfixes_query_version_reply(d_->c, xcb_xfixes_query_version(d_->c, 5, 0), nullptr));
        d_->xfixesEvent = xfixes->first_event;
        xcb_xfixes_select_selection_input(d_->c, d_->screen->root, d_->compositorAtom,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    }
    xcb_flush(d_->c);
#endif
}

SurfaceLoader::~SurfaceLoader()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(d_.get());
}

FigureSurface::Kind SurfaceLoader::bestKind() const
{
#ifdef TASSIO_HAVE_XCB
    if (d_->x11 && d_->plain && !d_->noShape) {
        if (d_->argbVisual && d_->compositing())
            return FigureSurface::Kind::Argb;
        if (d_->shape)
            return FigureSurface::Kind::Shaped;
    }
#endif
    return FigureSurface::Kind::Grabbed;
}

std::unique_ptr<FigureSurface> SurfaceLoader::create(QWidget& window, FigureSurface::Kind kind)
{
#ifdef TASSIO_HAVE_XCB
    if (d_->x11 && d_->plain) {
        const auto id = static_cast<std::uint32_t>(window.winId());
        const int depth = windowDepth(d_->c, id);
        if (kind == FigureSurface::Kind::Argb && depth == 32)
            return std::make_unique<PixmapSurface>(d_->c, id, kind);
        if (kind != FigureSurface::Kind::Grabbed && d_->shape && depth == 24)
            return std::make_unique<PixmapSurface>(d_->c, id, FigureSurface::Kind::Shaped);
        if (depth == 24)
            return std::make_unique<GrabbedSurface>(d_->c, id, d_->screenNumber);
    }
#else
    (void)kind;
#endif
    return std::make_unique<QtSurface>(window);
}
