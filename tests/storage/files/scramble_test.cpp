#include "storage/files/scramble.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

namespace cairn {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

TEST(ScrambleTest, TwiceRestoresAndOnceChanges) {
  for (uint16_t seed : {kBufferSeed, kHeaderStringSeed, uint16_t(0x0102)}) {
    for (size_t n :
         {size_t(1), size_t(255), size_t(256), size_t(257), size_t(65537), size_t(70000)}) {
      auto original = RandomBytes(n, unsigned(n));
      auto v = original;
      Scramble(v, seed);
      EXPECT_NE(v, original) << "seed " << seed << " length " << n;
      Scramble(v.data(), v.size(), seed);
      EXPECT_EQ(v, original) << "seed " << seed << " length " << n;
    }
  }
}

TEST(ScrambleTest, LengthsWithLow16BitsZeroAreLeftAlone) {
  for (size_t n : {size_t(0), size_t(65536), size_t(131072)}) {
    auto original = RandomBytes(n, 7);
    auto v = original;
    Scramble(v, kBufferSeed);
    EXPECT_EQ(v, original) << n;
  }
}

TEST(ScrambleTest, ByteIIsXoredWithLowPlusIAndHighMinusI) {
  const uint16_t seed = 0x80FE;  // l = 0xFE, h = 0x80: both wrap within the run
  std::vector<uint8_t> v(600, 0);
  Scramble(v, seed);
  for (size_t i = 0; i < v.size(); ++i) {
    uint8_t l = uint8_t(0xFE + i);
    uint8_t h = uint8_t(0x80 - i);
    ASSERT_EQ(v[i], uint8_t(l ^ h)) << i;
  }
}

TEST(ScrambleTest, EveryCallRestartsFromTheSeed) {
  // Two slots scrambled one after the other each start from the seed, so
  // equal slots scramble equally; as one run they would not.
  auto slot = RandomBytes(100, 3);
  std::vector<uint8_t> first = slot;
  std::vector<uint8_t> second = slot;
  Scramble(first, kBufferSeed);
  Scramble(second, kBufferSeed);
  EXPECT_EQ(first, second);

  std::vector<uint8_t> joined = slot;
  joined.insert(joined.end(), slot.begin(), slot.end());
  Scramble(joined, kBufferSeed);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), joined.begin()));
  EXPECT_FALSE(std::equal(second.begin(), second.end(), joined.begin() + 100));
}

TEST(ScrambleTest, SeedsAreFixedForever) {
  // Encrypted tables already on disk depend on these exact bytes.
  std::vector<uint8_t> v(8, 0);
  Scramble(v, kBufferSeed);
  EXPECT_EQ(v, (std::vector<uint8_t>{0x9B, 0x9B, 0x9B, 0xE3, 0xE3, 0xE3, 0xE3, 0xDB}));
  std::vector<uint8_t> w(8, 0);
  Scramble(w, kHeaderStringSeed);
  EXPECT_EQ(w, (std::vector<uint8_t>{0x9C, 0x9A, 0x98, 0x9A, 0x9C, 0xA2, 0xA0, 0xA2}));
}

}  // namespace
}  // namespace cairn
