#pragma once

#include "platform/XcbSurface.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What ArgbSurface and ShapedSurface share: the frames and their masks live
// on the server as pixmaps, each whole and cut to the short height; a tick is
// a move, and where the frame or its cut changes a switch of the window's
// background or shape (and a clear). No screen reads.
class PixmapSurface : public XcbSurface {
public:
    ~PixmapSurface() override;

    void setFrames(const Bitmap* frames, const Bitmap* masks, int count) override;
    void show(int x, int y, bool cut, int k) override;

protected:
    // depth: the window's, 32 with an alpha channel or 24. shapeKind: what the
    // mask cuts, the window's outline (XCB_SHAPE_SK_BOUNDING) or only where
    // it takes clicks (XCB_SHAPE_SK_INPUT, when the alpha cuts the picture).
    PixmapSurface(xcb_connection_t* c, std::uint32_t window, int depth, std::uint8_t shapeKind);

private:
    // [0] whole, [1] without the rows from the short height down. A frame
    // with nothing of the figure there uses the same pixmaps for both, and
    // its ticks switch nothing.
    struct Frame {
        std::uint32_t picture[2]; // xcb_pixmap_t, the window's depth
        std::uint32_t mask[2];    // depth 1: where the figure is
    };
    std::uint32_t upload(int depth, const std::uint8_t* data, std::size_t stride);
    void makeGcs();
    void releaseFrames();

    int depth_;
    std::uint8_t shapeKind_;
    int bitmapPad_ = 32;
    bool lsbFirst_ = true;
    std::uint32_t gc_ = 0;
    std::uint32_t maskGc_ = 0;
    std::vector<Frame> frames_;
    int size_ = 0;
    int shownFrame_ = -1;
    std::uint32_t shownPicture_ = 0;
    std::uint32_t shownMask_ = 0;
};
