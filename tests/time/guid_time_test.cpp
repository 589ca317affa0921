// Version-1 GUID times against Python's uuid module.
#include <gtest/gtest.h>

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
  for (const PythonGuid& g : kGuids) {
    const std::vector<byte> bytes = from_hex(g.bytes_le);
    uint64 filetime = 1;
    uint16 clock_seq = 1;
    // The node is appended to what the vector holds.
    std::vector<byte> node{0xEE};
    const bool ok = zq::guid_to_filetime(filetime, clock_seq, node, bytes.data());
    if (g.time < 5748192000000000ULL) {  // before 1601
      EXPECT_FALSE(ok) << g.bytes_le;
      EXPECT_EQ(filetime, 0u);
      EXPECT_EQ(node.size(), 1u);
      continue;
    }
    ASSERT_TRUE(ok) << g.bytes_le;
    EXPECT_EQ(filetime, g.time - 5748192000000000ULL) << g.bytes_le;
    EXPECT_EQ(clock_seq, g.clock_seq) << g.bytes_le;
    std::vector<byte> expected_node{0xEE};
    for (int i = 5; i >= 0; --i) expected_node.push_back(static_cast<byte>(g.node >> (8 * i)));
    EXPECT_EQ(node, expected_node) << g.bytes_le;
  }
}

TEST(GuidTime, OnlyVersionOne) {
  // A version-4 GUID, and a version-1 one with its version nibble 0 and 3.
  for (const char* hex : {"a1b2c3d4e5f6074889aabbccddeeff00", "10b8a76bad9dd10180b400c04fd430c8",
                          "10b8a76bad9dd13180b400c04fd430c8"}) {
    const std::vector<byte> bytes = from_hex(hex);
    uint64 filetime = 7;
    uint16 clock_seq = 7;
    std::vector<byte> node{1};
    EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, bytes.data())) << hex;
    EXPECT_TRUE(filetime == 0 && clock_seq == 0 && node == std::vector<byte>{1}) << hex;
  }
  uint64 filetime = 0;
  uint16 clock_seq = 0;
  std::vector<byte> node;
  EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, nullptr));
}

// The GUID as a record of its fields: built here from Python's time, clock
// sequence and node (RFC 4122 variant), it must give what Python gave.
TEST(GuidTime, RecordFormAgreesWithPythonUuid) {
  for (const PythonGuid& g : kGuids) {
    GUID guid;
    guid.Data1 = static_cast<uint32>(g.time);
    guid.Data2 = static_cast<uint16>(g.time >> 32);
    guid.Data3 = static_cast<uint16>(((g.time >> 48) & 0x0FFF) | 0x1000);
    guid.Data4[0] = static_cast<byte>(0x80 | (g.clock_seq >> 8));
    guid.Data4[1] = static_cast<byte>(g.clock_seq);
    for (int i = 0; i < 6; ++i) guid.Data4[2 + i] = static_cast<byte>(g.node >> (8 * (5 - i)));
    uint64 filetime = 1;
    uint16 clock_seq = 1;
    std::vector<byte> node{0xEE};
    const bool ok = zq::guid_to_filetime(filetime, clock_seq, node, guid);
    if (g.time < 5748192000000000ULL) {
      EXPECT_TRUE(!ok && filetime == 0 && clock_seq == 0 && node.size() == 1) << g.bytes_le;
      continue;
    }
    ASSERT_TRUE(ok) << g.bytes_le;
    EXPECT_EQ(filetime, g.time - 5748192000000000ULL) << g.bytes_le;
    EXPECT_EQ(clock_seq, g.clock_seq) << g.bytes_le;
    ASSERT_EQ(node.size(), 7u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(node[1 + i], static_cast<byte>(g.node >> (8 * (5 - i)))) << g.bytes_le;
  }
  // A version-4 record is no time.
  GUID version4;
  version4.Data1 = 0xa1b2c3d4;
  version4.Data3 = 0x4807;
  uint64 filetime = 7;
  uint16 clock_seq = 7;
  std::vector<byte> node;
  EXPECT_FALSE(zq::guid_to_filetime(filetime, clock_seq, node, version4));
  EXPECT_TRUE(filetime == 0 && clock_seq == 0 && node.empty());
}
