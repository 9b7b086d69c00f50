#include "platform/win32/win32_ui.h"

#include <commdlg.h>

#include "platform/core/layout.h"
#include "platform/win32/win32_dialog_window.h"

namespace tl {

namespace {
// Longer paths than the classic limit fit; the dialog says when one does not.
constexpr std::size_t kPathCapacity = 4096;
}  // namespace

Win32Ui::Win32Ui(std::string programTitle) : title_(std::move(programTitle)) {}

HWND Win32Ui::OwnerFor(const Dialog* parent) const {
  for (auto it = running_.rbegin(); it != running_.rend(); ++it) {
    if (parent != nullptr && &(*it)->Owner() != parent) continue;
    if ((*it)->Handle() != nullptr) return (*it)->Handle();
  }
  if (parent != nullptr) return OwnerFor(nullptr);
  return nullptr;
}

int Win32Ui::RunModal(Dialog& dialog) {
  const DialogLayout* layout = FindDialogLayout(dialog.LayoutId());
  if (layout == nullptr) return -1;
  HWND owner = OwnerFor(dialog.Parent());
  Win32DialogWindow window(dialog, *layout);
  running_.push_back(&window);
  int result = window.Run(owner);
  running_.pop_back();
  dialog.AttachWindow(nullptr);
  return result;
}

void Win32Ui::ShowMessageBox(std::string_view text) {
  std::string message(text);
  MessageBoxA(OwnerFor(nullptr), message.c_str(), title_.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::optional<std::string> Win32Ui::OpenFile(const OpenFileRequest& request) {
  // One filter entry: description NUL pattern NUL, and a closing NUL.
  std::string filter = request.filterDescription;
  filter += '\0';
  filter += request.filterPattern;
  filter += '\0';
  std::string path(kPathCapacity, '\0');
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = OwnerFor(nullptr);
  dialog.lpstrFilter = request.filterPattern.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrInitialDir = request.initialDirectory.empty() ? nullptr : request.initialDirectory.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (GetOpenFileNameA(&dialog) == FALSE) return std::nullopt;
  path.resize(path.find('\0'));
  return path;
}

}  // namespace tl
