// Arbitrary bytes as an application file: the loader must stay inside its
// buffers, and a returned image must be no longer than the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/platform.h"
#include "update/srecord_loader.h"

namespace {

class MemoryFile : public tl::ReadableFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::optional<std::uint64_t> Size() override { return size_; }
  long long Read(void* buffer, std::size_t length) override {
    const std::size_t n = length < size_ - offset_ ? length : size_ - offset_;
    if (n != 0) std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    return static_cast<long long>(n);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

class MemoryFiles : public tl::FileSystem {
 public:
  std::unique_ptr<tl::ReadableFile> OpenRead(const std::string&) override {
    return std::make_unique<MemoryFile>(data, size);
  }
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

class SilentUi : public tl::Ui {
 public:
  int RunModal(tl::Dialog&) override { return 0; }
  void ShowMessageBox(std::string_view) override {}
  std::optional<std::string> OpenFile(const tl::OpenFileRequest&) override { return std::nullopt; }
  std::string ProgramTitle() override { return "fuzz_srecord"; }
};

SilentUi g_ui;
MemoryFiles g_files;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tl::SetHost(tl::Host{&g_ui, nullptr, nullptr, &g_files});
  g_files.data = data;
  g_files.size = size;

  std::optional<tl::LoadedImage> image = tl::LoadSRecordImage("fuzz_APP.s19");
  if (std::memchr(tl::platformName, 0, tl::kPlatformNameSize) == nullptr) std::abort();
  if (image) {
    // The image never outgrows the text it comes from (size + 1 bytes).
    if (image->imageLength > size + 1) std::abort();
    unsigned sum = 0;
    for (std::uint32_t i = 0; i < image->imageLength; ++i) sum += image->imageData[i];
    if ((static_cast<std::uint64_t>(image->startAddress) + image->imageLength) % 4 != 0) std::abort();
    (void)sum;
  }

  // The path form, on the same bytes.
  std::string path(reinterpret_cast<const char*>(data), size < 120 ? size : 120);
  const std::size_t before = path.size();
  tl::ConvertDrivePath(path);
  if (path.size() != before && path.size() + 1 != before) std::abort();
  return 0;
}
