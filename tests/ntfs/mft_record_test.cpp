// Update-sequence fixups and the bounded attribute walks, on hand-made records.
#include "ntfs/mft_record.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/record_builder.h"

using quor_test::record_builder;

namespace {

std::vector<byte> filled_record(uint32 size) {
  record_builder b(size);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 0x11));
  std::vector<byte> rec = b.done();
  // Give every sector a distinctive tail so a fixup that misses one shows.
  for (uint32 i = 1; i <= size / 512; ++i) store_u16(&rec[i * 512 - 2], static_cast<uint16>(0xA000 + i));
  return rec;
}

// The on-disk form with only the tails of the first `sectors` sectors put
// back: what a fixup must give (the array itself keeps the saved words).
std::vector<byte> tails_restored(std::vector<byte> disk, const std::vector<byte>& plain, size_t sectors) {
  for (size_t i = 1; i <= sectors; ++i) std::memcpy(&disk[i * 512 - 2], &plain[i * 512 - 2], 2);
  return disk;
}

}  // namespace

// Every FILE-record fixup case in one table: the sectors come back at the
// 512-byte stride on any record size, a torn sector is restored and reported,
// and an array that does not fit its record leaves the record as read. Of a
// record the end of the image cut short, each sector read whole is checked
// and restored, and the one the cut runs through stays as read.
TEST(UpdateSequence, FileRecordFixups) {
  struct Case {
    const char* what;
    uint32 size;
    uint16 array_offset, count;
    uint32 torn_sector;  // 0: none
    record_fixup_state expect;
    uint32 got;  // bytes read; 0: the whole record
  };
  const Case cases[] = {
      {"1 KiB record", 1024, 0x30, 3, 0, RECORD_FIXUP_APPLIED, 0},
      {"4 KiB record", 4096, 0x30, 9, 0, RECORD_FIXUP_APPLIED, 0},
      {"torn sector", 4096, 0x30, 9, 7, RECORD_FIXUP_TORN, 0},
      {"count for 4 KiB in a 1 KiB record", 1024, 0x30, 9, 0, RECORD_FIXUP_INVALID, 0},
      {"count too small for the record", 1024, 0x30, 2, 0, RECORD_FIXUP_INVALID, 0},
      {"array over the first sector tail", 1024, 0x1FA, 3, 0, RECORD_FIXUP_INVALID, 0},
      {"array offset inside the header", 1024, 0x02, 3, 0, RECORD_FIXUP_INVALID, 0},
      {"huge count", 1024, 0x30, 0xFFFF, 0, RECORD_FIXUP_INVALID, 0},
      {"no protection", 1024, 0x30, 1, 0, RECORD_FIXUP_NONE, 0},
      {"cut 8 bytes short", 4096, 0x30, 9, 0, RECORD_FIXUP_APPLIED, 4088},
      {"cut at a sector's end", 4096, 0x30, 9, 0, RECORD_FIXUP_APPLIED, 1536},
      {"cut one byte into a sector's tail", 1024, 0x30, 3, 0, RECORD_FIXUP_APPLIED, 1023},
      {"cut after a torn sector", 4096, 0x30, 9, 3, RECORD_FIXUP_TORN, 2000},
      {"torn sector cut short", 4096, 0x30, 9, 4, RECORD_FIXUP_APPLIED, 2000},
      {"cut inside the first sector", 1024, 0x30, 3, 0, RECORD_FIXUP_NONE, 300},
      {"cut through the array", 4096, 0x30, 9, 0, RECORD_FIXUP_INVALID, 0x40},
      {"cut record of another size", 4096, 0x30, 3, 0, RECORD_FIXUP_INVALID, 1024},
  };
  for (const Case& c : cases) {
    const std::vector<byte> plain = filled_record(c.size);
    std::vector<byte> disk = record_builder::protect(plain, 0x0007);
    store_u16(&disk[FRH_USA_OFFSET], c.array_offset);
    store_u16(&disk[FRH_USA_COUNT], c.count);
    if (c.torn_sector) store_u16(&disk[c.torn_sector * 512 - 2], 0x1234);  // written by another update
    const bool fixed = c.expect == RECORD_FIXUP_APPLIED || c.expect == RECORD_FIXUP_TORN;
    const uint32 got = c.got ? c.got : c.size;
    const std::vector<byte> expected = fixed ? tails_restored(disk, plain, got / 512) : disk;
    if (c.got) {
      EXPECT_EQ(apply_update_sequence(disk.data(), c.size, c.got), c.expect) << c.what;
    } else {
      EXPECT_EQ(apply_update_sequence(disk.data(), c.size), c.expect) << c.what;
    }
    EXPECT_EQ(disk, expected) << c.what;
  }
}

