// Attribute and record dumps by hand: a named resident value read at its
// stored offset and cut at the attribute's end, the walk that stops at the
// record's limit, and the summaries.
#include "examine/attribute_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ntfs/attribute_type_name.h"
#include "utils/byte_order.h"

namespace {

// A resident attribute of `length` bytes named "ab", its value at 0x20.
std::vector<byte> resident(uint32 type, uint32 length, uint32 value_length, const std::string& value) {
  std::vector<byte> a(length, 0);
  store_u32(&a[0], type);
  store_u32(&a[4], length);
  a[9] = 2;
  store_u16(&a[10], 0x18);
  store_u16(&a[14], 3);
  store_u32(&a[16], value_length);
  store_u16(&a[20], 0x20);
  store_u16(&a[0x18], 'a');
  store_u16(&a[0x1A], 'b');
  for (size_t i = 0; i < value.size() && 0x20 + i < length; ++i) a[0x20 + i] = static_cast<byte>(value[i]);
  return a;
}

std::string dumped(const std::vector<byte>& a) {
  std::ostringstream os;
  dump_attribute(os, a.data(), static_cast<uint32>(a.size()));
  return os.str();
}

TEST(AttributeDump, NamedResidentValueAtItsStoredOffset) {
  const std::string head =
      "(0x00) type:                0x00000080, " + attribute_type_name(0x80) +
      "\n(0x04) size:                0x00000028\n(0x08) non_resident_flag:   0x00 (resident)\n"
      "(0x09) size_name:           0x02\n(0x0a) offset_name:         0x0018\n(0x0c) flags:               0x0000\n"
      "(0x0e) attrib_id:           0x0003\n";
  const std::string text = dumped(resident(0x80, 0x28, 5, "hello"));
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find("(0x10) size_data:           0x00000005\n(0x14) offset_data:         0x0020\n"
                      "(0x16) resident_flags:      0x00\n(0x17) pad1                 0x00\n"
                      "(0x18) name                 ab   <<-- ALTERNATE DATA STREAM\n"
                      "---- data ---- (starting at offset 0x0020)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("68 65 6c 6c 6f"), std::string::npos) << text;
  // A value length past the attribute: only the attribute's bytes are shown.
  const std::string cut = dumped(resident(0x80, 0x28, 0x100, "12345678"));
  EXPECT_NE(cut.find("31 32 33 34 35 36 37 38"), std::string::npos) << cut;
  EXPECT_EQ(cut.find("38 00"), std::string::npos) << cut;
}

TEST(AttributeDump, RecordWalkStopsAtTheLimit) {
  std::vector<byte> record(0x100, 0);
  std::memcpy(record.data(), "FILE", 4);
  store_u16(&record[20], 0x38);
  const std::vector<byte> a = resident(0x80, 0x28, 5, "hello");
  std::copy(a.begin(), a.end(), record.begin() + 0x38);
  // A second attribute starts exactly at the limit 0x60, a third never comes.
  std::copy(a.begin(), a.end(), record.begin() + 0x60);
  std::ostringstream os;
  dump_record_attributes(record.data(), 0x38, 0x60, os);
  EXPECT_NE(os.str().find("    ------- attribute num 1 (relative offset 0x0038) ------ \n\n(0x00) type:"),
            std::string::npos);
  EXPECT_EQ(os.str().find("attribute num 2"), std::string::npos);
  // The end marker first: nothing at all.
  store_u32(&record[0x38], 0xFFFFFFFF);
  std::ostringstream none;
  dump_record_attributes(record.data(), 0x38, 0x100, none);
  EXPECT_EQ(none.str(), "");
  std::ostringstream marker;
  dump_attribute(marker, record.data() + 0x38, 8);
  EXPECT_EQ(marker.str(), "NTFS_ATTRIBUTE_END_MARKER\n");
}

TEST(AttributeDump, Summaries) {
  std::vector<byte> version = resident(0x70, 0x30, 12, "");
  version[0x28] = 3;
  version[0x29] = 1;
  std::vector<byte> bitmap = resident(0xB0, 0x38, 17, std::string(17, '\x01'));
  const struct {
    std::vector<byte> attr;
    std::string want;
  } cases[] = {
      {version, attribute_type_name(0x70) + ": ab\n  3:1 (WinXP)\n"},
      {bitmap, attribute_type_name(0xB0) + ": ab\n  01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \n  01 \n"},
      {resident(0x80, 0x28, 5, "hello"), attribute_type_name(0x80) + ": ab\n  used [resident data]:  0x0005 (bytes)\n"},
      {resident(0x20, 0x28, 5, "hello"), ""},
      {resident(0x90, 0x28, 5, "hello"), ""},
  };
  for (const auto& c : cases) {
    std::ostringstream os;
    summarize_attribute(os, c.attr.data(), static_cast<uint32>(c.attr.size()));
    EXPECT_EQ(os.str(), c.want);
  }
}

}  // namespace
