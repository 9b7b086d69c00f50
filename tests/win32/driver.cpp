// Drives the Windows program's windows from outside, as the Wine tests'
// user, through the Windows API alone. One command a run: it waits for its
// dialog and its condition (polling, up to the wait), prints its result on
// stdout and ends with 0; otherwise it says why on stderr and ends with 1
// (2: usage).
//   driver [-w SECONDS] [-x EXE] COMMAND ARGUMENTS...
//     -w SECONDS   the longest wait (30)
//     -x EXE       only windows of processes with this image name
//                  (tideload.exe); message boxes are the dialogs whose
//                  caption is its title, the name without ".exe"
// CAPTION names a dialog (class #32770) by its caption, ID a control by
// its decimal id, LABEL a tree item by its text.
//   wait CAPTION              shown: "left top right bottom" on the screen
//   gone CAPTION              no longer shown
//   close CAPTION             its close box (WM_CLOSE)
//   type CAPTION ID TEXT      the control's text becomes TEXT
//   click CAPTION ID          presses the button (posted BM_CLICK)
//   key CAPTION ID KEY        KEY (enter, escape) typed into the control
//   text CAPTION ID           the control's text
//   check CAPTION ID          the check box: 0 or 1
//   enabled CAPTION ID        once the control takes input
//   controls CAPTION ID       the version of the controls the button is
//                             one of: 6 when it answers BCM_GETIDEALSIZE
//                             (only those of version 6 do), else 5
//   progress CAPTION ID [MIN] the bar's position, once it is MIN or more
//   boxtext                   the text of the open message box
//   ok                        presses its OK and waits until it has gone
//   rects CAPTION             every control in creation order, a line each:
//                             ID CLASS "TEXT" X Y W H [STYLE...], in dialog
//                             units (-1: no id)
//   fits CAPTION              "fits" when every control lies inside the
//                             client area and every text shows whole in
//                             the layouts' font (a label's wrapped to its
//                             width, a button's and a check box's on one
//                             line, a line in each edit box); else each
//                             control that does not, and status 1
//   taborder CAPTION          the ids from the first tab stop round
//   focus CAPTION             the focused control's id (an edit box's with
//                             its selection: "ID START END")
//   owner CAPTION             its owner: "CAPTION enabled|disabled", or none
//   default CAPTION           the default button's id (DM_GETDEFID), or none
//                             when the dialog has no button of that id
//   sysmenu CAPTION           opens its system menu: the menu's rectangle
//   menulast CAPTION          chooses the open menu's last item
//   syscommand CAPTION N      posts the system command N
//   tree CAPTION ID [COUNT]   once the tree holds COUNT items (any, 1 or
//                             more), each item: "DEPTH STATE LABEL"
//   select CAPTION ID LABEL   makes the item the current one
//   expand CAPTION ID LABEL   opens the item's children
// Texts are printed with \n and \xNN for what is not printable ASCII.
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr char kDialogClass[] = "#32770";
constexpr char kMenuClass[] = "#32768";
constexpr char kDefaultExe[] = "tideload.exe";
constexpr DWORD kPollMs = 50;
constexpr UINT kSendTimeoutMs = 5000;
constexpr int kNoId = 0xFFFF;  // labels, pictures and a message box's text
constexpr int kIdOk = 1;
constexpr std::size_t kTextCapacity = 1024;
constexpr int kUsage = 2;

double g_waitSeconds = 30;
std::string g_exe = kDefaultExe;

int Fail(const std::string& why) {
  std::fprintf(stderr, "driver: %s\n", why.c_str());
  return 1;
}