// Protection for write-back: the check value steps (and wraps past 0xFFFF),
// every sector tail carries it, and the fixup undoes it.
TEST(UpdateSequence, ProtectionIsUndoneByTheFixup) {
  record_builder b(4096);
  b.resident(ATTR_DATA, std::vector<byte>(3000, 0x5A));
  const std::vector<byte> plain = b.done();
  std::vector<byte> rec = plain;
  store_u16(&rec[0x30], 0xFFFF);
  ASSERT_TRUE(protect_update_sequence(rec.data(), 4096));
  EXPECT_EQ(load_u16(&rec[0x30]), 0u);
  for (uint32 i = 1; i <= 8; ++i) EXPECT_EQ(load_u16(&rec[i * 512 - 2]), 0u) << i;
  EXPECT_EQ(apply_update_sequence(rec.data(), 4096), RECORD_FIXUP_APPLIED);
  for (uint32 i = 1; i <= 8; ++i) EXPECT_EQ(rec[i * 512 - 2], plain[i * 512 - 2]) << i;
  EXPECT_FALSE(protect_update_sequence(rec.data(), 1024));  // count 9 is for 4 KiB
}

TEST(AttributeWalk, FindsAttributesBeyondTheFirstKibibyteOfALargeRecord) {
  // A 4 KiB record whose $INDEX_ROOT is longer than 1 KiB, with the
  // $INDEX_ALLOCATION after it.
  record_builder b(4096);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(72, 1));
  b.resident(ATTR_INDEX_ROOT, std::vector<byte>(2000, 2), u"$I30");
  const uint32 alloc_at = b.non_resident(ATTR_INDEX_ALLOCATION, {0x11, 0x01, 0x40, 0x00}, 4096, 0, u"$I30");
  const std::vector<byte> rec = b.done();

  const byte* attr = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), 4096, ATTR_INDEX_ALLOCATION, attr));
  EXPECT_EQ(attr - rec.data(), alloc_at);
  const std::u16string i30 = u"$I30";
  const uint16 name[] = {'$', 'I', '3', '0'};
  ASSERT_TRUE(find_attribute_by_name(rec.data(), 4096, ATTR_INDEX_ROOT, attr, name, 4));
  byte_view value;
  ASSERT_TRUE(resident_value(attr, load_u32(attr, AH_LENGTH), value));
  EXPECT_EQ(value.size, 2000u);
  // The same record read into a 1 KiB buffer cannot reach the allocation.
  EXPECT_FALSE(find_attribute(rec.data(), 1024, ATTR_INDEX_ALLOCATION, attr));
}

TEST(AttributeWalk, StepsOverEveryAttributeInOrder) {
  record_builder b;
  const uint32 first = b.resident(ATTR_FILE_NAME, record_builder::file_name_value(5, u"A"));
  b.resident(ATTR_DATA, {1, 2, 3}, u"s");
  const uint32 unnamed = b.resident(ATTR_DATA, {4, 5});
  const uint32 second = b.resident(ATTR_FILE_NAME, record_builder::file_name_value(5, u"B"));
  const std::vector<byte> rec = b.done();

  const byte* attr = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), 1024, ATTR_FILE_NAME, attr));
  EXPECT_EQ(attr - rec.data(), first);
  ASSERT_TRUE(find_next_attribute(rec.data(), 1024, attr, ATTR_FILE_NAME));
  EXPECT_EQ(attr - rec.data(), second);
  EXPECT_FALSE(find_next_attribute(rec.data(), 1024, attr, ATTR_FILE_NAME));
  ASSERT_TRUE(find_attribute_from(rec.data(), 1024, attr, ATTR_FILE_NAME));
  EXPECT_EQ(attr - rec.data(), second);
  // The unnamed $DATA is found past a named one; a prefix is no match.
  ASSERT_TRUE(find_attribute_by_name(rec.data(), 1024, ATTR_DATA, attr, nullptr, 0));
  EXPECT_EQ(attr - rec.data(), unnamed);
  const uint16 longer[] = {'s', 'x'};
  EXPECT_FALSE(find_attribute_by_name(rec.data(), 1024, ATTR_DATA, attr, longer, 2));
}

