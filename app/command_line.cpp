#include "app/command_line.h"

namespace tl {

bool IsCommandLineSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::uint32_t ParseDottedAddress(std::string_view text) {
  std::uint32_t value = 0;
  int dots = 0;
  std::uint16_t group = 0;
  for (char c : text) {
    if (c == '.') {
      value = value * 256u + group;
      group = 0;
      if (++dots == 4) return value;
    } else if (c >= '0' && c <= '9') {
      group = static_cast<std::uint16_t>(group * 10 + (c - '0'));
    } else if (dots == 3 && (IsCommandLineSpace(c) || c == '-')) {
      break;
    }
  }
  return (value * 256u) | group;
}

void ScanCommandLine(std::string_view text, CommandLineOptions& options) {
  auto nextSpace = [&](std::size_t from) {
    while (from < text.size() && !IsCommandLineSpace(text[from])) ++from;
    return from;
  };
  // Only the last -I counts, and its address may read on to the end of the
  // text: parse that one alone, once the scan has found it.
  std::size_t lastAddress = std::string_view::npos;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t dash = text.find('-', p);
    if (dash == std::string_view::npos) break;
    char letter = dash + 1 < text.size() ? text[dash + 1] : '\0';
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    switch (letter) {
      case 'A':
        options.unattended = 1;
        p = nextSpace(dash);
        break;
      case 'F': {
        std::size_t end = nextSpace(dash + 2);
        options.fileName = std::string(text.substr(dash + 2, end - (dash + 2)));
        p = end;
        break;
      }
      case 'I':
        lastAddress = dash + 2;
        p = nextSpace(dash);
        break;
      case 'R':
        options.rebootWhenComplete = 1;
        p = nextSpace(dash);
        break;
      default:
        // Not an option: step past the '-' alone, so "--r" still finds "-r".
        p = dash + 1;
        break;
    }
  }
  if (lastAddress != std::string_view::npos) options.address = ParseDottedAddress(text.substr(lastAddress));
}

}  // namespace tl
