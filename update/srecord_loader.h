// The S-record loader: turns an application file into one contiguous image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tl {

// A successful load. The image starts at the first byte of imageData.
struct LoadedImage {
  std::unique_ptr<unsigned char[]> imageData;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
};

constexpr std::size_t kPlatformNameSize = 80;  // 79 characters and a zero

// The platform text of the last load attempt's S0 first line (empty when
// there was none). Every load attempt clears it first.
extern char platformName[kPlatformNameSize];

// Told, now and then while a load goes on, that the image's first length
// bytes are final: they stay as they are, at data, and after a success with
// the image. A load that fails after telling any tells (nullptr, 0) before
// the bytes go: when that call returns, they are no longer used.
using ImageProgress = std::function<void(const unsigned char* data, std::size_t length)>;

// Loads the file; on failure shows its messages and returns nothing.
std::optional<LoadedImage> LoadSRecordImage(std::string_view path, const ImageProgress& progress = {});

// record: the text from a record's "S" to the end of the loaded text. Checks
// that the record fits, that its count leaves room for the address and the
// checksum byte, and that its bytes sum to 0xFF; shows "Checksum Error %lx\n"
// otherwise.
bool VerifyRecordChecksum(std::string_view record);

unsigned char HexPairToByte(char high, char low);

// The ways a record's data characters are decoded: plain C++, or 64
// characters at a time with AVX-512 where the build and the processor have
// it (the loader takes the widest). Each gives HexPairToByte's bytes.
enum class PairDecoder { kPortable, kAvx512 };
bool PairDecoderRuns(PairDecoder decoder);
// Decodes pairs (at most 255) character pairs from src into dst, which does
// not overlap it; returns the bytes' sum modulo 256.
unsigned DecodeHexPairs(PairDecoder decoder, const unsigned char* src, unsigned char* dst, unsigned pairs);

// "//d/dir/file" becomes "d:\dir\file"; other paths stay as they are.
void ConvertDrivePath(std::string& path);

// Messages of our own, for the cases the record format leaves open.
extern const char kNoDataRecordsMessage[];
extern const char kFileSizeMessage[];
extern const char kFileReadMessage[];
extern const char kOutOfMemoryMessage[];

}  // namespace tl
