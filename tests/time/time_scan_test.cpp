// The carver's FILETIME window scan and the byte-position scans, on
// hand-built slack buffers.
#include <gtest/gtest.h>

#include <vector>

#include "time/zq_time.h"
#include "utils/byte_order.h"

namespace {

constexpr uint64 kLow = 121493952000000000ULL;   // 1986-01-01
constexpr uint64 kHigh = 157469184000000000ULL;  // 2100-01-01
constexpr uint64 kInside = 132000000000000000ULL;  // 2019

// A buffer of `slots` 8-byte slots holding `filler`, with `value` stored at
// the listed slots.
std::vector<byte> slack(int slots, const std::vector<int>& at, uint64 value,
                        uint64 filler = 0x4141414141414141ULL) {
  std::vector<byte> buf(static_cast<size_t>(slots) * 8);
  for (int i = 0; i < slots; ++i) store_u64(buf.data() + i * 8, filler);
  for (int i : at) store_u64(buf.data() + i * 8, value);
  return buf;
}

}  // namespace

TEST(TimeScan, WindowScanStrideRules) {
  struct row {
    const char* name;
    int slots;
    std::vector<int> at;
    uint64 value;
    uint64 base;
    int step;
    std::vector<ulong64> expect;
  } rows[] = {
      {"hits in 0 and 2: 2 lies in the skipped 32 bytes", 8, {0, 2}, kInside, 0, 32, {0}},
      {"a hit in slot 4 after one in slot 0", 8, {0, 4}, kInside, 0, 32, {0, 32}},
      {"the base is added", 4, {1}, kInside, 4096, 32, {4104}},
      {"step 8 reports neighbours", 4, {1, 2}, kInside, 0, 8, {8, 16}},
      {"low bound is inside", 3, {2}, kLow, 0, 32, {16}},
      {"high bound is inside", 3, {0}, kHigh, 0, 32, {0}},
      {"one tick below low is outside", 3, {1}, kLow - 1, 0, 32, {}},
      {"one tick above high is outside", 3, {1}, kHigh + 1, 0, 32, {}},
      {"the last slot is examined", 5, {4}, kInside, 0, 32, {32}},
      {"a skip past the end stops", 5, {3}, kInside, 0, 64, {24}},
  };
  for (const row& r : rows) {
    const std::vector<byte> buf = slack(r.slots, r.at, r.value);
    std::vector<ulong64> hits = {999};
    const bool found = zq::scan_filetimes_in_range(hits, buf.data(), static_cast<int>(buf.size()),
                                                   r.base, kLow, kHigh, r.step);
    EXPECT_EQ(found, !r.expect.empty()) << r.name;
    EXPECT_EQ(hits, r.expect) << r.name;
  }
}

TEST(TimeScan, WindowScanRefusals) {
  std::vector<byte> buf = slack(4, {0}, kInside);
  struct row {
    const byte* data;
    int length, step;
  } rows[] = {
      {buf.data(), 7, 32}, {nullptr, 32, 32}, {buf.data(), 32, 0}, {buf.data(), 32, 12}, {buf.data(), -8, 32},
      {buf.data(), 32, -8},  // a negative step would walk backwards forever
  };
  std::vector<ulong64> hits;
  for (const row& r : rows) {
    hits.assign(1, 7);
    EXPECT_FALSE(zq::scan_filetimes_in_range(hits, r.data, r.length, 0, kLow, kHigh, r.step));
    EXPECT_TRUE(hits.empty());
  }
  // Trailing bytes after the last whole slot are not read.
  std::vector<byte> tail(15, 0);
  store_u64(tail.data() + 7, kInside);
  EXPECT_FALSE(zq::scan_filetimes_in_range(hits, tail.data(), 15, 0, kLow, kHigh, 8));
  EXPECT_FALSE(zq::scan_filetimes_in_range(hits, buf.data(), 32, 0, kHigh, kLow, 8));
}

TEST(TimeScan, BytePositionScans) {
  // Every non-zero 32-bit value is a valid Unix time, so one non-zero byte
  // makes hits at each position whose four bytes cover it. A byte at 8 of
  // 12 is covered from 5 to 8, but the last position (8) is not examined.
  std::vector<byte> buf(12, 0);
  buf[8] = 1;
  std::vector<zq::time> times;
  std::vector<uint32> offsets;
  ASSERT_TRUE(zq::scan_unix_times(buf.data(), 12, times, offsets));
  EXPECT_EQ(offsets, (std::vector<uint32>{5, 6, 7}));
  ASSERT_EQ(times.size(), 3u);
  EXPECT_TRUE(times[0].m_unix_time == 0x01000000u && times[2].m_unix_time == 0x100u);
  std::vector<byte> zeros(12, 0);
  ASSERT_TRUE(zq::scan_unix_times(zeros.data(), 12, times, offsets));
  EXPECT_TRUE(offsets.empty());
  EXPECT_FALSE(zq::scan_unix_times(buf.data(), 7, times, offsets));
  EXPECT_FALSE(zq::scan_unix_times(nullptr, 12, times, offsets));

  // A FILETIME at byte 1 of 10 bytes: position 1 is the last examined.
  std::vector<byte> stamps(10, 0);
  store_u64(stamps.data() + 1, kInside);
  ASSERT_TRUE(zq::scan_stamps(stamps.data(), 10, times, offsets));
  ASSERT_EQ(offsets, std::vector<uint32>{1});
  EXPECT_EQ(times[0].m_filetime, kInside);
  // A small value reads as both Unix seconds and... nothing else: Unix first.
  std::vector<byte> both(9, 0);
  store_u64(both.data(), 1577836800u);
  ASSERT_TRUE(zq::scan_stamps(both.data(), 9, times, offsets));
  ASSERT_EQ(offsets, std::vector<uint32>{0});
  EXPECT_EQ(times[0].year(), 2020);
  EXPECT_FALSE(zq::scan_stamps(both.data(), 7, times, offsets));
  EXPECT_TRUE(times.empty());
}
