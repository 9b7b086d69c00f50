#include "platform/qt/qt_pictures.h"

#include "platform/core/layout.h"

namespace tl {

QPixmap IconPixmap(int iconResource) {
  const char* const* xpm = LoadIconResource(iconResource);
  if (xpm == nullptr) return QPixmap();
  return QPixmap(xpm);
}

std::vector<QPixmap> StripImages(int bitmapResource) {
  std::vector<QPixmap> images;
  const char* const* xpm = LoadBitmapResource(bitmapResource);
  if (xpm == nullptr) return images;
  QPixmap strip(xpm);
  int side = strip.height();
  if (side <= 0) return images;
  for (int x = 0; x + side <= strip.width(); x += side) images.push_back(strip.copy(x, 0, side, side));
  return images;
}

}  // namespace tl
