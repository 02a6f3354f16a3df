// The least an X11 program can do to swing a shaped 95 x 96 figure: an
// override-redirect window, seven frame pixmaps and seven masks made once,
// and on every tick a move, a shape switch, a background switch and a clear.
// The yardstick for what the figure window costs the whole desktop.
// With --resize every move also changes the height, 95 and 96 in turn, as
// the figure window did before it kept one size: what that costs a
// compositing manager.
//
// usage: bare_swing [interval-ms] [--resize]   (runs until killed)

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int kSize = 96;
constexpr int kFrames = 7;

void putImage(xcb_connection_t* c, xcb_drawable_t d, xcb_gcontext_t gc, std::uint8_t format, std::uint8_t depth,
              const std::vector<std::uint8_t>& data)
{
    xcb_put_image(c, format, d, gc, kSize, kSize, 0, 0, 0, depth, std::uint32_t(data.size()), data.data());
}

} // namespace

int main(int argc, char** argv)
{
    const int intervalMs = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool resize = argc > 2 && std::strcmp(argv[2], "--resize") == 0;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "bare_swing: no display\n");
        return 1;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;

    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t attributes[] = { 1 }; // override-redirect
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 95, 96, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, attributes);

    xcb_pixmap_t pictures[kFrames], masks[kFrames];
    const xcb_gcontext_t gc = xcb_generate_id(c), maskGc = xcb_generate_id(c);
    for (int k = 0; k < kFrames; ++k) {
        pictures[k] = xcb_generate_id(c);
        masks[k] = xcb_generate_id(c);
        xcb_create_pixmap(c, screen->root_depth, pictures[k], window, kSize, kSize);
        xcb_create_pixmap(c, 1, masks[k], window, kSize, kSize);
        if (k == 0) {
            xcb_create_gc(c, gc, pictures[0], 0, nullptr);
            xcb_create_gc(c, maskGc, masks[0], 0, nullptr);
        }
        // A disc that leans with the frame, in a colour of its own.
        std::vector<std::uint8_t> pixels(kSize * kSize * 4), bits(kSize * kSize / 8);
        const double cx = 48 + (k - 3) * 6, cy = 48;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const bool in = (x - cx) * (x - cx) + (y - cy) * (y - cy) < 30 * 30;
                const std::uint32_t p = in ? 0x402000u + std::uint32_t(k) * 0x200010u : 0xFFFFFFu;
                for (int b = 0; b < 4; ++b)
                    pixels[std::size_t(y * kSize + x) * 4 + std::size_t(b)] = std::uint8_t(p >> (8 * b));
                if (in)
                    bits[std::size_t(y * kSize + x) / 8] |= std::uint8_t(1u << (x % 8));
            }
        putImage(c, pictures[k], gc, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root_depth, pixels);
        putImage(c, masks[k], maskGc, XCB_IMAGE_FORMAT_XY_PIXMAP, 1, bits);
    }
    xcb_map_window(c, window);
    xcb_flush(c);

    timespec next {};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (unsigned tick = 0;; ++tick) {
        next.tv_nsec += long(intervalMs) * 1000000L;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        const double angle = std::sin(tick * 0.08) * 0.8;
        const int x = screen->width_in_pixels - 250 + int(128 * std::sin(angle));
        const int y = screen->height_in_pixels - 260 + int(128 * std::cos(angle));
        const int k = int(tick % kFrames);
        const std::uint32_t geometry[] = { std::uint32_t(x), std::uint32_t(y), 95, 95u + (tick & 1) };
        xcb_configure_window(c, window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y
                                 | (resize ? XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT : 0),
                             geometry);
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, masks[k]);
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &pictures[k]);
        xcb_clear_area(c, 0, window, 0, 0, 0, 0);
        xcb_flush(c);
        if (xcb_connection_has_error(c))
            return 1;
        // Nothing is asked for, but drain what may come (errors).
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c))
            std::free(ev);
    }
}
