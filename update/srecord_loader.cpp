#include "update/srecord_loader.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/core/platform.h"

namespace tl {

char platformName[kPlatformNameSize];

const char kNoDataRecordsMessage[] = "No data records in file \n";
const char kFileSizeMessage[] = "Failed to get file size \n";
const char kFileReadMessage[] = "Failed to read file \n";
const char kOutOfMemoryMessage[] = "Not enough memory to load file \n";

namespace {

// Value of one character: upper-cased, then 0x41..0x7F count as code - 55,
// everything else as code - 48 (not validated; the checksum catches damage).
constexpr unsigned CharValue(unsigned c) {
  if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  return (c >= 0x41 && c <= 0x7F) ? c - 55u : c - 48u;
}

struct HexTables {
  std::array<unsigned char, 256> high{};  // value * 16, modulo 256
  std::array<unsigned char, 256> low{};   // value, modulo 256
};

constexpr HexTables MakeHexTables() {
  HexTables t;
  for (unsigned c = 0; c < 256; ++c) {
    t.high[c] = static_cast<unsigned char>((CharValue(c) * 16u) & 0xFFu);
    t.low[c] = static_cast<unsigned char>(CharValue(c) & 0xFFu);
  }
  return t;
}

constexpr HexTables kHex = MakeHexTables();

inline unsigned char Pair(const unsigned char* p) {
  return static_cast<unsigned char>(kHex.high[p[0]] + kHex.low[p[1]]);
}

// Every pair of characters, indexed by the two bytes as one native 16-bit
// load: a single lookup per decoded byte.
struct PairTable {
  std::array<unsigned char, 65536> byte{};
};

PairTable MakePairTable() {
  PairTable t;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const unsigned index = std::endian::native == std::endian::little ? first | second << 8
                                                                        : first << 8 | second;
      t.byte[index] = static_cast<unsigned char>(kHex.high[first] + kHex.low[second]);
    }
  }
  return t;
}

// Built on first use (too large for every compiler's constant evaluation).
const PairTable& Pairs() {
  static const PairTable table = MakePairTable();
  return table;
}

inline unsigned char FastPair(const PairTable& pairs, const unsigned char* p) {
  std::uint16_t index;
  std::memcpy(&index, p, 2);
  return pairs.byte[index];
}

#if defined(__GNUC__)
#define TL_SRECORD_VECTORS 1
using Chars16 = unsigned char __attribute__((vector_size(16)));
using Lanes8 = std::uint16_t __attribute__((vector_size(16)));
using Bytes8 = unsigned char __attribute__((vector_size(8)));

// Eight pairs at once, one byte per 16-bit lane; false unless all sixteen
// characters are hex digits (either case), for which the rule reduces to
// the low four bits plus 9 for a letter.
inline bool DecodeBlock(Chars16 x, Lanes8& bytes) {
  const Chars16 digit = x - '0';
  const Chars16 letter = (x | 0x20) - 'a';
  const auto isLetter = letter < 6;
  const auto valid = (digit < 10) | isLetter;
  std::uint64_t halves[2];
  std::memcpy(halves, &valid, 16);
  if ((halves[0] & halves[1]) != ~std::uint64_t{0}) return false;
  Chars16 letterMask;
  std::memcpy(&letterMask, &isLetter, 16);
  const Chars16 values = (x & 0x0F) + (letterMask & 9);
  Lanes8 lanes;
  std::memcpy(&lanes, &values, 16);
  if constexpr (std::endian::native == std::endian::little) {
    bytes = ((lanes << 4) & 0xF0) | (lanes >> 8);
  } else {
    bytes = (lanes >> 4 & 0xF0) | (lanes & 0x0F);
  }
  return true;
}

inline void StoreBlock(unsigned char* dst, Lanes8 bytes) {
  const Bytes8 packed = __builtin_convertvector(bytes, Bytes8);
  std::memcpy(dst, &packed, 8);
}

