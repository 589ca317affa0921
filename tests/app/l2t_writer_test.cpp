// The log2timeline CSV rows of a record and of an index entry, against
// goldens written from the row rules.
#include "tests/app/index_entry_builder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/l2t_writer.h"
#include "app/timeline_writers.h"
#include "utils/byte_order.h"

namespace {

// 2020-01-02 03:04:05.678 UTC and whole minutes after it.
const ulong64 k_t0 = 132224078456780000ull;
const ulong64 k_minute = 600000000ull;

const char* const k_header =
    "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,inode,"
    "notes,format,extra\n";

timeline_record labelled(ulong64 m, ulong64 a, ulong64 c, ulong64 b) {
  timeline_record rec;
  rec.m_modify_time = m;
  rec.m_access_time = a;
  rec.m_mft_change_time = c;
  rec.m_create_time = b;
  rec.m_modify_desc = "Last Modified";
  rec.m_access_desc = "Last Access";
  rec.m_mft_change_desc = "MFT Change";
  rec.m_create_desc = "Created";
  rec.m_source = "S";
  rec.m_short = "s";
  rec.m_desc = "d";
  return rec;
}

std::string written(timeline_record rec, bool header = false) {
  std::ostringstream out;
  bool first = header;
  EXPECT_TRUE(write_l2t_csv(&first, out, rec));
  EXPECT_FALSE(first);
  return out.str();
}

TEST(L2tWriter, RowsPerDistinctInstant) {
  struct row_case {
    const char* what;
    timeline_record rec;
    std::string expected;
  };
  const std::string tail = ",,,s,d,2,,,,-csvl2t,\n";
  timeline_record windowed = labelled(k_t0 + k_minute, k_t0 + 2 * k_minute, k_t0 + 3 * k_minute, k_t0);
  windowed.m_window_start = k_t0 + k_minute;
  windowed.m_window_end = k_t0 + 2 * k_minute;
  timeline_record styled = labelled(k_t0, k_t0, 0, 0);
  styled.m_milliseconds = 0;
  styled.m_blank_before_time = 1;
  styled.m_lower_case_letters = 1;
  styled.m_type = "fixed";
  styled.m_separator = ";";
  const row_case cases[] = {
      {"four times, ascending",
       labelled(k_t0 + k_minute, k_t0 + 2 * k_minute, k_t0 + 3 * k_minute, k_t0),
       "01/02/2020,03:04:05.678,UTC,...B,S,,Created" + tail +
           "01/02/2020,03:05:05.678,UTC,M...,S,,Last Modified" + tail +
           "01/02/2020,03:06:05.678,UTC,.A..,S,,Last Access" + tail +
           "01/02/2020,03:07:05.678,UTC,..C.,S,,MFT Change" + tail},
      {"one instant", labelled(k_t0, k_t0, k_t0, k_t0),
       "01/02/2020,03:04:05.678,UTC,MACB,S,,Last Modified; Last Access; MFT Change; Created" + tail},
      {"zero access, M with C",
       labelled(k_t0 + k_minute, 0, k_t0 + k_minute, k_t0),
       "01/02/2020,03:04:05.678,UTC,...B,S,,Created" + tail +
           "01/02/2020,03:05:05.678,UTC,M.C.,S,,Last Modified; MFT Change" + tail},
      {"no times", labelled(0, 0, 0, 0), ""},
      {"negative FILETIME", labelled(0x8000000000000000ull, 0, 0, 0), ""},
      {"window", windowed,
       "01/02/2020,03:05:05.678,UTC,M...,S,,Last Modified" + tail +
           "01/02/2020,03:06:05.678,UTC,.A..,S,,Last Access" + tail},
      {"seconds, blank, lower case, own type and separator", styled,
       "01/02/2020; 03:04:05;UTC;ma..;S;;fixed;;;s;d;2;;;;-csvl2t;\n"},
  };
  for (const row_case& c : cases) EXPECT_EQ(written(c.rec), c.expected) << c.what;

  // The header comes once, and also for a record without rows.
  EXPECT_EQ(written(labelled(0, 0, 0, 0), true), k_header);
}

TEST(L2tWriter, ReplacesInRecordAndWritesExtendedColumns) {
  timeline_record rec = labelled(k_t0, 0, 0, 0);
  rec.m_short = "a,b";
  rec.m_desc = "c,d";
  rec.m_filename = "e,f";
  rec.m_notes = "g,h";
  rec.m_user = "u,v";  // not one of the four replaced fields
  rec.set_extended(3, 0x1234, 7, 2, 0x5678, "txt", "10-20");
  rec.m_header_bytes = {0x46, 0x0a};
  bool first = true;
  std::ostringstream out;
  EXPECT_TRUE(write_l2t_csv(&first, out, rec));
  EXPECT_EQ(out.str(),
            "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,inode,"
            "notes,format,extra,ref count,extension,size data,inode seqnum,parent inode,parent seqnum,"
            "clusters,header info\n"
            "01/02/2020,03:04:05.678,UTC,M...,S,,Last Modified,u,v,,a b,c d,2,e f,,g h,-csvl2t,,"
            "3,txt,22136,2,4660,7,10-20,46  a \n");
  EXPECT_EQ(rec.m_short, "a b");
  EXPECT_EQ(rec.m_notes, "g h");

  rec.m_hex_extended = 1;
  rec.m_replaced_char = 0;  // no replacement when either character is 0
  rec.m_short = "x,y";
  EXPECT_EQ(written(rec),
            "01/02/2020,03:04:05.678,UTC,M...,S,,Last Modified,u,v,,x,y,c d,2,e f,,g h,-csvl2t,,"
            "0x0003,txt,0x005678,0x0002,0x00001234,0x0007,10-20,46 0a \n");
}

// Whoever fills a record, a line break in any of its texts, or a '"' that
// begins one, is a blank in the row: the record keeps what it holds.
TEST(L2tWriter, EveryTextStaysInItsCell) {
  timeline_record rec = labelled(k_t0, 0, 0, 0);
  rec.m_timezone = "U\nTC";
  rec.m_source = "\"S";
  rec.m_sourcetype = "t\r";
  rec.m_type = "\n\"ty";
  rec.m_user = "\"u\r\n";
  rec.m_host = "h\"";
  rec.m_short = "\"a\nb";
  rec.m_desc = "c\rd";
  rec.m_filename = "\"\"f";
  rec.m_inode = "\ni";
  rec.m_notes = "n\n";
  rec.m_format = "\"fo";
  rec.m_extra = "x\ry";
  rec.set_extended(1, 2, 3, 4, 5, "\"e", "c\nl");
  EXPECT_EQ(written(rec),
            "01/02/2020,03:04:05.678,U TC,M..., S,t , \"ty, u  ,h\", a b,c d,2, \"f, i,n , fo,x y,"
            "1, e,5,4,2,3,c l,\n");
  EXPECT_EQ(rec.m_short, "\"a\nb");
}

INDX_ENTRY_INFO make_entry(ulong64 entry, uint16 seq, ulong64 parent, const std::string& name, ulong64 m,
                           ulong64 a, ulong64 c, ulong64 b, bool dir, bool valid) {
  index_entry_fields f;
  f.reference = file_reference(entry, seq);
  f.parent_reference = file_reference(parent, 1);
  f.modify = m, f.access = a, f.mft_change = c, f.create = b;
  f.allocated_size = dir ? 0 : 1024, f.real_size = dir ? 0 : 1000;
  f.flags = dir ? 0x10000000 : 0x20;
  INDX_ENTRY_INFO e = build_index_entry(f, name, valid);
  e.attribute_type = 0xA0;
  return e;
}

TEST(L2tWriter, IndexEntryRows) {
  INDX_ENTRY_INFO from_file = make_entry(0x1234, 3, 5, "f", k_t0, 0, 0, 0, false, true);
  from_file.file_offset = 4120;
  const std::string all4 = "01/02/2020, 03:04:05.678,UTC,MACB,INDX,INDX-valid,Last Modified; Last Access; MFT Change; "
                           "Created,alice,ws01,\\docs\\";
  struct row_case {
    const char* what;
    INDX_ENTRY_INFO entry;
    std::string indxfile;  // "" for a volume, else an extracted file in decimal
    std::string expected;
  } cases[] = {
      // Header first. A directory with a zeroed reference under parent 0:
      // no inode, no size, no parent part; $MFT keeps its entry number 0.
      {"directory", make_entry(0, 0, 0, "sub", k_t0, k_t0, k_t0, k_t0, true, true), "",
       std::string(k_header) + all4 + "sub,\\docs\\sub,2,,,valid dir entry,quor (corvane),\n"},
      {"$MFT", make_entry(0, 1, 5, "$MFT", k_t0, k_t0, k_t0, k_t0, false, true), "",
       all4 + "$MFT,\\docs\\$MFT (file size: 0x000003e8) (parent inode 0x00000005),2,,0x00000000,"
              "valid file entry,quor (corvane),\n"},
      // Its name in filename, the offset in extra.
      {"extracted file", from_file, "dir,1.indx",
       "01/02/2020, 03:04:05.678,UTC,M...,INDX,INDX-valid,Last Modified,alice,ws01,f,f (file size: 1000) "
       "(parent inode 5),2,dir 1.indx,4660,valid file entry,quor (corvane),indx offset: 4120\n"},
  };
  user_ctx ctx;
  ctx.tool_name = "quor";
  ctx.username = "alice";
  ctx.hostname = "ws01";
  for (const row_case& c : cases) {
    ctx.path = c.indxfile.empty() ? "\\docs\\" : "";
    ctx.indxfile = c.indxfile;
    ctx.hex_sizes = c.indxfile.empty();
    std::string out;
    append_indx_entry_l2t(out, c.entry, ctx);
    EXPECT_EQ(out, c.expected) << c.what;
    EXPECT_FALSE(ctx.header_pending);
  }
}

// A planted name bare at the start of its cells, a file name with a line
// break, and user and host names with commas: one row of 17 columns.
TEST(L2tWriter, IndexEntryRowStaysWhole) {
  user_ctx ctx;
  ctx.tool_name = "quor";
  ctx.username = "\"Smith, John";
  ctx.hostname = "ws,42\r\nlab";
  ctx.indxfile = "dir\n1.indx";
  ctx.hex_sizes = false;
  ctx.header_pending = false;
  INDX_ENTRY_INFO e = make_entry(0x1234, 3, 5, "\"f\ng", k_t0, 0, 0, 0, false, true);
  e.file_offset = 4120;
  std::string out;
  append_indx_entry_l2t(out, e, ctx);
  EXPECT_EQ(out,
            "01/02/2020, 03:04:05.678,UTC,M...,INDX,INDX-valid,Last Modified, Smith  John,ws 42  lab, f g,"
            " f g (file size: 1000) (parent inode 5),2,dir 1.indx,4660,valid file entry,quor (corvane),"
            "indx offset: 4120\n");
}

}  // namespace
