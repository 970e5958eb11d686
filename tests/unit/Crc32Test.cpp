#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "efs/EntryCodec.h"

namespace {

// The container's CRC must stay the one zlib computes: old setup files carry it.
TEST(Crc32, MatchesZlibOnEveryLengthAlignmentAndSplit) {
  std::vector<unsigned char> data(4096 + 16);
  uint32_t seed = 12345;
  for (unsigned char& b : data) b = (unsigned char)((seed = seed * 1103515245u + 12345u) >> 16);
  EXPECT_EQ(0xCBF43926u, EfsCrc32(0, (const unsigned char*)"123456789", 9));
  EXPECT_EQ(0u, EfsCrc32(0, data.data(), 0));
  for (uint32_t offset = 0; offset < 8; ++offset) {
    for (uint32_t n : {1u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 1000u, 4096u}) {
      const unsigned char* p = data.data() + offset;
      const uint32_t expected = (uint32_t)crc32(0, p, n);
      ASSERT_EQ(expected, EfsCrc32(0, p, n)) << "offset " << offset << ", " << n << " bytes";
      // continued over two calls, split at an odd place
      const uint32_t half = n / 3;
      ASSERT_EQ(expected, EfsCrc32(EfsCrc32(0, p, half), p + half, n - half)) << "split " << half;
    }
  }
}

}  // namespace
