// Dialog units to pixels. A horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height, so the
// window keeps its proportions whatever font the system substitutes.
#pragma once

#include "app/dialog_template.h"

#include <QFont>
#include <QRect>
#include <QSize>

struct DialogBaseUnits {
    double width;   // average character width, pixels
    double height;  // character height, pixels
};

// The base units of a font, measured over the letters A-Z and a-z.
DialogBaseUnits MeasureBaseUnits(const QFont& font);

// The template's font at its point size; a sans serif face stands in where
// the named face is missing.
QFont TemplateFont(const DialogTemplate& dialog);

QRect ToPixels(const DialogRect& rect, const DialogBaseUnits& units);
QSize ToPixels(int width, int height, const DialogBaseUnits& units);
