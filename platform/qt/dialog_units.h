// Dialog units to pixels, the way the Windows dialog manager converts them:
// the base units come from the dialog font (the average width of the 52
// letters, rounded, and the font height); a horizontal unit is a quarter of
// the base width and a vertical unit an eighth of the base height, each
// coordinate and size rounded separately.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/core/layout.h"

namespace tl {

struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// number * multiplier / divisor, rounded half away from zero.
int MulDiv(int number, int multiplier, int divisor);

DialogBaseUnits BaseUnitsOf(const QFont& font);

int DialogUnitsToPixelsX(const DialogBaseUnits& base, int units);
int DialogUnitsToPixelsY(const DialogBaseUnits& base, int units);
QRect MapDialogRect(const DialogBaseUnits& base, int x, int y, int width, int height);
QSize MapDialogSize(const DialogBaseUnits& base, int width, int height);

// The font a layout asks for. "MS Sans Serif" (and "MS Shell Dlg") stand for
// the desktop's default sans-serif face; the point size is the layout's.
QFont DialogFont(const DialogLayout& layout);

}  // namespace tl
