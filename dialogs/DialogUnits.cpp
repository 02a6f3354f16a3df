#include "dialogs/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QStringList>

#include <cmath>

namespace {
// units * base / divisor, rounded half away from zero like the native MulDiv.
int scale(int units, double base, int divisor)
{
    return static_cast<int>(std::lround(units * base / divisor));
}
} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    baseX_ = averageLetterWidth(font);
    baseY_ = QFontMetrics(font).height();
}

DialogUnits::DialogUnits(double baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

double DialogUnits::averageLetterWidth(const QFont& font)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
}

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
