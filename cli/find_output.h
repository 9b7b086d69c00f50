// What tideload-cli find prints: the device selection tree as indented text
// or as JSON, in the order the modules answered or sorted.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "platform/headless/headless_ui.h"

namespace tl::cli {

enum class FoundOrder { Answered, Address, Name };

struct FoundFormat {
  bool json = false;
  FoundOrder order = FoundOrder::Answered;
  // Local interfaces by the host's id, to say where each reply came in.
  std::map<unsigned, std::string> interfaceNames;
};

// The tree control of the device selection dialog, its items' data the
// DeviceRecords they show.
void PrintFound(std::FILE* out, const HeadlessWindow::Control& tree, const FoundFormat& format);

}  // namespace tl::cli
