// The loader against GNU objcopy on generated files: the same bytes, plus
// the zero padding of the end address to a multiple of 4.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_host.h"
#include "update/srecord_loader.h"

namespace tl {
namespace {

using Bytes = std::vector<unsigned char>;

bool HaveObjcopy() { return std::system("objcopy --version >/dev/null 2>&1") == 0; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(SRecordPeer, ImagesEqualObjcopyOnRandomFiles) {
  if (!HaveObjcopy()) GTEST_SKIP() << "objcopy is not installed";
  test::TestHost host;
  test::TempDir dir;
  std::mt19937 random(0x5EC0);
  const std::string blobPath = dir.File("blob.bin");
  const std::string generated = dir.File("generated.s19");
  const std::string input = dir.File("input_APP.s19");
  const std::string peer = dir.File("peer.bin");

  for (int round = 0; round < 24; ++round) {
    const std::size_t size = 1 + random() % (round < 12 ? 300 : 40000);
    std::string blob(size, '\0');
    for (auto& c : blob) c = static_cast<char>(random());
    WriteFile(blobPath, blob);

    // Start addresses of every record kind and alignment.
    const std::uint32_t ranges[] = {0x10000, 0x1000000, 0x80000000u};
    std::uint32_t address = static_cast<std::uint32_t>(random()) % ranges[round % 3];
    if (round % 4 == 0) address &= ~3u;
    const unsigned recordLength = 1 + random() % 64;
    const bool forceS3 = round % 2 == 1;
    const std::string command = "objcopy -I binary -O srec --change-addresses=" +
                                std::to_string(address) + " --srec-len=" +
                                std::to_string(recordLength) + (forceS3 ? " --srec-forceS3 " : " ") +
                                blobPath + " " + generated;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    ASSERT_EQ(std::system(("objcopy -I srec -O binary " + generated + " " + peer).c_str()), 0);
    Bytes expected = ReadFile(peer);
    ASSERT_EQ(expected, Bytes(blob.begin(), blob.end())) << "objcopy round trip";
    while ((address + expected.size()) % 4 != 0) expected.push_back(0);

    // Our own S0 line in front (plain text, which objcopy would not read);
    // objcopy's header record becomes a later S0.
    const std::string name = "RT" + std::to_string(round);
    const char* lineEnds[] = {"\r\n", "\n", "\r"};
    std::string text = "S0" + name + lineEnds[round % 3];
    const Bytes body = ReadFile(generated);
    text.append(body.begin(), body.end());
    WriteFile(input, text);

    host.ui.ClearMessages();
    auto image = LoadSRecordImage(input);
    ASSERT_TRUE(image) << command << ": " << (host.Messages().empty() ? "" : host.Messages()[0]);
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_STREQ(platformName, name.c_str());
    EXPECT_EQ(image->startAddress, address) << command;
    ASSERT_EQ(image->imageLength, expected.size()) << command;
    EXPECT_EQ(Bytes(image->imageData.get(), image->imageData.get() + image->imageLength), expected)
        << command;
  }
}

}  // namespace
}  // namespace tl
