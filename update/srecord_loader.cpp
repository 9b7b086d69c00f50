#include "update/srecord_loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/core/platform.h"

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define TL_SRECORD_AVX512 1
#include <immintrin.h>
#endif

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
#pragma GCC unroll 5
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

constexpr bool IsRecordType(unsigned char c) { return c >= '1' && c <= '8'; }

// What the last data record looked like; files mostly go on with records
// of the same type and count, each the same number of characters on.
struct RunShape {
  unsigned char type = 0;       // its type digit; 0 while there is none
  std::uint16_t countText = 0;  // its count's two characters, as loaded
  unsigned addressLength = 0;
  unsigned dataLength = 0;
};

// Whether none of the length (at most 8) characters at p is a zero byte or
// an "S", neither of which the record search passes over.
inline bool PassedOver(const unsigned char* p, std::size_t length) {
  if constexpr (std::endian::native == std::endian::little) {
    // The eight characters that end at p + length, of which the high
    // length bytes count; each byte's top bit tells whether it is nonzero.
    std::uint64_t chars;
    std::memcpy(&chars, p + length - 8, 8);
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    constexpr std::uint64_t kTops = 0x8080808080808080ull;
    const std::uint64_t notS = chars ^ 0x5353535353535353ull;
    const std::uint64_t nonzero = (((chars & kLow7) + kLow7) | chars) & (((notS & kLow7) + kLow7) | notS);
    const std::uint64_t counted = kTops << (8 * (8 - length));
    return (nonzero & counted) == counted;
  } else {
    for (std::size_t i = 0; i < length; ++i) {
      if (p[i] == 0 || p[i] == 'S') return false;
    }
    return true;
  }
}

// Decodes records of the shape, the first at r, each next one stride
// characters after the one before; the text up to limit is held. Each is
// taken only where the general path would take it the same way: it must
// continue the image at end and sum right, and the next is taken only where
// the record search would find it (the characters from this one's checksum
// on are neither zero nor "S"). Returns how many it took; out and end are
// moved past them.
template <class Kernel, unsigned AddressBytes>
[[gnu::always_inline]] inline std::size_t DecodeRun(const PairTable& table, const RunShape& shape, std::size_t stride,
                                                    const unsigned char* r, const unsigned char* limit,
                                                    unsigned char*& out, std::uint32_t& end) {
  const unsigned d = shape.dataLength;
  const std::size_t checksumAt = 4 + 2 * std::size_t{AddressBytes} + 2 * std::size_t{d};
  const std::size_t between = stride - checksumAt;  // the checksum's characters and what follows
  if (stride < checksumAt + 2 || between > 8) return 0;
  const Kernel kernel;
  unsigned char* to = out;
  std::uint32_t at = end;
  const unsigned char* const last = limit - (stride + 2);  // the last start with the next one's type held
  std::size_t taken = 0;
  for (; r <= last; r += stride) {
    std::uint16_t countText;
    std::memcpy(&countText, r + 2, 2);
    if (r[1] != shape.type || countText != shape.countText) break;
    unsigned sum = FastPair(table, r + 2);
    if (ReadAddress<AddressBytes>(table, r + 4, sum) != at) break;
    sum += kernel.Decode(table, r + 4 + 2 * AddressBytes, to, d);
    sum += FastPair(table, r + checksumAt);
    if ((sum & 0xFFu) != 0xFFu) break;
    to += d;
    at = static_cast<std::uint32_t>(at + d);
    ++taken;
    // The next one's type is checked with its count.
    if (!PassedOver(r + checksumAt, between) || r[stride] != 'S') break;
  }
  out = to;
  end = at;
  return taken;
}

