// S-record text for tests and benchmarks: an S0 line with the platform,
// then S3 records of 250 data bytes from the start address.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace tl::test {

inline std::string SRecordText(const std::string& platform, std::uint32_t start,
                               const std::string& bytes) {
  std::string text = "S0" + platform + "\r\n";
  text.reserve(bytes.size() * 2 + bytes.size() / 8 + 64);
  static const char kHex[] = "0123456789ABCDEF";
  auto hex = [&](unsigned v) {
    text.push_back(kHex[(v >> 4) & 15]);
    text.push_back(kHex[v & 15]);
  };
  constexpr std::size_t kPerRecord = 250;
  for (std::size_t offset = 0; offset < bytes.size(); offset += kPerRecord) {
    std::size_t n = std::min(kPerRecord, bytes.size() - offset);
    std::uint32_t a = start + static_cast<std::uint32_t>(offset);
    unsigned count = static_cast<unsigned>(n) + 5;
    unsigned sum = count;
    text += "S3";
    hex(count);
    for (int shift = 24; shift >= 0; shift -= 8) {
      hex((a >> shift) & 0xFF);
      sum += (a >> shift) & 0xFF;
    }
    for (std::size_t i = 0; i < n; ++i) {
      auto v = static_cast<unsigned char>(bytes[offset + i]);
      hex(v);
      sum += v;
    }
    hex(0xFF - (sum & 0xFF));
    text += "\r\n";
  }
  return text;
}

}  // namespace tl::test
