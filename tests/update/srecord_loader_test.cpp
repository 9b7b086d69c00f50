#include "update/srecord_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_host.h"

namespace tl {
namespace {

using Bytes = std::vector<unsigned char>;

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// One record with a correct checksum; address bytes given most significant first.
std::string Record(char type, const Bytes& address, const Bytes& data) {
  Bytes body;
  body.push_back(static_cast<unsigned char>(address.size() + data.size() + 1));
  body.insert(body.end(), address.begin(), address.end());
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (unsigned char b : body) sum += b;
  body.push_back(static_cast<unsigned char>(~sum));
  return std::string("S") + type + Hex(body);
}

Bytes Address(std::uint64_t value, int length) {
  Bytes out;
  for (int i = length - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
  return out;
}

std::string S1(std::uint32_t address, const Bytes& data) { return Record('1', Address(address, 2), data); }
std::string S3(std::uint32_t address, const Bytes& data) { return Record('3', Address(address, 4), data); }

// A file whose every message is the loader's own and whose sizes and reads
// can be made to fail.
class FakeFile : public ReadableFile {
 public:
  FakeFile(std::optional<std::uint64_t> size, std::string bytes, int* reads, bool* closed)
      : size_(size), bytes_(std::move(bytes)), reads_(reads), closed_(closed) {}
  ~FakeFile() override { *closed_ = true; }
  std::optional<std::uint64_t> Size() override { return size_; }
  long long Read(void* buffer, std::size_t length) override {
    ++*reads_;
    if (bytes_ == "error") return -1;
    const std::size_t n = std::min(length, bytes_.size() - offset_);
    std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<long long>(n);
  }

 private:
  std::optional<std::uint64_t> size_;
  std::string bytes_;
  std::size_t offset_ = 0;
  int* reads_;
  bool* closed_;
};

class FakeFiles : public FileSystem {
 public:
  std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
    opened.push_back(path);
    if (!exists) return nullptr;
    closed = false;
    return std::make_unique<FakeFile>(size, bytes, &reads, &closed);
  }
  bool exists = true;
  std::optional<std::uint64_t> size;
  std::string bytes;
  std::vector<std::string> opened;
  int reads = 0;
  bool closed = true;
};

class LoaderTest : public ::testing::Test {
 protected:
  std::optional<LoadedImage> Load(std::string_view content) {
    host.ui.ClearMessages();
    return LoadSRecordImage(dir.Write("x_APP.s19", content));
  }
  const std::vector<std::string>& Messages() { return host.Messages(); }
  static Bytes ImageOf(const LoadedImage& image) {
    return Bytes(image.imageData.get(), image.imageData.get() + image.imageLength);
  }

  test::TestHost host;
  test::TempDir dir;
};

using Strings = std::vector<std::string>;
const Strings kChecksumFailure = {"S record checksum error \n"};

// ---------------------------------------------------------------- pieces

TEST(HexPairToByte, FollowsTheRuleForEveryPairOfCharacters) {
  auto value = [](unsigned c) {
    if (c >= 'a' && c <= 'z') c -= 32;
    return c >= 0x41 && c <= 0x7F ? c - 55 : c - 48;
  };
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      const auto expected = static_cast<unsigned char>(value(a) * 16 + value(b));
      ASSERT_EQ(HexPairToByte(static_cast<char>(a), static_cast<char>(b)), expected) << a << " " << b;
    }
  }
  EXPECT_EQ(HexPairToByte('a', 'f'), 0xAF);
  EXPECT_EQ(HexPairToByte('G', '1'), 0x01);  // 'G' counts 16: 16 * 16 wraps to 0
}