inline unsigned LaneSum(Lanes8 lanes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &lanes, 16);
  const std::uint64_t four = halves[0] + halves[1];  // lanes stay below 0x10000
  return static_cast<unsigned>((four + (four >> 16) + (four >> 32) + (four >> 48)) & 0xFFu);
}

#endif

// Decodes pairs character pairs from src into dst; returns the bytes' sum.
// dst may overlap src as long as it stays at or below it: every store lands
// behind the characters still to be read.
inline unsigned DecodePairs(const PairTable& table, const unsigned char* src, unsigned char* dst,
                            unsigned pairs) {
  unsigned sum = 0;
  unsigned i = 0;
#if defined(TL_SRECORD_VECTORS)
  if (pairs >= 8) {
    // The last eight pairs are loaded first: the block that ends the run
    // overlaps the one before it, whose stores may already cover them.
    const unsigned rest = pairs % 8;
    Chars16 last;
    std::memcpy(&last, src + 2 * pairs - 16, 16);
    Lanes8 lanes = {};  // at most 32 * 255 per lane
    bool plain = true;
    for (; i + 8 <= pairs; i += 8) {
      Chars16 x;
      std::memcpy(&x, src + 2 * i, 16);
      Lanes8 bytes;
      if (!DecodeBlock(x, bytes)) {
        plain = false;
        break;
      }
      lanes += bytes;
      StoreBlock(dst + i, bytes);
    }
    Lanes8 bytes;
    if (plain && rest != 0 && DecodeBlock(last, bytes)) {
      const Lanes8 laneIndex = {0, 1, 2, 3, 4, 5, 6, 7};
      const auto fresh = laneIndex >= static_cast<std::uint16_t>(8 - rest);
      Lanes8 freshMask;
      std::memcpy(&freshMask, &fresh, 16);
      lanes += bytes & freshMask;
      StoreBlock(dst + pairs - 8, bytes);
      i = pairs;
    }
    sum = LaneSum(lanes);
  }
#endif
  for (; i < pairs; ++i) {
    const unsigned char b = FastPair(table, src + 2 * i);
    sum += b;
    dst[i] = b;
  }
  return sum;
}

// The address field, most significant byte first, keeping the low 32 bits.
template <unsigned Length>
inline std::uint32_t ReadAddress(const PairTable& table, const unsigned char* field, unsigned& sum) {
  std::uint32_t address = 0;
  for (unsigned i = 0; i < Length; ++i) {
    const unsigned char b = FastPair(table, field + 2 * i);
    sum += b;
    address = (address << 8) | b;
  }
  return address;
}

// Address bytes per record type 1..8; 0 for the rest.
constexpr unsigned AddressLength(unsigned char typeDigit) {
  switch (typeDigit) {
    case '1': return 2;
    case '2': return 3;
    case '3': return 4;
    case '4': return 5;
    case '7': return 4;
    case '8': return 3;
    default: return 0;
  }
}

void ShowChecksumError(unsigned sum) {
  char text[32];
  std::snprintf(text, sizeof text, "Checksum Error %lx\n", static_cast<unsigned long>(sum & 0xFFu));
  ShowMessage(text);
}

constexpr char kRecordChecksumMessage[] = "S record checksum error \n";
constexpr char kOrderMessage[] = "Srecords must be in asending order \n";
constexpr char kConversionMessage[] = "Conversion Error \n";
constexpr char kOpenMessage[] = "Failed to open file";

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

// The record search over the loaded text (n characters and a zero after).
class RecordFinder {
 public:
  RecordFinder(const unsigned char* text, std::size_t n) : text_(text), n_(n) {}