// One of the above for each address length.
template <class Kernel>
[[gnu::always_inline]] inline std::size_t DecodeRunOf(const PairTable& table, const RunShape& shape,
                                                      std::size_t stride, const unsigned char* r,
                                                      const unsigned char* limit, unsigned char*& out,
                                                      std::uint32_t& end) {
  if (r > limit || static_cast<std::size_t>(limit - r) < stride + 2) return 0;
  switch (shape.addressLength) {
    case 2: return DecodeRun<Kernel, 2>(table, shape, stride, r, limit, out, end);
    case 3: return DecodeRun<Kernel, 3>(table, shape, stride, r, limit, out, end);
    case 4: return DecodeRun<Kernel, 4>(table, shape, stride, r, limit, out, end);
    default: return DecodeRun<Kernel, 5>(table, shape, stride, r, limit, out, end);
  }
}

struct PortablePairs {
  unsigned Decode(const PairTable& table, const unsigned char* src, unsigned char* dst, unsigned pairs) const {
    return DecodePairs(table, src, dst, pairs);
  }
};

std::size_t DecodeRunPortable(const PairTable& table, const RunShape& shape, std::size_t stride,
                              const unsigned char* r, const unsigned char* limit, unsigned char*& out,
                              std::uint32_t& end) {
  return DecodeRunOf<PortablePairs>(table, shape, stride, r, limit, out, end);
}

#if defined(TL_SRECORD_AVX512)
#define TL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2")))

// 32 pairs per step, validated: where a character is not a hex digit, the
// record goes to the portable decoder instead (dst and src never overlap).
// Made once per run, for its constants.
struct Avx512Pairs {
  TL_AVX512 Avx512Pairs()
      : zeroDigit(_mm512_set1_epi8('0')),
        lowerA(_mm512_set1_epi8('a')),
        caseBit(_mm512_set1_epi8(0x20)),
        lowNibble(_mm512_set1_epi8(0x0F)),
        ten(_mm512_set1_epi8(10)),
        six(_mm512_set1_epi8(6)),
        nine(_mm512_set1_epi8(9)),
        weights(_mm512_set1_epi16(0x0110)) {}  // 16 for the first of a pair, 1 for the second

  TL_AVX512 unsigned Decode(const PairTable& table, const unsigned char* src, unsigned char* dst,
                            unsigned pairs) const {
    __m256i sums = _mm256_setzero_si256();
    for (unsigned i = 0; i < pairs; i += 32) {
      const unsigned left = pairs - i;
      const __mmask64 chars = left >= 32 ? ~__mmask64{0} : _bzhi_u64(~std::uint64_t{0}, 2 * left);
      const __mmask32 bytes = left >= 32 ? ~__mmask32{0} : _bzhi_u32(~0u, left);
      const __m512i x = _mm512_maskz_loadu_epi8(chars, src + 2 * std::size_t{i});
      const __mmask64 digit = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(x, zeroDigit), ten);
      const __mmask64 letter = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(_mm512_or_si512(x, caseBit), lowerA), six);
      if ((chars & ~(digit | letter)) != 0) return DecodePairs(table, src, dst, pairs);
      const __m512i low = _mm512_and_si512(x, lowNibble);
      const __m512i values = _mm512_mask_add_epi8(low, letter, low, nine);
      const __m256i decoded = _mm512_maskz_cvtepi16_epi8(bytes, _mm512_maddubs_epi16(values, weights));
      _mm256_mask_storeu_epi8(dst + i, bytes, decoded);
      sums = _mm256_add_epi64(sums, _mm256_sad_epu8(decoded, _mm256_setzero_si256()));
    }
    const __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    return static_cast<unsigned>(_mm_cvtsi128_si64(_mm_add_epi64(half, _mm_unpackhi_epi64(half, half)))) & 0xFFu;
  }

  const __m512i zeroDigit, lowerA, caseBit, lowNibble, ten, six, nine, weights;
};

TL_AVX512 std::size_t DecodeRunAvx512(const PairTable& table, const RunShape& shape, std::size_t stride,
                                      const unsigned char* r, const unsigned char* limit, unsigned char*& out,
                                      std::uint32_t& end) {
  return DecodeRunOf<Avx512Pairs>(table, shape, stride, r, limit, out, end);
}

