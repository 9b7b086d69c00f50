// The image file of inspect --output. While the image still loads, its
// final bytes go into an unnamed file in the output's folder, which takes
// the name only once the whole image is in it, so that a failed or broken
// off load leaves nothing behind. Where the name is taken (that file is
// rewritten in place) or no unnamed file can be made there, the image is
// written whole at the end instead.
#pragma once

#include <cstddef>
#include <string>

namespace tl::cli {

class ImageOutput {
 public:
  explicit ImageOutput(std::string path);
  ~ImageOutput();  // an unnamed file still open goes with it
  ImageOutput(const ImageOutput&) = delete;
  ImageOutput& operator=(const ImageOutput&) = delete;

  // Whether bytes given to Append are of use.
  bool Early() const { return early_ >= 0; }
  // The image's next bytes, in order, from one thread at a time.
  void Append(const unsigned char* data, std::size_t length);
  // The whole image, after the last Append: names the unnamed file if it
  // holds all of it, else writes the file. false, with errno set, when
  // that failed.
  bool Finish(const unsigned char* data, std::size_t length);

 private:
  void CloseEarly();

  const std::string path_;
  int early_ = -1;  // the unnamed file
  std::size_t appended_ = 0;
};

}  // namespace tl::cli
