#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <string>

namespace tl {

namespace {

static_assert(Registry::kSuccess == ERROR_SUCCESS && Registry::kFileNotFound == ERROR_FILE_NOT_FOUND &&
              Registry::kAccessDenied == ERROR_ACCESS_DENIED &&
              Registry::kInvalidHandle == ERROR_INVALID_HANDLE && Registry::kMoreData == ERROR_MORE_DATA);
static_assert(kRegSz == REG_SZ && kRegBinary == REG_BINARY && kRegDword == REG_DWORD);

HKEY HandleOf(Registry::Key key) { return reinterpret_cast<HKEY>(key); }

// No key (0) is a bad handle, as the system says for a null HKEY.
bool Usable(Registry::Key key) { return key != 0; }

}  // namespace

long Win32Registry::CreateKey(Key parent, std::string_view path, Key* result) {
  if (!Usable(parent)) return kInvalidHandle;
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(HandleOf(parent), std::string(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition);
  if (rc == ERROR_SUCCESS) *result = reinterpret_cast<Key>(key);
  return rc;
}

long Win32Registry::OpenKey(Key parent, std::string_view path, Key* result) {
  if (!Usable(parent)) return kInvalidHandle;
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HandleOf(parent), std::string(path).c_str(), 0, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS) *result = reinterpret_cast<Key>(key);
  return rc;
}

long Win32Registry::QueryValueSize(Key key, std::string_view name, std::uint32_t* type, std::size_t* size) {
  if (!Usable(key)) return kInvalidHandle;
  DWORD valueType = 0;
  DWORD bytes = 0;
  LONG rc = RegQueryValueExA(HandleOf(key), std::string(name).c_str(), nullptr, &valueType, nullptr, &bytes);
  if (rc == ERROR_SUCCESS) {
    if (type) *type = valueType;
    if (size) *size = bytes;
  }
  return rc;
}

long Win32Registry::QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer,
                               std::size_t capacity, std::size_t* size) {
  if (!Usable(key)) return kInvalidHandle;
  DWORD valueType = 0;
  DWORD bytes = static_cast<DWORD>(capacity);
  LONG rc = RegQueryValueExA(HandleOf(key), std::string(name).c_str(), nullptr, &valueType,
                             static_cast<BYTE*>(buffer), &bytes);
  if (rc == ERROR_SUCCESS) {
    if (type) *type = valueType;
    if (size) *size = bytes;
  }
  return rc;
}

long Win32Registry::SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                             std::size_t size) {
  if (!Usable(key)) return kInvalidHandle;
  return RegSetValueExA(HandleOf(key), std::string(name).c_str(), 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(size));
}

long Win32Registry::CloseKey(Key key) {
  if (!Usable(key)) return kInvalidHandle;
  return RegCloseKey(HandleOf(key));
}

}  // namespace tl
