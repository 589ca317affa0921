// Version-1 GUID times against Python's uuid module.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "time/zq_time.h"

namespace {

struct PythonGuid {
  const char* bytes_le;
  uint64 time;  // 100-ns ticks since 1582-10-15
  uint16 clock_seq;
  uint64 node;
};

const PythonGuid kGuids[] = {
#include "tests/time/guid_times.inc"
};

std::vector<byte> from_hex(const std::string& hex) {
  std::vector<byte> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<byte>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace

TEST(GuidTime, AgreesWithPythonUuid) {
  int before_1601 = 0;
  for (const PythonGuid& g : kGuids) {
    const std::vector<byte> bytes = from_hex(g.bytes_le);
    ASSERT_EQ(bytes.size(), 16u);
    uint64 filetime = 1;
    uint16 clock_seq = 1;
    std::vector<byte> node;
    const bool ok = zq::guid_to_filetime(filetime, clock_seq, node, bytes.data());
    if (g.time < zq::guid_epoch_ticks) {
      ++before_1601;
      EXPECT_FALSE(ok) << g.bytes_le;
      EXPECT_EQ(filetime, 0u);
      EXPECT_TRUE(node.empty());
      continue;
    }
    ASSERT_TRUE(ok) << g.bytes_le;
    EXPECT_EQ(filetime, g.time - 5748192000000000ULL) << g.bytes_le;
    EXPECT_EQ(clock_seq, g.clock_seq) << g.bytes_le;
    std::vector<byte> expected_node;
    for (int i = 5; i >= 0; --i) expected_node.push_back(static_cast<byte>(g.node >> (8 * i)));
    EXPECT_EQ(node, expected_node) << g.bytes_le;
  }
  // The table reaches both sides of 1601.
  EXPECT_GT(before_1601, 0);
  EXPECT_LT(before_1601, 150);
}

TEST(GuidTime, VersionAndEpochEdges) {
  // 6ba7b810-9dad-11d1-80b4-00c04fd430c8 as stored, and a version-4 GUID.
  std::vector<byte> v1 = from_hex("10b8a76bad9dd11180b400c04fd430c8");
  const std::vector<byte> v4 = from_hex("a1b2c3d4e5f6074889aabbccddeeff00");
  uint64 filetime = 7;
  uint16 clock_seq = 7;
  std::vector<byte> node{1};
  EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, v4.data()));
  EXPECT_EQ(filetime, 0u);
  EXPECT_EQ(clock_seq, 0u);
  EXPECT_EQ(node, std::vector<byte>{1});
  EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, nullptr));

  node.clear();
  ASSERT_TRUE(zq::guid_to_filetime(filetime, clock_seq, node, v1.data()));
  ASSERT_TRUE(zq::guid_to_filetime(filetime, clock_seq, node, v1.data()));
  EXPECT_EQ(node.size(), 12u);
  EXPECT_EQ(clock_seq, 0x00b4);

  // Time fields exactly at 1601-01-01 (0x146BF33E42C000), and a tick before.
  const byte at_1601[] = {0x00, 0xC0, 0x42, 0x3E, 0xF3, 0x6B, 0x14, 0x10};
  const byte before_1601[] = {0xFF, 0xBF, 0x42, 0x3E, 0xF3, 0x6B, 0x14, 0x10};
  std::copy(at_1601, at_1601 + 8, v1.begin());
  filetime = 9;
  EXPECT_TRUE(zq::guid_to_filetime(filetime, clock_seq, node, v1.data()));
  EXPECT_EQ(filetime, 0u);
  std::copy(before_1601, before_1601 + 8, v1.begin());
  EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, v1.data()));
}
