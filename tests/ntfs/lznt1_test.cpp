// LZNT1 chunks: literals, copy tokens and their split, stored chunks, units.
#include "ntfs/lznt1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace {

std::vector<byte> chunk(uint16 header, const std::vector<byte>& data) {
  std::vector<byte> c(2 + data.size());
  c[0] = static_cast<byte>(header);
  c[1] = static_cast<byte>(header >> 8);
  std::copy(data.begin(), data.end(), c.begin() + 2);
  return c;
}

// A compressed chunk around `data` (the size field counts data bytes - 1).
std::vector<byte> compressed(const std::vector<byte>& data) {
  return chunk(static_cast<uint16>(0xB000 | (data.size() - 1)), data);
}

}  // namespace

TEST(Lznt1, LiteralAndOverlappingCopyThenZeros) {
  // Flags 0x02: a literal 'A', then a token copying 99 bytes from distance 1.
  const std::vector<byte> data = {0x02, 'A', 99 - 3, 0x00};
  byte* out = nullptr;
  uint32 size = 0;
  ASSERT_TRUE(lznt1_decompress_chunk(data.data(), static_cast<int>(data.size()), out, size, 4096, true));
  ASSERT_EQ(size, 4096u);
  for (uint32 i = 0; i < 100; ++i) ASSERT_EQ(out[i], 'A') << i;
  for (uint32 i = 100; i < 4096; ++i) ASSERT_EQ(out[i], 0) << i;
  delete[] out;
}

TEST(Lznt1, TokenSplitFollowsTheBytesProduced) {
  struct Case {
    ulong64 produced;
    uint16 token;
    uint32 distance, length;
  };
  const Case cases[] = {
      {16, 0xF00F, 16, 18},     // 4 distance bits, 12 length bits
      {17, 0x0803, 2, 6},       // 5 distance bits, 11 length bits
      {17, 0xF80F, 32, 18},
      {4096, 0xFFFF, 4096, 18},  // 12 distance bits, 4 length bits
      {4096, 0x0010, 2, 3},
  };
  for (const Case& c : cases) {
    uint32 distance = 0;
    uint32 length = 0;
    lznt1_split_token(c.token, c.produced, distance, length);
    EXPECT_EQ(distance, c.distance) << c.produced;
    EXPECT_EQ(length, c.length) << c.produced;
  }
}

TEST(Lznt1, CorruptChunksFail) {
  struct Case {
    const char* what;
    std::vector<byte> data;
  };
  const Case cases[] = {
      {"copy before any output", {0x01, 0x00, 0x00}},
      {"copy reaching before the output", {0x02, 'A', 0x00, 0x10}},
      {"token cut by the end", {0x02, 'A', 0x05}},
  };
  for (const Case& c : cases) {
    byte* out = nullptr;
    uint32 size = 0;
    EXPECT_FALSE(lznt1_decompress_chunk(c.data.data(), static_cast<int>(c.data.size()), out, size, 4096, true))
        << c.what;
    EXPECT_EQ(out, nullptr) << c.what;
  }
  // A copy past a caller's capacity.
  std::vector<byte> small(8);
  byte* out = small.data();
  uint32 capacity = 8;
  const std::vector<byte> data = {0x02, 'A', 20, 0x00};
  EXPECT_FALSE(lznt1_decompress_chunk(data.data(), 4, out, capacity, 8, false));
}

TEST(Lznt1, StreamStopsAtTheWantedCountAndSkipsToTheNextUnit) {
  std::vector<byte> stored;
  for (int c = 0; c < 2; ++c) {
    std::vector<byte> plain(4096, static_cast<byte>('a' + c));
    const std::vector<byte> one = chunk(0x3FFF, plain);
    stored.insert(stored.end(), one.begin(), one.end());
  }
  std::ostringstream out;
  ulong64 written = 0;
  ASSERT_TRUE(lznt1_decompress_to_stream(stored.data(), static_cast<int>(stored.size()), out, 5000, written));
  EXPECT_EQ(written, 5000u);
  EXPECT_EQ(out.str(), std::string(4096, 'a') + std::string(904, 'b'));

  // A zero header ends the unit: the next chunk is read at 4096.
  std::vector<byte> units(4096 + 16, 0);
  const std::vector<byte> first = compressed({0x00, 'x', 'y'});
  const std::vector<byte> second = compressed({0x00, 'z'});
  std::copy(first.begin(), first.end(), units.begin());
  std::copy(second.begin(), second.end(), units.begin() + 4096);
  std::ostringstream both;
  ASSERT_TRUE(lznt1_decompress_to_stream(units.data(), static_cast<int>(units.size()), both, 8192, written));
  const std::string text = both.str();
  ASSERT_EQ(text.size(), 8192u);
  EXPECT_EQ(text.substr(0, 2), "xy");
  EXPECT_EQ(text.substr(4096, 1), "z");

  uint32 pos = 0x100;
  std::vector<byte> zero(0x200, 0);
  std::ostringstream none;
  ASSERT_TRUE(lznt1_write_chunk(zero.data(), static_cast<int>(zero.size()), none, pos));
  EXPECT_EQ(pos, 0x1000u);
}

TEST(Lznt1, UnitPadsShortChunksAndRefusesOverruns) {
  std::vector<byte> src = compressed({0x00, '1', '2'});
  const std::vector<byte> next = compressed({0x00, '3'});
  src.insert(src.end(), next.begin(), next.end());
  std::vector<byte> dst(16384, 0xEE);
  ASSERT_TRUE(lznt1_decompress_unit(src.data(), static_cast<uint32>(src.size()), dst.data(), 16384));
  EXPECT_EQ(dst[0], '1');
  EXPECT_EQ(dst[1], '2');
  EXPECT_EQ(dst[2], 0);
  EXPECT_EQ(dst[4096], '3');
  EXPECT_EQ(dst[16383], 0);

  // A size field past the end of the source.
  std::vector<byte> cut = compressed({0x00, 'a', 'b', 'c'});
  cut.resize(cut.size() - 2);
  EXPECT_FALSE(lznt1_decompress_unit(cut.data(), static_cast<uint32>(cut.size()), dst.data(), 4096));
}