// What came from the program, safe on a terminal.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// ---------------------------------------------------------------- finding

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::set<DWORD> ProcessesOfExe() {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  const std::string wanted = Lower(g_exe);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    std::string name = Lower(entry.szExeFile);
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    if (name == wanted) ids.insert(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The window's own caption, as the system keeps it (no message sent).
std::string CaptionOf(HWND window) {
  char caption[kTextCapacity] = "";
  GetWindowTextA(window, caption, sizeof caption);
  return caption;
}

struct Search {
  std::set<DWORD> processes;
  std::string caption;
  std::vector<HWND> found;  // top-most first
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (search->processes.count(process) != 0 && IsWindowVisible(window) && ClassOf(window) == kDialogClass &&
      CaptionOf(window) == search->caption) {
    search->found.push_back(window);
  }
  return TRUE;
}

// The shown dialogs of our processes with this caption, top-most first.
std::vector<HWND> Dialogs(const std::string& caption) {
  Search search{ProcessesOfExe(), caption, {}};
  if (!search.processes.empty()) EnumWindows(&Collect, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Polls until ready() holds or the wait is over.
bool Until(const std::function<bool()>& ready) {
  const DWORD start = GetTickCount();
  const auto limit = static_cast<DWORD>(g_waitSeconds * 1000);
  for (;;) {
    if (ready()) return true;
    if (GetTickCount() - start >= limit) return false;
    Sleep(kPollMs);
  }
}

HWND WaitDialog(const std::string& caption) {
  HWND dialog = nullptr;
  Until([&] {
    std::vector<HWND> all = Dialogs(caption);
    dialog = all.empty() ? nullptr : all.front();
    return dialog != nullptr;
  });
  if (dialog == nullptr) {
    Fail("no dialog \"" + Printable(caption) + "\" of " + g_exe + " within " + std::to_string(int(g_waitSeconds)) +
         " s");
  }
  return dialog;
}

std::string BoxCaption() { return g_exe.substr(0, g_exe.find_last_of('.')); }

// ---------------------------------------------------------------- talking

// A message to another process, answered within the send time-out.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             result != nullptr ? result : &ignored) != 0;
}

std::string TextOf(HWND window) {
  std::vector<char> text(kTextCapacity, '\0');
  DWORD_PTR length = 0;
  if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &length)) return {};
  return std::string(text.data(), length < text.size() ? length : 0);
}

HWND Control(HWND dialog, const std::string& caption, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) Fail("\"" + Printable(caption) + "\" has no control " + std::to_string(id));
  return control;
}

// The edit box a control types into: itself, or the one inside it (the
// file dialog's name box is an edit inside a combo box inside another).
HWND EditOf(HWND control) {
  if (ClassOf(control) == WC_EDITA) return control;
  for (HWND c = GetWindow(control, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (HWND edit = EditOf(c)) return edit;
  }
  return nullptr;
}

// Memory in the program's process for a message that carries pointers.
class Remote {
 public:
  Remote(HWND window, std::size_t size) : size_(size) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
    if (process_ != nullptr) base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~Remote() {
    if (base_ != nullptr) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  bool Usable() const { return base_ != nullptr; }
  char* At(std::size_t offset) const { return static_cast<char*>(base_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t n) const {
    return offset + n <= size_ && WriteProcessMemory(process_, At(offset), data, n, nullptr) != 0;
  }
  bool Read(std::size_t offset, void* data, std::size_t n) const {
    return offset + n <= size_ && ReadProcessMemory(process_, At(offset), data, n, nullptr) != 0;
  }

 private:
  std::size_t size_;
  HANDLE process_ = nullptr;
  void* base_ = nullptr;
};

// ---------------------------------------------------------------- the tree

struct TreeEntry {
  HTREEITEM item;
  int depth;
  int state;
  std::string label;
};

// Every item, depth first, with its label and state image.
std::vector<TreeEntry> ReadTree(HWND tree) {
  std::vector<TreeEntry> out;
  Remote remote(tree, sizeof(TVITEMA) + kTextCapacity);
  if (!remote.Usable()) return out;
  std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
    for (; item != nullptr;) {
      TVITEMA query{};
      query.mask = TVIF_TEXT | TVIF_STATE;
      query.hItem = item;
      query.stateMask = TVIS_STATEIMAGEMASK;
      query.pszText = remote.At(sizeof query);
      query.cchTextMax = static_cast<int>(kTextCapacity);
      std::vector<char> label(kTextCapacity, '\0');
      DWORD_PTR ok = 0;
      if (!remote.Write(0, &query, sizeof query) ||
          !Send(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.At(0)), &ok) || ok == 0 ||
          !remote.Read(0, &query, sizeof query) || !remote.Read(sizeof query, label.data(), label.size() - 1)) {
        return;
      }
      out.push_back(TreeEntry{item, depth, static_cast<int>((query.state & TVIS_STATEIMAGEMASK) >> 12), label.data()});
      DWORD_PTR child = 0;
      if (Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item), &child) && child != 0) {
        walk(reinterpret_cast<HTREEITEM>(child), depth + 1);
      }
      DWORD_PTR next = 0;
      if (!Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item), &next)) return;
      item = reinterpret_cast<HTREEITEM>(next);
    }
  };
  DWORD_PTR root = 0;
  if (Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, &root)) walk(reinterpret_cast<HTREEITEM>(root), 0);
  return out;
}

