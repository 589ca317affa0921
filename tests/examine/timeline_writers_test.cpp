// The walker's timeline writers: separated values and the fixed-width table.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "examine/macb_flags.h"
#include "examine/timeline_csv_writer.h"
#include "examine/timeline_text_writer.h"

namespace {

// 2011-03-04 05:06:07.089 UTC.
const ulong64 T = 129436887670890000ull;

timeline_record row_record(uint8 omit, uint8 header, uint8 copy) {
  timeline_record rec;
  rec.m_hex_extended = 1;
  rec.set_inode(0x40);
  rec.m_notes = "file";
  rec.m_desc = "unnamed data";
  rec.m_extra = "multinames [2]";
  rec.m_omit_cluster_info = omit;
  rec.m_include_header = header;
  rec.m_copy_files = copy;
  rec.set_extended(1, 5, 5, 3, 4096, "txt", "0x00001234");
  return rec;
}

macb_time_map one_instant() {
  macb_time_map times;
  add_macb_times(times, 1, T, 0, T, 0, L"b,c.txt", false);
  add_macb_times(times, 2, T, 0, 0, 0, L"a.txt", false);
  add_macb_times(times, 3, 0, 0, 0, T, L"A~1.TXT", true);
  times.at(T).path = "[root]\\docs\\";
  return times;
}

TEST(TimelineCsv, HeaderFormsAndRows) {
  const struct {
    uint8 omit, header, copy;
    const char* header_line;
  } cases[] = {
      {0, 0, 0,
       "mft entry,seqnum,parent mft,type,ext,ref,size data,date,time [UTC],MACB,data type,other info,"
       "path and filename,clusters/relevant data,\n"},
      {1, 0, 0,
       "mft entry,seqnum,parent mft,type,ext,ref,date,time [UTC],MACB,other info,path and filename,"
       "various data types,\n"},
      {1, 1, 1,
       "mft entry,seqnum,parent mft,type,ext,ref,date,time [UTC],MACB,other info,path and filename,"
       "various data types,extracted file path/file\n"},
      {0, 1, 0,
       "mft entry,seqnum,parent mft,type,ext,ref,size data,date,time [UTC],MACB,data type,other info,"
       "path and filename,clusters/relevant data,header info\n"},
  };
  for (const auto& c : cases) {
    bool first = true;
    std::ostringstream out;
    timeline_record rec = row_record(c.omit, c.header, c.copy);
    write_timeline_csv(&first, out, macb_time_map(), rec);
    EXPECT_EQ(out.str(), c.header_line);
    write_timeline_csv(&first, out, macb_time_map(), rec);
    EXPECT_EQ(out.str(), c.header_line);  // no second header
  }

  bool first = false;
  std::ostringstream out;
  timeline_record rec = row_record(0, 1, 0);
  rec.m_header_bytes = {0x05, 0xab};
  rec.m_notes = "del,dir";
  write_timeline_csv(&first, out, one_instant(), rec);
  EXPECT_EQ(out.str(),
            "0x00000040,3,0x00000005,del dir,txt,  1,0x00001000,03/04/2011, 05:06:07.089,"
            "si:[m.c.]; fn:[m...]; fn8.3[...b],unnamed data,multinames [2],"
            "[root]\\docs\\a.txt [alias: b c.txt] [8.3: A~1.TXT],0x00001234,05 ab \n");
  EXPECT_EQ(rec.m_notes, "del dir");  // the record keeps the replaced text
}

TEST(TimelineCsv, Window) {
  const struct {
    ulong64 start, end;
    bool written;
  } windows[] = {{0, 0, true}, {T, T, true}, {T + 1, ~0ull, false}, {T, 0, false}};
  for (const auto& w : windows) {
    bool first = false;
    std::ostringstream out;
    timeline_record rec = row_record(1, 0, 0);
    rec.m_window_start = w.start;
    rec.m_window_end = w.end;
    write_timeline_csv(&first, out, one_instant(), rec);
    EXPECT_EQ(!out.str().empty(), w.written) << w.start << " " << w.end;
  }
}

TEST(TimelineText, HeaderWidthsRowsAndTheirFallback) {
  bool first = true;
  std::ostringstream header;
  timeline_record narrow = row_record(1, 0, 0);
  narrow.m_separator = " | ";
  narrow.m_replaced_char = 0;
  write_timeline_text(&first, header, macb_time_map(), narrow);
  const std::string line = header.str();
  ASSERT_EQ(line.size(), 211u);  // 210 characters and the line end
  EXPECT_EQ(line.substr(0, 24), " mft entry |   seq | par");
  EXPECT_EQ(line.substr(line.size() - 23), " | various data types \n");

  // Rows of the same columns follow the header pass's widths.
  std::ostringstream rows;
  macb_time_map times;
  add_macb_times(times, 1, T, 0, 0, 0, L"a.txt", false);
  write_timeline_text(&first, rows, times, narrow);
  EXPECT_EQ(rows.str(), "0x00000040 |     3 | 0x00000005 | file |      txt |   1 | 03/04/2011 | 05:06:07.089 | " +
                            std::string("si:[m...]") + std::string(24, ' ') + " | multinames [2] | a.txt" +
                            std::string(45, ' ') + " | 0x00001234        \n");

  // Other columns than the header pass's (size, data type, header info):
  // the row is padded to those columns' minimum widths, never past the
  // widths kept.
  std::ostringstream wide;
  timeline_record full = row_record(0, 1, 0);
  full.m_separator = " | ";
  full.m_replaced_char = 0;
  full.m_header_bytes = {0x05};
  full.m_extension = "abcdefg";
  full.m_hex_extended = 0;
  full.set_inode(64);
  write_timeline_text(&first, wide, times, full);
  EXPECT_EQ(wide.str(), std::string(8, ' ') + "64 |     3 |          5 | file |  abcde.. |   1 |        4096 | " +
                            "03/04/2011 | 05:06:07.089 | si:[m...]" + std::string(24, ' ') +
                            " |   unnamed data | multinames [2] | a.txt" + std::string(45, ' ') + " | 0x00001234" +
                            std::string(28, ' ') + " | 05 \n");

  // As many columns as the header pass, another last one: the copy's path
  // takes its own title's width, not that of "header info".
  bool again = true;
  std::ostringstream ignored, copied;
  timeline_record with_header = row_record(1, 1, 0), copy = row_record(1, 0, 1);
  with_header.m_separator = copy.m_separator = " | ";
  copy.m_spare_text = "x";
  write_timeline_text(&again, ignored, macb_time_map(), with_header);
  write_timeline_text(&again, copied, times, copy);
  const std::string tail = " | x" + std::string(23, ' ') + "\n";
  EXPECT_EQ(copied.str().substr(copied.str().size() - tail.size()), tail);
}

// Texts that come from the evidence (an extension, a name, a text among the
// clusters, a link in the other info) or the user (the copy's path): a line
// break is a blank in both forms, so every row stays one line;
// in CSV so is a '"' that begins a cell, which would open a quoted cell
// running over the rows after it. Every other byte stays.
TEST(TimelineWriters, EveryRowStaysOnItsLine) {
  auto planted = [](timeline_record& rec) {
    rec.m_extension = "\"x\n";
    rec.m_extra = "symlink: [a\r\nb,c]";
    rec.m_clusters = "\"q\",r";
    rec.m_spare_text = "\"c\\d";
  };
  macb_time_map times;
  add_macb_times(times, 1, T, 0, 0, 0, L"\"n\nm", false);

  bool first = false;
  std::ostringstream csv;
  timeline_record rec = row_record(0, 1, 1);
  planted(rec);
  write_timeline_csv(&first, csv, times, rec);
  EXPECT_EQ(csv.str(),
            "0x00000040,3,0x00000005,file, x ,  1,0x00001000,03/04/2011, 05:06:07.089,si:[m...],unnamed data,"
            "symlink: [a  b c], n m, q\" r, c\\d\n");

  // The table pads the texts as they are, their widths unchanged.
  bool header = true;
  std::ostringstream ignored, table;
  timeline_record row = row_record(0, 1, 1);
  row.m_separator = " | ";
  row.m_replaced_char = 0;
  planted(row);
  write_timeline_text(&header, ignored, macb_time_map(), row);
  write_timeline_text(&header, table, times, row);
  EXPECT_EQ(table.str(), "0x00000040 |     3 | 0x00000005 | file |      \"x  |   1 | 0x000001000 | 03/04/2011 | " +
                             std::string("05:06:07.089 | si:[m...]") + std::string(24, ' ') +
                             " |   unnamed data | symlink: [a  b,c] | \"n m" + std::string(46, ' ') + " | \"q\",r" +
                             std::string(33, ' ') + " | \"c\\d" + std::string(20, ' ') + "\n");
}

}  // namespace
