// Bodyfile lines of a record and of an index entry, against goldens written
// from the line rules.
#include "tests/app/index_entry_builder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/bodyfile_writer.h"
#include "app/timeline_writers.h"
#include "utils/byte_order.h"

namespace {

// 2020-01-02 03:04:05.678 UTC (Unix 1577934245) and whole minutes after it.
const ulong64 k_t0 = 132224078456780000ull;
const ulong64 k_minute = 600000000ull;
// One second before 1970-01-01 00:00:00 UTC.
const ulong64 k_before_1970 = 116444735990000000ull;

INDX_ENTRY_INFO make_entry(const std::string& name, ulong64 m, ulong64 a, ulong64 c, ulong64 b, bool valid) {
  index_entry_fields f;
  f.reference = file_reference(0x1234, 3);
  f.parent_reference = file_reference(5, 5);
  f.modify = m, f.access = a, f.mft_change = c, f.create = b;
  f.allocated_size = 1024, f.real_size = 1000;
  return build_index_entry(f, name, valid);
}

TEST(BodyfileWriter, RecordLineAndHeaderOnce) {
  bodyfile_record rec;
  rec.m_name = "n";
  rec.m_inode = 7;
  rec.m_mode = "r/rrwxrwxrwx";
  rec.m_uid = 1;
  rec.m_gid = 2;
  rec.m_size = 3;
  rec.m_modify_time = 10;
  rec.m_access_time = 20;
  rec.m_mft_change_time = 30;
  rec.m_create_time = 40;
  bool first = true;
  std::ostringstream out;
  EXPECT_TRUE(write_bodyfile(&first, out, rec));
  rec.m_md5 = "d41d8cd98f00b204e9800998ecf8427e";
  EXPECT_TRUE(write_bodyfile(&first, out, rec));
  EXPECT_FALSE(first);
  EXPECT_EQ(out.str(),
            "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n"
            "0|n|7|r/rrwxrwxrwx|1|2|3|20|10|30|40\n"
            "d41d8cd98f00b204e9800998ecf8427e|n|7|r/rrwxrwxrwx|1|2|3|20|10|30|40\n");

  // Cleared, a record is back to its defaults and writes an empty line.
  rec.m_spare[4] = "spare";
  rec.m_time_kind = 1;
  rec.m_spare_number = 5;
  rec.m_timezone = "CET";
  rec.clear();
  EXPECT_TRUE(rec.m_md5.empty() && rec.m_name.empty() && rec.m_mode.empty() && rec.m_spare[4].empty());
  EXPECT_EQ(rec.m_time_kind, 8u);
  EXPECT_EQ(rec.m_spare_number, 0u);
  EXPECT_EQ(rec.m_timezone, "UTC");
  std::ostringstream empty;
  write_bodyfile(&first, empty, rec);
  EXPECT_EQ(empty.str(), "0||0||0|0|0|0|0|0|0\n");
}

// Whoever fills a record, a '|' or a line break in its texts, or a '"' that
// begins one, is a blank in the line.
TEST(BodyfileWriter, RecordTextsStayOnTheirLine) {
  bodyfile_record rec;
  rec.m_md5 = "\"5\n|";
  rec.m_name = "\"\"a\rb\n||c";
  rec.m_mode = "\r\"m|";
  bool first = false;
  std::string out;
  EXPECT_TRUE(append_bodyfile(&first, out, rec));
  EXPECT_EQ(out, " 5  | \"a b   c|0| \"m |0|0|0|0|0|0|0\n");
}

TEST(BodyfileWriter, IndexEntryLines) {
  struct entry_case {
    const char* what;
    INDX_ENTRY_INFO entry;
    std::string indxfile;
    bool hex;
    std::string expected;
  };
  INDX_ENTRY_INFO at_offset = make_entry("f", k_t0, k_t0, k_t0, k_t0, false);
  at_offset.file_offset = 4120;
  const entry_case cases[] = {
      // A '|' in the name would be a twelfth field: a blank, as a ',' in CSV.
      {"live, four times", make_entry("a|b.txt", k_t0 + k_minute, k_t0 + 2 * k_minute, k_t0 + 3 * k_minute, k_t0, true),
       "", true, "0|\\docs\\a b.txt|0||0|0|1000|1577934365|1577934305|1577934425|1577934245\n"},
      {"carved, zero access", make_entry("c.txt", k_t0, 0, k_t0, k_t0, false), "", true,
       "0|\\docs\\c.txt (slack)|0||0|0|1000|0|1577934245|1577934245|1577934245\n"},
      // Times without Unix seconds are 0, never a wrapped-around number.
      {"before 1970 and negative", make_entry("old", k_before_1970, 0x8000000000000000ull, 116444736000000000ull, 1, true),
       "", true, "0|\\docs\\old|0||0|0|1000|0|0|0|0\n"},
      {"extracted file, hex offset", at_offset, "x.indx", true,
       "0|\\docs\\f; indx offset: 0x1018 (slack)|0||0|0|1000|1577934245|1577934245|1577934245|1577934245\n"},
      {"extracted file, decimal offset", at_offset, "x.indx", false,
       "0|\\docs\\f; indx offset: 4120 (slack)|0||0|0|1000|1577934245|1577934245|1577934245|1577934245\n"},
      // Each entry stays one line for mactime and every CSV reader.
      {"line breaks in the name", make_entry("a\nb\r\nc", k_t0, k_t0, k_t0, k_t0, true), "", true,
       "0|\\docs\\a b  c|0||0|0|1000|1577934245|1577934245|1577934245|1577934245\n"},
  };
  for (const entry_case& c : cases) {
    user_ctx ctx;
    ctx.path = "\\docs\\";
    ctx.indxfile = c.indxfile;
    ctx.hex_sizes = c.hex;
    ctx.header_pending = false;
    std::string out;
    append_indx_entry_bodyfile(out, c.entry, ctx);
    EXPECT_EQ(out, c.expected) << c.what;
  }
}

}  // namespace