std::size_t TreeCount(HWND tree) {
  DWORD_PTR count = 0;
  return Send(tree, TVM_GETCOUNT, 0, 0, &count) ? count : 0;
}

// ---------------------------------------------------------------- layouts

// Dialog units as the layouts' font makes them. MapDialogRect reads a
// dialog's own font and, under Wine, fails for a dialog of another
// process, so the driver maps with a hidden dialog of its own in that font.
constexpr char kLayoutFont[] = "MS Sans Serif";
constexpr WORD kLayoutFontPoints = 8;

INT_PTR CALLBACK Unhandled(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

HWND UnitDialog() {
  static HWND dialog = [] {
    std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* header = reinterpret_cast<DLGTEMPLATE*>(t.data());
    header->style = WS_POPUP | DS_SETFONT;
    t.push_back(0);  // no menu
    t.push_back(0);  // the dialog class
    t.push_back(0);  // no caption
    t.push_back(kLayoutFontPoints);
    for (const char* c = kLayoutFont; *c != '\0'; ++c) t.push_back(static_cast<WORD>(*c));
    t.push_back(0);
    return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()),
                                      nullptr, &Unhandled, 0);
  }();
  return dialog;
}

// A pixel length back in dialog units: the number of units that maps to it.
std::string DialogUnits(LONG pixels, bool vertical) {
  RECT unit{0, 0, 4, 8};
  MapDialogRect(UnitDialog(), &unit);
  const LONG base = vertical ? unit.bottom : unit.right;
  const LONG guess = base > 0 ? MulDiv(pixels, vertical ? 8 : 4, base) : 0;
  for (LONG units = guess - 1; units <= guess + 1; ++units) {
    RECT r{0, 0, units, units};
    MapDialogRect(UnitDialog(), &r);
    if ((vertical ? r.bottom : r.right) == pixels) return std::to_string(units);
  }
  return std::to_string(pixels) + "px";  // no whole number of units
}

std::string StyleWords(HWND control) {
  const auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE));
  const std::string cls = ClassOf(control);
  std::string words;
  auto add = [&](bool on, const char* word) {
    if (on) words += std::string(" ") + word;
  };
  add((style & WS_TABSTOP) != 0, "tabstop");
  // The dialog manager turns a border into a sunken client edge, which a
  // progress bar turns into a static edge.
  add((style & WS_BORDER) != 0 || (exStyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) != 0, "border");
  if (cls == "Button") add((style & BS_TYPEMASK) == BS_AUTOCHECKBOX, "autocheckbox");
  if (cls == "Static") add((style & SS_TYPEMASK) == SS_ICON, "icon");
  if (cls == "Edit") {
    add((style & ES_NUMBER) != 0, "digits");
    add((style & ES_AUTOHSCROLL) != 0, "autohscroll");
    add((style & ES_PASSWORD) != 0, "password");
  }
  if (cls == WC_TREEVIEWA) {
    add((style & TVS_HASBUTTONS) != 0, "hasbuttons");
    add((style & TVS_HASLINES) != 0, "haslines");
    add((style & TVS_LINESATROOT) != 0, "linesatroot");
    add((style & TVS_SHOWSELALWAYS) != 0, "showselalways");
  }
  return words;
}

std::string IdText(int id) { return id == kNoId ? "-1" : std::to_string(id); }

