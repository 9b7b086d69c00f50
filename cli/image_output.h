// The image file of inspect --output. While the image still loads, its
// final bytes go into an unnamed file in the output's folder, which takes
// the name only once the whole image is in it, so that a failed or broken
// off load leaves nothing behind. Where the name is taken (that file is
// rewritten in place) or no unnamed file can be made there, the image is
// written whole at the end instead.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace tl::cli {

class ImageOutput {
 public:
  explicit ImageOutput(std::string path);
  ~ImageOutput();  // an unnamed file still open goes with it
  ImageOutput(const ImageOutput&) = delete;
  ImageOutput& operator=(const ImageOutput&) = delete;

  // Whether bytes given to WriteAt are of use.
  bool Early() const { return early_ >= 0; }
  // Final bytes of the image, each once, from any thread.
  void WriteAt(std::size_t offset, const unsigned char* data, std::size_t length);
  // The whole image, after the last WriteAt: names the unnamed file if it
  // holds all of it, else writes the file. false, with errno set, when
  // that failed.
  bool Finish(const unsigned char* data, std::size_t length);

 private:
  void CloseEarly();

  const std::string path_;
  int early_ = -1;  // the unnamed file
  std::atomic<std::size_t> written_{0};
  std::atomic<bool> failed_{false};
};

}  // namespace tl::cli
