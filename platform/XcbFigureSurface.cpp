#include "platform/XcbFigureSurface.h"

#include "platform/XcbScreenGrabber.h"
#include "platform/XcbSharedMemory.h"
#include "raster/Bitmap.h"

#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kTransparent = 0xFFFFFF;

// A tick's configure: the place, and the top of the stack when kept above.
// Never the size: a compositing manager takes a new size for a new window.
void move(xcb_connection_t* c, xcb_window_t window, int x, int y, bool above)
{
    const std::uint32_t values[] = { std::uint32_t(std::int32_t(x)), std::uint32_t(std::int32_t(y)),
                                     XCB_STACK_MODE_ABOVE };
    std::uint16_t mask = XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
    if (above)
        mask |= XCB_CONFIG_WINDOW_STACK_MODE;
    xcb_configure_window(c, window, mask, values);
}

void resize(xcb_connection_t* c, xcb_window_t window, int w, int h)
{
    const std::uint32_t values[] = { std::uint32_t(std::max(1, w)), std::uint32_t(std::max(1, h)) };
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(c);
}

void raise(xcb_connection_t* c, xcb_window_t window)
{
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

// Sends an image in bands small enough for one request each.
void putImage(xcb_connection_t* c, xcb_drawable_t target, xcb_gcontext_t gc, std::uint8_t format, std::uint8_t depth,
              int w, int h, const std::uint8_t* data, std::size_t stride)
{
    const std::size_t maxBytes = std::size_t(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int band = std::max(1, int(std::min<std::size_t>(std::size_t(h), maxBytes / stride)));
    for (int y = 0; y < h; y += band) {
        const int rows = std::min(band, h - y);
        xcb_put_image(c, format, target, gc, std::uint16_t(w), std::uint16_t(rows), 0, std::int16_t(y), 0, depth,
                      std::uint32_t(stride * std::size_t(rows)), data + stride * std::size_t(y));
    }
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// Compositing managers draw a rectangular shadow under ordinary windows, which
// would follow the figure as a dark square. A dragged item's window has none
// by common configuration, and this property turns it off where honoured.
void refuseShadow(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dnd = atom(c, "_NET_WM_WINDOW_TYPE_DND");
    if (type != XCB_ATOM_NONE && dnd != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, type, XCB_ATOM_ATOM, 32, 1, &dnd);
    const xcb_atom_t shadow = atom(c, "_COMPTON_SHADOW");
    const std::uint32_t none = 0;
    if (shadow != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, shadow, XCB_ATOM_CARDINAL, 32, 1, &none);
}

} // namespace

void takeOverNotifications(xcb_connection_t* c, std::uint32_t window)
{
    // Qt would otherwise hear of every move (and wake two threads for it) and
    // paint on every exposure: the window's pictures live in its background,
    // which the server draws by itself. Input and drops stay with Qt.
    xcb_get_window_attributes_reply_t* attributes
        = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    if (!attributes)
        return;
    const std::uint32_t mask = attributes->your_event_mask
        & ~std::uint32_t(XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    std::free(attributes);
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

void stackBelowActiveWindow(xcb_connection_t* c, std::uint32_t window)
{
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree)
        return;
    const xcb_window_t root = tree->root;
    std::free(tree);
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    xcb_window_t top = XCB_WINDOW_NONE;
    if (property && xcb_get_property_value_length(property) == 4)
        std::memcpy(&top, xcb_get_property_value(property), 4);
    std::free(property);
    // Up to the child of the root that holds it: the window manager's frame.
    for (int depth = 0; top != XCB_WINDOW_NONE && depth < 16; ++depth) {
        tree = xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr);
        const xcb_window_t parent = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
        std::free(tree);
        if (parent == root)
            break;
        top = parent;
    }
    if (top == XCB_WINDOW_NONE || top == window)
        return;
    const std::uint32_t values[] = { top, XCB_STACK_MODE_BELOW };
    // The active window may be gone by now; then nothing moves.
    std::free(xcb_request_check(c, xcb_configure_window_checked(c, window, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values)));
}

int windowDepth(xcb_connection_t* c, std::uint32_t window)
{
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    const int depth = g ? g->depth : 0;
    std::free(g);
    return depth;
}

// ---------------------------------------------------------------------------

PixmapSurface::PixmapSurface(xcb_connection_t* c, std::uint32_t window, Kind kind)
    : c_(c)
    , window_(window)
    , kind_(kind)
    , depth_(kind == Kind::Argb ? 32 : 24)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    bitmapPad_ = setup->bitmap_format_scanline_pad;
    lsbFirst_ = setup->bitmap_format_bit_order == XCB_IMAGE_ORDER_LSB_FIRST;
    takeOverNotifications(c, window);
    refuseShadow(c, window);
}

PixmapSurface::~PixmapSurface()
{
    releaseFrames();
    if (gc_)
        xcb_free_gc(c_, gc_);
    if (maskGc_)
        xcb_free_gc(c_, maskGc_);
    xcb_flush(c_);
}

void PixmapSurface::releaseFrames()
{
    for (const Frame& f : frames_) {
        for (int v = 0; v < 2; ++v) {
            if (v == 0 || f.picture[1] != f.picture[0])
                xcb_free_pixmap(c_, f.picture[v]);
            if (v == 0 || f.mask[1] != f.mask[0])
                xcb_free_pixmap(c_, f.mask[v]);
        }
    }
    frames_.clear();
    // A new pixmap may get a freed one's id.
    shownFrame_ = -1;
    shownPicture_ = shownMask_ = 0;
}

void PixmapSurface::setSize(int width, int height, int shortHeight)
{
    width_ = width;
    height_ = height;
    shortHeight_ = shortHeight;
    resize(c_, window_, width, height);
}

void PixmapSurface::mapped()
{
    // xcompmgr gives a window that is configured before its map a shadow
    // (it takes the window for an opaque one then), and drops it only when
    // the size changes; Qt restacks a tool window as it shows it. So, once,
    // a change of size and back.
    if (kind_ == Kind::Argb) {
        resize(c_, window_, width_, height_ + 1);
        resize(c_, window_, width_, height_);
    }
}

std::uint32_t PixmapSurface::upload(int depth, const std::uint8_t* data, std::size_t stride)
{
    const xcb_pixmap_t pixmap = xcb_generate_id(c_);
    xcb_create_pixmap(c_, std::uint8_t(depth), pixmap, window_, std::uint16_t(size_), std::uint16_t(size_));
    if (depth == 1)
        putImage(c_, pixmap, maskGc_, XCB_IMAGE_FORMAT_XY_PIXMAP, 1, size_, size_, data, stride);
    else
        putImage(c_, pixmap, gc_, XCB_IMAGE_FORMAT_Z_PIXMAP, std::uint8_t(depth), size_, size_, data, stride);
    return pixmap;
}

void PixmapSurface::setFrames(const Bitmap* frames, int count)
{
    if (count <= 0)
        return;
    const int size = frames[0].width();
    if (!gc_ || size != size_) {
        // The GCs are made on drawables of the depths they draw into.
        if (gc_)
            xcb_free_gc(c_, gc_), xcb_free_gc(c_, maskGc_);
        const xcb_pixmap_t colour = xcb_generate_id(c_), mono = xcb_generate_id(c_);
        xcb_create_pixmap(c_, std::uint8_t(depth_), colour, window_, 1, 1);
        xcb_create_pixmap(c_, 1, mono, window_, 1, 1);
        gc_ = xcb_generate_id(c_);
        maskGc_ = xcb_generate_id(c_);
        xcb_create_gc(c_, gc_, colour, 0, nullptr);
        xcb_create_gc(c_, maskGc_, mono, 0, nullptr);
        xcb_free_pixmap(c_, colour);
        xcb_free_pixmap(c_, mono);
    }
    releaseFrames();
    size_ = size;

    const std::size_t stride = std::size_t(size) * 4;
    std::vector<std::uint32_t> pixels(std::size_t(size) * std::size_t(size));
    const std::size_t maskStride = std::size_t((size + bitmapPad_ - 1) / bitmapPad_ * bitmapPad_ / 8);
    std::vector<std::uint8_t> mask(maskStride * std::size_t(size));
    const int cutFrom = std::clamp(shortHeight_, 0, size);
    for (int k = 0; k < count; ++k) {
        const Bitmap& frame = frames[k];
        std::fill(mask.begin(), mask.end(), 0);
        bool cutAwayShows = false;
        for (int y = 0; y < size; ++y) {
            const std::uint32_t* row = frame.colourRow(y);
            std::uint32_t* out = &pixels[std::size_t(y) * std::size_t(size)];
            std::uint8_t* bits = &mask[std::size_t(y) * maskStride];
            for (int x = 0; x < size; ++x) {
                const bool opaque = row[x] != kTransparent;
                // Premultiplied: a transparent pixel is all zero.
                out[x] = !opaque ? 0 : depth_ == 32 ? (row[x] | 0xFF000000u) : row[x];
                if (opaque) {
                    bits[x / 8] |= std::uint8_t(lsbFirst_ ? 1u << (x % 8) : 0x80u >> (x % 8));
                    cutAwayShows = cutAwayShows || y >= cutFrom;
                }
            }
        }
        const auto* picture = reinterpret_cast<const std::uint8_t*>(pixels.data());
        Frame f {};
        f.picture[0] = f.picture[1] = upload(depth_, picture, stride);
        f.mask[0] = f.mask[1] = upload(1, mask.data(), maskStride);
        if (cutAwayShows) {
            std::fill(mask.begin() + std::ptrdiff_t(std::size_t(cutFrom) * maskStride), mask.end(), 0);
            f.mask[1] = upload(1, mask.data(), maskStride);
            // Shaped, the shape alone cuts; with alpha the pixels go too.
            if (kind_ == Kind::Argb) {
                std::fill(pixels.begin() + std::ptrdiff_t(std::size_t(cutFrom) * std::size_t(size)), pixels.end(), 0);
                f.picture[1] = upload(depth_, picture, stride);
            }
        }
        frames_.push_back(f);
    }
    xcb_flush(c_);
}

void PixmapSurface::show(int x, int y, bool cut, int k, const Bitmap*)
{
    move(c_, window_, x, y, keepAbove_);
    if (k >= 0 && k < int(frames_.size())) {
        const Frame& f = frames_[std::size_t(k)];
        const int v = cut ? 1 : 0;
        if (f.picture[v] != shownPicture_) {
            xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXMAP, &f.picture[v]);
            // The same frame, cut or whole, differs only below the short height.
            xcb_clear_area(c_, 0, window_, 0, std::int16_t(k == shownFrame_ ? shortHeight_ : 0), 0, 0);
            shownPicture_ = f.picture[v];
        }
        if (f.mask[v] != shownMask_) {
            // Composited, the alpha does the cutting and the window keeps its
            // rectangle for the compositor; only clicks beside the figure
            // must pass.
            xcb_shape_mask(c_, XCB_SHAPE_SO_SET, kind_ == Kind::Argb ? XCB_SHAPE_SK_INPUT : XCB_SHAPE_SK_BOUNDING,
                           window_, 0, 0, f.mask[v]);
            shownMask_ = f.mask[v];
        }
        shownFrame_ = k;
    }
    xcb_flush(c_);
}