int Rects(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  std::printf("dialog %s %s\n", DialogUnits(client.right, false).c_str(), DialogUnits(client.bottom, true).c_str());
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(c, &r);
    POINT topLeft{r.left, r.top};
    ScreenToClient(dialog, &topLeft);
    // A picture control takes the size of its icon, whatever the template says.
    const bool picture = (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ClassOf(c) == WC_STATICA;
    const std::string width = picture ? std::to_string(r.right - r.left) + "px" : DialogUnits(r.right - r.left, false);
    const std::string height = picture ? std::to_string(r.bottom - r.top) + "px" : DialogUnits(r.bottom - r.top, true);
    std::printf("%s %s \"%s\" %s %s %s %s%s\n", IdText(GetDlgCtrlID(c)).c_str(), ClassOf(c).c_str(),
                Printable(TextOf(c)).c_str(), DialogUnits(topLeft.x, false).c_str(),
                DialogUnits(topLeft.y, true).c_str(), width.c_str(), height.c_str(), StyleWords(c).c_str());
  }
  return 0;
}

// ---------------------------------------------------------------- fit

struct Size {
  LONG width, height;
};

// A device context of the screen with the layouts' font selected.
class LayoutFontDc {
 public:
  LayoutFontDc() : dc_(GetDC(UnitDialog())) {
    old_ = SelectObject(dc_, reinterpret_cast<HGDIOBJ>(SendMessageA(UnitDialog(), WM_GETFONT, 0, 0)));
  }
  ~LayoutFontDc() {
    SelectObject(dc_, old_);
    ReleaseDC(UnitDialog(), dc_);
  }
  LayoutFontDc(const LayoutFontDc&) = delete;
  LayoutFontDc& operator=(const LayoutFontDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The text's extent in the layouts' font: wrapped to the width (a label's
// drawing), or on one line when the width is 0.
Size TextExtent(const std::string& text, LONG wrapWidth) {
  LayoutFontDc dc;
  RECT r{0, 0, wrapWidth, 0};
  DrawTextA(dc.Get(), text.c_str(), -1, &r,
            DT_CALCRECT | (wrapWidth > 0 ? DT_WORDBREAK | DT_EXPANDTABS : DT_SINGLELINE));
  return Size{r.right, r.bottom};
}

// A check box's square and the gap before its text, as the button draws
// them: 12 pixels at 96 DPI and one, then half a digit's width.
LONG CheckBoxIndent() {
  LayoutFontDc dc;
  INT digit = 0;
  GetCharWidth32A(dc.Get(), '0', '0', &digit);
  return MulDiv(12, GetDeviceCaps(dc.Get(), LOGPIXELSX), 96) + 1 + digit / 2;
}

// What the control's text needs in pixels within its client area, or
// nothing for controls without a text of the layout's.
bool TextNeeds(HWND control, const RECT& client, Size* need) {
  const std::string cls = ClassOf(control);
  const auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
  const std::string text = TextOf(control);
  if (cls == WC_STATICA && (style & SS_TYPEMASK) == SS_LEFT) {
    *need = TextExtent(text, client.right);
  } else if (cls == WC_BUTTONA && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
    *need = TextExtent(text, 0);
    need->width += CheckBoxIndent();
  } else if (cls == WC_BUTTONA) {
    // Inside the push button's edges.
    *need = TextExtent(text, 0);
    need->width += 2 * GetSystemMetrics(SM_CXEDGE);
    need->height += 2 * GetSystemMetrics(SM_CYEDGE);
  } else if (cls == WC_EDITA) {
    need->width = 0;
    need->height = TextExtent("0", 0).height;
  } else {
    return false;
  }
  return true;
}

int Fits(HWND dialog) {
  RECT area;
  GetClientRect(dialog, &area);
  std::string misfits;
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    const std::string name = IdText(GetDlgCtrlID(c)) + " " + ClassOf(c) + " \"" + Printable(TextOf(c)) + "\"";
    if (r.left < 0 || r.top < 0 || r.right > area.right || r.bottom > area.bottom) {
      misfits += name + " at " + std::to_string(r.left) + "," + std::to_string(r.top) + "-" +
                 std::to_string(r.right) + "," + std::to_string(r.bottom) + " outside 0,0-" +
                 std::to_string(area.right) + "," + std::to_string(area.bottom) + "\n";
    }
    RECT client;
    GetClientRect(c, &client);
    Size need{};
    if (TextNeeds(c, client, &need) && (need.width > client.right || need.height > client.bottom)) {
      misfits += name + " needs " + std::to_string(need.width) + "x" + std::to_string(need.height) +
                 " px in " + std::to_string(client.right) + "x" + std::to_string(client.bottom) + "\n";
    }
  }
  if (!misfits.empty()) {
    std::printf("%s", misfits.c_str());
    return 1;
  }
  std::printf("fits\n");
  return 0;
}

int TabOrder(HWND dialog) {
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  std::string ids;
  for (HWND c = first; c != nullptr;) {
    ids += (ids.empty() ? "" : " ") + IdText(GetDlgCtrlID(c));
    c = GetNextDlgTabItem(dialog, c, FALSE);
    if (c == first) break;
  }
  if (ids.empty()) return Fail("no tab stop");
  std::printf("%s\n", ids.c_str());
  return 0;
}

// The open popup menu of the dialog's process (class #32768), if any.
HWND PopupMenuOf(HWND dialog) {
  DWORD process = 0;
  GetWindowThreadProcessId(dialog, &process);
  for (HWND w = FindWindowExA(nullptr, nullptr, kMenuClass, nullptr); w != nullptr;
       w = FindWindowExA(nullptr, w, kMenuClass, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// Opens the system menu as Alt+Space does. Under Wine a menu cannot be
// read from another process, so the script looks at its picture and
// chooses an item with the keyboard.
int OpenSystemMenu(HWND dialog) {
  PostMessageA(dialog, WM_SYSCOMMAND, SC_KEYMENU, ' ');
  HWND popup = nullptr;
  if (!Until([&] { return (popup = PopupMenuOf(dialog)) != nullptr; })) return Fail("no system menu opened");
  RECT r;
  GetWindowRect(popup, &r);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
  return 0;
}

// Chooses the open menu's last item with the keys End and Enter (Wine's
// own "About Wine" shares the mnemonic A with the program's item).
int ChooseLastMenuItem(HWND dialog) {
  HWND popup = PopupMenuOf(dialog);
  if (popup == nullptr) return Fail("no open menu");
  PostMessageA(popup, WM_KEYDOWN, VK_END, 1);
  PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 1);
  if (!Until([&] { return PopupMenuOf(dialog) == nullptr; })) return Fail("the menu stays open");
  std::printf("chosen\n");
  return 0;
}

// ---------------------------------------------------------------- commands

struct Args {
  std::vector<std::string> words;
  const std::string& operator[](std::size_t i) const { return words[i]; }
  std::size_t size() const { return words.size(); }
  int Number(std::size_t i) const { return std::atoi(words[i].c_str()); }
};

HWND MessageBoxWindow() {
  HWND box = WaitDialog(BoxCaption());
  if (box == nullptr) Fail("no message box");
  return box;
}

int BoxText() {
  HWND box = MessageBoxWindow();
  if (box == nullptr) return 1;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(c) == kNoId && ClassOf(c) == WC_STATICA) {
      std::printf("%s\n", Printable(TextOf(c)).c_str());
      return 0;
    }
  }
  return Fail("the message box has no text");
}

int PressOk() {
  HWND box = MessageBoxWindow();
  if (box == nullptr) return 1;
  HWND ok = Control(box, BoxCaption(), kIdOk);
  if (ok == nullptr) return 1;
  PostMessageA(ok, BM_CLICK, 0, 0);
  if (!Until([&] { return IsWindow(box) == FALSE; })) return Fail("the message box stays open");
  std::printf("ok\n");
  return 0;
}

HTREEITEM FindItem(HWND tree, const std::string& label) {
  HTREEITEM found = nullptr;
  Until([&] {
    for (const TreeEntry& e : ReadTree(tree)) {
      if (e.label == label) found = e.item;
    }
    return found != nullptr;
  });
  if (found == nullptr) Fail("no tree item \"" + Printable(label) + "\"");
  return found;
}

int TreeCommand(HWND dialog, const Args& a) {
  HWND tree = Control(dialog, a[1], a.Number(2));
  if (tree == nullptr) return 1;
  const std::size_t want = a.size() > 3 ? static_cast<std::size_t>(a.Number(3)) : 0;
  const bool ready = Until([&] { return want == 0 ? TreeCount(tree) > 0 : TreeCount(tree) == want; });
  std::vector<TreeEntry> entries = ReadTree(tree);
  if (!ready) {
    return Fail("the tree holds " + std::to_string(TreeCount(tree)) + " items, not " +
                (want == 0 ? std::string("any") : std::to_string(want)));
  }
  for (const TreeEntry& e : entries) std::printf("%d %d %s\n", e.depth, e.state, Printable(e.label).c_str());
  return 0;
}

int ItemCommand(HWND dialog, const Args& a) {
  HWND tree = Control(dialog, a[1], a.Number(2));
  if (tree == nullptr) return 1;
  HTREEITEM item = FindItem(tree, a[3]);
  if (item == nullptr) return 1;
  const bool select = a[0] == "select";
  DWORD_PTR done = 0;
  if (select) {
    Send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item), &done);
  } else {
    Send(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item), &done);
  }
  if (done == 0) return Fail(a[0] + " \"" + Printable(a[3]) + "\" was refused");
  std::printf("%s\n", select ? "selected" : "expanded");
  return 0;
}