TEST(AttributeWalk, CorruptLengthsAndOffsetsAreRefused) {
  struct Case {
    const char* what;
    uint32 field;  // offset inside the first attribute
    uint32 width;
    uint64 value;
  };
  const Case cases[] = {
      {"attribute length past the record", AH_LENGTH, 4, 0x1000},
      {"attribute length wraps", AH_LENGTH, 4, 0xFFFFFFF8u},
      {"attribute length zero", AH_LENGTH, 4, 0},
      {"attribute length below a header", AH_LENGTH, 4, 8},
  };
  for (const Case& c : cases) {
    record_builder b;
    const uint32 at = b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 1));
    b.resident(ATTR_DATA, {1});
    std::vector<byte> rec = b.done();
    store_u32(&rec[at + c.field], static_cast<uint32>(c.value));
    const byte* attr = nullptr;
    EXPECT_FALSE(find_attribute(rec.data(), 1024, ATTR_DATA, attr)) << c.what;
    EXPECT_FALSE(find_attribute_by_name(rec.data(), 1024, ATTR_DATA, attr, nullptr, 0)) << c.what;
  }

  // First-attribute offset past the buffer, bytes in use past the buffer.
  {
    record_builder b;
    b.resident(ATTR_DATA, {1});
    std::vector<byte> rec = b.done();
    store_u16(&rec[FRH_FIRST_ATTRIBUTE], 0xFFF0);
    const byte* attr = nullptr;
    EXPECT_FALSE(find_attribute(rec.data(), 1024, ATTR_DATA, attr));
  }

  // Value and name offsets outside their attribute.
  record_builder b;
  const uint32 at = b.resident(ATTR_DATA, std::vector<byte>(16, 7), u"n");
  std::vector<byte> rec = b.done();
  byte* a = &rec[at];
  const uint32 length = load_u32(a, AH_LENGTH);
  byte_view view;
  store_u16(a + AH_VALUE_OFFSET, static_cast<uint16>(length));
  EXPECT_FALSE(resident_value(a, length, view));
  store_u16(a + AH_VALUE_OFFSET, 24);
  store_u32(a + AH_VALUE_LENGTH, 0xFFFFFFF0u);
  EXPECT_FALSE(resident_value(a, length, view));
  store_u16(a + AH_NAME_OFFSET, static_cast<uint16>(length - 1));
  EXPECT_FALSE(attribute_name(a, length, view));
}

TEST(AttributeListWalk, StopsAtShortEntriesAndTheEndOfTheValue) {
  std::vector<byte> list(3 * 32, 0);
  const uint32 types[] = {ATTR_FILE_NAME, ATTR_DATA, ATTR_DATA};
  for (uint32 i = 0; i < 3; ++i) {
    store_u32(&list[32 * i + ALE_TYPE], types[i]);
    store_u16(&list[32 * i + ALE_LENGTH], 32);
    store_u64(&list[32 * i + ALE_FIRST_VCN], i);
  }
  uint32 offset = 0;
  ASSERT_TRUE(find_attribute_list_entry(list.data(), 96, ATTR_DATA, offset));
  EXPECT_EQ(offset, 32u);
  ASSERT_TRUE(find_next_attribute_list_entry(list.data(), 96, ATTR_DATA, offset));
  EXPECT_EQ(offset, 64u);
  EXPECT_FALSE(find_next_attribute_list_entry(list.data(), 96, ATTR_DATA, offset));

  // An entry longer than what is left of a short list, a search that starts
  // too near the end for an entry, and a zero-length entry end the walk.
  for (uint32 from : {64u, 80u}) {
    offset = from;
    EXPECT_FALSE(find_attribute_list_entry(list.data(), 90, ATTR_DATA, offset)) << from;
  }
  offset = 32;
  EXPECT_FALSE(find_next_attribute_list_entry(list.data(), 90, ATTR_DATA, offset));
  store_u16(&list[ALE_LENGTH], 0);
  offset = 0;
  EXPECT_FALSE(find_attribute_list_entry(list.data(), 96, ATTR_DATA, offset));
}

