#include "platform/XcbScreenGrabber.h"

#include "platform/GrabRect.h"
#include "platform/XcbReply.h"
#include "platform/XcbSharedMemory.h"

#include <cstdint>
#include <cstring>

#include <string_view>

#include <sys/shm.h>
#include <xcb/shm.h>

#include <xcb/xcb.h>

namespace {

// Another client may resize the screen (RandR); its size is looked up again this often.
constexpr std::chrono::seconds kGeometryMaxAge{2};
constexpr std::uint8_t kBadMatch = 8;

// Shift of an 8-bit channel mask, or -1 if the mask is not 8 contiguous bits.
int channelShift(std::uint32_t mask)
{
    for (int shift = 0; shift <= 24; ++shift) {
        if (mask == (0xFFu << shift))
            return shift;
    }
    return -1;
}

} // namespace

std::unique_ptr<XcbScreenGrabber> XcbScreenGrabber::create(xcb_connection_t* connection,
                                                           int screenNumber, bool allowShm)
{
    if (connection == nullptr || xcb_connection_has_error(connection))
        return nullptr;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem <= 0 || screenNumber < 0)
        return nullptr;
    const xcb_screen_t* screen = it.data;

    const xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0 && !visual;
         xcb_depth_next(&d)) {
        if (d.data->depth != screen->root_depth)
            continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == screen->root_visual) {
                visual = v.data;
                break;
            }
        }
    }
    if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR)
        return nullptr;

    int bitsPerPixel = 0;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth)
            bitsPerPixel = f.data->bits_per_pixel;
    }
    const int rs = channelShift(visual->red_mask);
    const int gs = channelShift(visual->green_mask);
    const int bs = channelShift(visual->blue_mask);
    if (bitsPerPixel != 32 || rs < 0 || gs < 0 || bs < 0)
        return nullptr;

    std::unique_ptr<XcbScreenGrabber> g(new XcbScreenGrabber);
    g->connection_ = connection;
    g->root_ = screen->root;
    g->rootWidth_ = screen->width_in_pixels;
    g->rootHeight_ = screen->height_in_pixels;
    g->geometryTime_ = std::chrono::steady_clock::now();
    g->redShift_ = rs;
    g->greenShift_ = gs;
    g->blueShift_ = bs;
    g->swapBytes_ = setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST;

    if (allowShm) {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(connection, &xcb_shm_id);
        if (ext != nullptr && ext->present) {
            g->shmAllowed_ = xcbReply(xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection),
                                                                  nullptr)) != nullptr;
        }
    }
    return g;
}

std::unique_ptr<XcbScreenGrabber> XcbScreenGrabber::createWithOwnConnection(int screenNumber)
{
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (c == nullptr || xcb_connection_has_error(c)) {
        if (c != nullptr)
            xcb_disconnect(c);
        return nullptr;
    }
    auto g = create(c, screenNumber);
    if (!g) {
        xcb_disconnect(c);
        return nullptr;
    }
    g->ownsConnection_ = true;
    return g;
}

XcbScreenGrabber::~XcbScreenGrabber()
{
    releaseSegment();
    if (ownsConnection_)
        xcb_disconnect(connection_);
}

void XcbScreenGrabber::releaseSegment()
{
    if (segment_ != 0) {
        xcb_shm_detach(connection_, segment_);
        xcb_flush(connection_);
        segment_ = 0;
    }
    if (segmentAddr_ != nullptr) {
        shmdt(segmentAddr_);
        segmentAddr_ = nullptr;
    }
    segmentBytes_ = 0;
}

bool XcbScreenGrabber::ensureSegment(std::size_t bytes)
{
    if (segment_ != 0 && bytes <= segmentBytes_)
        return true;
    releaseSegment();

    XcbSharedSegment segment;
    if (!attachSharedSegment(connection_, bytes, segment))
        return false;
    segment_ = segment.id;
    segmentAddr_ = segment.address;
    segmentBytes_ = bytes;
    return true;
}

void XcbScreenGrabber::refreshGeometry()
{
    const auto reply = xcbReply(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, root_), nullptr));
    if (reply != nullptr) {
        rootWidth_ = reply->width;
        rootHeight_ = reply->height;
    }
    geometryTime_ = std::chrono::steady_clock::now();
}

