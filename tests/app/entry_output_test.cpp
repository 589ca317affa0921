// The text block and CSV forms of an index entry and the selection of what
// is written, against goldens written from the output rules.
#include "tests/app/index_entry_builder.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry_output.h"
#include "app/user_ctx.h"
#include "utils/byte_order.h"

namespace {

// 2020-01-02 03:04:05.678 UTC and one minute later.
const ulong64 k_t1 = 132224078456780000ull;
const ulong64 k_t2 = 132224079056780000ull;

INDX_ENTRY_INFO make_entry(ulong64 entry, uint16 seq, const std::string& name, ulong64 m, ulong64 a, ulong64 c,
                           ulong64 b, uint32 flags, bool valid) {
  index_entry_fields f;
  f.reference = file_reference(entry, seq);
  f.parent_reference = file_reference(5, 5);
  f.modify = m, f.access = a, f.mft_change = c, f.create = b;
  f.allocated_size = 1024, f.real_size = 1000;
  f.flags = flags;
  return build_index_entry(f, name, valid);
}

INDX_ENTRY_INFO sample_file() {
  INDX_ENTRY_INFO e = make_entry(0x1234, 3, "a,b.txt", k_t1, 0, k_t1, k_t2, 0, false);
  e.attribute_type = 0x90;
  e.slack_comment = "deleted";
  e.file_offset = 4120;
  return e;
}

// Captures what the writers send to standard output.
struct cout_capture {
  std::ostringstream text;
  std::streambuf* saved;
  cout_capture() : saved(std::cout.rdbuf(text.rdbuf())) {}
  ~cout_capture() { std::cout.rdbuf(saved); }
};

TEST(EntryOutput, TextBlock) {
  user_ctx ctx;
  ctx.path = "\\docs\\";
  ctx.username = "alice";
  std::ostringstream out;
  write_indx_entry(out, sample_file(), ctx);
  EXPECT_EQ(out.str(),
            "Name:                 \\docs\\a,b.txt\n"
            "MFT Entry:            0x000000001234 [4660]\n"
            "MFT Sequence:         0x0003 [3]\n"
            "Parent Entry:         0x000000000005 [5]\n"
            "Parent Sequence:      0x0005 [5]\n"
            "Entry:                slack, deleted\n"
            "Modify time [utc]:    132224078456780000 [01/02/20 03:04:05.678]\n"
            "Access time [utc]:    0 [00/00/00 00:00:00]\n"
            "MFTChanged time [utc]:132224078456780000 [01/02/20 03:04:05.678]\n"
            "Create time [utc]:    132224079056780000 [01/02/20 03:05:05.678]\n"
            "Size allocated:       0x00000400 [1024]\n"
            "Size used:            0x000003e8 [1000]\n"
            "Type entry:           0x00000000 [none set]\n"
            "Source type:          indx root\n"
            "Username:             alice\n"
            "\n");
}

// A planted name with line breaks cannot forge lines of another entry in
// the text form: CR and LF in the path, the name and the user's names
// become blanks, as in the other forms, and the block keeps its lines.
TEST(EntryOutput, TextBlockKeepsEachNameOnItsLine) {
  user_ctx ctx;
  ctx.path = "\\d\r\n\\";
  ctx.username = "a\nb";
  ctx.hostname = "h\r";
  INDX_ENTRY_INFO e = make_entry(0x41, 1, "x\nMFT Entry:            0x000000000099 [153]\r\nName: y", 0, 0, 0, 0,
                                 0x10, true);
  std::string out;
  append_indx_entry(out, e, ctx);
  EXPECT_EQ(out,
            "Name:                 \\d  \\x MFT Entry:            0x000000000099 [153]  Name: y\n"
            "MFT Entry:            0x000000000041 [65]\n"
            "MFT Sequence:         0x0001 [1]\n"
            "Parent Entry:         0x000000000005 [5]\n"
            "Parent Sequence:      0x0005 [5]\n"
            "Entry:                valid\n"
            "Modify time [utc]:    0 [00/00/00 00:00:00]\n"
            "Access time [utc]:    0 [00/00/00 00:00:00]\n"
            "MFTChanged time [utc]:0 [00/00/00 00:00:00]\n"
            "Create time [utc]:    0 [00/00/00 00:00:00]\n"
            "Type entry:           0x00000010 [DIRECTORY]\n"
            "Source type:          indx alloc\n"
            "Username:             a b\n"
            "Hostname:             h \n"
            "\n");
}

TEST(EntryOutput, CsvWithEchoHeaderAndUserColumns) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.path = "\\docs\\";
  ctx.username = "alice";  // no -hostname: its column is there all the same
  ctx.cmdline = L"[01/02/20 03:04:05.678 UTC] : quor -csv";
  std::ostringstream out;
  write_indx_entry(out, sample_file(), ctx);
  write_indx_entry(out, make_entry(0, 1, "$MFT", k_t1, k_t1, k_t1, k_t1, 6, true), ctx);
  EXPECT_FALSE(ctx.header_pending);
  EXPECT_EQ(out.str(),
            "[01/02/20 03:04:05.678 UTC] : quor -csv\n"
            "mft entry,mft seq,parent mft,type,modify date,modify time [utc],access date,access time [utc],"
            "mft date,mft time [utc],create date,create time [utc],dir/file,size alloc,size used,flags,name,"
            "slack comment,username,hostname\n"
            "0x00001234,0x0003,0x00000005,slack,01/02/2020, 03:04:05.678, , ,01/02/2020, 03:04:05.678,"
            "01/02/2020, 03:05:05.678,file,0x00000400,0x000003e8,0x00000000,\\docs\\a b.txt,deleted,alice,\n"
            "0x00000000,0x0001,0x00000005,valid,01/02/2020, 03:04:05.678,01/02/2020, 03:04:05.678,"
            "01/02/2020, 03:04:05.678,01/02/2020, 03:04:05.678,file,0x00000400,0x000003e8,0x00000006,"
            "\\docs\\$MFT,,alice,\n");
}