TEST(BitmapBit, ReadsLeastSignificantBitFirstAndZeroBeyondTheEnd) {
  const byte bitmap[] = {0x01, 0x02};
  EXPECT_EQ(test_bitmap_bit(bitmap, 2, 0), 1u);
  EXPECT_EQ(test_bitmap_bit(bitmap, 2, 1), 0u);
  EXPECT_EQ(test_bitmap_bit(bitmap, 2, 9), 1u);
  EXPECT_EQ(test_bitmap_bit(bitmap, 1, 9), 0u);
}

TEST(AttributeWalk, AttributeSizes) {
  quor_test::record_builder b(1024);
  const uint32 resident = b.resident(ATTR_DATA, std::vector<byte>(0x123, 1));
  const uint32 nonresident = b.non_resident(ATTR_DATA, {0x11, 0x05, 0x20, 0x00}, 0x5000);
  std::vector<byte> rec = b.done();
  store_u64(&rec[nonresident + AH_ALLOCATED_SIZE], 0x6000);
  ulong64 size = 7;
  EXPECT_TRUE(get_attribute_size(&rec[resident], size));
  EXPECT_EQ(size, 0x123u);
  EXPECT_TRUE(get_attribute_size(&rec[nonresident], size));
  EXPECT_EQ(size, 0x6000u);  // the allocated size, not the data size
  EXPECT_FALSE(get_attribute_size(nullptr, size));
  EXPECT_EQ(size, 0u);
}

