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
// The average is that of the Latin letters as this font draws them, as the
// forms were measured; a CJK font's own "average" is the width of its
// ideographs and lays every form out far too wide.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    // Base units in pixels: average character width and character height.
    DialogUnits(double baseX, int baseY);

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(const DialogUnitRect& r) const;
    QSize toPixels(int w, int h) const;

    double baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

    // The average width of "A".."Z" and "a".."z" in the font, in pixels.
    static double averageLetterWidth(const QFont& font);

private:
    double baseX_;
    int baseY_;
};

// The font all three dialogs are laid out in: 9 point, a CJK face first so the
// Chinese captions fit their controls; Qt falls back when it is missing.
QFont dialogFont();
