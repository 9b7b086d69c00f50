#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace tl {

namespace {

// Fresh memory faults in every page at its first write; huge pages make
// that a few faults instead of thousands.
void AdviseHugePages(void* buffer, std::size_t length) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto first = (reinterpret_cast<std::uintptr_t>(buffer) + kHuge - 1) & ~(kHuge - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(buffer) + length) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

class PosixReadableFile : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  ~PosixReadableFile() override { ::close(fd_); }

  std::optional<std::uint64_t> Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  long long Read(void* buffer, std::size_t length) override {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < length) {
      ssize_t n = ::read(fd_, bytes + done, length - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return done > 0 ? static_cast<long long>(done) : -1;
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<unsigned char[]> PosixFileSystem::AllocateImage(std::size_t length) {
  std::unique_ptr<unsigned char[]> image(new (std::nothrow) unsigned char[length]);
  if (image && length >= (std::size_t{8} << 20)) AdviseHugePages(image.get(), length);
  return image;
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenRead(const std::string& path) {
  // Non-blocking, so that a FIFO or a device never holds the program at the
  // open; what is not a regular file has no size and is refused there.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixReadableFile>(fd);
}

}  // namespace tl
