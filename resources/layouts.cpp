// The program's dialog layouts and strings.
#include <array>

#include "platform/core/layout.h"

namespace tl {

namespace {

constexpr const char* kFont = "MS Sans Serif";
using K = ControlKind;

constexpr std::array kAboutControls{
    ControlLayout{kNoId, K::Icon, "", 0, 11, 17, 21, 20, kIconApp},
    ControlLayout{kNoId, K::Label, "Tideload Version 1.0", 0, 40, 10, 119, 8, 0},
    ControlLayout{kIdOk, K::DefPushButton, "OK", kTabStop, 178, 7, 32, 14, 0},
};

constexpr std::array kMainControls{
    ControlLayout{kIdOk, K::DefPushButton, "Update", kTabStop, 133, 44, 50, 14, 0},
    ControlLayout{kIdCancel, K::PushButton, "Dismiss", kTabStop, 195, 44, 50, 14, 0},
    ControlLayout{kNoId, K::Label, "IP address:", 0, 7, 9, 36, 8, 0},
    ControlLayout{kIdOctet1, K::Edit, "", kTabStop | kBorder | kDigitsOnly | kAutoHScroll, 47, 7, 26, 12, 0},
    ControlLayout{kIdOctet2, K::Edit, "", kTabStop | kBorder | kDigitsOnly | kAutoHScroll, 81, 7, 26, 12, 0},
    ControlLayout{kIdOctet3, K::Edit, "", kTabStop | kBorder | kDigitsOnly | kAutoHScroll, 115, 7, 26, 12, 0},
    ControlLayout{kIdOctet4, K::Edit, "", kTabStop | kBorder | kDigitsOnly | kAutoHScroll, 149, 7, 26, 12, 0},
    ControlLayout{kIdFind, K::PushButton, "Find...", kTabStop, 195, 7, 50, 14, 0},
    ControlLayout{kIdBrowse, K::PushButton, "Browse...", kTabStop, 195, 24, 50, 14, 0},
    ControlLayout{kIdFileName, K::Edit, "", kTabStop | kBorder | kAutoHScroll, 44, 26, 139, 12, 0},
    ControlLayout{kNoId, K::Label, "FileName:", 0, 7, 28, 32, 8, 0},
    ControlLayout{kIdReboot, K::CheckBox, "Reboot when complete", kTabStop, 17, 45, 89, 10, 0},
};

constexpr std::array kFindControls{
    ControlLayout{kNoId, K::Label, "Select an QELM", 0, 19, 18, 54, 8, 0},
    ControlLayout{kIdSearchAgain, K::PushButton, "Search Again", kTabStop, 21, 50, 50, 14, 0},
    ControlLayout{kIdDeviceTree, K::TreeView, "",
                  kTabStop | kBorder | kHasButtons | kHasLines | kLinesAtRoot | kShowSelAlways, 81, 8,
                  237, 105, 0},
    ControlLayout{kIdOk, K::DefPushButton, "OK", kTabStop, 136, 119, 50, 14, 0},
    ControlLayout{kIdCancel, K::PushButton, "Cancel", kTabStop, 268, 119, 50, 14, 0},
};

constexpr std::array kUpdateControls{
    ControlLayout{kIdCancel, K::PushButton, "Cancel", kTabStop, 199, 44, 50, 14, 0},
    ControlLayout{kIdProgress, K::ProgressBar, "", kBorder, 7, 24, 242, 16, 0},
    ControlLayout{kNoId, K::Label, "Percent Complete", 0, 7, 11, 57, 8, 0},
};

constexpr std::array kCredentialsControls{
    ControlLayout{kIdOk, K::DefPushButton, "OK", kTabStop, 207, 74, 50, 14, 0},
    ControlLayout{kIdCancel, K::PushButton, "Cancel", kTabStop, 39, 74, 50, 14, 0},
    ControlLayout{kNoId, K::Label, "User Name", 0, 9, 21, 36, 8, 0},
    ControlLayout{kNoId, K::Label, "Password", 0, 7, 42, 32, 8, 0},
    ControlLayout{kIdUserName, K::Edit, "", kTabStop | kBorder | kAutoHScroll, 51, 19, 176, 14, 0},
    ControlLayout{kIdPassword, K::Edit, "", kTabStop | kBorder | kAutoHScroll | kPassword, 50, 39, 177, 14, 0},
};

constexpr std::uint32_t kPopup = kModalFrame | kTitleBar | kSystemMenu;

constexpr std::array kLayouts{
    DialogLayout{kDialogAbout, "About Tideload", 217, 55, kFont, 8, kPopup, kAboutControls},
    DialogLayout{kDialogMain, "``", 252, 71, kFont, 8, kPopup | kVisible | kAppWindow, kMainControls},
    DialogLayout{kDialogFind, "Find Ombrelins", 325, 140, kFont, 8, kPopup, kFindControls},
    DialogLayout{kDialogUpdate, "Program Ombrelin", 256, 68, kFont, 8, kPopup, kUpdateControls},
    DialogLayout{kDialogCredentials, "Password needed", 264, 95, kFont, 8, kPopup, kCredentialsControls},
};

}  // namespace

const DialogLayout* FindDialogLayout(int id) {
  for (const DialogLayout& layout : kLayouts) {
    if (layout.id == id) return &layout;
  }
  return nullptr;
}

std::string LoadStringResource(int id) {
  if (id == kStringAboutMenu) return "&About Tideload...";
  return {};
}

}  // namespace tl
