// The program's XPM pictures as pixmaps.
#pragma once

#include <QPixmap>
#include <vector>

namespace tl {

// Icon resource as a pixmap; null pixmap when there is none.
QPixmap IconPixmap(int iconResource);
// A bitmap strip cut into square images of the strip's height, left to right.
std::vector<QPixmap> StripImages(int bitmapResource);

}  // namespace tl
