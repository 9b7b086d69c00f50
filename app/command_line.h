// The program's argument text: options -A, -F, -I and -R.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tl {

// The address in a dotted text, as one number (first octet most
// significant). Groups are not checked against 255: a larger one spills
// into the octets above it; a fourth dot ends the address.
std::uint32_t ParseDottedAddress(std::string_view text);

struct CommandLineOptions {
  std::uint32_t address = 0;  // start with the stored address
  std::string fileName;
  int rebootWhenComplete = 0;
  int unattended = 0;
};

// Scans the argument text into options; when an option comes more than
// once the last one counts. Never stops early and never loops.
void ScanCommandLine(std::string_view text, CommandLineOptions& options);

bool IsCommandLineSpace(char c);

}  // namespace tl