TEST(DecodeHexPairs, EveryDecoderGivesThePortableBytes) {
  // Digits of both cases, and one character of the rule's odd cases at
  // every place of every length around the decoders' block sizes.
  const unsigned char odd[] = {'G', 'g', '/', ':', '@', '`', 'f' + 1, 0, '\r', '\n', 'S', 0x80, 0xFF};
  for (PairDecoder decoder : {PairDecoder::kAvx512}) {
    if (!PairDecoderRuns(decoder)) continue;
    for (unsigned pairs : {0u, 1u, 2u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 100u, 255u}) {
      for (unsigned place = 0; place <= 2 * pairs; ++place) {
        std::vector<unsigned char> src(2 * pairs);
        for (unsigned i = 0; i < src.size(); ++i) src[i] = "0123456789abcdefABCDEF"[(i * 7 + pairs + place) % 22];
        if (place < src.size()) src[place] = odd[(place + pairs) % sizeof odd];
        Bytes expected(pairs + 64, 0xA5), got(pairs + 64, 0xA5);  // nothing is written past pairs
        const unsigned want = DecodeHexPairs(PairDecoder::kPortable, src.data(), expected.data(), pairs);
        EXPECT_EQ(DecodeHexPairs(decoder, src.data(), got.data(), pairs), want) << pairs << " " << place;
        EXPECT_TRUE(got == expected) << pairs << " " << place;
      }
    }
  }
}

TEST(ConvertDrivePath, RewritesOnlyTheDoubleSlashDriveForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"//d/build/demo_APP.s19", "d:\\build\\demo_APP.s19"},
      {"//c/dir/x_APP.s19", "c:\\dir\\x_APP.s19"},
      {"//d/", "d:\\"},
      {"c:/dir/x_APP.s19", "c:/dir/x_APP.s19"},
      {"/tmp/a/b.s19", "/tmp/a/b.s19"},
      {"///a/b", "///a/b"},
      {"//d", "//d"},
      {"//", "//"},
      {"", ""},
  };
  for (const auto& [given, expected] : cases) {
    std::string path = given;
    ConvertDrivePath(path);
    EXPECT_EQ(path, expected) << given;
  }
}

TEST_F(LoaderTest, VerifyRecordChecksumReportsTheSum) {
  EXPECT_TRUE(VerifyRecordChecksum("S1050000AABB95"));
  EXPECT_TRUE(Messages().empty());

  struct Case {
    std::string record;
    std::string message;
  };
  const std::vector<Case> bad = {
      {"S1050000AABB96", "Checksum Error 0\n"},      // sum 0x100
      {"S1050000AABB8B", "Checksum Error f5\n"},     // lower case, no leading zero
      {"S1050000AABB5A", "Checksum Error c4\n"},
      {"S1050000AABBF9", "Checksum Error 63\n"},
      {"S100", "Checksum Error 0\n"},                // a count of 0 never sums to 0xFF
      {"S1050000AA", "Checksum Error af\n"},         // count past the end: the pairs there
      {"S1", "Checksum Error 0\n"},
      {"S10200FD", "Checksum Error ff\n"},           // sums fine, but no room for a checksum
      {"S704000000FB", "Checksum Error ff\n"},       // S7 needs four address bytes + 1
  };
  for (const auto& c : bad) {
    host.ui.ClearMessages();
    EXPECT_FALSE(VerifyRecordChecksum(c.record)) << c.record;
    EXPECT_EQ(Messages(), Strings{c.message}) << c.record;
  }
}

// ---------------------------------------------------------------- platform name

TEST_F(LoaderTest, PlatformNameFromTheFirstLineWhateverItsLineEnd) {
  const std::string data = S1(0x1000, {1, 2, 3, 4});
  for (const char* lineEnd : {"\r\n", "\n", "\r"}) {
    auto image = Load("S0RT40-512" + std::string(lineEnd) + data + lineEnd);
    ASSERT_TRUE(image) << lineEnd;
    EXPECT_STREQ(platformName, "RT40-512");
    EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4}));
  }
  ASSERT_TRUE(Load("S0\r\n" + data));
  EXPECT_STREQ(platformName, "");
}

TEST_F(LoaderTest, PlatformNameOnlyFromAnS0FirstLine) {
  const std::string data = S1(0x1000, {1, 2, 3, 4});
  ASSERT_TRUE(Load("\r\nS0RT40\r\n" + data));  // blank line first: S0 passed over
  EXPECT_STREQ(platformName, "");
  ASSERT_TRUE(Load(data + "\nS0RT40\n"));
  EXPECT_STREQ(platformName, "");
  ASSERT_TRUE(Load("s0RT40\n" + data));
  EXPECT_STREQ(platformName, "");

  // A long name keeps its first 79 characters.
  std::string name;
  for (int i = 0; i < 100; ++i) name += static_cast<char>('A' + i % 26);
  ASSERT_TRUE(Load("S0" + name + "\n" + data));
  EXPECT_EQ(std::string(platformName), name.substr(0, 79));

  // Bytes of any kind are taken as they are.
  ASSERT_TRUE(Load("S0\xE9t\xE9 \x01" "x\n" + data));
  EXPECT_STREQ(platformName, "\xE9t\xE9 \x01" "x");
}