void PixmapSurface::setKeepAbove(bool on)
{
    keepAbove_ = on;
    if (on)
        raise(c_, window_);
}

void PixmapSurface::letActiveWindowCover()
{
    if (!keepAbove_)
        stackBelowActiveWindow(c_, window_);
}

// ---------------------------------------------------------------------------

GrabbedSurface::GrabbedSurface(xcb_connection_t* c, std::uint32_t window, int screenNumber)
    : c_(c)
    , window_(window)
{
    // Its own connection: a reply read on Qt's would be handed over from
    // Qt's event thread on every grab.
    grabber_ = XcbScreenGrabber::createWithOwnConnection(screenNumber);
    if (!grabber_)
        grabber_ = XcbScreenGrabber::create(c, screenNumber);
    takeOverNotifications(c, window);
}

GrabbedSurface::~GrabbedSurface()
{
    releaseBackground();
    xcb_flush(c_);
}

bool GrabbedSurface::grab(int x, int y, Bitmap& into)
{
    if (!grabber_) {
        into.fill(0);
        return false;
    }
    return grabber_->grab(x, y, into.width(), into.height(), into.colourRow(0), into.width());
}

void GrabbedSurface::releaseBackground()
{
    if (background_) {
        xcb_free_pixmap(c_, background_);
        xcb_free_gc(c_, gc_);
        background_ = gc_ = 0;
    }
    if (shared_) {
        xcb_shm_detach(c_, segment_);
        shmdt(shared_);
        shared_ = nullptr;
    }
    size_ = 0;
}

