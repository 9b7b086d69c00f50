// The program's pictures: the application icon and the tree's state images,
// as XPM text (drawn by scripts/make_pictures.py).
#include "platform/core/layout.h"

namespace tl {

namespace {
#include "resources/icon128.xpm"
#include "resources/states133.xpm"
}  // namespace

const char* const* LoadIconResource(int id) {
  if (id == kIconApp) return icon128_xpm;
  return nullptr;
}

const char* const* LoadBitmapResource(int id) {
  if (id == kBitmapStateImages) return states133_xpm;
  return nullptr;
}

}  // namespace tl
