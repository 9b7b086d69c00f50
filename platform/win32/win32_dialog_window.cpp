#include "platform/win32/win32_dialog_window.h"

#include <string>

#include "platform/win32/dialog_template.h"
#include "platform/win32/win32_pictures.h"

namespace tl {

namespace {

constexpr unsigned kSysCommandMask = 0xFFF0;

std::string Owned(std::string_view text) { return std::string(text); }

}  // namespace

Win32DialogWindow::Win32DialogWindow(Dialog& dialog, const DialogLayout& layout)
    : dialog_(dialog), layout_(layout) {}

Win32DialogWindow::~Win32DialogWindow() {
  for (auto& [id, list] : stateImages_) ImageList_Destroy(list);
  for (auto& [resource, icon] : icons_) DestroyIcon(icon);
}

int Win32DialogWindow::Run(HWND owner) {
  std::vector<WORD> words = BuildDialogTemplate(layout_);
  INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(words.data()), owner,
                                           &Win32DialogWindow::Procedure, reinterpret_cast<LPARAM>(this));
  hwnd_ = nullptr;
  return static_cast<int>(result);
}

INT_PTR CALLBACK Win32DialogWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    return self->OnInit();
  }
  auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->OnMessage(message, wParam, lParam);
}

INT_PTR Win32DialogWindow::OnInit() {
  // Icon controls show their picture; the template cannot name it.
  HWND child = GetWindow(hwnd_, GW_CHILD);
  for (const ControlLayout& c : layout_.controls) {
    if (child == nullptr) break;
    if (c.kind == ControlKind::Icon) {
      if (HICON icon = Icon(c.resource, true)) SendMessageA(child, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  dialog_.AttachWindow(this);
  // TRUE: the system puts the focus on the first enabled tab stop.
  return dialog_.OnInitDialog() ? TRUE : FALSE;
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_COMMAND:
      // Buttons, Enter (the default button's id) and Escape (IDCANCEL);
      // the close box arrives as IDCANCEL too.
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      dialog_.OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_TIMER:
      dialog_.OnTimer(static_cast<unsigned>(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      for (unsigned command : sysCommands_) {
        if (command != 0 && (wParam & kSysCommandMask) == command) {
          dialog_.OnSysCommand(static_cast<unsigned>(wParam));
          SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 0);
          return TRUE;
        }
      }
      return FALSE;
    case WM_PAINT:
      return PaintMinimized() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(largeIcon_);
    default:
      return FALSE;
  }
}

bool Win32DialogWindow::PaintMinimized() {
  if (largeIcon_ == nullptr || !IsIconic(hwnd_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, largeIcon_);
  EndPaint(hwnd_, &paint);
  return true;
}

HICON Win32DialogWindow::Icon(int iconResource, bool large) {
  const std::pair key{iconResource, large};
  auto it = icons_.find(key);
  if (it != icons_.end()) return it->second;
  // The program's own icon resource, in the size the system shows.
  auto icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconResource), IMAGE_ICON,
                                            GetSystemMetrics(large ? SM_CXICON : SM_CXSMICON),
                                            GetSystemMetrics(large ? SM_CYICON : SM_CYSMICON), 0));
  if (icon != nullptr) icons_[key] = icon;
  return icon;
}

// ---------------------------------------------------------------- texts and states

std::string Win32DialogWindow::GetText(int id) const {
  HWND item = Item(id);
  if (item == nullptr) return std::string();
  int length = GetWindowTextLengthA(item);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  int got = GetWindowTextA(item, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

void Win32DialogWindow::SetText(int id, std::string_view text) {
  if (HWND item = Item(id)) SetWindowTextA(item, Owned(text).c_str());
}

bool Win32DialogWindow::GetCheck(int id) const {
  return hwnd_ != nullptr && IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void Win32DialogWindow::SetCheck(int id, bool checked) {
  if (hwnd_ != nullptr) CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32DialogWindow::FocusAndSelectAll(int id) {
  HWND item = Item(id);
  if (item == nullptr) return;
  // The dialog manager's own focus move: it also selects an edit's text.
  SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
  SendMessageA(item, EM_SETSEL, 0, -1);
}

void Win32DialogWindow::EnableControl(int id, bool enabled) {
  if (HWND item = Item(id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

bool Win32DialogWindow::IsControlEnabled(int id) const {
  HWND item = Item(id);
  return item != nullptr && IsWindowEnabled(item) != FALSE;
}

void Win32DialogWindow::SetProgressRange(int id, int low, int high) {
  if (HWND item = Item(id)) SendMessageA(item, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void Win32DialogWindow::SetProgressPos(int id, int position) {
  if (HWND item = Item(id)) SendMessageA(item, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// ---------------------------------------------------------------- tree view

LRESULT Win32DialogWindow::SendTree(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
  HWND tree = Item(id);
  return tree != nullptr ? SendMessageA(tree, message, wParam, lParam) : 0;
}

void Win32DialogWindow::TreeSetStateImages(int id, int bitmapResource) {
  HIMAGELIST list = MakeStripImageList(bitmapResource);
  if (list == nullptr || Item(id) == nullptr) {
    if (list != nullptr) ImageList_Destroy(list);
    return;
  }
  SendTree(id, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(list));
  auto it = stateImages_.find(id);
  if (it != stateImages_.end()) ImageList_Destroy(it->second);
  stateImages_[id] = list;
}

TreeItem Win32DialogWindow::TreeInsertLast(int id, TreeItem parent, std::string_view text) {
  std::string label = Owned(text);
  TVINSERTSTRUCTA insert{};
  insert.hParent = parent == kTreeRoot ? TVI_ROOT : reinterpret_cast<HTREEITEM>(parent);
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT;
  insert.item.pszText = label.data();
  return static_cast<TreeItem>(SendTree(id, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void Win32DialogWindow::TreeSetText(int id, TreeItem item, std::string_view text) {
  std::string label = Owned(text);
  TVITEMA change{};
  change.mask = TVIF_TEXT;
  change.hItem = reinterpret_cast<HTREEITEM>(item);
  change.pszText = label.data();
  SendTree(id, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32DialogWindow::TreeSetStateImage(int id, TreeItem item, int index) {
  TVITEMA change{};
  change.mask = TVIF_STATE;
  change.hItem = reinterpret_cast<HTREEITEM>(item);
  change.state = INDEXTOSTATEIMAGEMASK(static_cast<UINT>(index));
  change.stateMask = TVIS_STATEIMAGEMASK;
  SendTree(id, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void Win32DialogWindow::TreeSetData(int id, TreeItem item, void* data) {
  TVITEMA change{};
  change.mask = TVIF_PARAM;
  change.hItem = reinterpret_cast<HTREEITEM>(item);
  change.lParam = reinterpret_cast<LPARAM>(data);
  SendTree(id, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&change));
}

void* Win32DialogWindow::TreeGetData(int id, TreeItem item) const {
  if (item == 0) return nullptr;
  TVITEMA query{};
  query.mask = TVIF_PARAM;
  query.hItem = reinterpret_cast<HTREEITEM>(item);
  if (SendTree(id, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query)) == 0) return nullptr;
  return reinterpret_cast<void*>(query.lParam);
}

void Win32DialogWindow::TreeSelect(int id, TreeItem item) {
  SendTree(id, TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(item));
}

TreeItem Win32DialogWindow::TreeSelected(int id) const {
  return static_cast<TreeItem>(SendTree(id, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

void Win32DialogWindow::TreeDeleteAll(int id) {
  SendTree(id, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

// ---------------------------------------------------------------- timers

unsigned Win32DialogWindow::SetTimer(unsigned timerId, unsigned periodMs) {
  if (hwnd_ == nullptr || timerId == 0) return 0;
  return ::SetTimer(hwnd_, timerId, periodMs, nullptr) != 0 ? timerId : 0;
}

void Win32DialogWindow::KillTimer(unsigned timerId) {
  if (hwnd_ != nullptr) ::KillTimer(hwnd_, timerId);
}

// ---------------------------------------------------------------- decorations

bool Win32DialogWindow::HasSystemMenu() const {
  return hwnd_ != nullptr && GetSystemMenu(hwnd_, FALSE) != nullptr;
}

void Win32DialogWindow::AppendSystemMenu(unsigned commandId, std::string_view text) {
  HMENU menu = hwnd_ != nullptr ? GetSystemMenu(hwnd_, FALSE) : nullptr;
  if (menu == nullptr) return;
  if (text.empty()) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    return;
  }
  AppendMenuA(menu, MF_STRING, commandId, Owned(text).c_str());
  sysCommands_.push_back(commandId);
}

void Win32DialogWindow::SetIcon(int iconResource, bool large) {
  HICON icon = Icon(iconResource, large);
  if (hwnd_ == nullptr || icon == nullptr) return;
  SendMessageA(hwnd_, WM_SETICON, large ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  if (large) largeIcon_ = icon;
}

void Win32DialogWindow::EndModal(int result) {
  if (hwnd_ != nullptr) ::EndDialog(hwnd_, result);
}

}  // namespace tl
