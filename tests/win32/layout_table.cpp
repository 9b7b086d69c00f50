// The layout tables as the Wine tests' driver reads a shown dialog back,
// so that the two can be compared line by line:
//   win32_layout_table rects CAPTION [DPI]  "dialog W H", then every control:
//                                          ID CLASS "TEXT" X Y W H [STYLE...]
//                                          (an icon in pixels at DPI, 96)
//   win32_layout_table taborder CAPTION   the tab stops' ids in order
//   win32_layout_table default CAPTION    the default button's id, or none
// Exit status 0, 1 when no layout has that caption, 2 on usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/core/layout.h"
#include "platform/core/picture.h"

namespace {

using tl::ControlKind;
using tl::ControlLayout;
using tl::DialogLayout;

constexpr int kDialogs[] = {tl::kDialogAbout, tl::kDialogMain, tl::kDialogFind, tl::kDialogUpdate,
                            tl::kDialogCredentials};

// The DPI the pictures are drawn for.
constexpr int kBaseDpi = 96;

const DialogLayout* LayoutWithCaption(const char* caption) {
  for (int id : kDialogs) {
    const DialogLayout* layout = tl::FindDialogLayout(id);
    if (layout != nullptr && std::strcmp(layout->caption, caption) == 0) return layout;
  }
  return nullptr;
}

// The system's class of each kind of control.
const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
      return "Button";
    case ControlKind::Label:
    case ControlKind::Icon:
      return "Static";
    case ControlKind::Edit:
      return "Edit";
    case ControlKind::ProgressBar:
      return "msctls_progress32";
    case ControlKind::TreeView:
      return "SysTreeView32";
  }
  return "?";
}

std::string StyleWords(const ControlLayout& c) {
  std::string words;
  auto add = [&](bool on, const char* word) {
    if (on) words += std::string(" ") + word;
  };
  add((c.style & tl::kTabStop) != 0, "tabstop");
  add((c.style & tl::kBorder) != 0, "border");
  add(c.kind == ControlKind::CheckBox, "autocheckbox");
  add(c.kind == ControlKind::Icon, "icon");
  add((c.style & tl::kDigitsOnly) != 0, "digits");
  add((c.style & tl::kAutoHScroll) != 0, "autohscroll");
  add((c.style & tl::kPassword) != 0, "password");
  add((c.style & tl::kHasButtons) != 0, "hasbuttons");
  add((c.style & tl::kHasLines) != 0, "haslines");
  add((c.style & tl::kLinesAtRoot) != 0, "linesatroot");
  add((c.style & tl::kShowSelAlways) != 0, "showselalways");
  return words;
}

void Rects(const DialogLayout& layout, int dpi) {
  std::printf("dialog %d %d\n", layout.width, layout.height);
  for (const ControlLayout& c : layout.controls) {
    std::string size = std::to_string(c.width) + " " + std::to_string(c.height);
    // A picture control takes the size of its icon, drawn at the DPI.
    if (c.kind == ControlKind::Icon) {
      std::optional<tl::Picture> icon = tl::LoadIconPicture(c.resource);
      const auto scaled = [dpi](int pixels) { return std::to_string(pixels * dpi / kBaseDpi) + "px"; };
      size = icon ? scaled(icon->width) + " " + scaled(icon->height) : "?";
    }
    std::printf("%d %s \"%s\" %d %d %s%s\n", c.id, ClassOf(c.kind), c.kind == ControlKind::Icon ? "" : c.text,
                c.x, c.y, size.c_str(), StyleWords(c).c_str());
  }
}

void TabOrder(const DialogLayout& layout) {
  std::string ids;
  for (const ControlLayout& c : layout.controls) {
    if ((c.style & tl::kTabStop) != 0) ids += (ids.empty() ? "" : " ") + std::to_string(c.id);
  }
  std::printf("%s\n", ids.c_str());
}

void Default(const DialogLayout& layout) {
  for (const ControlLayout& c : layout.controls) {
    if (c.kind == ControlKind::DefPushButton) {
      std::printf("%d\n", c.id);
      return;
    }
  }
  std::printf("none\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc >= 3 ? argv[1] : "";
  const int dpi = argc == 4 && command == "rects" ? std::atoi(argv[3]) : kBaseDpi;
  if ((argc != 3 && !(argc == 4 && command == "rects")) || dpi <= 0) {
    std::fputs("usage: win32_layout_table rects CAPTION [DPI] | taborder|default CAPTION\n", stderr);
    return 2;
  }
  const DialogLayout* layout = LayoutWithCaption(argv[2]);
  if (layout == nullptr) {
    std::fprintf(stderr, "win32_layout_table: no layout has the caption \"%s\"\n", argv[2]);
    return 1;
  }
  if (command == "rects") {
    Rects(*layout, dpi);
  } else if (command == "taborder") {
    TabOrder(*layout);
  } else if (command == "default") {
    Default(*layout);
  } else {
    std::fprintf(stderr, "win32_layout_table: unknown command \"%s\"\n", argv[1]);
    return 2;
  }
  return 0;
}
