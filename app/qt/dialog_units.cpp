#include "app/qt/dialog_units.h"

#include <QFontMetricsF>

#include <cmath>

namespace {

constexpr const char* ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr double ALPHABET_LENGTH = 52.0;
constexpr double QUARTERS = 4.0;
constexpr double EIGHTHS = 8.0;

int ScaleX(int units, const DialogBaseUnits& base) {
    return static_cast<int>(std::lround(units * base.width / QUARTERS));
}

int ScaleY(int units, const DialogBaseUnits& base) {
    return static_cast<int>(std::lround(units * base.height / EIGHTHS));
}

}  // namespace

DialogBaseUnits MeasureBaseUnits(const QFont& font) {
    QFontMetricsF metrics(font);
    return {metrics.horizontalAdvance(QString::fromLatin1(ALPHABET)) / ALPHABET_LENGTH,
            std::ceil(metrics.height())};
}

QFont TemplateFont(const DialogTemplate& dialog) {
    QFont font(QString::fromUtf8(dialog.fontName), dialog.fontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QRect ToPixels(const DialogRect& rect, const DialogBaseUnits& units) {
    // Scale both corners, not the size, so neighbouring controls that touch
    // in dialog units still touch in pixels.
    int left = ScaleX(rect.x, units);
    int top = ScaleY(rect.y, units);
    int right = ScaleX(rect.x + rect.width, units);
    int bottom = ScaleY(rect.y + rect.height, units);
    return QRect(left, top, right - left, bottom - top);
}

QSize ToPixels(int width, int height, const DialogBaseUnits& units) {
    return QSize(ScaleX(width, units), ScaleY(height, units));
}
