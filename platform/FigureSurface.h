#pragma once

#include <cstdint>

class Bitmap;

// What the figure window shows itself on. Three ways, by what the display
// offers (SurfaceLoader picks and makes them):
//  - Argb: a compositing manager runs; the window has an alpha channel, 0
//    where a frame is transparent. No screen reads.
//  - Shaped: no compositing manager, but the SHAPE extension; the window is
//    cut to the frame's mask. No screen reads.
//  - Grabbed: neither (or TASSIO_NO_SHAPE=1); the window is an opaque square
//    that shows, around the figure, the screen it read behind itself before
//    each move (GrabCompositor).
// Coordinates and sizes are the X server's (device) pixels.
class FigureSurface {
public:
    enum class Kind { Argb, Shaped, Grabbed };

    virtual ~FigureSurface();
    virtual Kind kind() const = 0;

    // The window's size, which it keeps while it swings, and the rows it
    // shows on a short tick: below shortHeight the window is cut away there
    // (Argb and Shaped; Grabbed is opaque and shows every row). A compositor
    // treats a change of size as a new window, so the size is set once, here,
    // and before setFrames.
    virtual void setSize(int width, int height, int shortHeight) = 0;

    // The figure's count frames (colour bitmaps, pure white is transparent)
    // and their masks (monochrome, 1 where the figure shows), all of one
    // square size. Argb and Shaped send them to the display once per figure,
    // whole and cut; Grabbed composites from them at every show, and the
    // caller keeps them alive and unmoved until the next setFrames.
    virtual void setFrames(const Bitmap* frames, const Bitmap* masks, int count) = 0;

    // Moves the window to (x, y) and shows frame k there, cut to its short
    // height when cut is set, in one go: no frame of the screen ever shows
    // the old picture at the new place.
    virtual void show(int x, int y, bool cut, int k) = 0;

    // On: the window goes above the others now and after each move, so that
    // a window raised meanwhile covers it only until the next tick.
    virtual void setKeepAbove(bool on) = 0;

    // The window has just been mapped, after its first show.
    virtual void mapped() { }

    // Another window became the active one (0 for none): unless kept above,
    // the figure goes below it, as a window does that is not kept on top.
    // (An override-redirect window is outside the window manager's stacking.)
    virtual void letActiveWindowCover(std::uint32_t active) { (void)active; }

    // The figure wakes after a sleep. True when it must be shown again where
    // it is before its window maps: a surface that shows the screen behind
    // the window reads it afresh then, for it may have changed meanwhile, and
    // takes the window off the screen for that first.
    virtual bool wake() { return false; }

    // Whether Qt paints the window (through its backing store), rather than
    // the surface itself.
    virtual bool paintsThroughQt() const { return false; }

protected:
    FigureSurface() = default;
    FigureSurface(const FigureSurface&) = delete;
    FigureSurface& operator=(const FigureSurface&) = delete;
};
