#include "platform/win32/dialog_template.h"

#include <commctrl.h>

#include <string_view>

namespace tl {

namespace {

// Atoms of the predefined control classes in a template.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;

void PutDword(std::vector<WORD>& out, DWORD value) {
  out.push_back(LOWORD(value));
  out.push_back(HIWORD(value));
}

// A string in the template: UTF-16 from the system code page, NUL-ended.
void PutText(std::vector<WORD>& out, std::string_view text) {
  if (!text.empty()) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<WCHAR> wide(static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    for (WCHAR c : wide) out.push_back(static_cast<WORD>(c));
  }
  out.push_back(0);
}

void PutClass(std::vector<WORD>& out, ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
      out.push_back(0xFFFF);
      out.push_back(kButtonAtom);
      return;
    case ControlKind::Edit:
      out.push_back(0xFFFF);
      out.push_back(kEditAtom);
      return;
    case ControlKind::Label:
    case ControlKind::Icon:
      out.push_back(0xFFFF);
      out.push_back(kStaticAtom);
      return;
    case ControlKind::ProgressBar:
      PutText(out, kProgressClass);
      return;
    case ControlKind::TreeView:
      PutText(out, kTreeViewClass);
      return;
  }
}

void AlignToDword(std::vector<WORD>& out) {
  if (out.size() % 2 != 0) out.push_back(0);
}

}  // namespace

DWORD DialogStyleOf(const DialogLayout& layout) {
  // Centred in the screen: the layouts give no place of their own.
  DWORD style = WS_POPUP | DS_SETFONT | DS_CENTER;
  if ((layout.style & kModalFrame) != 0) style |= DS_MODALFRAME;
  if ((layout.style & kTitleBar) != 0) style |= WS_CAPTION;
  if ((layout.style & kSystemMenu) != 0) style |= WS_SYSMENU;
  if ((layout.style & kVisible) != 0) style |= WS_VISIBLE;
  if ((layout.style & kMinimizeBox) != 0) style |= WS_MINIMIZEBOX;
  if ((layout.style & kMaximizeBox) != 0) style |= WS_MAXIMIZEBOX;
  return style;
}

DWORD ControlStyleOf(const ControlLayout& control) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  const std::uint32_t s = control.style;
  if ((s & kTabStop) != 0) style |= WS_TABSTOP;
  if ((s & kBorder) != 0) style |= WS_BORDER;
  switch (control.kind) {
    case ControlKind::PushButton:
      style |= BS_PUSHBUTTON;
      break;
    case ControlKind::DefPushButton:
      style |= BS_DEFPUSHBUTTON;
      break;
    case ControlKind::CheckBox:
      style |= BS_AUTOCHECKBOX;
      break;
    case ControlKind::Label:
      style |= SS_LEFT;
      break;
    case ControlKind::Icon:
      style |= SS_ICON;
      break;
    case ControlKind::Edit:
      style |= ES_LEFT;
      if ((s & kAutoHScroll) != 0) style |= ES_AUTOHSCROLL;
      if ((s & kDigitsOnly) != 0) style |= ES_NUMBER;
      if ((s & kPassword) != 0) style |= ES_PASSWORD;
      break;
    case ControlKind::ProgressBar:
      break;
    case ControlKind::TreeView:
      if ((s & kHasButtons) != 0) style |= TVS_HASBUTTONS;
      if ((s & kHasLines) != 0) style |= TVS_HASLINES;
      if ((s & kLinesAtRoot) != 0) style |= TVS_LINESATROOT;
      if ((s & kShowSelAlways) != 0) style |= TVS_SHOWSELALWAYS;
      break;
  }
  return style;
}

std::vector<WORD> BuildDialogTemplate(const DialogLayout& layout) {
  std::vector<WORD> out;
  PutDword(out, DialogStyleOf(layout));
  PutDword(out, (layout.style & kAppWindow) != 0 ? WS_EX_APPWINDOW : 0);
  out.push_back(static_cast<WORD>(layout.controls.size()));
  out.push_back(0);  // x
  out.push_back(0);  // y
  out.push_back(static_cast<WORD>(layout.width));
  out.push_back(static_cast<WORD>(layout.height));
  out.push_back(0);  // no menu
  out.push_back(0);  // the dialog class
  PutText(out, layout.caption != nullptr ? layout.caption : "");
  out.push_back(static_cast<WORD>(layout.fontPoints > 0 ? layout.fontPoints : 8));
  PutText(out, layout.fontName != nullptr ? layout.fontName : "MS Sans Serif");
  for (const ControlLayout& c : layout.controls) {
    AlignToDword(out);
    PutDword(out, ControlStyleOf(c));
    PutDword(out, 0);
    out.push_back(static_cast<WORD>(c.x));
    out.push_back(static_cast<WORD>(c.y));
    out.push_back(static_cast<WORD>(c.width));
    out.push_back(static_cast<WORD>(c.height));
    out.push_back(static_cast<WORD>(c.id));  // kNoId is 0xFFFF, the static id
    PutClass(out, c.kind);
    // An icon's picture is set once the control exists.
    PutText(out, c.kind == ControlKind::Icon || c.text == nullptr ? "" : c.text);
    out.push_back(0);  // no creation data
  }
  return out;
}

}  // namespace tl