bool GrabbedSurface::makeBackground(int size)
{
    if (background_ && size == size_)
        return true;
    releaseBackground();
    background_ = xcb_generate_id(c_);
    // Where the server shares memory, painting is a copy into it and no image
    // goes through the socket.
    bool made = false;
    xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(c_, xcb_shm_query_version(c_), nullptr);
    const bool sharable = version && version->shared_pixmaps && version->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
    std::free(version);
    XcbSharedSegment segment;
    if (sharable && attachSharedSegment(c_, std::size_t(size) * std::size_t(size) * 4, segment)) {
        xcb_generic_error_t* error = xcb_request_check(
            c_, xcb_shm_create_pixmap_checked(c_, background_, window_, std::uint16_t(size), std::uint16_t(size), 24,
                                              segment.id, 0));
        if (!error) {
            shared_ = static_cast<std::uint32_t*>(segment.address);
            segment_ = segment.id;
            made = true;
        } else {
            std::free(error);
            xcb_shm_detach(c_, segment.id);
            shmdt(segment.address);
        }
    }
    if (!made) {
        xcb_generic_error_t* error = xcb_request_check(
            c_, xcb_create_pixmap_checked(c_, 24, background_, window_, std::uint16_t(size), std::uint16_t(size)));
        if (error) {
            std::free(error);
            background_ = 0;
            return false;
        }
    }
    gc_ = xcb_generate_id(c_);
    xcb_create_gc(c_, gc_, background_, 0, nullptr);
    size_ = size;
    return true;
}

