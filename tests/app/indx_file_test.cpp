// -indxfile: the $I30 allocation of a fixture folder extracted with icat,
// as it is, behind a record that is not an index record, and beyond 2 MiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/indx_file.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"

namespace {

// Offsets of the slack rows and names of the valid rows of a -base10 CSV run.
indx_file_result analyse(const std::string& file, std::set<std::string>& live, std::set<std::string>& deleted,
                         unsigned long long& lowest_offset) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.hex_sizes = false;
  ctx.all = true;
  ctx.indxfile = file;
  ctx.mft_entry_count = 0x10000000;
  std::ostringstream text;
  std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
  indx_file_result result = analyze_indx_file(ctx);
  std::cout.rdbuf(saved);
  std::istringstream lines(text.str());
  lowest_offset = ~0ull;
  std::string line;
  for (int skip = 0; skip < 2; ++skip) std::getline(lines, line);  // echo and header
  while (std::getline(lines, line)) {
    std::vector<std::string> c;
    std::stringstream cols(line + ",");
    for (std::string col; std::getline(cols, col, ',');) c.push_back(col);
    EXPECT_EQ(c.size(), 19u) << line;
    if (c.size() != 19) continue;
    lowest_offset = std::min(lowest_offset, std::stoull(c[0]));
    if (c[4] == "valid") live.insert(c[17]);
    if (c[18] == "deleted") deleted.insert(c[17]);
  }
  return result;
}

TEST(IndxFile, ExtractedAllocationOfAFolder) {
  std::string image = quor_test::fixture("default.img");
  if (image.empty() || !quor_test::have_program("icat")) GTEST_SKIP() << "needs default.img and icat";
  std::set<std::string> expected, gone;
  std::string inode;
  for (const auto& e : quor_test::read_listing("default.img")) {
    if (e.path == "/many") inode = std::to_string(e.inode);
    if (e.path.rfind("/many/", 0) == 0) expected.insert(e.path.substr(6));
  }
  for (const auto& d : quor_test::read_deleted("default.img"))
    if (d.path.rfind("/many/", 0) == 0) gone.insert(d.path.substr(6));
  std::string file = quor_test::scratch_dir() + "/many.indx", ignored;
  ASSERT_EQ(quor_test::run_command("icat '" + image + "' " + inode + "-160 > '" + file + "'", ignored), 0);
  std::ifstream in(file, std::ios::binary);
  std::string records((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  struct row {
    std::string name, front;  // bytes put before the records
  } rows[] = {{"as extracted", ""},
              {"behind a damaged record", std::string(4096, 'z')},
              {"beyond 2 MiB", std::string(0x200000 + 8192, '\0')}};
  std::set<std::string> first_live;
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string path = quor_test::scratch_dir() + "/front.indx";
    std::ofstream(path, std::ios::binary) << r.front << records;
    std::set<std::string> live, deleted;
    unsigned long long lowest = 0;
    ASSERT_EQ(analyse(path, live, deleted, lowest), indx_file_done);
    EXPECT_GE(lowest, r.front.size() + 24);
    // The root node is not in the file: most, not all, live names are.
    EXPECT_GT(live.size(), expected.size() / 2);
    for (const std::string& name : live) EXPECT_EQ(expected.count(name), 1u) << name;
    size_t gone_found = 0;
    for (const std::string& name : deleted) {
      EXPECT_EQ(expected.count(name), 0u) << name;
      gone_found += gone.count(name);
    }
    EXPECT_GT(gone_found, 0u);
    if (first_live.empty()) first_live = live;
    EXPECT_EQ(live, first_live);
  }
}

TEST(IndxFile, NothingToParse) {
  std::string empty = quor_test::scratch_dir() + "/empty.indx", junk = quor_test::scratch_dir() + "/junk.indx";
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(junk, std::ios::binary) << std::string(6000, 'q');
  std::set<std::string> live, deleted;
  unsigned long long lowest = 0;
  EXPECT_EQ(analyse(empty, live, deleted, lowest), indx_file_empty);
  EXPECT_EQ(analyse(junk, live, deleted, lowest), indx_file_unparsable);
  EXPECT_EQ(analyse(quor_test::scratch_dir() + "/absent.indx", live, deleted, lowest), indx_file_unreadable);
  user_ctx ctx;
  byte small[15] = {};
  EXPECT_FALSE(analyze_indx_buffer(0, ctx, small, sizeof small));
}

}  // namespace