TEST_F(LoaderTest, S0LineWithoutLineEndYieldsNoRecord) {
  // The whole file is the first line: nothing after it is read.
  EXPECT_FALSE(Load("S0RT40" + S1(0x1000, {1, 2, 3, 4})));
  EXPECT_STREQ(platformName, "");
  EXPECT_EQ(Messages(), Strings{kNoDataRecordsMessage});
  // A zero byte before any line end ends it the same way.
  EXPECT_FALSE(Load(std::string("S0RT40\0\n", 8) + S1(0x1000, {1, 2, 3, 4})));
  EXPECT_STREQ(platformName, "");
}

TEST_F(LoaderTest, EveryAttemptClearsThePlatformName) {
  ASSERT_TRUE(Load("S0RT40\n" + S1(0, {1, 2, 3, 4})));
  ASSERT_STREQ(platformName, "RT40");
  host.ui.ClearMessages();
  EXPECT_FALSE(LoadSRecordImage(dir.File("missing.s19")));
  EXPECT_STREQ(platformName, "");
  EXPECT_EQ(Messages(), Strings{"Failed to open file"});

  // A checksum failure keeps the name that was read.
  EXPECT_FALSE(Load("S0RT40\n" + S1(0, {1, 2, 3, 4}) + "\nS1050000AABB96\n"));
  EXPECT_STREQ(platformName, "RT40");
}

// ---------------------------------------------------------------- records

TEST_F(LoaderTest, LowerCaseDigitsLoadAndLowerCaseSIsNotARecord) {
  std::string lower = S3(0x20000000, {0xAB, 0xCD, 0xEF, 0x1A});
  for (std::size_t i = 1; i < lower.size(); ++i) lower[i] = static_cast<char>(std::tolower(lower[i]));
  auto image = Load(lower + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->startAddress, 0x20000000u);
  EXPECT_EQ(ImageOf(*image), (Bytes{0xAB, 0xCD, 0xEF, 0x1A}));

  std::string hidden = S1(0x1004, {9, 9, 9, 9});
  hidden[0] = 's';
  image = Load(S1(0x1000, {1, 2, 3, 4}) + "\n" + hidden + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4}));
}

TEST_F(LoaderTest, TextBetweenRecordsIsPassedOver) {
  // No line ends at all, comments, S9 (also damaged) and a later S0.
  auto image = Load(S1(0x1000, {1, 2}) + S1(0x1002, {3, 4}) + " junk S9 Sx\n" + "S0ABCD\n" +
                    S1(0x1004, {5, 6, 7, 8}) + "\nS9030000FC\nS9FFFF\n");
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  EXPECT_EQ(image->startAddress, 0x1000u);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LoaderTest, CharactersInsideARecordAreReadWhateverTheyAre) {
  // Pairs that are not hex digits (a line end, a zero byte, 'G', '~') still
  // give a value by the rule, and the checksum is taken over those values.
  const std::string pairs[] = {"\r\n", std::string("\0z", 2), "G0", "~!", "f7", "\xC8\x7F"};
  std::string record = "S1";
  Bytes values;
  for (const auto& p : pairs) values.push_back(HexPairToByte(p[0], p[1]));
  unsigned sum = 9 + 0x10 + 0x00;  // count 9, address 0x1000
  for (auto v : values) sum += v;
  record += "091000";
  for (const auto& p : pairs) record += p;
  record += Hex({static_cast<unsigned char>(~sum)});
  auto image = Load(record + "\n");
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  values.insert(values.end(), {0, 0});  // padded to 0x1008
  EXPECT_EQ(ImageOf(*image), values);
}

