// Arbitrary bytes as a hive file: a text that parses is written back, and
// the written text parses to the same values and is written the same again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/file_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<tl::Hive> hive = tl::ParseHive(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!hive) return 0;
  const std::string written = tl::FormatHive(*hive);
  std::optional<tl::Hive> again = tl::ParseHive(written);
  if (!again || *again != *hive) std::abort();
  if (tl::FormatHive(*again) != written) std::abort();
  return 0;
}