void GrabbedSurface::setSize(int width, int height, int)
{
    resize(c_, window_, width, height);
}

void GrabbedSurface::show(int x, int y, bool, int, const Bitmap* composite)
{
    // The composite is a whole frame's square: it fills every row of the
    // window, the last included, on every tick.
    move(c_, window_, x, y, keepAbove_);
    if (composite && makeBackground(composite->width())) {
        const int size = composite->width();
        if (shared_)
            std::memcpy(shared_, composite->colourRow(0), std::size_t(size) * std::size_t(size) * 4);
        else
            putImage(c_, background_, gc_, XCB_IMAGE_FORMAT_Z_PIXMAP, 24, size, size,
                     reinterpret_cast<const std::uint8_t*>(composite->colourRow(0)), std::size_t(size) * 4);
        // Set again after each change: the protocol leaves open whether the
        // server copies a background pixmap or keeps using it.
        xcb_change_window_attributes(c_, window_, XCB_CW_BACK_PIXMAP, &background_);
        xcb_clear_area(c_, 0, window_, 0, 0, 0, 0);
    }
    xcb_flush(c_);
}

void GrabbedSurface::setKeepAbove(bool on)
{
    keepAbove_ = on;
    if (on)
        raise(c_, window_);
}

void GrabbedSurface::letActiveWindowCover()
{
    if (!keepAbove_)
        stackBelowActiveWindow(c_, window_);
}
