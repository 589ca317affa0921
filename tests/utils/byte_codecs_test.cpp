// Byte-order marks, the run-length codec and the counted UTF-16 string.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "utils/byte_order_marks.h"
#include "utils/rle_codec.h"
#include "utils/unicode16_string.h"

namespace {

using bytes = std::vector<byte>;

TEST(ByteOrderMarks, TestsAndAppenders) {
  const byte ff_fe_00_00[4] = {0xFF, 0xFE, 0, 0};
  EXPECT_TRUE(has_bom_utf16le(ff_fe_00_00));
  const struct { std::vector<byte>& (*append)(std::vector<byte>&); bool (*has)(const byte*); bytes mark; } marks[] = {
      {append_bom_utf_ebcdic, has_bom_utf_ebcdic, {0xDD, 0x73, 0x66, 0x73}},
      {append_bom_utf7, has_bom_utf7, {0x2B, 0x2F, 0x76}}, {append_bom_bocu1, has_bom_bocu1, {0xFB, 0xEE, 0x28}},
      {append_bom_scsu, has_bom_scsu, {0x0E, 0xFE, 0xFF}},
      {append_bom_0000fffe, has_bom_0000fffe, {0x00, 0x00, 0xFF, 0xFE}},
      {append_bom_utf32be, has_bom_utf32be, {0x00, 0x00, 0xFE, 0xFF}},
      {append_bom_utf16le, has_bom_utf16le, {0xFF, 0xFE}}, {append_bom_utf16be, has_bom_utf16be, {0xFE, 0xFF}},
      {append_bom_utf8, has_bom_utf8, {0xEF, 0xBB, 0xBF}},
  };
  for (const auto& m : marks) {
    bytes out{0x41}, want{0x41};
    want.insert(want.end(), m.mark.begin(), m.mark.end());
    EXPECT_EQ(m.append(out), want) << "appended after what was there";
    EXPECT_TRUE(m.has(m.mark.data()));
    bytes wrong = m.mark;
    wrong.back() ^= 1;
    EXPECT_FALSE(m.has(wrong.data()));
  }
}

TEST(RleCodec, KnownStreams) {
  const struct { bytes plain, stream; } cases[] = {
      {{0x61, 0x61, 0x62}, {0x09, 0x61, 0xC4, 0x03}}, {{0x80}, {0x05, 0x80, 0x03}},
      {bytes(64, 0x41), {0xFD, 0x41, 0x05, 0x41, 0x03}},
      {{0x00, 0x7F, 0x7F, 0x7F, 0xFF}, {0x00, 0x0D, 0x7F, 0x05, 0xFF, 0x03}},
  };
  for (const auto& c : cases) {
    bytes out{0xAA};
    ASSERT_TRUE(rle_encode(c.plain, out));
    EXPECT_EQ(bytes(out.begin() + 1, out.end()), c.stream);
    bytes back;
    EXPECT_EQ(rle_decode(c.stream.data(), static_cast<int>(c.stream.size()), back), static_cast<int>(c.stream.size()));
    EXPECT_EQ(back, c.plain);
  }
  bytes out;
  EXPECT_FALSE(rle_encode({}, out));
  const bytes group{0x0F, 0x41, 0x42, 0x43, 0x03};
  EXPECT_EQ(rle_decode(group.data(), 5, out), 5);
  EXPECT_EQ(out, (bytes{0x41, 0x42, 0x43}));
  const byte end = 0x03;
  EXPECT_EQ(rle_decode(&end, 1, out), 0);
  EXPECT_EQ(out.size(), 3u);
  EXPECT_EQ(rle_encode_group(out, bytes(64, 7)), 66u);
  EXPECT_EQ(out[3], 0xFF);
  EXPECT_EQ(out[3 + 64], 0x07);
}

TEST(RleCodec, RunsOfEveryLengthAndTheEndMarker) {
  // A repeat token holds at most 63: longer runs take one token per 63.
  const struct {
    uint32 count;
    bytes tokens;
  } runs[] = {{0, {}},
              {1, {0x05, 0xE9}},
              {2, {0x09, 0xE9}},
              {63, {0xFD, 0xE9}},
              {64, {0xFD, 0xE9, 0x05, 0xE9}},
              {126, {0xFD, 0xE9, 0xFD, 0xE9}},
              {130, {0xFD, 0xE9, 0xFD, 0xE9, 0x11, 0xE9}}};
  for (const auto& r : runs) {
    bytes out{0xAA};
    EXPECT_EQ(rle_encode_run(out, 0xE9, r.count), r.tokens.size()) << r.count;
    bytes want{0xAA};
    want.insert(want.end(), r.tokens.begin(), r.tokens.end());
    EXPECT_EQ(out, want) << r.count;
    EXPECT_TRUE(rle_append_end(out));
    EXPECT_EQ(out.back(), 0x03);
    EXPECT_EQ(out.size(), want.size() + 1);
    // The tokens and the marker decode to the run again.
    if (r.count > 0) {
      bytes back;
      EXPECT_EQ(rle_decode(out.data() + 1, static_cast<int>(out.size() - 1), back), static_cast<int>(out.size() - 1));
      EXPECT_EQ(back, bytes(r.count, 0xE9)) << r.count;
    }
  }
  bytes only_end;
  EXPECT_TRUE(rle_append_end(only_end));
  EXPECT_EQ(only_end, (bytes{0x03}));
}

TEST(RleCodec, LiteralsOneTokenPerByte) {
  // Below 0x80 a one-byte literal (byte << 1); from 0x80 a repeat of one.
  bytes out{0xAA};
  EXPECT_EQ(rle_encode_literals(out, {0x00, 0x41, 0x7F, 0x80, 0xFF, 0x41}), 8u);
  EXPECT_EQ(out, (bytes{0xAA, 0x00, 0x82, 0xFE, 0x05, 0x80, 0x05, 0xFF, 0x82}));
  EXPECT_EQ(rle_encode_literals(out, {}), 0u);
  EXPECT_EQ(out.size(), 9u);
  bytes back;
  out.push_back(0x03);
  EXPECT_EQ(rle_decode(out.data() + 1, static_cast<int>(out.size() - 1), back), 9);
  EXPECT_EQ(back, (bytes{0x00, 0x41, 0x7F, 0x80, 0xFF, 0x41}));
}

TEST(RleCodec, RandomRoundTripsAndEveryTruncation) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    bytes plain;
    const int parts = rng() % 20 + 1;
    for (int p = 0; p < parts; ++p) {
      const byte v = static_cast<byte>(rng());
      plain.insert(plain.end(), rng() % 3 ? 1 : rng() % 150 + 1, v);
    }
    bytes stream;
    ASSERT_TRUE(rle_encode(plain, stream));
    bytes back;
    ASSERT_EQ(rle_decode(stream.data(), static_cast<int>(stream.size()), back), static_cast<int>(stream.size()));
    ASSERT_EQ(back, plain);
    // Each cut-off stream in a buffer of exactly its size: decoding stops
    // with a prefix of the data and never reads beyond.
    for (size_t cut = 1; cut < stream.size(); ++cut) {
      std::unique_ptr<byte[]> prefix(new byte[cut]);
      std::copy(stream.begin(), stream.begin() + cut, prefix.get());
      bytes part;
      const int used = rle_decode(prefix.get(), static_cast<int>(cut), part);
      ASSERT_LE(used, static_cast<int>(cut));
      ASSERT_LE(part.size(), plain.size());
      ASSERT_TRUE(std::equal(part.begin(), part.end(), plain.begin()));
    }
  }
  const byte repeat_alone = 0x09, group_short[2] = {0x0F, 0x41};
  bytes out;
  EXPECT_EQ(rle_decode(&repeat_alone, 1, out), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(rle_decode(group_short, 2, out), -1);
  EXPECT_EQ(out, bytes{0x41});
  EXPECT_EQ(rle_decode(nullptr, 4, out), 0);
}

