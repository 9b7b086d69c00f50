#include "platform/core/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/platform/sha256_vectors.h"

namespace tl {
namespace {

TEST(Sha256, KnownMessagesWholeAndInPieces) {
  std::size_t count = 0;
  const test::Sha256Vector* vectors = test::Sha256Vectors(&count);
  for (std::size_t v = 0; v < count; ++v) {
    const test::Sha256Vector& vector = vectors[v];
    SCOPED_TRACE(vector.name);
    const std::optional<Sha256Digest> whole = Sha256Of(vector.message.data(), vector.message.size());
    ASSERT_TRUE(whole);
    EXPECT_EQ(Sha256Hex(*whole), vector.hex);

    // Pieces that end inside, on and across the 64-byte blocks.
    for (std::size_t step : {1u, 63u, 64u, 65u, 4093u}) {
      Sha256 sha;
      for (std::size_t at = 0; at < vector.message.size(); at += step) {
        sha.Add(vector.message.data() + at, std::min(step, vector.message.size() - at));
      }
      const std::optional<Sha256Digest> pieces = sha.Finish();
      ASSERT_TRUE(pieces) << step;
      EXPECT_EQ(*pieces, *whole) << step;
    }
  }
}

}  // namespace
}  // namespace tl
