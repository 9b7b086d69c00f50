#include "platform/console/console_log.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include "platform/console/console_system.h"
#include "platform/win32/utf16.h"

namespace tl {

namespace {

// "D:P(A;;FA;;;S-1-5-21-...)": full access for the user this program runs
// as, nobody else, nothing inherited. Empty when the user cannot be told.
std::wstring OwnerOnly() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  wchar_t* sid = nullptr;
  const bool known = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) != 0 &&
                     ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid) != 0;
  CloseHandle(token);
  if (!known) return {};
  std::wstring descriptor = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  return descriptor;
}

}  // namespace

std::unique_ptr<AppendLog> AppendLog::Open(const std::string& path, std::string* error) {
  // A file made here is the user's alone, where the file system keeps
  // access rights; one that is there keeps its own.
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  const std::wstring ownerOnly = OwnerOnly();
  if (!ownerOnly.empty()) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(ownerOnly.c_str(), SDDL_REVISION_1,
                                                         &security.lpSecurityDescriptor, nullptr);
  }
  // Appending only: every write goes to the end, whoever wrote last.
  const HANDLE file =
      CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, &security, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const int openError = LastSystemError();
  if (security.lpSecurityDescriptor != nullptr) LocalFree(security.lpSecurityDescriptor);
  if (file == INVALID_HANDLE_VALUE) {
    *error = SystemErrorText(openError);
    return nullptr;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    *error = "not a plain file";
    CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<AppendLog>(new AppendLog(reinterpret_cast<std::intptr_t>(file)));
}

AppendLog::~AppendLog() { CloseHandle(reinterpret_cast<HANDLE>(file_)); }

bool AppendLog::Append(std::string_view line) {
  const HANDLE file = reinterpret_cast<HANDLE>(file_);
  std::string text(line);
  text += '\n';
  // The whole file locked, for the one write of the line.
  OVERLAPPED whole{};
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
                  written == text.size();
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  return ok;
}

std::string OperatorName() {
  wchar_t name[257] = {};
  DWORD size = sizeof name / sizeof name[0];
  return GetUserNameW(name, &size) != 0 ? WideToUtf8(name) : std::string();
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = sizeof name / sizeof name[0];
  return GetComputerNameExW(ComputerNameDnsHostname, name, &size) != 0 ? WideToUtf8(name) : std::string();
}

}  // namespace tl