bool HaveAvx512() {
  static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi") &&
                           __builtin_cpu_supports("bmi2");
  return have;
}
#endif

using RunDecoder = std::size_t (*)(const PairTable&, const RunShape&, std::size_t, const unsigned char*,
                                   const unsigned char*, unsigned char*&, std::uint32_t&);

// The widest decoder this processor runs.
RunDecoder BestRunDecoder() {
#if defined(TL_SRECORD_AVX512)
  if (HaveAvx512()) return DecodeRunAvx512;
#endif
  return DecodeRunPortable;
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
constexpr std::size_t kReadFailed = kUnknown - 1;

// The most text one record can take: "S", its type, the count and 255 pairs.
constexpr std::size_t kLongestRecord = 4 + 2 * 255;
// The text is read this much at a time into one buffer that is used again,
// instead of the whole file into fresh memory.
constexpr std::size_t kWindowSize = std::size_t{256} << 10;
// The image is reported to its watcher as it grows by this much.
constexpr std::size_t kProgressStep = std::size_t{256} << 10;

// The file's text, held a window at a time and read in order. Positions
// count from the start of the file and never go back.
class TextWindow {
 public:
  TextWindow(ReadableFile& file, std::size_t n, unsigned char* buffer, std::size_t capacity)
      : file_(file), n_(n), buffer_(buffer), capacity_(capacity) {}

  // Holds the text from pos (at most End()) to pos + want or the end of
  // the file, want being at most kLongestRecord; false when a read fails.
  bool Hold(std::size_t pos, std::size_t want) {
    const std::size_t until = want < n_ - pos ? pos + want : n_;
    if (until <= End()) return true;
    const std::size_t keep = End() - pos;
    std::memmove(buffer_, buffer_ + (pos - base_), keep);
    base_ = pos;
    have_ = keep;
    const std::size_t ask = std::min(capacity_ - have_, n_ - End());
    if (file_.Read(buffer_ + have_, ask) != static_cast<long long>(ask)) return false;
    have_ += ask;
    return true;
  }

  // The held text at pos, which must lie within the window.
  const unsigned char* At(std::size_t pos) const { return buffer_ + (pos - base_); }
  // One past the last position held.
  std::size_t End() const { return base_ + have_; }

 private:
  ReadableFile& file_;
  const std::size_t n_;
  unsigned char* const buffer_;
  const std::size_t capacity_;
  std::size_t base_ = 0;  // the position of buffer_[0]
  std::size_t have_ = 0;
};

// The record search over the text (n characters; a zero byte ends it too).
class RecordFinder {
 public:
  RecordFinder(TextWindow& window, std::size_t n) : window_(window), n_(n) {}

  // The next "S1".."S8" at or after p, kUnknown when the text or a zero byte
  // comes first, or kReadFailed.
  std::size_t Next(std::size_t p) {
    if (!window_.Hold(p, 2)) return kReadFailed;
    // Records usually follow each other within a few characters.
    const std::size_t quick = std::min(window_.End(), p + 16);
    for (; p < quick; ++p) {
      const unsigned char c = *window_.At(p);
      if (c == 0) return kUnknown;
      if (c == 'S') {
        if (p + 1 == quick) break;  // the slow search looks at its type
        if (IsRecordType(*window_.At(p + 1))) return p;
      }
    }
    for (;;) {
      if (p == n_) return kUnknown;
      if (!window_.Hold(p, 2)) return kReadFailed;
      const std::size_t end = window_.End();
      // Text ahead of the search never changes, so a zero found once stays
      // valid until the search passes it; where none was found, the search
      // for one goes on from where it stopped.
      if (p < zeroFrom_ || p > zeroAt_) {
        zeroFrom_ = p;
        zeroAt_ = p;
        zeroFound_ = false;
      }
      if (!zeroFound_ && zeroAt_ < end) {
        const void* zero = std::memchr(window_.At(zeroAt_), 0, end - zeroAt_);
        zeroFound_ = zero != nullptr;
        zeroAt_ = zero != nullptr ? zeroAt_ + static_cast<std::size_t>(static_cast<const unsigned char*>(zero) -
                                                                       window_.At(zeroAt_))
                                  : end;
      }
      const void* hit = std::memchr(window_.At(p), 'S', zeroAt_ - p);
      if (hit == nullptr) {
        if (zeroFound_) return kUnknown;
        p = end;  // read on
        continue;
      }
      p += static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - window_.At(p));
      if (p + 1 == n_) return kUnknown;
      if (p + 1 == end) continue;  // its type is read in first
      if (IsRecordType(*window_.At(p + 1))) return p;
      ++p;
    }
  }

 private:
  TextWindow& window_;
  const std::size_t n_;
  std::size_t zeroFrom_ = kUnknown;  // the search for a zero started here...
  std::size_t zeroAt_ = kUnknown;    // ...and found one here, or none before here
  bool zeroFound_ = false;
};

}  // namespace

