// Packed timestamp lists: the layout, the chosen width, and a decoder that
// never reads past its buffer.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "time/zq_time.h"

namespace {

std::vector<uint64> decoded(const std::vector<byte>& packed, uint32* used = nullptr) {
  std::vector<uint64> out{99};
  const uint32 n = zq::decode_packed_times(packed.data(), static_cast<uint32>(packed.size()), out);
  if (used) *used = n;
  return out;
}

}  // namespace

TEST(PackedTimes, LayoutAndWidths) {
  struct Case {
    std::vector<uint64> times;
    bool ms;
    std::vector<byte> packed;
    std::vector<uint64> back;
  } cases[] = {
      {{0x0123456789ABCDEULL}, false,
       {0x00, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x00}, {0x0123456789ABCDEULL}},
      {{1000, 990, 700}, false,
       {0x02, 0xE8, 0x03, 0, 0, 0, 0, 0, 0x10, 10, 0, 0x2C, 0x01}, {1000, 990, 700}},
      {{1000, 990, 700}, true, {0x42, 0xE8, 0x03, 0, 0, 0, 0, 0, 0x00, 0, 0}, {1000, 1000, 1000}},
      // The largest time is the base wherever it stands; a zero is its own
      // distance below it.
      {{5, 0, 300}, false, {0x12, 0x2C, 0x01, 0, 0, 0, 0, 0, 0x10, 0x27, 0x01, 0x2C, 0x01},
       {5, 0, 300}},
      // Bits 56-59 of the base go in the low half of byte 8.
      {{0x0F00000000000001ULL, 0x0F00000000000000ULL}, false,
       {0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x0F, 0x01}, {0x0F00000000000001ULL, 0x0F00000000000000ULL}},
  };
  for (const Case& c : cases) {
    std::vector<byte> packed{0xAA};  // appended after what is there
    const uint16 n = zq::encode_packed_times(c.times, packed, c.ms);
    EXPECT_EQ(n, c.packed.size());
    ASSERT_EQ(packed.size(), c.packed.size() + 1);
    EXPECT_EQ(std::vector<byte>(packed.begin() + 1, packed.end()), c.packed);
    uint32 used = 0;
    EXPECT_EQ(decoded(c.packed, &used), c.back);
    EXPECT_EQ(used, c.packed.size());
  }

  // A distance of 2^48 needs all eight bytes.
  std::vector<byte> wide;
  EXPECT_EQ(zq::encode_packed_times({1ULL << 59, (1ULL << 59) - (1ULL << 48)}, wide, false), 17);
}

TEST(PackedTimes, RefusedLists) {
  const std::vector<std::vector<uint64>> refused = {
      {},
      {1, 2, 3, 4, 5, 6, 7, 8, 9},
      {100, 0x8000000000000000ULL},
      // A base of 2^60 or more would come back without its top bits.
      {1ULL << 60},
      {5, 0x7000000000000000ULL},
  };
  for (const auto& times : refused) {
    std::vector<byte> packed{1, 2};
    EXPECT_EQ(zq::encode_packed_times(times, packed, false), 0);
    EXPECT_EQ(packed, (std::vector<byte>{1, 2}));
  }
}

TEST(PackedTimes, RandomListsComeBack) {
  std::mt19937_64 rng(14);
  for (int round = 0; round < 2000; ++round) {
    const size_t count = 1 + rng() % 8;
    const uint64 base = rng() % (1ULL << 60);
    const int spread = static_cast<int>(rng() % 61);
    std::vector<uint64> times;
    for (size_t i = 0; i < count; ++i) {
      const uint64 d = spread ? rng() % (1ULL << spread) : 0;
      times.push_back(d > base ? 0 : base - d);
    }
    std::vector<byte> packed;
    const uint16 n = zq::encode_packed_times(times, packed, false);
    ASSERT_EQ(n, packed.size());
    EXPECT_EQ(decoded(packed), times);
  }
}

TEST(PackedTimes, DecoderStaysInsideItsBuffer) {
  std::vector<byte> packed;
  zq::encode_packed_times({1ULL << 40, 1, 2, 3, 4, 5, 6, 7}, packed, false);
  ASSERT_EQ(packed.size(), 9u + 7 * 6);
  // Every shorter buffer, allocated to its exact size so that the address
  // sanitizer sees any read beyond it.
  for (size_t len = 0; len < packed.size(); ++len) {
    std::vector<byte> cut(packed.begin(), packed.begin() + static_cast<long>(len));
    std::vector<uint64> out{1};
    EXPECT_EQ(zq::decode_packed_times(cut.data(), static_cast<uint32>(len), out), 0u) << len;
    EXPECT_TRUE(out.empty());
  }
  std::vector<uint64> out;
  EXPECT_EQ(zq::decode_packed_times(nullptr, 100, out), 0u);

  // Nine bytes with a count of one are a whole list.
  std::vector<byte> one(packed.begin(), packed.begin() + 9);
  one[0] = 0;
  EXPECT_EQ(decoded(one), (std::vector<uint64>{1ULL << 40}));

  // A base index at or past the count is damage, not a list.
  std::vector<byte> damaged = packed;
  damaged[0] = static_cast<byte>(1 | (2 << 3));
  EXPECT_TRUE(decoded(damaged).empty());

  // A width the encoder never writes (3 bytes) is stepped over: the base
  // alone comes back, and the bytes it takes are counted.
  std::vector<byte> odd = {0x02, 0x10, 0, 0, 0, 0, 0, 0, 0x20, 1, 2, 3, 4, 5, 6};
  uint32 used = 0;
  EXPECT_EQ(decoded(odd, &used), (std::vector<uint64>{0x10}));
  EXPECT_EQ(used, 15u);
}
