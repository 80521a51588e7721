#pragma once
// Dialog units to pixels with the dialog font's metrics: a horizontal unit is
// a quarter of the font's average character width (the width of the 52 Latin
// letters over 52), a vertical unit an eighth of its character height.

#include <QFont>
#include <QRect>

namespace ostrel::ui {

struct DialogUnits {
    double x = 1.5;  // pixels per horizontal dialog unit
    double y = 1.625;

    DialogUnits scaled(double factor) const { return {x * factor, y * factor}; }
};

DialogUnits BaseUnitsFor(const QFont& font);

// A rectangle in dialog units to pixels. Edges are rounded, so neighbouring
// controls keep their gaps.
QRect ToPixels(const DialogUnits& units, int x, int y, int width, int height);

}  // namespace ostrel::ui
