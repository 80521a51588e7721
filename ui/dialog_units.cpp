#include "ui/dialog_units.h"

#include <QFontMetricsF>
#include <cmath>

namespace ostrel::ui {

DialogUnits BaseUnitsFor(const QFont& font) {
    const QFontMetricsF metrics(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double average = metrics.horizontalAdvance(letters) / 52.0;
    const double height = metrics.height();
    if (average <= 0 || height <= 0) return {};
    return {average / 4.0, height / 8.0};
}

QRect ToPixels(const DialogUnits& units, int x, int y, int width, int height) {
    const int left = static_cast<int>(std::lround(x * units.x));
    const int top = static_cast<int>(std::lround(y * units.y));
    const int right = static_cast<int>(std::lround((x + width) * units.x));
    const int bottom = static_cast<int>(std::lround((y + height) * units.y));
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace ostrel::ui
