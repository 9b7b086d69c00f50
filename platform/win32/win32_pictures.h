// The program's pictures as Windows image lists.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace tl {

// The bitmap strip as an image list of square images of the strip's height,
// masked by the colour key RGB(16, 0, 0), growing by 4; null when none.
HIMAGELIST MakeStripImageList(int bitmapResource);

}  // namespace tl
