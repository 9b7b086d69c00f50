#include "platform/win32/win32_files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/utf16.h"

namespace tl {

namespace {

constexpr std::size_t kLargestRead = 1u << 30;

class Win32ReadableFile : public ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE file) : file_(file) {}
  ~Win32ReadableFile() override { CloseHandle(file_); }

  std::optional<std::uint64_t> Size() override {
    // Only a disk file has a size; a pipe, a console or a device has none.
    LARGE_INTEGER size{};
    if (GetFileType(file_) != FILE_TYPE_DISK || GetFileSizeEx(file_, &size) == FALSE || size.QuadPart < 0) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  long long Read(void* buffer, std::size_t length) override {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < length) {
      DWORD got = 0;
      DWORD ask = static_cast<DWORD>(std::min(length - done, kLargestRead));
      if (ReadFile(file_, bytes + done, ask, &got, nullptr) == FALSE) {
        return done > 0 ? static_cast<long long>(done) : -1;
      }
      if (got == 0) break;
      done += got;
    }
    return static_cast<long long>(done);
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<ReadableFile> Win32FileSystem::OpenRead(const std::string& path) {
  // A folder cannot be opened this way, so it fails here like a missing file.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE file = paths_ == Paths::kUtf8 ? CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, kShare, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                       : CreateFileA(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32ReadableFile>(file);
}

}  // namespace tl