TEST_F(LoaderTest, LongRecordsWithOddCharactersAnywhere) {
  // Long data fields are decoded in blocks; one odd pair at any place, in
  // either case, must still give the rule's values.
  for (unsigned length : {8u, 16u, 21u, 40u}) {
    for (unsigned odd = 0; odd < length; ++odd) {
      std::string chars;
      Bytes values;
      for (unsigned i = 0; i < length; ++i) {
        std::string pair = Hex({static_cast<unsigned char>(i * 37 + length)});
        if (i % 3 == 1) pair = std::string(1, static_cast<char>(std::tolower(pair[0]))) + pair[1];
        if (i == odd) pair = odd % 2 ? "g\n" : std::string("\0:", 2);
        chars += pair;
        values.push_back(HexPairToByte(pair[0], pair[1]));
      }
      unsigned sum = length + 3 + 0x10 + 0x00;
      for (auto v : values) sum += v;
      const std::string record = "S1" + Hex({static_cast<unsigned char>(length + 3), 0x10, 0x00}) +
                                 chars + Hex({static_cast<unsigned char>(~sum)});
      auto image = Load(record + "\n");
      ASSERT_TRUE(image) << length << " " << odd;
      values.resize((length + 3) & ~3u, 0);
      EXPECT_EQ(ImageOf(*image), values) << length << " " << odd;

      std::string damaged = record;
      damaged[8 + 2 * ((odd + 1) % length)] ^= 1;
      EXPECT_FALSE(Load(damaged + "\n"));
      EXPECT_EQ(Messages().size(), 2u);
    }
  }
}

TEST_F(LoaderTest, AZeroByteBetweenRecordsEndsTheFile) {
  auto image = Load(S1(0x1000, {1, 2, 3, 4}) + std::string("\n\0", 2) + S1(0x1004, {5, 6, 7, 8}) +
                    "\nS1050000AABB96\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4}));
}

TEST_F(LoaderTest, RecordsFollowOnHolesAreZeroFilledAndTheEndPaddedToFour) {
  auto image = Load(S1(0x1000, {1, 2, 3}) + "\n" + S1(0x1003, {4}) + "\n" + S1(0x1006, {6}) + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->startAddress, 0x1000u);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4, 0, 0, 6, 0}));

  image = Load(S1(0x1000, {1, 2, 3, 4, 5, 6}) + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->imageLength, 8u);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4, 5, 6, 0, 0}));

  image = Load(S1(0x1002, {1, 2, 3, 4, 5, 6}) + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->startAddress, 0x1002u);
  EXPECT_EQ(image->imageLength, 6u);  // the end address is aligned, not the length

  // An empty first data record sets the start.
  image = Load(S1(0x2000, {}) + "\n" + S1(0x2000, {7, 7, 7, 7}) + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->startAddress, 0x2000u);
  EXPECT_EQ(ImageOf(*image), (Bytes{7, 7, 7, 7}));
}

TEST_F(LoaderTest, S2S3AndS4Addresses) {
  auto image = Load(Record('2', Address(0x123456, 3), {1, 2}) + "\n" +
                    Record('3', Address(0x123458, 4), {3, 4}) + "\n" +
                    Record('4', Address(0xAB0012345Cull, 5), {5, 6, 7, 8}) + "\n");
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  EXPECT_EQ(image->startAddress, 0x123456u);
  EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4, 0, 0, 5, 6, 7, 8}));  // ends at 0x123460
}

TEST_F(LoaderTest, DescendingAndOverlappingRecordsAreRefused) {
  const std::string first = S1(0x1000, {1, 2, 3, 4}) + "\n";
  for (std::uint32_t address : {0x0FFCu, 0x1003u, 0x1000u, 0x0000u}) {
    EXPECT_FALSE(Load(first + S1(static_cast<std::uint16_t>(address), {9}) + "\n")) << address;
    EXPECT_EQ(Messages(), Strings{"Srecords must be in asending order \n"});
  }
  // A record that is both out of order and damaged reports the checksum.
  std::string damaged = S1(0x0FF0, {9});
  damaged.back() = damaged.back() == '0' ? '1' : '0';
  EXPECT_FALSE(Load(first + damaged + "\n"));
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_EQ(Messages()[1], kChecksumFailure[0]);
}

