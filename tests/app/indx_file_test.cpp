// -indxfile analysis: the $I30 allocation of a fixture folder extracted with
// icat, whole and with a damaged record in front of it.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/indx_file.h"
#include "app/user_ctx.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"

namespace {

struct cout_capture {
  std::ostringstream text;
  std::streambuf* saved;
  cout_capture() : saved(std::cout.rdbuf(text.rdbuf())) {}
  ~cout_capture() { std::cout.rdbuf(saved); }
};

struct csv_row {
  unsigned long long offset;
  std::string type, name, comment;
};

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> cols;
  std::stringstream in(line);
  for (std::string col; std::getline(in, col, ',');) cols.push_back(col);
  if (!line.empty() && line.back() == ',') cols.push_back("");
  return cols;
}

// CSV rows of a -base10 run: offset first, type fifth, name and comment last.
std::vector<csv_row> analyse(const std::string& file, indx_file_result& result) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.hex_sizes = false;
  ctx.all = true;
  ctx.valid = false;
  ctx.indxfile = file;
  ctx.mft_entry_count = 0x10000000;
  std::string text;
  {
    cout_capture capture;
    result = analyze_indx_file(ctx);
    text = capture.text.str();
  }
  std::vector<csv_row> rows;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // echo
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> c = split(line);
    if (c.size() != 19) {
      ADD_FAILURE() << "bad row: " << line;
      continue;
    }
    rows.push_back({std::stoull(c[0]), c[4], c[17], c[18]});
  }
  return rows;
}

std::string extract_many_allocation() {
  std::string image = quor_test::fixture("default.img");
  if (image.empty() || !quor_test::have_program("icat")) return "";
  ulong64 inode = 0;
  for (const auto& e : quor_test::read_listing("default.img"))
    if (e.path == "/many") inode = e.inode;
  std::string out = quor_test::scratch_dir() + "/many.indx";
  std::string ignored;
  std::string cmd = "icat '" + image + "' " + std::to_string(inode) + "-160 > '" + out + "'";
  if (inode == 0 || quor_test::run_command(cmd, ignored) != 0) return "";
  return out;
}

TEST(IndxFile, ExtractedAllocationListsTheFolder) {
  std::string file = extract_many_allocation();
  if (file.empty()) GTEST_SKIP() << "needs default.img and icat";
  std::set<std::string> expected;
  for (const auto& e : quor_test::read_listing("default.img"))
    if (e.path.rfind("/many/", 0) == 0) expected.insert(e.path.substr(6));
  std::set<std::string> gone;
  for (const auto& d : quor_test::read_deleted("default.img"))
    if (d.path.rfind("/many/", 0) == 0) gone.insert(d.path.substr(6));

  indx_file_result result;
  std::vector<csv_row> rows = analyse(file, result);
  ASSERT_EQ(result, indx_file_done);
  std::set<std::string> live;
  size_t carved_gone = 0;
  for (const csv_row& r : rows) {
    if (r.type == "valid") {
      live.insert(r.name);
    } else {
      if (r.comment == "deleted") {
        EXPECT_EQ(expected.count(r.name), 0u) << r.name;
      }
      if (gone.count(r.name)) ++carved_gone;
    }
  }
  // The root of the index is not in the file: the live names found are
  // the folder's names kept in INDX records.
  EXPECT_GT(live.size(), expected.size() / 2);
  for (const std::string& name : live) EXPECT_EQ(expected.count(name), 1u) << name;
  EXPECT_GT(carved_gone, 0u);

  // A record that is not an index record is passed over; the records after
  // it keep their own offsets.
  std::ifstream in(file, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string damaged = quor_test::scratch_dir() + "/damaged.indx";
  std::ofstream(damaged, std::ios::binary) << std::string(4096, 'z') << whole;
  std::vector<csv_row> shifted = analyse(damaged, result);
  ASSERT_EQ(result, indx_file_done);
  std::set<std::string> live_shifted;
  for (const csv_row& r : shifted) {
    EXPECT_GE(r.offset, 4096u);
    if (r.type == "valid") live_shifted.insert(r.name);
  }
  EXPECT_EQ(live_shifted, live);
}

TEST(IndxFile, LargeFileIsReadWhole) {
  std::string file = extract_many_allocation();
  if (file.empty()) GTEST_SKIP() << "needs default.img and icat";
  std::ifstream in(file, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The folder's records placed beyond the first 2 MiB.
  std::string big = quor_test::scratch_dir() + "/big.indx";
  std::ofstream(big, std::ios::binary) << std::string(0x200000 + 8192, '\0') << whole;
  indx_file_result result;
  std::vector<csv_row> rows = analyse(big, result);
  ASSERT_EQ(result, indx_file_done);
  ASSERT_FALSE(rows.empty());
  for (const csv_row& r : rows) EXPECT_GE(r.offset, 0x200000u + 8192u);
}

TEST(IndxFile, NothingToParse) {
  indx_file_result result;
  std::string empty = quor_test::scratch_dir() + "/empty.indx";
  std::ofstream(empty, std::ios::binary).flush();
  analyse(empty, result);
  EXPECT_EQ(result, indx_file_empty);
  std::string junk = quor_test::scratch_dir() + "/junk.indx";
  std::ofstream(junk, std::ios::binary) << std::string(6000, 'q');
  analyse(junk, result);
  EXPECT_EQ(result, indx_file_unparsable);
  analyse(quor_test::scratch_dir() + "/absent.indx", result);
  EXPECT_EQ(result, indx_file_unreadable);

  user_ctx ctx;
  byte small[15] = {};
  EXPECT_FALSE(analyze_indx_buffer(0, ctx, small, sizeof small));
}

}  // namespace
