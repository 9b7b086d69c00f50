#include "platform/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <cstdint>
#include <cstring>

namespace tl {

int MulDiv(int number, int multiplier, int divisor) {
  if (divisor == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(number) * multiplier;
  std::int64_t half = (divisor < 0 ? -divisor : divisor) / 2;
  bool negative = (product < 0) != (divisor < 0);
  std::int64_t magnitude = (product < 0 ? -product : product) + half;
  std::int64_t quotient = magnitude / (divisor < 0 ? -divisor : divisor);
  return static_cast<int>(negative ? -quotient : quotient);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  int width = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits base;
  base.x = (width / 26 + 1) / 2;
  base.y = metrics.height();
  return base;
}

int DialogUnitsToPixelsX(const DialogBaseUnits& base, int units) { return MulDiv(units, base.x, 4); }

int DialogUnitsToPixelsY(const DialogBaseUnits& base, int units) { return MulDiv(units, base.y, 8); }

QRect MapDialogRect(const DialogBaseUnits& base, int x, int y, int width, int height) {
  return QRect(DialogUnitsToPixelsX(base, x), DialogUnitsToPixelsY(base, y),
               DialogUnitsToPixelsX(base, width), DialogUnitsToPixelsY(base, height));
}

QSize MapDialogSize(const DialogBaseUnits& base, int width, int height) {
  return QSize(DialogUnitsToPixelsX(base, width), DialogUnitsToPixelsY(base, height));
}

QFont DialogFont(const DialogLayout& layout) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  const char* name = layout.fontName != nullptr ? layout.fontName : "";
  if (std::strcmp(name, "MS Sans Serif") != 0 && std::strcmp(name, "MS Shell Dlg") != 0 &&
      name[0] != '\0') {
    font.setFamily(QString::fromLatin1(name));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSize(layout.fontPoints > 0 ? layout.fontPoints : 8);
  return font;
}

}  // namespace tl