TEST(EntryOutput, CsvBase10FromAnExtractedFile) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.hex_sizes = false;
  ctx.indxfile = "dir.indx";
  ctx.hostname = "box";
  ctx.cmdline = L"echo";
  INDX_ENTRY_INFO dir = make_entry(0, 0, "sub", 0, 0, 0, 0, 0x10, false);
  dir.file_offset = 4200;
  std::ostringstream out;
  write_indx_entry(out, sample_file(), ctx);
  write_indx_entry(out, dir, ctx);
  EXPECT_EQ(out.str(),
            "echo\n"
            "offset,mft entry,mft seq,parent mft,type,modify date,modify time [utc],access date,"
            "access time [utc],mft date,mft time [utc],create date,create time [utc],dir/file,size alloc,"
            "size used,flags,name,slack comment,username,hostname\n"
            "4120,4660,3,5,slack,01/02/2020, 03:04:05.678, , ,01/02/2020, 03:04:05.678,"
            "01/02/2020, 03:05:05.678,file,1024,1000,0x00000000,a b.txt,deleted,,box\n"
            "4200, , ,5,slack,"
            " ," " ," " ," " ," " ," " ," " ," " ,"
            "dir, , ,0x00000010,sub,,,box\n");
}

// A file whose allocated size is 0 has blank size columns, and a comma in
// the directory part of the name gives way to a blank like one in the file's.
TEST(EntryOutput, CsvBlanksZeroSizesAndCommasInThePath) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.header_pending = false;
  ctx.path = "\\a,b\\";
  index_entry_fields f;
  f.reference = file_reference(70, 2);
  f.parent_reference = file_reference(5, 5);
  f.real_size = 12;
  INDX_ENTRY_INFO e = build_index_entry(f, "c,d", true);
  std::ostringstream out;
  write_indx_entry(out, e, ctx);
  EXPECT_EQ(out.str(), "0x00000046,0x0002,0x00000005,valid, , , , , , , , ,file, , ,0x00000000,\\a b\\c d,\n");
}