TEST_F(LoaderTest, AHoleMustFitInTheTextAlreadyRead) {
  // T, the offset of the second record's data field, bounds the image with
  // its zero filling: A - S may equal T but not pass it.
  const std::string first = S3(0x10000, {1, 2, 3, 4}) + "\n";
  const std::uint32_t t = static_cast<std::uint32_t>(first.size() + 12);
  auto image = Load(first + S3(0x10000 + t, {5, 6, 7, 8}) + "\n");
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  EXPECT_EQ(image->imageLength, ((t + 4 + 3) & ~3u));
  Bytes expected(image->imageLength, 0);
  for (int i = 0; i < 4; ++i) expected[i] = static_cast<unsigned char>(1 + i);
  for (int i = 0; i < 4; ++i) expected[t + i] = static_cast<unsigned char>(5 + i);
  EXPECT_EQ(ImageOf(*image), expected);

  EXPECT_FALSE(Load(first + S3(0x10000 + t + 1, {5, 6, 7, 8}) + "\n"));
  EXPECT_EQ(Messages(), Strings{"Conversion Error \n"});
}

TEST_F(LoaderTest, AHoleAfterTheAddressesWrapIsRefused) {
  // 0xFFFFFFF0 + 32 wraps the end to 0x10; a record at 0xFFFFFFF8 then lies
  // above the end but only 8 above the start, which would fill ~4 GB.
  const std::string text = S3(0xFFFFFFF0u, Bytes(32, 0x55)) + "\n" + S3(0xFFFFFFF8u, {1}) + "\n";
  EXPECT_FALSE(Load(text));
  EXPECT_EQ(Messages(), Strings{"Conversion Error \n"});
  // Data that merely crosses the top of the address space still loads.
  auto image = Load(S3(0xFFFFFFF0u, Bytes(32, 0x55)) + "\n" + S3(0x10, {1, 2, 3, 4}) + "\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->startAddress, 0xFFFFFFF0u);
  EXPECT_EQ(image->imageLength, 36u);
}

TEST_F(LoaderTest, S5ToS8AreCheckedAndPassedOver) {
  const std::string data = S1(0x1000, {1, 2, 3, 4}) + "\n";
  const std::string good[] = {Record('5', {}, {0, 1}), Record('6', {}, {0, 0, 1}),
                              Record('7', Address(0x1000, 4), {}), Record('8', Address(0x1000, 3), {})};
  for (const auto& r : good) {
    auto image = Load(data + r + "\n" + S1(0x1004, {5}) + "\n");
    ASSERT_TRUE(image) << r;
    EXPECT_EQ(ImageOf(*image), (Bytes{1, 2, 3, 4, 5, 0, 0, 0})) << r;
  }
  for (std::string r : good) {
    r.back() = r.back() == '0' ? '1' : '0';
    EXPECT_FALSE(Load(data + r + "\n")) << r;
    ASSERT_EQ(Messages().size(), 2u) << r;
    EXPECT_EQ(Messages()[0].rfind("Checksum Error ", 0), 0u);
    EXPECT_EQ(Messages()[1], kChecksumFailure[0]);
  }
  // The search goes on right after an S5's type digit.
  auto image = Load(data + "S5" + S1(0x1004, {6}) + "\n");
  EXPECT_FALSE(image);
}

TEST_F(LoaderTest, DamagedDataRecordShowsBothMessagesInOrder) {
  std::string damaged = S1(0x1004, {5, 6});
  damaged[8] = damaged[8] == '0' ? '1' : '0';  // one data digit
  EXPECT_FALSE(Load(S1(0x1000, {1, 2, 3, 4}) + "\n" + damaged + "\n"));
  ASSERT_EQ(Messages().size(), 2u);
  EXPECT_NE(Messages()[0], "Checksum Error ff\n");
  EXPECT_EQ(Messages()[0].rfind("Checksum Error ", 0), 0u);
  EXPECT_EQ(Messages()[0].back(), '\n');
  EXPECT_EQ(Messages()[1], kChecksumFailure[0]);
}

// ---------------------------------------------------------------- open cases

TEST_F(LoaderTest, RecordsThatDoNotFitFailTheChecksum) {
  const std::string first = S1(0x1000, {1, 2, 3, 4}) + "\n";
  const std::string cut[] = {"S1", "S10", "S113100001020304", "S1FF1000", "S3FF"};
  for (const auto& r : cut) {
    EXPECT_FALSE(Load(first + r)) << r;
    ASSERT_EQ(Messages().size(), 2u) << r;
    EXPECT_EQ(Messages()[1], kChecksumFailure[0]);
  }
  // A count below address length + 1, with a checksum that adds up.
  for (const char* r : {"S10200FD", "S2030000FC", "S304000000FB", "S101FE"}) {
    EXPECT_FALSE(Load(first + r + "\n")) << r;
    EXPECT_EQ(Messages(), (Strings{"Checksum Error ff\n", kChecksumFailure[0]})) << r;
  }
}

TEST_F(LoaderTest, FileWithoutDataRecordsIsRefused) {
  for (std::string text : {std::string(), std::string("S0RT40\n"), std::string("S0RT40\nS9030000FC\n"),
                           std::string("hello\n") + Record('5', {}, {0, 0}),
                           // data records, but not one data byte: no empty image
                           S1(0x1000, {}) + "\n", S1(0x1002, {}) + "\n",
                           S1(0x1000, {}) + "\n" + S1(0x1010, {}) + "\n"}) {
    EXPECT_FALSE(Load(text)) << text;
    EXPECT_EQ(Messages(), Strings{"No data records in file \n"}) << text;
  }
  EXPECT_STREQ(platformName, "");
  EXPECT_FALSE(Load("S0RT40\nS9030000FC\n"));
  EXPECT_STREQ(platformName, "RT40");
}

// ---------------------------------------------------------------- large files

TEST_F(LoaderTest, LargeFilesLoadWhateverFallsOnTheReadsBoundaries) {
  // Records of every length, line ends of every kind, S5 records and text
  // between them, over several megabytes: some record, line end or pair
  // lies across each of the loader's reads.
  std::string text = "S0" + std::string(300000, 'N') + "\r\n";
  Bytes expected;
  std::uint32_t address = 0x20000;
  const char* const between[] = {"\r\n", "\n", "\r", "", " x ", "S9\n"};
  for (unsigned i = 0; text.size() < (std::size_t{5} << 20); ++i) {
    Bytes data(i % 251);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<unsigned char>(i * 7 + k);
    if (i % 97 == 96) {
      address += 3;  // a hole
      expected.insert(expected.end(), 3, 0);
    }
    text += S3(address, data) + between[i % 6];
    if (i % 89 == 0) text += Record('5', {}, {0, 1}) + "\n";
    expected.insert(expected.end(), data.begin(), data.end());
    address += static_cast<std::uint32_t>(data.size());
  }
  expected.resize((expected.size() + 3) & ~std::size_t{3}, 0);

  // What the image's watcher is told is final must stay as it was.
  std::vector<Bytes> told;
  const unsigned char* toldAt = nullptr;
  host.ui.ClearMessages();
  auto image = LoadSRecordImage(dir.Write("big_APP.s19", text), [&](const unsigned char* data, std::size_t length) {
    toldAt = data;
    told.emplace_back(data, data + length);
  });
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  EXPECT_EQ(std::string(platformName), std::string(79, 'N'));
  EXPECT_EQ(image->startAddress, 0x20000u);
  EXPECT_TRUE(ImageOf(*image) == expected);
  ASSERT_GT(told.size(), 3u);
  EXPECT_EQ(toldAt, image->imageData.get());
  for (std::size_t k = 0; k < told.size(); ++k) {
    EXPECT_TRUE(k == 0 || told[k].size() > told[k - 1].size());
    EXPECT_TRUE(std::equal(told[k].begin(), told[k].end(), expected.begin())) << k;
  }

  // A zero byte far into the file ends it there; a first line longer than
  // any read that never ends gives no records.
  const std::size_t cut = text.find('\n', std::size_t{3} << 20) + 1;
  auto before = Load(text.substr(0, cut) + std::string(1, '\0') + text.substr(cut));
  ASSERT_TRUE(before);
  const Bytes front = ImageOf(*before);
  ASSERT_LT(front.size(), expected.size() * 2 / 3);  // the file was cut at 3 of 5 MB
  EXPECT_TRUE(std::equal(front.begin(), front.end() - 3, expected.begin()));  // all but the padding
  EXPECT_FALSE(Load("S0" + std::string(600000, 'N') + std::string(1, '\0') + "\n" + S1(0, {1, 2, 3, 4}) + "\n"));
  EXPECT_EQ(Messages(), Strings{kNoDataRecordsMessage});
}

TEST_F(LoaderTest, RunsOfLikeRecordsBrokenAnywhere) {
  // Thousands of records of one type and length, one of them (the first,
  // inside the first read, or the one across the first two reads) made
  // different in one way: the image and messages are what the records say.
  enum Break { kNone, kLowerCase, kOddPair, kShorter, kHole, kBackwards, kDamaged, kOtherType,
               kLineEnd, kLongGap, kZeroAfter, kS5After, kLoneS, kLowerS, kLast };
  const char* const ends[] = {"\r\n", "\n", "\r", ""};
  for (int kind = kNone; kind < kLast; ++kind) {
    const char type = "1234"[kind % 4];
    const int addressLength = type - '0' + 1;
    const std::string end = ends[kind % 4];
    const std::size_t length = type == '1' ? 4 : 32;  // S1 addresses reach 64 KB
    const std::size_t stride = 4 + 2 * (addressLength + length + 1) + end.size();
    const std::size_t across = (std::size_t{256} << 10) / stride;  // holds the first read's end
    for (std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{1000}, across - 1, across, across + 1}) {
      std::string text;
      Bytes expected;
      Strings messages;
      std::uint64_t address = 0x1000;
      for (std::size_t i = 0; i < across + 300; ++i) {
        Bytes data(i == at && kind == kShorter ? length / 2 + 1 : length);
        for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<unsigned char>(i * 13 + k * 7);
        if (i == at && kind == kHole) {
          address += 3;
          if (i != 0) expected.insert(expected.end(), 3, 0);  // a first record sets the start
        }
        if (i == at && kind == kBackwards) address -= 1;
        std::string record = Record(i == at && kind == kOtherType ? '3' + (type == '3') : type,
                                    Address(address, i == at && kind == kOtherType ? 4 + (type == '3') : addressLength),
                                    data);
        if (i == at && kind == kLowerCase) {
          for (std::size_t k = 2; k < record.size(); ++k) record[k] = static_cast<char>(std::tolower(record[k]));
        }
        // The pairs' sum by the rule, the checksum's included (0xFF when right).
        const auto sumOf = [](const std::string& r) {
          unsigned sum = 0;
          for (std::size_t k = 2; k + 1 < r.size(); k += 2) sum += HexPairToByte(r[k], r[k + 1]);
          return sum & 0xFFu;
        };
        if (i == at && kind == kOddPair) {
          // Data byte 0 becomes "g\n"'s value by the rule; the checksum follows it.
          record.replace(4 + 2 * static_cast<std::size_t>(record[1] - '0' + 1), 2, "g\n");
          data[0] = HexPairToByte('g', '\n');
          const unsigned char checksum = HexPairToByte(record[record.size() - 2], record.back());
          record.replace(record.size() - 2, 2, Hex({static_cast<unsigned char>(checksum + 0xFF - sumOf(record))}));
        }
        if (i == at && kind == kDamaged) {
          record[20] = record[20] == '0' ? '1' : '0';
          char message[32];
          std::snprintf(message, sizeof message, "Checksum Error %x\n", sumOf(record));
          messages = {message, kChecksumFailure[0]};
        }
        if (i == at && i != 0 && kind == kBackwards) messages = {"Srecords must be in asending order \n"};
        if (i == at && kind == kLowerS) {
          record[0] = 's';  // no record: a hole where it was, unless it was the first
          data.assign(i == 0 ? 0 : data.size(), 0);
        }
        text += record;
        text += i == at && kind == kLineEnd ? std::string(" x ") : i == at && kind == kLongGap ? std::string(9, '\n') : end;
        if (i == at && kind == kZeroAfter) text.back() = '\0';  // where the line end was: the text ends
        if (i == at && kind == kS5After) text += Record('5', {}, {0, 1});
        if (i == at && kind == kLoneS) text += "S\nSS0";
        if (i > at && kind == kZeroAfter) continue;
        expected.insert(expected.end(), data.begin(), data.end());
        address += i == at && kind == kLowerS ? length : data.size();
      }
      expected.resize(expected.size() + (4 - address % 4) % 4, 0);
      const std::string label = std::to_string(kind) + " at " + std::to_string(at);
      auto image = Load(text);
      EXPECT_EQ(Messages(), messages) << label;
      ASSERT_EQ(image.has_value(), messages.empty()) << label;
      if (image) {
        EXPECT_TRUE(ImageOf(*image) == expected) << label;
      }
    }
  }
}