// The walks for a caller that holds a record, or a cursor into one, but no
// byte count: the same attributes as the bounded walks, cursors that write
// into the caller's own buffer, and a record taken as long as it says.
TEST(AttributeWalk, WalksWithoutAByteCount) {
  record_builder b;
  const uint32 first = b.resident(ATTR_FILE_NAME, record_builder::file_name_value(5, u"A"));
  const uint32 named = b.resident(ATTR_DATA, {1, 2, 3}, u"s");
  const uint32 unnamed = b.resident(ATTR_DATA, {4, 5});
  const uint32 second = b.resident(ATTR_FILE_NAME, record_builder::file_name_value(5, u"B"));
  std::vector<byte> rec = b.done();

  const uint16 s[] = {'s', 0};
  const uint16 sx[] = {'s', 'x', 0};
  const uint16 empty[] = {0};
  const struct {
    const char* what;
    std::function<bool(byte*&)> walk;
    bool found;
    uint32 at;  // where the cursor stands afterwards
  } cases[] = {
      {"first $FILE_NAME", [&](byte*& a) { return find_attribute(rec.data(), ATTR_FILE_NAME, a); }, true, first},
      {"first $DATA, named or not", [&](byte*& a) { return find_attribute(rec.data(), ATTR_DATA, a); }, true, named},
      {"no $INDEX_ROOT", [&](byte*& a) { return find_attribute(rec.data(), ATTR_INDEX_ROOT, a); }, false, 0},
      {"from a cursor, the one there counts",
       [&](byte*& a) { a = &rec[second]; return find_attribute_from(a, ATTR_FILE_NAME); }, true, second},
      {"from a cursor, on to its type",
       [&](byte*& a) { a = &rec[first]; return find_attribute_from(a, ATTR_DATA); }, true, named},
      {"next after the cursor",
       [&](byte*& a) { a = &rec[first]; return find_next_attribute(a, ATTR_FILE_NAME); }, true, second},
      {"next past the last one stays",
       [&](byte*& a) { a = &rec[second]; return find_next_attribute(a, ATTR_FILE_NAME); }, false, second},
      {"unnamed, past a named one",
       [&](byte*& a) { return find_attribute_by_name(rec.data(), ATTR_DATA, a, nullptr); }, true, unnamed},
      {"an empty name is the unnamed one",
       [&](byte*& a) { return find_attribute_by_name(rec.data(), ATTR_DATA, a, empty); }, true, unnamed},
      {"by its name", [&](byte*& a) { return find_attribute_by_name(rec.data(), ATTR_DATA, a, s); }, true, named},
      {"a longer name is no match",
       [&](byte*& a) { return find_attribute_by_name(rec.data(), ATTR_DATA, a, sx); }, false, 0},
  };
  for (const auto& c : cases) {
    byte* attr = nullptr;
    EXPECT_EQ(c.walk(attr), c.found) << c.what;
    if (c.found || c.at) {
      ASSERT_NE(attr, nullptr) << c.what;
      EXPECT_EQ(attr - rec.data(), c.at) << c.what;
    }
  }
  // The cursor is the caller's own: what is written through it lands in the
  // record.
  byte* attr = nullptr;
  ASSERT_TRUE(find_attribute_by_name(rec.data(), ATTR_DATA, attr, s));
  attr[load_u16(attr, AH_VALUE_OFFSET)] = 9;
  byte_view value;
  ASSERT_TRUE(resident_value(&rec[named], load_u32(&rec[named], AH_LENGTH), value));
  EXPECT_EQ(value.data[0], 9);
  // A walk from a cursor on the end marker finds nothing.
  attr = &rec[load_u32(rec.data(), FRH_BYTES_IN_USE) - 8];
  EXPECT_FALSE(find_attribute_from(attr, ATTR_DATA));
  EXPECT_FALSE(find_next_attribute(attr, ATTR_DATA));

  // A record is walked within its own allocated size: a 4 KiB record's
  // attribute past the first 1 KiB is found. A size the rest of the header
  // does not bear out leaves the 1 KiB every record buffer holds (the buffer
  // here is exactly that long, so the sanitizer build sees any read past it).
  record_builder big(4096);
  big.resident(ATTR_INDEX_ROOT, std::vector<byte>(2000, 2), u"$I30");
  const uint32 allocation = big.non_resident(ATTR_INDEX_ALLOCATION, {0x11, 0x01, 0x40, 0x00}, 4096, 0, u"$I30");
  const std::vector<byte> large = big.done();
  const uint32 in_use = load_u32(large.data(), FRH_BYTES_IN_USE);
  const uint16 i30[] = {'$', 'I', '3', '0', 0};
  const struct {
    uint32 allocated;  // the record's own size, u32 at 28
    uint16 count;      // update-sequence count, u16 at 6
    uint32 in_use;     // bytes in use, u32 at 24; 0: as built
    uint32 walked;     // what record_own_size makes of it
    bool found;
  } sizes[] = {{4096, 9, 0, 4096, true},
               {0, 9, 0, 1024, false},
               {41, 9, 0, 1024, false},
               {512, 2, 0, 1024, false},                       // smaller than any record
               {MAX_MFT_RECORD_SIZE + 1, 9, 0, 1024, false},
               {12288, 25, 0, 1024, false},                    // no power of two
               {4096, 3, 0, 1024, false},                      // the count of a 1 KiB record
               {2048, 9, 0, 1024, false},                      // the count of a 4 KiB record
               {4096, 9, 8192, 1024, false}};                  // more in use than allocated
  for (const auto& c : sizes) {
    std::vector<byte> buffer(large.begin(), large.begin() + c.walked);
    store_u32(&buffer[FRH_BYTES_ALLOCATED], c.allocated);
    store_u16(&buffer[FRH_USA_COUNT], c.count);
    store_u32(&buffer[FRH_BYTES_IN_USE], c.in_use ? c.in_use : in_use);
    EXPECT_EQ(record_own_size(buffer.data()), c.walked) << c.allocated << " " << c.count << " " << c.in_use;
    attr = nullptr;
    EXPECT_EQ(find_attribute(buffer.data(), ATTR_INDEX_ALLOCATION, attr), c.found) << c.allocated;
    EXPECT_EQ(find_attribute_by_name(buffer.data(), ATTR_INDEX_ALLOCATION, attr, i30), c.found) << c.allocated;
    if (c.found) {
      EXPECT_EQ(attr - buffer.data(), allocation);
    }
  }
  std::vector<byte> kib(rec.begin(), rec.begin() + 1024);
  store_u32(&kib[FRH_BYTES_IN_USE], 0x10000);
  const uint32 end = load_u32(rec.data(), FRH_BYTES_IN_USE) - 8;
  store_u32(&kib[end], ATTR_BITMAP);
  store_u32(&kib[end + 4], 1024 - end);  // the next attribute would start past the buffer
  EXPECT_FALSE(find_attribute(kib.data(), ATTR_INDEX_ALLOCATION, attr));
  EXPECT_FALSE(find_attribute_by_name(kib.data(), ATTR_INDEX_ALLOCATION, attr, nullptr));
}

