#pragma once

#include <QRect>
#include <QSize>

class QFont;

// A rectangle in dialog units, as the forms' layout tables give it.
struct DialogUnitRect {
    int x, y, w, h;
};

// Dialog units scale with the dialog's font, so a form keeps its proportions
// whatever font the system supplies: a horizontal unit is a quarter of the
// font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    // Base units in pixels: average character width and character height.
    DialogUnits(int baseX, int baseY);

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(const DialogUnitRect& r) const;
    QSize toPixels(int w, int h) const;

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// The font all three dialogs are laid out in: 9 point, a CJK face first so the
// Chinese captions fit their controls; Qt falls back when it is missing.
QFont dialogFont();