TEST_F(LoaderTest, WhatIsNotARegularFileIsRefusedWithoutBlocking) {
  // A FIFO nobody writes to would block a plain open for ever.
  const std::string fifo = dir.File("pipe_APP.s19");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(LoadSRecordImage(fifo));
  EXPECT_EQ(Messages(), Strings{kFileSizeMessage});
  host.ui.ClearMessages();
  EXPECT_FALSE(LoadSRecordImage(dir.Path().string()));  // a folder cannot be opened as a file
  EXPECT_EQ(Messages(), Strings{"Failed to open file"});
}

TEST_F(LoaderTest, PathsOfTheDriveFormAndOfAnyLength) {
  FakeFiles files;
  files.exists = false;
  CurrentHost().files = &files;
  std::string path = "//c/dir/x_APP.s19";
  EXPECT_FALSE(LoadSRecordImage(path));
  EXPECT_EQ(files.opened, Strings{"c:\\dir\\x_APP.s19"});
  EXPECT_EQ(path, "//c/dir/x_APP.s19");
  files.opened.clear();
  EXPECT_FALSE(LoadSRecordImage("c:/dir/x_APP.s19"));
  EXPECT_EQ(files.opened, Strings{"c:/dir/x_APP.s19"});
  host.Install();

  // A real path far beyond 79 characters.
  std::filesystem::path deep = dir.Path();
  for (int i = 0; i < 6; ++i) deep /= std::string(40, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  test::TempDir unused;
  const std::string file = (deep / "long_APP.s19").string();
  ASSERT_GT(file.size(), 240u);
  {
    std::ofstream out(file, std::ios::binary);
    out << "S0LONG\n" << S1(0x1000, {1, 2, 3, 4}) << "\n";
  }
  host.ui.ClearMessages();
  auto image = LoadSRecordImage(file);
  ASSERT_TRUE(image) << (Messages().empty() ? "" : Messages()[0]);
  EXPECT_STREQ(platformName, "LONG");
}

TEST_F(LoaderTest, ReadFailuresGiveAMessageAndCloseTheFile) {
  FakeFiles files;
  CurrentHost().files = &files;
  const std::string good = S1(0x1000, {1, 2, 3, 4}) + "\n";

  struct Case {
    std::optional<std::uint64_t> size;
    std::string bytes;
    const char* message;
    int reads;
  };
  std::vector<Case> cases = {
      {std::nullopt, good, kFileSizeMessage, 0},
      {good.size() + 5, good, kFileReadMessage, 1},  // short read
      {good.size(), "error", kFileReadMessage, 1},
      {~std::uint64_t{0}, good, kOutOfMemoryMessage, 0},
      {~std::uint64_t{0} - 1, good, kOutOfMemoryMessage, 0},
  };
#if !defined(__SANITIZE_ADDRESS__)
  cases.push_back({std::uint64_t{1} << 50, good, kOutOfMemoryMessage, 0});  // a failing allocation
#endif
  for (const auto& c : cases) {
    files.size = c.size;
    files.bytes = c.bytes;
    files.reads = 0;
    host.ui.ClearMessages();
    EXPECT_FALSE(LoadSRecordImage("x_APP.s19")) << c.message;
    EXPECT_EQ(Messages(), Strings{c.message});
    EXPECT_EQ(files.reads, c.reads) << c.message;
    EXPECT_TRUE(files.closed) << c.message;
  }

  // A large file that ends early: the read that should reach its end fails.
  std::string large;
  while (large.size() < (std::size_t{1} << 20)) large += S3(0x10000 + static_cast<std::uint32_t>(large.size()), Bytes(32, 7)) + "\n";
  files.size = large.size() + 5;
  files.bytes = large;
  files.reads = 0;
  host.ui.ClearMessages();
  EXPECT_FALSE(LoadSRecordImage("x_APP.s19"));
  EXPECT_EQ(Messages(), Strings{kFileReadMessage});
  EXPECT_GT(files.reads, 1);
  EXPECT_TRUE(files.closed);

  // The good case: one read of the whole file, closed afterwards.
  files.size = good.size();
  files.bytes = good;
  files.reads = 0;
  auto image = LoadSRecordImage("x_APP.s19");
  ASSERT_TRUE(image);
  EXPECT_EQ(files.reads, 1);
  EXPECT_TRUE(files.closed);
  host.Install();
}

}  // namespace
}  // namespace tl