// A record the end of the image cut short, zero-filled past the bytes read:
// what was read whole stays, the attribute the cut runs through and all
// after it read as zeros, so that a walk of the whole buffer finds only
// attributes read whole. An end marker read whole closes the attributes;
// a header cut short, or a record read whole, is left as it is.
TEST(AttributeWalk, RecordCutShortKeepsTheAttributesReadWhole) {
  record_builder b;
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 0x11));
  const uint32 name = b.resident(ATTR_FILE_NAME, record_builder::file_name_value(5, u"name.txt"));
  const uint32 data = b.resident(ATTR_DATA, std::vector<byte>(40, 0x22));
  const std::vector<byte> whole = b.done();
  const uint32 end = load_u32(whole.data(), FRH_BYTES_IN_USE) - 8;
  const struct {
    uint32 got;   // bytes read
    uint32 kept;  // bytes left as read
  } cases[] = {{name + 0x50, name}, {data, data},        {data + 4, data},       {end + 2, end},
               {end + 4, end + 4},  {FRH_SIZE - 2, FRH_SIZE - 2}, {1024, 1024}};
  for (const auto& c : cases) {
    std::vector<byte> buffer(whole.begin(), whole.begin() + c.got);
    buffer.resize(1024, 0);
    clear_cut_record_tail(buffer.data(), c.got, 1024);
    std::vector<byte> expected(whole.begin(), whole.begin() + c.kept);
    expected.resize(1024, 0);
    EXPECT_EQ(buffer, expected) << c.got;
    byte* attr = nullptr;
    EXPECT_EQ(find_attribute(buffer.data(), ATTR_FILE_NAME, attr), c.kept > name) << c.got;
    EXPECT_EQ(find_attribute(buffer.data(), ATTR_DATA, attr), c.kept > data) << c.got;
  }
  // A first-attribute offset inside the header (0x10): the header read
  // stays as read, whatever the walk makes of the bytes there.
  std::vector<byte> inside(whole.begin(), whole.begin() + data);
  inside.resize(1024, 0);
  store_u16(&inside[FRH_FIRST_ATTRIBUTE], 0x10);
  std::vector<byte> expected(inside.begin(), inside.begin() + FRH_SIZE);
  expected.resize(1024, 0);
  clear_cut_record_tail(inside.data(), data, 1024);
  EXPECT_EQ(inside, expected);
}

// A record of the largest size a volume may declare, in use to its last
// byte, is walked whole: its last attribute ends at the record's end and is
// found by the sized walks and by those that take the record's own size.
TEST(AttributeWalk, WalksARecordOfTheLargestSizeWhole) {
  record_builder b(MAX_MFT_RECORD_SIZE);
  // Attributes of 1 KiB each, then a shorter one to the record's end.
  while (b.next + 1024 < MAX_MFT_RECORD_SIZE) b.resident(ATTR_LOGGED_UTILITY_STREAM, std::vector<byte>(1000, 7));
  const std::u16string name = u"end";
  const uint32 value_at = record_builder::align8(24 + 2 * static_cast<uint32>(name.size()));
  const uint32 last = b.resident(ATTR_DATA, std::vector<byte>(MAX_MFT_RECORD_SIZE - b.next - value_at, 9), name);
  std::vector<byte> rec = b.rec;
  rec.resize(MAX_MFT_RECORD_SIZE);  // no end marker: the last attribute fills the record
  ASSERT_EQ(last + load_u32(&rec[last], AH_LENGTH), MAX_MFT_RECORD_SIZE);
  store_u32(&rec[FRH_BYTES_IN_USE], MAX_MFT_RECORD_SIZE);

  EXPECT_EQ(record_own_size(rec.data()), MAX_MFT_RECORD_SIZE);
  const uint16 end[] = {'e', 'n', 'd', 0};
  const byte* sized = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), MAX_MFT_RECORD_SIZE, ATTR_DATA, sized));
  EXPECT_EQ(sized - rec.data(), last);
  sized = nullptr;
  ASSERT_TRUE(find_attribute_by_name(rec.data(), MAX_MFT_RECORD_SIZE, ATTR_DATA, sized, end, 3));
  EXPECT_EQ(sized - rec.data(), last);
  byte* own = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), ATTR_DATA, own));
  EXPECT_EQ(own - rec.data(), last);
  own = nullptr;
  ASSERT_TRUE(find_attribute_by_name(rec.data(), ATTR_DATA, own, end));
  EXPECT_EQ(own - rec.data(), last);
}

