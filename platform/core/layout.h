// Dialog layouts, strings and pictures as data: one table per dialog that
// every host renders. Positions and sizes are in dialog units.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tl {

enum class ControlKind {
  PushButton,
  DefPushButton,
  Label,
  Edit,
  CheckBox,  // automatic check box
  ProgressBar,
  TreeView,
  Icon,  // a static picture showing an icon resource
};

// Control styles.
enum : std::uint32_t {
  kTabStop = 1u << 0,
  kDigitsOnly = 1u << 1,
  kAutoHScroll = 1u << 2,
  kPassword = 1u << 3,
  kBorder = 1u << 4,
  kHasButtons = 1u << 5,
  kHasLines = 1u << 6,
  kLinesAtRoot = 1u << 7,
  kShowSelAlways = 1u << 8,
};

// Window styles.
enum : std::uint32_t {
  kModalFrame = 1u << 0,
  kTitleBar = 1u << 1,
  kSystemMenu = 1u << 2,
  kVisible = 1u << 3,
  kAppWindow = 1u << 4,  // shown in the task bar
  kMinimizeBox = 1u << 5,
  kMaximizeBox = 1u << 6,
};

constexpr int kNoId = -1;  // labels and pictures without an id

struct ControlLayout {
  int id;
  ControlKind kind;
  const char* text;
  std::uint32_t style;
  int x, y, width, height;
  int resource;  // icon resource for ControlKind::Icon, else 0
};

struct DialogLayout {
  int id;
  const char* caption;
  int width, height;
  const char* fontName;
  int fontPoints;
  std::uint32_t style;
  std::span<const ControlLayout> controls;  // in tab order
};

// Resource numbers.
enum : int {
  kDialogAbout = 100,
  kStringAboutMenu = 101,
  kDialogMain = 102,
  kIconApp = 128,
  kDialogFind = 129,
  kDialogUpdate = 130,
  kDialogCredentials = 131,
  kBitmapStateImages = 133,
};

// Control ids.
enum : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdOctet1 = 1000,
  kIdOctet2 = 1001,
  kIdOctet3 = 1002,
  kIdOctet4 = 1003,
  kIdFind = 1004,
  kIdBrowse = 1005,
  kIdFileName = 1006,
  kIdSearchAgain = 1008,
  kIdProgress = 1009,
  kIdReboot = 1012,
  kIdUserName = 1013,
  kIdPassword = 1014,
  kIdDeviceTree = 1015,
};

constexpr unsigned kSysCommandAbout = 16;

// Null when there is no such layout.
const DialogLayout* FindDialogLayout(int id);
// Empty when there is no such string.
std::string LoadStringResource(int id);
// A picture in XPM form (width height colours chars-per-pixel, palette,
// rows); null when there is no such resource.
const char* const* LoadIconResource(int id);
const char* const* LoadBitmapResource(int id);

}  // namespace tl