TEST(RleCodec, FindRuns) {
  const bytes data{1, 1, 2, 3, 3, 3, 4};
  std::vector<uint32> starts{9}, lengths;
  bytes values;
  ASSERT_TRUE(rle_find_runs(data.data(), 7, 2, starts, lengths, values));
  EXPECT_EQ(starts, (std::vector<uint32>{0, 3}));
  EXPECT_EQ(lengths, (std::vector<uint32>{2, 3}));
  EXPECT_EQ(values, (bytes{1, 3}));
  EXPECT_FALSE(rle_find_runs(data.data(), 7, 4, starts, lengths, values));
  EXPECT_FALSE(rle_find_runs(data.data(), 7, 0, starts, lengths, values));
  EXPECT_FALSE(rle_find_runs(data.data(), 1, 2, starts, lengths, values));
  EXPECT_TRUE(starts.empty());
}

std::vector<uint16> units_of(const unicode16_string& s) { return std::vector<uint16>(s.buffer, s.buffer + s.length / 2); }

TEST(Unicode16String, OwnedGrowsBorrowedRefuses) {
  unicode16_string s(4);
  s.append(L"ab");
  s.append(L"cd");
  s.append("\xE9");
  EXPECT_EQ(units_of(s), (std::vector<uint16>{0x61, 0x62, 0, 0x63, 0x64, 0, 0xFFE9, 0}));

  uint16 borrowed[4] = {9, 9, 9, 9};
  unicode16_string b;
  b.init(borrowed, 8);
  b.append(L"abcd");  // needs 10 bytes
  EXPECT_EQ(b.length, 0);
  EXPECT_EQ(borrowed[1], 9);
  b.append(L"abc");
  EXPECT_EQ(b.length, 8);
  EXPECT_EQ(borrowed[3], 0);
  // A borrowed length beyond the capacity must not place the next text outside.
  b.attach(borrowed, 40, 8);
  b.append(L"x");
  EXPECT_EQ(borrowed[3], 0);
}