// What ends a row for a CSV reader (LF, CR) and a '"' that opens a cell,
// in names from the evidence, in the user's names and in the echo, become
// blanks as commas do: each entry stays one row of the header's columns.
TEST(EntryOutput, CsvKeepsEveryEntryOnOneRow) {
  struct row_case {
    const char* what;
    std::string path, indxfile, name, user, host, expected;
  } cases[] = {
      {"bare name from a file", "", "x.indx", "\"q.txt", "", "",
       "0x00001018,0x00000041,0x0001,0x00000005,valid, , , , , , , , ,file,0x00000400,0x000003e8,0x00000000,"
       " q.txt,\n"},
      {"line breaks in the name", "\\d\\", "", "a\nb\rc\r\n\"d", "", "",
       "0x00000041,0x0001,0x00000005,valid, , , , , , , , ,file,0x00000400,0x000003e8,0x00000000,"
       "\\d\\a b c  \"d,\n"},
      {"a path that begins with a quote", "\"\\", "", "e,f", "", "",
       "0x00000041,0x0001,0x00000005,valid, , , , , , , , ,file,0x00000400,0x000003e8,0x00000000,"
       " \\e f,\n"},
      {"user and host names", "\\", "", "g", "\"Smith, John", "ws,42\r\nlab",
       "0x00000041,0x0001,0x00000005,valid, , , , , , , , ,file,0x00000400,0x000003e8,0x00000000,"
       "\\g,, Smith  John,ws 42  lab\n"},
  };
  for (const row_case& c : cases) {
    user_ctx ctx;
    ctx.csv = true;
    ctx.header_pending = false;
    ctx.path = c.path;
    ctx.indxfile = c.indxfile;
    ctx.username = c.user;
    ctx.hostname = c.host;
    INDX_ENTRY_INFO e = make_entry(0x41, 1, c.name, 0, 0, 0, 0, 0, true);
    e.file_offset = 4120;
    std::string out;
    append_indx_entry(out, e, ctx);
    EXPECT_EQ(out, c.expected) << c.what;
  }

  // The echo of a -path that names a folder with a line break, and of
  // typed commas that leave the quote the echo wraps an argument in, or one
  // typed, where a cell of the echo begins.
  const struct {
    std::wstring echo;
    std::string expected;
  } echoes[] = {
      {L"quor -path \"\\a\nb\r\" -csv ", "quor -path \"\\a b \" -csv "},
      {L"quor -csv -username \"a,\"\"\" -hostname \"w,\" ", "quor -csv -username \"a, \"\" -hostname \"w,  "},
  };
  for (const auto& e : echoes) {
    user_ctx ctx;
    ctx.csv = true;
    ctx.cmdline = e.echo;
    std::string out;
    append_indx_entry(out, make_entry(0x41, 1, "c", 0, 0, 0, 0, 0, true), ctx);
    EXPECT_EQ(out.substr(0, out.find('\n', out.find('\n') + 1) + 1),
              e.expected + "\n"
              "mft entry,mft seq,parent mft,type,modify date,modify time [utc],access date,access time [utc],"
              "mft date,mft time [utc],create date,create time [utc],dir/file,size alloc,size used,flags,name,"
              "slack comment\n");
  }
}

TEST(EntryOutput, SelectionPicksByOptions) {
  inode_indx_mmap all;
  string_indx_map nodup;
  INDX_ENTRY_INFO v1 = make_entry(30, 1, "v1", 1, 1, 1, 1, 0, true);
  INDX_ENTRY_INFO s1 = make_entry(31, 1, "s1", 2, 2, 2, 2, 0, false);
  INDX_ENTRY_INFO s2 = make_entry(31, 1, "s2", 3, 3, 3, 3, 0, false);
  all.emplace(1, v1);
  all.emplace(2, s1);
  all.emplace(3, s2);
  nodup.emplace("s1", s1);
  nodup.emplace("v1", v1);

  struct row {
    bool all, slack, valid, nodups;
    std::vector<std::string> written;
  } rows[] = {
      {false, false, true, false, {"v1"}},
      {false, true, false, false, {"s1", "s2"}},
      {false, true, true, false, {"s1", "s2"}},
      {true, false, false, false, {"v1", "s1", "s2"}},
      {true, false, true, false, {"v1", "s1", "s2"}},
      {true, true, false, false, {"s1", "s2"}},
      {false, false, false, false, {}},
      {false, false, true, true, {"v1"}},
      {false, true, true, true, {"s1"}},
      {true, false, false, true, {"s1", "v1"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << "all " << r.all << " slack " << r.slack << " valid " << r.valid
                                    << " nodups " << r.nodups);
    user_ctx ctx;
    ctx.all = r.all;
    ctx.slack = r.slack;
    ctx.valid = r.valid;
    ctx.nodups = r.nodups;
    std::string text;
    {
      cout_capture capture;
      write_dir_entries(all, nodup, ctx);
      text = capture.text.str();
    }
    std::vector<std::string> names;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("Name:", 0) == 0) names.push_back(line.substr(22));
    EXPECT_EQ(names, r.written);
  }
}

}  // namespace