  // The next "S1".."S8" at or after p, or kUnknown when a zero byte comes first.
  std::size_t Next(std::size_t p) {
    // Records usually follow each other within a few characters.
    for (int k = 0; k < 16; ++k, ++p) {
      unsigned char c = text_[p];
      if (c == 0) return kUnknown;
      if (c == 'S' && IsRecordType(text_[p + 1])) return p;
    }
    for (;;) {
      // Text ahead of the search is never written, so the zero found once
      // stays valid until a record covering it moves the search past it.
      if (zeroAt_ == kUnknown || zeroAt_ < p) {
        zeroAt_ = static_cast<std::size_t>(
            static_cast<const unsigned char*>(std::memchr(text_ + p, 0, n_ + 1 - p)) - text_);
      }
      const void* hit = std::memchr(text_ + p, 'S', zeroAt_ - p);
      if (hit == nullptr) return kUnknown;
      p = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - text_);
      if (IsRecordType(text_[p + 1])) return p;  // p + 1 <= zeroAt_ <= n_
      ++p;
    }
  }

 private:
  static bool IsRecordType(unsigned char c) { return c >= '1' && c <= '8'; }

  const unsigned char* text_;
  std::size_t n_;
  std::size_t zeroAt_ = kUnknown;
};

}  // namespace

unsigned char HexPairToByte(char high, char low) {
  const unsigned char p[2] = {static_cast<unsigned char>(high), static_cast<unsigned char>(low)};
  return Pair(p);
}

void ConvertDrivePath(std::string& path) {
  if (path.size() < 4 || path[0] != '/' || path[1] != '/' || path[3] != '/') return;
  std::string converted;
  converted.reserve(path.size() - 1);
  converted += path[2];
  converted += ':';
  for (std::size_t i = 3; i < path.size(); ++i) converted += path[i] == '/' ? '\\' : path[i];
  path = std::move(converted);
}

bool VerifyRecordChecksum(std::string_view record) {
  const auto* p = reinterpret_cast<const unsigned char*>(record.data());
  const std::size_t available = record.size();
  if (available < 4) {
    ShowChecksumError(0);
    return false;
  }
  const unsigned count = Pair(p + 2);
  const unsigned addressLength = AddressLength(p[1]);
  // Only the pairs that are really there are summed; a record that does not
  // fit, or leaves no room for its checksum byte, fails whatever it sums to.
  const std::size_t pairsThere = (available - 4) / 2;
  const bool fits = 4 + 2 * std::size_t{count} <= available;
  const std::size_t pairs = fits ? count : pairsThere;
  unsigned sum = count;
  for (std::size_t i = 0; i < pairs; ++i) sum += Pair(p + 4 + 2 * i);
  sum &= 0xFFu;
  if (!fits || count < addressLength + 1 || sum != 0xFFu) {
    ShowChecksumError(sum);
    return false;
  }
  return true;
}

