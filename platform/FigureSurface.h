#pragma once

#include <QObject>

#include <memory>

class Bitmap;
class QWidget;

// What the figure window shows itself on. Three ways, by what the display
// offers:
//  - Argb: a compositing manager runs; the window has an alpha channel, 0
//    where a frame is exactly white. No screen reads.
//  - Shaped: no compositing manager, but the SHAPE extension; the window is
//    cut to the frame's opaque pixels. No screen reads.
//  - Grabbed: neither (or TASSIO_NO_SHAPE=1); the window is an opaque square
//    that shows, around the figure, the screen it saw behind itself, which the
//    caller composites from grab().
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

    // The figure's frames (colour bitmaps, exact white is transparent), sent
    // to the display once per figure, whole and cut. Unused by Grabbed.
    virtual void setFrames(const Bitmap* frames, int count) = 0;

    // Grabbed only: the screen's pixels at (x, y), the size of into, read
    // before the window moves there. Off-screen parts come out black.
    virtual bool grab(int x, int y, Bitmap& into)
    {
        (void)x, (void)y, (void)into;
        return false;
    }

    // Moves the window to (x, y) and shows frame k there, cut to its short
    // height when cut is set (Grabbed: composite instead), in one go: no
    // frame of the screen ever shows the old picture at the new place.
    virtual void show(int x, int y, bool cut, int k, const Bitmap* composite) = 0;

    // On: the window goes above the others now and after each move, so that
    // a window raised meanwhile covers it only until the next tick.
    virtual void setKeepAbove(bool on) = 0;

    // The window has just been mapped, after its first show.
    virtual void mapped() { }

    // Another window became the active one: unless kept above, the figure
    // goes below it, as a window does that is not kept on top. (An
    // override-redirect window is outside the window manager's stacking.)
    virtual void letActiveWindowCover() { }

    // Whether Qt paints the window (through its backing store), rather than
    // the surface itself.
    virtual bool paintsThroughQt() const { return false; }

protected:
    FigureSurface() = default;
    FigureSurface(const FigureSurface&) = delete;
    FigureSurface& operator=(const FigureSurface&) = delete;
};

// Picks the surface that suits the display, makes it for a window, and says
// when that choice changes (a compositing manager starts or stops).
class SurfaceLoader : public QObject {
    Q_OBJECT

public:
    explicit SurfaceLoader(QObject* parent = nullptr);
    ~SurfaceLoader() override;

    // What suits the display now.
    FigureSurface::Kind bestKind() const;

    // The surface of that kind for the window, whose native window must have
    // been made for it (an alpha channel for Argb: see wantsAlpha). Falls
    // back to a kind the window allows; never null.
    std::unique_ptr<FigureSurface> create(QWidget& window, FigureSurface::Kind kind);

    static bool wantsAlpha(FigureSurface::Kind kind) { return kind == FigureSurface::Kind::Argb; }

signals:
    // A compositing manager came or went: bestKind() may differ now.
    void compositingChanged();
    // The desktop's active window changed.
    void activeWindowChanged();

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
