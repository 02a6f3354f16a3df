#pragma once

#include "platform/PixmapSurface.h"

// Where a compositing manager runs: a depth-32 window whose pictures carry an
// alpha channel, 0 where the figure is not. The compositor blends it over
// whatever lies behind; the window keeps its rectangle, and its shape only
// lets the clicks beside the figure pass.
class ArgbSurface : public PixmapSurface {
public:
    ArgbSurface(xcb_connection_t* c, std::uint32_t window);

    Kind kind() const override { return Kind::Argb; }
    void mapped() override;
};