// Commands on a control that answer with a number, once it is at least min.
int ValueCommand(HWND control, UINT message, const std::string& what, int min) {
  DWORD_PTR value = 0;
  if (!Until([&] { return Send(control, message, 0, 0, &value) && static_cast<int>(value) >= min; })) {
    return Fail(what + " is " + std::to_string(static_cast<int>(value)) + ", not " + std::to_string(min) +
                " or more");
  }
  std::printf("%d\n", static_cast<int>(value));
  return 0;
}

int ControlCommand(HWND dialog, const Args& a) {
  const std::string& command = a[0];
  HWND control = Control(dialog, a[1], a.Number(2));
  if (control == nullptr) return 1;
  if (command == "type") {
    HWND edit = EditOf(control);
    if (edit == nullptr || !Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()))) {
      return Fail("control " + a[2] + " takes no text");
    }
    std::printf("typed\n");
  } else if (command == "click") {
    PostMessageA(control, BM_CLICK, 0, 0);
    std::printf("clicked\n");
  } else if (command == "key") {
    const UINT key = a[3] == "enter" ? VK_RETURN : a[3] == "escape" ? VK_ESCAPE : 0;
    if (key == 0) return Fail("no key \"" + a[3] + "\" (enter, escape)");
    // Through the dialog's own loop, as a typed key comes.
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
    std::printf("pressed\n");
  } else if (command == "text") {
    std::printf("%s\n", Printable(TextOf(control)).c_str());
  } else if (command == "check") {
    return ValueCommand(control, BM_GETCHECK, "the check box", 0);
  } else if (command == "controls") {
    Remote size(control, sizeof(SIZE));
    SIZE none{};
    DWORD_PTR answered = 0;
    if (!size.Usable() || !size.Write(0, &none, sizeof none)) return Fail("no memory in the program");
    Send(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(size.At(0)), &answered);
    std::printf("%d\n", answered != 0 ? 6 : 5);
  } else if (command == "enabled") {
    if (!Until([&] { return IsWindowEnabled(control) != FALSE; })) return Fail("control " + a[2] + " stays disabled");
    std::printf("enabled\n");
  } else {
    return ValueCommand(control, PBM_GETPOS, "the progress", a.size() > 3 ? a.Number(3) : 0);
  }
  return 0;
}

