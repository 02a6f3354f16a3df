#pragma once

#include "platform/PixmapSurface.h"

// Where no compositing manager runs but the SHAPE extension does: a depth-24
// window cut to the figure's outline, and on a short tick to its rows above
// the short height.
class ShapedSurface : public PixmapSurface {
public:
    ShapedSurface(xcb_connection_t* c, std::uint32_t window);

    Kind kind() const override { return Kind::Shaped; }
};
