#include "cli/image_hasher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

namespace tl::cli {
namespace {

TEST(ImageHasher, EveryByteIsGivenOnceAndHashed) {
  // Images grown in steps small and large, so that the bytes are given
  // away now by the loader's thread, now by the hasher's.
  for (std::size_t step : {std::size_t{1} << 10, std::size_t{256} << 10, std::size_t{3} << 20}) {
    std::vector<unsigned char> image((std::size_t{9} << 20) + 7);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 131 + i / 4099);
    std::mutex mutex;
    std::vector<int> given(image.size(), 0);
    bool sameBytes = true;
    std::size_t grown = 0;  // only final bytes are given
    {
      ImageHasher hasher([&](std::size_t offset, const unsigned char* data, std::size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_LE(offset + length, grown);
        for (std::size_t i = 0; i < length; ++i) {
          ++given[offset + i];
          sameBytes = sameBytes && data[i] == image[offset + i];
        }
      });
      const auto grow = [&](std::size_t length) {
        std::lock_guard<std::mutex> lock(mutex);
        grown = length;
      };
      for (std::size_t length = step; length < image.size(); length += step) {
        grow(length);
        hasher.Grow(image.data(), length);
      }
      grow(image.size());
      EXPECT_EQ(hasher.Digest(image.data(), image.size()), Sha256Of(image.data(), image.size())) << step;
    }
    EXPECT_TRUE(sameBytes) << step;
    EXPECT_EQ(std::count(given.begin(), given.end(), 1), static_cast<std::ptrdiff_t>(image.size())) << step;
  }
}

}  // namespace
}  // namespace tl::cli
