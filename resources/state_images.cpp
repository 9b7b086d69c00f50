// Bitmap 133: the device tree's state images, eight 16 x 16 pictures side
// by side: Ok, a group, a wired interface (consistent / not), a wireless
// interface (consistent / not), two blanks. No pixel is the colour key
// (red 16, green 0, blue 0), so nothing is transparent.
#include "platform/core/layout.h"

namespace tl {

namespace {

const char* const kStateImages[] = {
    "128 16 5 1",
    "g c #20C040",
    "r c #D02020",
    "k c #000000",
    "w c #FFFFFF",
    "d c #808080",
    "ggggggggggggggggggggggggggggggggggggggggggggggggrrrrrrrrrrrrrrrrggggggggggggggggrrrrrrrrrrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggggggggggggggggggggggkkkkggggggggggggggggggggggrrrrrrrrrrrrrrrrggdggggggggggdggrrwrrrrrrrrrrwrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggggggggggggggggggggggkkkkgggggggggwwwwwwwwwwgggrrrwwwwwwwwwwrrrgdggdggggggdggdgrwrrwrrrrrrwrrwrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggggggggggggggggggggggggkggggggggggwddddddddwgggrrrwwwwwwwwwwrrrgdgdggddddggdgdgrwrwrrwwwwrrwrwrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggkkkgggkgggkgggggggggggkggggggggggwdgddddgdwgggrrrwwrwwwwrwwrrrgdgdgdggggdgdgdgrwrwrwrrrrwrwrwrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gkgggkggkggkgggggggkkkkkkkkkkggggggwddddddddwgggrrrwwwwwwwwwwrrrgdgdgdgddgdgdgdgrwrwrwrwwrwrwrwrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gkgggkggkgkggggggggkggggggggkggggggwddggggddwgggrrrwwwrrrrwwwrrrggdggdgddgdggdggrrwrrwrwwrwrrwrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gkgggkggkkgggggggggkggggggggkggggggwddggggddwgggrrrwwwrrrrwwwrrrgggggggddgggggggrrrrrrrwwrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gkgggkggkgkggggggggkggggggggkggggggwddggggddwgggrrrwwwrrrrwwwrrrgggggggddgggggggrrrrrrrwwrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gkgggkggkggkggggggkkkggggggkkkgggggwddggggddwgggrrrwwwrrrrwwwrrrgggggggddgggggggrrrrrrrwwrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggkkkgggkgggkgggggkkkggggggkkkgggggwddddddddwgggrrrwwwwwwwwwwrrrggggggddddggggggrrrrrrwwwwrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gggggggggggggggggggggggggggggggggggwwwwggwwwwgggrrrwwwwrrwwwwrrrggggggddddggggggrrrrrrwwwwrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gggggggggggggggggggggggggggggggggggggggwwgggggggrrrrrrrwwrrrrrrrgggggddddddgggggrrrrrwwwwwwrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "gggggggggggggggggggggggggggggggggggggggwwgggggggrrrrrrrwwrrrrrrrggggggggggggggggrrrrrrrrrrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggggggggggggggggggggggggggggggggggggggggggggggggrrrrrrrrrrrrrrrrggggggggggggggggrrrrrrrrrrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww",
    "ggggggggggggggggggggggggggggggggggggggggggggggggrrrrrrrrrrrrrrrrggggggggggggggggrrrrrrrrrrrrrrrrwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww"
};

}  // namespace

const char* const* LoadBitmapResource(int id) {
  return id == kBitmapStateImages ? kStateImages : nullptr;
}

}  // namespace tl