// The control that has the keyboard focus, once it is one of the dialog's;
// for an edit box with its selection.
int Focus(HWND dialog) {
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
  HWND focus = nullptr;
  const bool inside = Until([&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    focus = GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
    return focus != nullptr && IsChild(dialog, focus);
  });
  if (!inside) return Fail("the focus is not on a control of the dialog");
  std::string line = IdText(GetDlgCtrlID(focus));
  if (ClassOf(focus) == WC_EDITA) {
    DWORD_PTR selection = 0;
    Send(focus, EM_GETSEL, 0, 0, &selection);
    line += " " + std::to_string(LOWORD(selection)) + " " + std::to_string(HIWORD(selection));
  }
  std::printf("%s\n", line.c_str());
  return 0;
}

// The window that owns the dialog, and whether it takes input.
int Owner(HWND dialog) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr) {
    std::printf("none\n");
  } else {
    std::printf("\"%s\" %s\n", Printable(CaptionOf(owner)).c_str(), IsWindowEnabled(owner) ? "enabled" : "disabled");
  }
  return 0;
}

int DialogCommand(HWND dialog, const Args& a) {
  const std::string& command = a[0];
  if (command == "wait") {
    RECT r;
    GetWindowRect(dialog, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
  } else if (command == "close") {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    std::printf("closed\n");
  } else if (command == "rects") {
    return Rects(dialog);
  } else if (command == "fits") {
    return Fits(dialog);
  } else if (command == "taborder") {
    return TabOrder(dialog);
  } else if (command == "focus") {
    return Focus(dialog);
  } else if (command == "owner") {
    return Owner(dialog);
  } else if (command == "default") {
    // Without a default button the dialog still names IDOK.
    DWORD_PTR id = 0;
    if (!Send(dialog, DM_GETDEFID, 0, 0, &id)) return Fail("no answer to DM_GETDEFID");
    if (HIWORD(id) == DC_HASDEFID && GetDlgItem(dialog, LOWORD(id)) != nullptr) {
      std::printf("%u\n", LOWORD(id));
    } else {
      std::printf("none\n");
    }
  } else if (command == "sysmenu") {
    return OpenSystemMenu(dialog);
  } else if (command == "menulast") {
    return ChooseLastMenuItem(dialog);
  } else if (command == "syscommand") {
    PostMessageA(dialog, WM_SYSCOMMAND, static_cast<WPARAM>(a.Number(2)), 0);
    std::printf("posted\n");
  } else if (command == "tree") {
    return TreeCommand(dialog, a);
  } else if (command == "select" || command == "expand") {
    return ItemCommand(dialog, a);
  } else {
    return ControlCommand(dialog, a);
  }
  return 0;
}

// The number of words each command takes, the command's own included.
struct Shape {
  const char* name;
  std::size_t least, most;
};
constexpr Shape kShapes[] = {
    {"wait", 2, 2}, {"gone", 2, 2}, {"close", 2, 2}, {"type", 4, 4}, {"click", 3, 3}, {"key", 4, 4},
    {"text", 3, 3}, {"check", 3, 3}, {"enabled", 3, 3}, {"controls", 3, 3}, {"progress", 3, 4},
    {"boxtext", 1, 1}, {"ok", 1, 1}, {"rects", 2, 2}, {"fits", 2, 2}, {"taborder", 2, 2}, {"default", 2, 2},
    {"sysmenu", 2, 2}, {"focus", 2, 2}, {"owner", 2, 2}, {"menulast", 2, 2}, {"syscommand", 3, 3},
    {"tree", 3, 4}, {"select", 4, 4}, {"expand", 4, 4},
};

bool WellFormed(const Args& a) {
  if (a.size() == 0) return false;
  for (const Shape& s : kShapes) {
    if (a[0] == s.name) return a.size() >= s.least && a.size() <= s.most;
  }
  return false;
}

int Run(const Args& a) {
  if (a[0] == "boxtext") return BoxText();
  if (a[0] == "ok") return PressOk();
  if (a[0] == "gone") {
    if (Until([&] { return Dialogs(a[1]).empty(); })) {
      std::printf("gone\n");
      return 0;
    }
    return Fail("\"" + Printable(a[1]) + "\" is still shown");
  }
  HWND dialog = WaitDialog(a[1]);
  return dialog != nullptr ? DialogCommand(dialog, a) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Pixels as the DPI-aware program has them, at any DPI.
  SetProcessDPIAware();
  // Plain \n on stdout, unbuffered: the script reads each line as it comes.
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (a.size() == 0 && word == "-w" && i + 1 < argc) {
      g_waitSeconds = std::atof(argv[++i]);
    } else if (a.size() == 0 && word == "-x" && i + 1 < argc) {
      g_exe = argv[++i];
    } else {
      a.words.push_back(word);
    }
  }
  if (!WellFormed(a)) {
    std::fputs("usage: driver [-w SECONDS] [-x EXE] COMMAND ARGUMENTS... (the commands are listed in driver.cpp)\n",
               stderr);
    return kUsage;
  }
  return Run(a);
}
