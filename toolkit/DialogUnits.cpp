#include "DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// a * b / c in 64 bits, rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const int64_t p = static_cast<int64_t>(a) * b;
    const int64_t r = p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c);
    return static_cast<int>(r);
}

}  // namespace

QFont ResolveDialogFont(const std::string& name, int pointSize)
{
    QString family = QString::fromStdString(name);
    if (!QFontDatabase::hasFamily(family)) {
        for (const char* fallback : {"Liberation Sans", "Arial", "DejaVu Sans"}) {
            if (QFontDatabase::hasFamily(fallback)) {
                family = fallback;
                break;
            }
        }
    }
    QFont font(family);
    qreal dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize * dpi / 72.0))));
    return font;
}

DialogUnits DialogUnits::Measure(const QFont& font)
{
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {std::max(1, (width / 26 + 1) / 2), std::max(1, fm.height())};
}

QRect DialogUnits::Map(int x, int y, int cx, int cy) const
{
    return QRect(MulDiv(x, baseX, 4), MulDiv(y, baseY, 8), MulDiv(cx, baseX, 4),
                 MulDiv(cy, baseY, 8));
}
