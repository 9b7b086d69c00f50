#pragma once

#include "platform/core/platform.h"

namespace tl {

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
  std::unique_ptr<unsigned char[]> AllocateImage(std::size_t length) override;
};

}  // namespace tl
