#include "platform/qt/qt_pictures.h"

#include <QImage>

#include "platform/core/picture.h"

namespace tl {

namespace {

QPixmap PixmapOf(const std::optional<Picture>& picture) {
  if (!picture) return QPixmap();
  QImage image(picture->width, picture->height, QImage::Format_ARGB32);
  for (int y = 0; y < picture->height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture->width; ++x) line[x] = picture->At(x, y);
  }
  return QPixmap::fromImage(image);
}

}  // namespace

QPixmap IconPixmap(int iconResource) { return PixmapOf(LoadIconPicture(iconResource)); }

std::vector<QPixmap> StripImages(int bitmapResource) {
  std::vector<QPixmap> images;
  QPixmap strip = PixmapOf(LoadBitmapPicture(bitmapResource));
  int side = strip.height();
  if (side <= 0) return images;
  for (int x = 0; x + side <= strip.width(); x += side) images.push_back(strip.copy(x, 0, side, side));
  return images;
}

}  // namespace tl