unsigned char HexPairToByte(char high, char low) {
  const unsigned char p[2] = {static_cast<unsigned char>(high), static_cast<unsigned char>(low)};
  return Pair(p);
}

bool PairDecoderRuns(PairDecoder decoder) {
#if defined(TL_SRECORD_AVX512)
  if (decoder == PairDecoder::kAvx512) return HaveAvx512();
#endif
  return decoder == PairDecoder::kPortable;
}

unsigned DecodeHexPairs(PairDecoder decoder, const unsigned char* src, unsigned char* dst, unsigned pairs) {
#if defined(TL_SRECORD_AVX512)
  if (decoder == PairDecoder::kAvx512 && HaveAvx512()) return Avx512Pairs().Decode(Pairs(), src, dst, pairs) & 0xFFu;
#endif
  (void)decoder;
  return DecodePairs(Pairs(), src, dst, pairs) & 0xFFu;
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

std::optional<LoadedImage> LoadSRecordImage(std::string_view path, const ImageProgress& progress) {
  platformName[0] = '\0';

  std::string workingPath(path);
  ConvertDrivePath(workingPath);

  FileSystem* const files = CurrentHost().files;
  std::unique_ptr<ReadableFile> file;
  if (files != nullptr) file = files->OpenRead(workingPath);
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
  // The image never outgrows the text it comes from (see the placement
  // below), padding included; only what is written of it is ever touched.
  std::unique_ptr<unsigned char[]> buffer = files->AllocateImage(n + 1);
  const std::size_t windowSize = std::min(n, kWindowSize);
  std::unique_ptr<unsigned char[]> windowBuffer(buffer ? new (std::nothrow) unsigned char[windowSize] : nullptr);
  if (!buffer || !windowBuffer) {
    ShowMessage(kOutOfMemoryMessage);
    return std::nullopt;
  }
  // Whoever was shown the image hears of it before it goes unfinished.
  struct Abandon {
    const ImageProgress& progress;
    bool told = false;
    bool kept = false;
    ~Abandon() {
      if (told && !kept) progress(nullptr, 0);
    }
  } watched{progress};
  TextWindow window(*file, n, windowBuffer.get(), windowSize);
  if (!window.Hold(0, kLongestRecord)) {
    ShowMessage(kFileReadMessage);
    return std::nullopt;
  }
  unsigned char* const image = buffer.get();

  // Platform name from an S0 first line.
  std::size_t p = 0;
  if (n >= 2 && window.At(0)[0] == 'S' && window.At(0)[1] == '0') {
    // Its first characters are in the first window, however long the line.
    std::size_t length = std::min(window.End() - 2, kPlatformNameSize - 1);
    char name[kPlatformNameSize];
    std::memcpy(name, window.At(2), length);
    std::size_t end = 2;
    for (;;) {
      if (end == n) break;
      if (!window.Hold(end, 1)) {
        ShowMessage(kFileReadMessage);
        return std::nullopt;
      }
      const unsigned char c = *window.At(end);
      if (c == 0 || c == '\r' || c == '\n') break;
      ++end;
    }
    if (end != n && *window.At(end) != 0) {
      length = std::min(end - 2, length);
      std::memcpy(platformName, name, length);
      platformName[length] = '\0';
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
  std::size_t written = 0;  // image bytes made; equals E - S
  std::size_t reported = 0;
  RecordFinder finder(window, n);
  const RunDecoder decodeRun = BestRunDecoder();
  RunShape shape;
  std::size_t lastData = 0;  // where the last data record taken starts
  const auto report = [&] {
    if (progress && written - reported >= kProgressStep) {
      reported = written;
      watched.told = true;
      progress(image, written);
    }
  };

  for (;;) {
    const std::size_t s = finder.Next(p);
    if (s == kUnknown) break;
    if (s == kReadFailed || !window.Hold(s, kLongestRecord)) {
      ShowMessage(kFileReadMessage);
      return std::nullopt;
    }
    // Whatever the record's count says, no more of it than this is read.
    const unsigned char* const r = window.At(s);

    if (shape.type != 0) {
      // Records like the last one, as far as the held text goes.
      const std::size_t stride = s - lastData;
      unsigned char* out = image + written;
      const std::size_t taken = decodeRun(table, shape, stride, r, window.At(window.End()), out, end);
      if (taken != 0) {
        written = static_cast<std::size_t>(out - image);
        anyData = anyData || shape.dataLength != 0;
        lastData = s + (taken - 1) * stride;
        p = lastData + 4 + 2 * std::size_t{shape.addressLength} + 2 * std::size_t{shape.dataLength};
        report();
        continue;
      }
    }
    const std::string_view record(reinterpret_cast<const char*>(r), std::min(n - s, kLongestRecord));
    const unsigned char type = r[1];
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
    const unsigned count = n - s >= 4 ? FastPair(table, r + 2) : 0;
    if (n - s < 4 || count < addressLength + 1 || 4 + 2 * std::size_t{count} > n - s) {
      VerifyRecordChecksum(record);  // fails and shows the sum
      ShowMessage(kRecordChecksumMessage);
      return std::nullopt;
    }
    const unsigned char* field = r + 4;
    unsigned sum = count;
    std::uint32_t address = 0;
    switch (addressLength) {
      case 2: address = ReadAddress<2>(table, field, sum); break;
      case 3: address = ReadAddress<3>(table, field, sum); break;
      case 4: address = ReadAddress<4>(table, field, sum); break;
      default: address = ReadAddress<5>(table, field, sum); break;
    }
    field += 2 * addressLength;
    const std::size_t dataOffset = s + 4 + 2 * std::size_t{addressLength};  // T
    const unsigned dataLength = count - addressLength - 1;                // D

    // Where the data goes. A hole is filled only while the image stays
    // within the text already read (the image never overtakes the text).
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
    unsigned char* out = image + written;
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
    shape.type = type;
    std::memcpy(&shape.countText, r + 2, 2);
    shape.addressLength = addressLength;
    shape.dataLength = dataLength;
    lastData = s;
    report();
  }

  // Records without a data byte give no image: a module is never sent one
  // of length 0.
  if (!anyData) {
    ShowMessage(kNoDataRecordsMessage);
    return std::nullopt;
  }
  while (end % 4 != 0) {
    image[written++] = 0;
    ++end;
  }
  if (written > std::numeric_limits<std::uint32_t>::max()) {
    ShowMessage(kConversionMessage);
    return std::nullopt;
  }

  watched.kept = true;
  LoadedImage loaded;
  loaded.imageData = std::move(buffer);
  loaded.startAddress = start;
  loaded.imageLength = static_cast<std::uint32_t>(end - start);
  return loaded;
}

}  // namespace tl