// The list walk from the $ATTRIBUTE_LIST attribute: a resident list's value
// is walked inside the attribute, a non-resident one's value is the caller's
// buffer of its initialized size; `remaining` counts the bytes from the
// entry found.
TEST(AttributeListWalk, FromTheListAttributeWithoutAByteCount) {
  std::vector<byte> entries(3 * 32, 0);
  const uint32 types[] = {ATTR_FILE_NAME, ATTR_DATA, ATTR_DATA};
  for (uint32 i = 0; i < 3; ++i) {
    store_u32(&entries[32 * i + ALE_TYPE], types[i]);
    store_u16(&entries[32 * i + ALE_LENGTH], 32);
    store_u64(&entries[32 * i + ALE_FIRST_VCN], i);
  }
  record_builder b;
  const uint32 resident = b.resident(ATTR_ATTRIBUTE_LIST, entries);
  const uint32 non_resident = b.non_resident(ATTR_ATTRIBUTE_LIST, {0x11, 0x01, 0x20, 0x00}, 96);
  std::vector<byte> rec = b.done();
  const uint32 value_at = resident + load_u16(&rec[resident], AH_VALUE_OFFSET);

  // Resident: entries inside the record.
  byte* entry = nullptr;
  uint32 remaining = 7;
  ASSERT_TRUE(find_attribute_list_entry(&rec[resident], ATTR_DATA, entry, remaining));
  EXPECT_EQ(entry - rec.data(), value_at + 32);
  EXPECT_EQ(remaining, 64u);
  ASSERT_TRUE(find_next_attribute_list_entry(entry, remaining, ATTR_DATA));
  EXPECT_EQ(entry - rec.data(), value_at + 64);
  EXPECT_EQ(remaining, 32u);
  EXPECT_FALSE(find_next_attribute_list_entry(entry, remaining, ATTR_DATA));
  EXPECT_EQ(entry - rec.data(), value_at + 64);
  EXPECT_FALSE(find_attribute_list_entry(&rec[resident], ATTR_INDEX_ROOT, entry, remaining));

  // Non-resident: the caller's copy of the value, as long as its initialized
  // size; a size that cuts the second $DATA entry leaves only the first.
  entry = entries.data();
  ASSERT_TRUE(find_attribute_list_entry(&rec[non_resident], ATTR_DATA, entry, remaining));
  EXPECT_EQ(entry - entries.data(), 32);
  EXPECT_EQ(remaining, 64u);
  store_u64(&rec[non_resident + AH_INITIALIZED_SIZE], 80);
  entry = entries.data();
  ASSERT_TRUE(find_attribute_list_entry(&rec[non_resident], ATTR_DATA, entry, remaining));
  EXPECT_EQ(remaining, 48u);
  EXPECT_FALSE(find_next_attribute_list_entry(entry, remaining, ATTR_DATA));
  entry = nullptr;
  EXPECT_FALSE(find_attribute_list_entry(&rec[non_resident], ATTR_DATA, entry, remaining));

  // A resident value that claims more than its attribute is not walked.
  store_u32(&rec[resident + AH_VALUE_LENGTH], 0x400);
  entry = nullptr;
  EXPECT_FALSE(find_attribute_list_entry(&rec[resident], ATTR_DATA, entry, remaining));
  EXPECT_EQ(entry, nullptr);
}
