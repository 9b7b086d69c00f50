// Reading files for the loader: CreateFileA, GetFileSizeEx, ReadFile.
#pragma once

#include "platform/core/platform.h"

namespace tl {

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;
};

}  // namespace tl
