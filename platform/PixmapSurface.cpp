#include "platform/PixmapSurface.h"

#include "platform/XcbDisplay.h"
#include "raster/Bitmap.h"

#include <algorithm>

#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

// Compositing managers draw a rectangular shadow under ordinary windows, which
// would follow the figure as a dark square. A dragged item's window has none
// by common configuration, and this property turns it off where honoured.
void refuseShadow(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_atom_t type = internAtom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dnd = internAtom(c, "_NET_WM_WINDOW_TYPE_DND");
    if (type != XCB_ATOM_NONE && dnd != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, type, XCB_ATOM_ATOM, 32, 1, &dnd);
    const xcb_atom_t shadow = internAtom(c, "_COMPTON_SHADOW");
    const std::uint32_t none = 0;
    if (shadow != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, shadow, XCB_ATOM_CARDINAL, 32, 1, &none);
}

} // namespace

PixmapSurface::PixmapSurface(xcb_connection_t* c, std::uint32_t window, int depth, std::uint8_t shapeKind)
    : XcbSurface(c, window)
    , depth_(depth)
    , shapeKind_(shapeKind)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    bitmapPad_ = setup->bitmap_format_scanline_pad;
    lsbFirst_ = setup->bitmap_format_bit_order == XCB_IMAGE_ORDER_LSB_FIRST;
    refuseShadow(c, window);
}

PixmapSurface::~PixmapSurface()
{
    releaseFrames();
    if (gc_)
        xcb_free_gc(c_, gc_);
    if (maskGc_)
        xcb_free_gc(c_, maskGc_);
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

void PixmapSurface::makeGcs()
{
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

std::uint32_t PixmapSurface::upload(int depth, const std::uint8_t* data, std::size_t stride)
{
    const xcb_pixmap_t pixmap = xcb_generate_id(c_);
    xcb_create_pixmap(c_, std::uint8_t(depth), pixmap, window_, std::uint16_t(size_), std::uint16_t(size_));
    if (depth == 1)
        putImage(pixmap, maskGc_, XCB_IMAGE_FORMAT_XY_PIXMAP, 1, size_, size_, data, stride);
    else
        putImage(pixmap, gc_, XCB_IMAGE_FORMAT_Z_PIXMAP, std::uint8_t(depth), size_, size_, data, stride);
    return pixmap;
}

void PixmapSurface::setFrames(const Bitmap* frames, const Bitmap* masks, int count)
{
    if (count <= 0)
        return;
    const int size = frames[0].width();
    if (!gc_ || size != size_)
        makeGcs();
    releaseFrames();
    size_ = size;

    // With alpha the cut-away rows go from the picture too; shaped, the shape alone cuts.
    const bool alpha = depth_ == 32;
    const std::uint32_t opaqueBits = alpha ? 0xFF000000u : 0;
    const std::size_t stride = std::size_t(size) * 4;
    std::vector<std::uint32_t> pixels(std::size_t(size) * std::size_t(size));
    const std::size_t maskStride = std::size_t((size + bitmapPad_ - 1) / bitmapPad_ * bitmapPad_ / 8);
    std::vector<std::uint8_t> bits(maskStride * std::size_t(size));
    const int cutFrom = std::clamp(shortHeight_, 0, size);
    for (int k = 0; k < count; ++k) {
        std::fill(bits.begin(), bits.end(), 0);
        bool cutAwayShows = false;
        for (int y = 0; y < size; ++y) {
            const std::uint32_t* colours = frames[k].colourRow(y);
            const std::uint8_t* shows = masks[k].monoRow(y);
            std::uint32_t* out = &pixels[std::size_t(y) * std::size_t(size)];
            std::uint8_t* row = &bits[std::size_t(y) * maskStride];
            for (int x = 0; x < size; ++x) {
                // Premultiplied: a transparent pixel is all zero.
                out[x] = shows[x] ? colours[x] | opaqueBits : 0;
                if (shows[x]) {
                    row[x / 8] |= std::uint8_t(lsbFirst_ ? 1u << (x % 8) : 0x80u >> (x % 8));
                    cutAwayShows = cutAwayShows || y >= cutFrom;
                }
            }
        }
        const auto* picture = reinterpret_cast<const std::uint8_t*>(pixels.data());
        Frame f {};
        f.picture[0] = f.picture[1] = upload(depth_, picture, stride);
        f.mask[0] = f.mask[1] = upload(1, bits.data(), maskStride);
        if (cutAwayShows) {
            std::fill(bits.begin() + std::ptrdiff_t(std::size_t(cutFrom) * maskStride), bits.end(), 0);
            f.mask[1] = upload(1, bits.data(), maskStride);
            if (alpha) {
                std::fill(pixels.begin() + std::ptrdiff_t(std::size_t(cutFrom) * std::size_t(size)), pixels.end(), 0);
                f.picture[1] = upload(depth_, picture, stride);
            }
        }
        frames_.push_back(f);
    }
    xcb_flush(c_);
}

void PixmapSurface::show(int x, int y, bool cut, int k)
{
    moveTo(x, y);
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
            xcb_shape_mask(c_, XCB_SHAPE_SO_SET, shapeKind_, window_, 0, 0, f.mask[v]);
            shownMask_ = f.mask[v];
        }
        shownFrame_ = k;
    }
    xcb_flush(c_);
}
