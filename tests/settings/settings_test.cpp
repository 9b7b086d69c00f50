// The two settings over the test host's registry: where they are kept and
// how their bytes read back.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/posix/file_registry.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

using test::ReadFile;
using test::TestHost;

std::vector<unsigned char> RawValue(Registry& reg, std::string_view name, std::uint32_t* type) {
  Registry::Key app = 0;
  Registry::Key section = 0;
  EXPECT_EQ(reg.OpenKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD", &app), 0);
  EXPECT_EQ(reg.OpenKey(app, "Settings", &section), 0);
  std::size_t size = 0;
  EXPECT_EQ(reg.QueryValueSize(section, name, type, &size), 0);
  std::vector<unsigned char> data(size);
  std::size_t got = 0;
  EXPECT_EQ(reg.QueryValue(section, name, type, data.data(), data.size(), &got), 0);
  reg.CloseKey(section);
  reg.CloseKey(app);
  return data;
}

// Writes one raw value into the Settings key.
void PutRaw(Registry& reg, std::string_view name, std::uint32_t type, std::vector<unsigned char> data) {
  Registry::Key section = 0;
  ASSERT_EQ(reg.CreateKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD\\Settings", &section), 0);
  ASSERT_EQ(reg.SetValue(section, name, type, data.data(), data.size()), 0);
  reg.CloseKey(section);
}

TEST(SettingsStore, FreshSystemCreatesOnlyTheApplicationKey) {
  TestHost host;
  EXPECT_EQ(LoadIpAddress(), 0u);
  EXPECT_EQ(LoadFileDir(), "");
  Registry::Key key = 0;
  EXPECT_EQ(host.registry->OpenKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD", &key), 0);
  host.registry->CloseKey(key);
  EXPECT_NE(host.registry->OpenKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD\\Settings", &key), 0);
}

TEST(SettingsStore, AddressIsStoredLeastSignificantByteFirst) {
  TestHost host;
  SaveIpAddress(0x0A010203);
  std::uint32_t type = 0;
  EXPECT_EQ(RawValue(*host.registry, "IPAddr", &type), (std::vector<unsigned char>{3, 2, 1, 10}));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(LoadIpAddress(), 0x0A010203u);
  // The file says the same to a person reading it.
  std::string text = ReadFile(static_cast<FileRegistry&>(*host.registry).HiveFile());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrelin\\TIDELOAD\\Settings]"), std::string::npos);
  EXPECT_NE(text.find("\"IPAddr\"=dword:0a010203"), std::string::npos);
}

TEST(SettingsStore, FileDirKeepsItsNulAndReadsWholeWithoutOne) {
  TestHost host;
  SaveFileDir("/home/eng/apps/demo_APP.s19");
  std::uint32_t type = 0;
  std::vector<unsigned char> raw = RawValue(*host.registry, "FileDir", &type);
  EXPECT_EQ(type, kRegSz);
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(raw.back(), 0);
  EXPECT_EQ(LoadFileDir(), "/home/eng/apps/demo_APP.s19");

  std::string bare = "C:\\no\\nul_APP.s19";
  PutRaw(*host.registry, "FileDir", kRegSz, std::vector<unsigned char>(bare.begin(), bare.end()));
  EXPECT_EQ(LoadFileDir(), bare);
  raw = RawValue(*host.registry, "FileDir", &type);
  EXPECT_EQ(raw.size(), bare.size());  // kept without a NUL, byte for byte

  // Stops at the first NUL; 8-bit and odd characters survive the file.
  PutRaw(*host.registry, "FileDir", kRegSz, {'a', '"', '\\', 0xE9, 0, 'z', 0});
  EXPECT_EQ(LoadFileDir(), std::string("a\"\\\xE9"));
}

TEST(SettingsStore, AddressValuesOfOtherLengthsReadAsNoAddress) {
  TestHost host;
  PutRaw(*host.registry, "IPAddr", kRegDword, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(LoadIpAddress(), 0u);
  std::uint32_t type = 0;
  EXPECT_EQ(RawValue(*host.registry, "IPAddr", &type).size(), 8u);  // kept as it is
  PutRaw(*host.registry, "IPAddr", kRegBinary, {7, 0});
  EXPECT_EQ(LoadIpAddress(), 0u);
  // The type is not compared: 4 bytes of any type read as a number.
  PutRaw(*host.registry, "IPAddr", kRegBinary, {4, 3, 2, 1});
  EXPECT_EQ(LoadIpAddress(), 0x01020304u);
}

}  // namespace
}  // namespace tl
