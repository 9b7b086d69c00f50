#include "cli/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tl::cli {

namespace {

// The folder a path names its file in.
std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteWhole(const char* path, const unsigned char* data, std::size_t length) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  std::setvbuf(out, nullptr, _IONBF, 0);  // one write, straight from the image
  const bool written = std::fwrite(data, 1, length, out) == length;
  return std::fclose(out) == 0 && written;
}

}  // namespace

ImageOutput::ImageOutput(std::string path) : path_(std::move(path)) {
#if defined(O_TMPFILE)
  struct stat st {};
  if (::lstat(path_.c_str(), &st) != 0 && errno == ENOENT) {
    early_ = ::open(Folder(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  }
#endif
}

ImageOutput::~ImageOutput() { CloseEarly(); }

void ImageOutput::CloseEarly() {
  if (early_ >= 0) ::close(early_);
  early_ = -1;
}

void ImageOutput::WriteAt(std::size_t offset, const unsigned char* data, std::size_t length) {
  while (early_ >= 0 && length != 0 && !failed_) {
    const ssize_t n = ::pwrite(early_, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;  // the image is written whole at the end
      return;
    }
    data += n;
    offset += static_cast<std::size_t>(n);
    length -= static_cast<std::size_t>(n);
    written_ += static_cast<std::size_t>(n);
  }
}

bool ImageOutput::Finish(const unsigned char* data, std::size_t length) {
  if (early_ >= 0 && !failed_ && written_ == length) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", early_);
    if (::linkat(AT_FDCWD, link, AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      const int fd = early_;
      early_ = -1;
      return ::close(fd) == 0;
    }
  }
  CloseEarly();
  return WriteWhole(path_.c_str(), data, length);
}

}  // namespace tl::cli
