#include "platform/win32/win32_pictures.h"

#include <cstring>

#include "platform/core/picture.h"

namespace tl {

namespace {

constexpr COLORREF kStateImageKey = RGB(16, 0, 0);
constexpr int kStateImageGrowth = 4;

// A top-down 32-bit DIB section holding the picture; transparent pixels
// are black with no alpha.
HBITMAP MakeColourBitmap(const Picture& picture) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  // 0xAARRGGBB in memory is B, G, R, A: the DIB's own byte order.
  if (bitmap != nullptr) std::memcpy(bits, picture.pixels.data(), picture.pixels.size() * 4);
  return bitmap;
}

}  // namespace

HIMAGELIST MakeStripImageList(int bitmapResource) {
  std::optional<Picture> picture = LoadBitmapPicture(bitmapResource);
  if (!picture) return nullptr;
  const int side = picture->height;
  HBITMAP strip = MakeColourBitmap(*picture);
  if (strip == nullptr) return nullptr;
  HIMAGELIST list = ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, picture->width / side,
                                     kStateImageGrowth);
  if (list != nullptr && ImageList_AddMasked(list, strip, kStateImageKey) < 0) {
    ImageList_Destroy(list);
    list = nullptr;
  }
  DeleteObject(strip);
  return list;
}

}  // namespace tl