bool XcbScreenGrabber::grab(int x, int y, int w, int h, std::uint32_t* dst, int dstStride)
{
    if (dst == nullptr || w <= 0 || h <= 0 || dstStride < w)
        return false;
    if (xcb_connection_has_error(connection_)) {
        GrabRect::clearDestination(w, h, dst, dstStride);
        return false;
    }
    if (std::chrono::steady_clock::now() - geometryTime_ > kGeometryMaxAge)
        refreshGeometry();
    const GrabRect r = GrabRect::clip(x, y, w, h, rootWidth_, rootHeight_);
    // Only what lies off the screen is cleared first: a whole grab overwrites it all.
    if (r.w != w || r.h != h)
        GrabRect::clearDestination(w, h, dst, dstStride);
    if (r.empty())
        return false;
    if (grabClipped(x, y, w, h, dst, dstStride))
        return true;
    // The screen may have shrunk under us (BadMatch); try once more at its new size.
    refreshGeometry();
    GrabRect::clearDestination(w, h, dst, dstStride);
    return grabClipped(x, y, w, h, dst, dstStride);
}

bool XcbScreenGrabber::grabClipped(int x, int y, int w, int h, std::uint32_t* dst, int dstStride)
{
    const GrabRect r = GrabRect::clip(x, y, w, h, rootWidth_, rootHeight_);
    if (r.empty())
        return false;
    std::uint32_t* out = dst + std::size_t(r.dstY) * std::size_t(dstStride) + r.dstX;
    const std::size_t bytes = std::size_t(r.w) * std::size_t(r.h) * 4;

    if (shmAllowed_ && ensureSegment(bytes)) {
        xcb_generic_error_t* failed = nullptr;
        const auto reply = xcbReply(xcb_shm_get_image_reply(
            connection_,
            xcb_shm_get_image(connection_, root_, std::int16_t(r.srcX), std::int16_t(r.srcY),
                              std::uint16_t(r.w), std::uint16_t(r.h), ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0),
            &failed));
        const auto error = xcbReply(failed);
        if (reply != nullptr && std::size_t(reply->size) >= bytes) {
            convert(static_cast<const unsigned char*>(segmentAddr_), r.w, r.h, out, dstStride);
            return true;
        }
        if (error != nullptr && error->error_code == kBadMatch)
            return false;
        // Anything else means the server will not write into our memory: stop trying.
        releaseSegment();
        shmAllowed_ = false;
    }

    const auto reply = xcbReply(xcb_get_image_reply(
        connection_,
        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, std::int16_t(r.srcX),
                      std::int16_t(r.srcY), std::uint16_t(r.w), std::uint16_t(r.h), ~0u),
        nullptr));
    if (reply == nullptr)
        return false;
    const int length = xcb_get_image_data_length(reply.get());
    const bool ok = length >= 0 && std::size_t(length) >= bytes;
    if (ok)
        convert(xcb_get_image_data(reply.get()), r.w, r.h, out, dstStride);
    return ok;
}

void XcbScreenGrabber::convert(const unsigned char* src, int w, int h, std::uint32_t* dst,
                               int dstStride) const
{
    // 32 bits a pixel keeps every row 4-byte aligned, so rows are w * 4 bytes apart.
    if (!swapBytes_ && redShift_ == 16 && greenShift_ == 8 && blueShift_ == 0) {
        // The usual layout is already 0x??RRGGBB: only the top byte must go,
        // in the same pass as the copy.
        for (int row = 0; row < h; ++row) {
            const unsigned char* s = src + std::size_t(row) * std::size_t(w) * 4;
            std::uint32_t* d = dst + std::size_t(row) * std::size_t(dstStride);
            for (int col = 0; col < w; ++col) {
                std::uint32_t p;
                std::memcpy(&p, s + std::size_t(col) * 4, 4);
                d[col] = p & 0x00FFFFFFu;
            }
        }
        return;
    }
    for (int row = 0; row < h; ++row) {
        const unsigned char* s = src + std::size_t(row) * std::size_t(w) * 4;
        std::uint32_t* d = dst + std::size_t(row) * std::size_t(dstStride);
        for (int col = 0; col < w; ++col, s += 4) {
            const std::uint32_t p =
                swapBytes_ ? (std::uint32_t(s[0]) << 24) | (std::uint32_t(s[1]) << 16) |
                                 (std::uint32_t(s[2]) << 8) | s[3]
                           : (std::uint32_t(s[3]) << 24) | (std::uint32_t(s[2]) << 16) |
                                 (std::uint32_t(s[1]) << 8) | s[0];
            d[col] = (((p >> redShift_) & 0xFFu) << 16) | (((p >> greenShift_) & 0xFFu) << 8) |
                     ((p >> blueShift_) & 0xFFu);
        }
    }
}
