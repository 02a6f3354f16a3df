#include "dialogs/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QStringList>

namespace {
// units * base / divisor, rounded half away from zero like the native MulDiv.
int scale(int units, int base, int divisor)
{
    const long long n = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(n >= 0 ? (n + half) / divisor : -((-n + half) / divisor));
}
} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    baseX_ = metrics.averageCharWidth();
    baseY_ = metrics.height();
}

DialogUnits::DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

int DialogUnits::toPixelsX(int units) const
{
    return scale(units, baseX_, 4);
}

int DialogUnits::toPixelsY(int units) const
{
    return scale(units, baseY_, 8);
}

QRect DialogUnits::toPixels(const DialogUnitRect& r) const
{
    return QRect(toPixelsX(r.x), toPixelsY(r.y), toPixelsX(r.w), toPixelsY(r.h));
}

QSize DialogUnits::toPixels(int w, int h) const
{
    return QSize(toPixelsX(w), toPixelsY(h));
}

QFont dialogFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC") });
    font.setPointSize(9);
    return font;
}
