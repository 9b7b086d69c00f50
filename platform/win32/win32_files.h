// Reading files for the loader: CreateFileA (or CreateFileW), GetFileSizeEx,
// ReadFile.
#pragma once

#include "platform/core/platform.h"

namespace tl {

class Win32FileSystem : public FileSystem {
 public:
  // How the programs give paths: the desktop program in the ANSI code page
  // (its command line and file dialog), the console program in UTF-8.
  enum class Paths { kAnsi, kUtf8 };
  explicit Win32FileSystem(Paths paths = Paths::kAnsi) : paths_(paths) {}

  std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override;

 private:
  Paths paths_;
};

}  // namespace tl