std::optional<LoadedImage> LoadSRecordImage(std::string_view path) {
  platformName[0] = '\0';

  std::string workingPath(path);
  ConvertDrivePath(workingPath);

  std::unique_ptr<ReadableFile> file;
  if (FileSystem* files = CurrentHost().files) file = files->OpenRead(workingPath);
  if (!file) {
    ShowMessage(kOpenMessage);
    return std::nullopt;
  }

  const std::optional<std::uint64_t> size = file->Size();
  if (!size) {
    ShowMessage(kFileSizeMessage);
    return std::nullopt;
  }
  if (*size >= std::numeric_limits<std::size_t>::max() ||
      *size > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
    ShowMessage(kOutOfMemoryMessage);
    return std::nullopt;
  }
  const auto n = static_cast<std::size_t>(*size);
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[n + 1]);
  if (!buffer) {
    ShowMessage(kOutOfMemoryMessage);
    return std::nullopt;
  }
  if (file->Read(buffer.get(), n) != static_cast<long long>(n)) {
    ShowMessage(kFileReadMessage);
    return std::nullopt;
  }
  buffer[n] = 0;
  file.reset();

  unsigned char* const text = buffer.get();

  // Platform name from an S0 first line.
  std::size_t p = 0;
  if (n >= 2 && text[0] == 'S' && text[1] == '0') {
    std::size_t end = 2;
    while (text[end] != 0 && text[end] != '\r' && text[end] != '\n') ++end;
    if (text[end] != 0) {
      std::size_t length = end - 2;
      if (length > kPlatformNameSize - 1) length = kPlatformNameSize - 1;
      std::memcpy(platformName, text + 2, length);
      platformName[length] = '\0';
      text[end] = 0;
      p = end + 1;
    } else {
      p = end;
    }
  }

  const PairTable& table = Pairs();
  bool seen = false;
  bool anyData = false;     // a data record with at least one data byte
  std::uint32_t end = 0;    // E: one past the last data byte
  std::uint32_t start = 0;  // S
  std::size_t written = 0;  // image bytes in the buffer; equals E - S
  RecordFinder finder(text, n);

  for (;;) {
    const std::size_t s = finder.Next(p);
    if (s == kUnknown) break;
    const std::string_view record(reinterpret_cast<const char*>(text + s), n - s);
    const unsigned char type = text[s + 1];
    const unsigned addressLength = AddressLength(type);

    if (type >= '5') {
      if (!VerifyRecordChecksum(record)) {
        ShowMessage(kRecordChecksumMessage);
        return std::nullopt;
      }
      // S5/S6: go on after the type digit; S7/S8: at the checksum characters.
      p = type <= '6' ? s + 2 : s + 4 + 2 * std::size_t{addressLength};
      continue;
    }

    // A data record. Its size and count are checked before anything is read.
    const unsigned count = n - s >= 4 ? FastPair(table, text + s + 2) : 0;
    if (n - s < 4 || count < addressLength + 1 || 4 + 2 * std::size_t{count} > n - s) {
      VerifyRecordChecksum(record);  // fails and shows the sum
      ShowMessage(kRecordChecksumMessage);
      return std::nullopt;
    }
    const unsigned char* field = text + s + 4;
    unsigned sum = count;
    std::uint32_t address = 0;
    switch (addressLength) {
      case 2: address = ReadAddress<2>(table, field, sum); break;
      case 3: address = ReadAddress<3>(table, field, sum); break;
      case 4: address = ReadAddress<4>(table, field, sum); break;
      default: address = ReadAddress<5>(table, field, sum); break;
    }
    field += 2 * addressLength;
    const std::size_t dataOffset = static_cast<std::size_t>(field - text);  // T
    const unsigned dataLength = count - addressLength - 1;                 // D

    // Where the data goes. A hole is filled only while the image stays
    // within the text already read (the decoding never overtakes the text).
    const char* placementError = nullptr;
    std::size_t fill = 0;
    if (!seen) {
      start = address;
      end = address;
    } else if (address < end) {
      placementError = kOrderMessage;
    } else if (address > end) {
      fill = address - end;
      if (written + fill > dataOffset) placementError = kConversionMessage;
    }
    if (placementError != nullptr) {
      // The checksum comes first: a bad record reports that, not its place.
      ShowMessage(VerifyRecordChecksum(record) ? placementError : kRecordChecksumMessage);
      return std::nullopt;
    }

    // Decode while summing; the record is checked before it counts.
    unsigned char* out = text + written;
    if (fill != 0) std::memset(out, 0, fill);
    sum += DecodePairs(table, field, out + fill, dataLength);
    sum += FastPair(table, field + 2 * std::size_t{dataLength});  // the checksum byte
    if ((sum & 0xFFu) != 0xFFu) {
      ShowChecksumError(sum);
      ShowMessage(kRecordChecksumMessage);
      return std::nullopt;
    }
    seen = true;
    anyData = anyData || dataLength != 0;
    written += fill + dataLength;
    end = static_cast<std::uint32_t>(address + dataLength);
    p = dataOffset + 2 * std::size_t{dataLength};  // the checksum characters
  }

  // Records without a data byte give no image: a module is never sent one
  // of length 0.
  if (!anyData) {
    ShowMessage(kNoDataRecordsMessage);
    return std::nullopt;
  }
  while (end % 4 != 0) {
    text[written++] = 0;
    ++end;
  }
  if (written > std::numeric_limits<std::uint32_t>::max()) {
    ShowMessage(kConversionMessage);
    return std::nullopt;
  }

  LoadedImage image;
  image.imageData = std::move(buffer);
  image.startAddress = start;
  image.imageLength = static_cast<std::uint32_t>(end - start);
  return image;
}

}  // namespace tl
