#pragma once

#include "platform/ScreenGrabber.h"

// Portable grabber over QScreen::grabWindow on the primary screen; what lies on
// other screens comes out black. Slower than the
// xcb path (a pixmap and an image conversion a grab) but works on any Qt platform.
class QtScreenGrabber : public ScreenGrabber {
public:
    bool grab(int x, int y, int w, int h, std::uint32_t* dst, int dstStride) override;
};
