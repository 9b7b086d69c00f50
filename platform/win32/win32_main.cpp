// The Windows program: the Win32 host around the application.
#include <windows.h>
#include <commctrl.h>

#include "app/application.h"
#include "platform/core/platform.h"
#include "platform/win32/command_text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_network.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"

namespace {

std::string ModulePath() {
  char path[MAX_PATH + 1] = "";
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES;
  InitCommonControlsEx(&controls);

  tl::Win32Ui ui(tl::ProgramTitleOfModule(ModulePath()));
  tl::Win32Network network;
  tl::Win32Registry registry;
  tl::Win32FileSystem files;
  tl::Host host;
  host.ui = &ui;
  host.network = &network;
  host.registry = &registry;
  host.files = &files;
  tl::SetHost(host);
  // 0, or -1 (4294967295 as Windows reports it, 255 in a shell).
  int status = tl::RunApplication(tl::ArgumentTextOfCommandLine(GetCommandLineA()));
  tl::SetHost(tl::Host{});
  return status;
}