TEST(Unicode16String, ClearZeroesTheWholeBuffer) {
  unicode16_string s(4);
  s.append(L"\u00e9b");
  ASSERT_EQ(s.length, 6);
  s.clear();
  EXPECT_EQ(s.length, 0);
  EXPECT_EQ(s.capacity, 8);
  EXPECT_EQ(std::vector<uint16>(s.buffer, s.buffer + 4), std::vector<uint16>(4, 0));
  s.append(L"x");
  EXPECT_EQ(units_of(s), (std::vector<uint16>{'x', 0})) << "appends start again at the front";

  // A borrowed buffer is zeroed over its capacity and no further.
  uint16 borrowed[5] = {1, 2, 3, 4, 5};
  unicode16_string b;
  b.attach(borrowed, 6, 8);
  b.clear();
  EXPECT_EQ(b.length, 0);
  EXPECT_EQ(std::vector<uint16>(borrowed, borrowed + 5), (std::vector<uint16>{0, 0, 0, 0, 5}));
  unicode16_string none;
  none.clear();
  EXPECT_EQ(none.length, 0);
  EXPECT_EQ(none.capacity, 0);
}

TEST(Unicode16String, NeverPasses65535Bytes) {
  unicode16_string s(1);
  const std::wstring big(32766, L'x');  // 65,534 bytes with its NUL
  s.append(big.c_str());
  ASSERT_EQ(s.length, 65534);
  s.append(L"");  // two more bytes would pass the limit
  EXPECT_EQ(s.length, 65534);
  unicode16_string t(1);
  t.append(std::wstring(32767, L'y').c_str());
  EXPECT_EQ(t.length, 0);
  EXPECT_EQ(t.capacity, 2);

  // Records made for more units than a 16-bit byte count describes own their
  // buffer all the same; the count says what may be used of it.
  for (const uint16 units : {uint16(32768), uint16(40000), uint16(65535)}) {
    unicode16_string big(units);
    ASSERT_TRUE(big.owned) << units;
    ASSERT_NE(big.buffer, nullptr) << units;
    EXPECT_EQ(big.buffer[0], 0) << units;
    EXPECT_EQ(big.length, 0) << units;
    EXPECT_EQ(big.capacity, 0xFFFF) << units;
    big.append(L"ab");
    EXPECT_EQ(units_of(big), (std::vector<uint16>{'a', 'b', 0})) << units;
    const uint16* before = big.buffer;
    big.append(std::wstring(32763, L'z').c_str());  // to 65,534 bytes, in place
    EXPECT_EQ(big.length, 65534) << units;
    EXPECT_EQ(big.buffer, before) << units;
    EXPECT_EQ(big.buffer[32766], 0) << units;
    big.append(L"");
    EXPECT_EQ(big.length, 65534) << units;
    big.clear();
    EXPECT_EQ(big.length, 0) << units;
    EXPECT_EQ(big.buffer[3], 0) << units;
    EXPECT_EQ(big.buffer[32765], 0) << units;
  }
}

}  // namespace
