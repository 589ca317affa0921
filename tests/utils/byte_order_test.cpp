#include "utils/byte_order.h"

#include <gtest/gtest.h>

TEST(ByteOrder, LoadsAreLittleEndianAndUnaligned) {
  const byte raw[11] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFF, 0xFE};
  EXPECT_EQ(load_u16(raw + 1), 0x0201);
  EXPECT_EQ(load_u32(raw + 1), 0x04030201u);
  EXPECT_EQ(load_u64(raw + 1), 0x0807060504030201ull);
  EXPECT_EQ(load_u16(raw, 9), 0xFEFF);
  byte out[8];
  store_u64(out, 0x1122334455667788ull);
  EXPECT_EQ(load_u64(out), 0x1122334455667788ull);
}

TEST(ByteOrder, ViewRefusesReadsPastItsEnd) {
  const byte raw[6] = {1, 2, 3, 4, 5, 6};
  byte_view v(raw, sizeof raw);
  uint32 x = 0;
  EXPECT_TRUE(v.u32(2, x));
  EXPECT_EQ(x, 0x06050403u);
  EXPECT_FALSE(v.u32(3, x));
  uint16 y = 0;
  EXPECT_FALSE(v.u16(UINT64_MAX, y));
  EXPECT_FALSE(fits(6, 7, 0));
  EXPECT_TRUE(fits(6, 6, 0));
  EXPECT_FALSE(fits(6, 2, UINT64_MAX - 1));
  EXPECT_EQ(v.sub(4, 3).size, 0u);
  EXPECT_EQ(v.sub(4, 2).size, 2u);
}
