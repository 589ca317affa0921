// -indxfile on files that hold nothing to parse, and on files of real
// records extracted with icat: what the compact listing keeps, and output
// equal to the map merge's for every selection and form.
#include "app/indx_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry_fields.h"
#include "app/entry_output.h"
#include "app/merge_entries.h"
#include "ntfs/index_record.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"

namespace {

indx_file_result analyse(const std::string& file, std::string& written) {
  user_ctx ctx;
  ctx.csv = true;
  ctx.all = true;
  ctx.indxfile = file;
  std::ostringstream text;
  std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
  const indx_file_result result = analyze_indx_file(ctx);
  std::cout.rdbuf(saved);
  written = text.str();
  return result;
}

TEST(IndxFile, NothingToParse) {
  const std::string empty = quor_test::scratch_dir() + "/empty.indx", junk = quor_test::scratch_dir() + "/junk.indx";
  std::ofstream(empty, std::ios::binary).flush();
  std::ofstream(junk, std::ios::binary) << std::string(6000, 'q');
  std::string written;
  EXPECT_EQ(analyse(empty, written), indx_file_empty);
  EXPECT_EQ(analyse(junk, written), indx_file_unparsable);
  EXPECT_EQ(analyse(quor_test::scratch_dir() + "/absent.indx", written), indx_file_unreadable);
  user_ctx ctx;
  byte small[15] = {};
  EXPECT_FALSE(analyze_indx_buffer(0, ctx, small, sizeof small));
}

// The $I30 allocations of default.img's folders `dirs`, one after the
// other, `times` over: "" when icat or the fixture is absent.
std::string extracted_allocations(const std::string& as, const std::vector<std::string>& dirs, int times) {
  const std::string image = quor_test::fixture("default.img");
  if (image.empty() || !quor_test::have_program("icat")) return "";
  std::string unit;
  for (const std::string& dir : dirs)
    for (const quor_test::listing_entry& e : quor_test::read_listing("default"))
      if (e.path == dir) {
        std::string out;
        if (quor_test::run_command("icat '" + image + "' " + std::to_string(e.inode) + "-160", out) != 0) return "";
        unit += out;
      }
  const std::string path = quor_test::scratch_dir() + "/" + as;
  std::ofstream file(path, std::ios::binary);
  for (int i = 0; i < times; ++i) file << unit;
  return unit.empty() ? "" : path;
}

struct kept {
  size_t valid = 0, carved = 0;
  std::set<std::string> names;  // of the live entries
};

kept gathered(const std::string& file, bool carved_written) {
  user_ctx ctx;
  ctx.indxfile = file;
  ctx.all = carved_written;
  ctx.valid = !carved_written;
  dir_listing listing;
  EXPECT_EQ(gather_indx_file(listing, ctx), indx_file_done);
  kept k;
  INDX_ENTRY_INFO e;
  for (size_t id = 0; id < listing.entry_count(); ++id) {
    listing.entry_of(static_cast<uint32>(id), e);
    if (e.valid) {
      ++k.valid;
      k.names.insert(e.name);
    } else {
      ++k.carved;
    }
  }
  return k;
}

// -valid holds only live entries, each once however often the file repeats
// them; -all holds every carved copy.
TEST(IndxFile, ValidKeepsNoCarvedEntries) {
  const std::string once = extracted_allocations("many-once.i30", {"/many"}, 1);
  const std::string thrice = extracted_allocations("many-thrice.i30", {"/many"}, 3);
  if (once.empty() || thrice.empty()) GTEST_SKIP() << "icat or default.img absent";
  const kept valid_once = gathered(once, false), valid_thrice = gathered(thrice, false);
  const kept all_once = gathered(once, true), all_thrice = gathered(thrice, true);
  EXPECT_EQ(valid_once.carved, 0u);
  EXPECT_EQ(valid_thrice.carved, 0u);
  EXPECT_GT(valid_once.valid, 100u);
  EXPECT_EQ(valid_thrice.valid, valid_once.valid);
  EXPECT_EQ(all_once.valid, valid_once.valid);
  EXPECT_EQ(all_thrice.valid, valid_once.valid);
  EXPECT_GT(all_once.carved, 0u);
  EXPECT_EQ(all_thrice.carved, 3 * all_once.carved);
  std::set<std::string> listed;
  for (const quor_test::listing_entry& e : quor_test::read_listing("default"))
    if (e.path.compare(0, 6, "/many/") == 0) listed.insert(e.path.substr(6));
  for (const std::string& name : valid_once.names) EXPECT_EQ(listed.count(name), 1u) << name;

  // Every record's live part cut to nothing: all of it slack, so -valid
  // keeps nothing and the file still counts as parsed.
  std::string cut = quor_test::read_file_text(once);
  for (size_t at = 0; at + 4096 <= cut.size(); at += 4096) std::memset(&cut[at + 28], 0, 4);
  const std::string cut_file = quor_test::scratch_dir() + "/many-cut.i30";
  std::ofstream(cut_file, std::ios::binary) << cut;
  const kept valid_cut = gathered(cut_file, false), all_cut = gathered(cut_file, true);
  EXPECT_EQ(valid_cut.valid + valid_cut.carved, 0u);
  EXPECT_EQ(all_cut.valid, 0u);
  EXPECT_GT(all_cut.carved, all_once.carved);
}

// The file parsed whole into the parser's maps and merged by the map merge:
// the output the compact listing must reproduce byte for byte.
std::string map_merge_output(const std::string& file, user_ctx& ctx) {
  std::string data = quor_test::read_file_text(file);
  string_indx_map valid;
  inode_indx_mmap carved;
  ulong64 dir_entry = 0;
  for (size_t at = 0; at + 4096 <= data.size(); at += 4096) {
    byte* record = reinterpret_cast<byte*>(&data[at]);
    if (!fix_indx_record(record, 4096)) continue;
    if (dir_entry == 0 && !valid.empty()) dir_entry = entry_fields::parent_entry(valid.begin()->second);
    parse_indx_buffer_w_carve(valid, carved, dir_entry, record, 4096, at);
  }
  inode_indx_mmap all_entries;
  string_indx_map nodup_entries;
  std::ostringstream text;
  std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
  if (merge_indx_entries(all_entries, nodup_entries, valid, carved, 0xA0, ctx.mft_entry_count))
    write_dir_entries(all_entries, nodup_entries, ctx);
  std::cout.rdbuf(saved);
  return text.str();
}

// Folders with carved copies of live names, a name in two letter cases, and
// long names, twice over (every live entry again in a later record): each
// selection and form writes what the map merge writes.
TEST(IndxFile, SameOutputAsTheMapMerge) {
  const std::string file =
      extracted_allocations("mixed.i30", {"/many", "/names", "/longnames", "/sub"}, 2);
  if (file.empty()) GTEST_SKIP() << "icat or default.img absent";
  const int all = 1, slack = 2, valid = 4, nodups = 8, csv = 16, l2t = 32, body = 64, base10 = 128;
  for (int c : {valid, slack, all, all | slack, all | nodups, valid | nodups, slack | nodups, all | csv,
                slack | csv | base10, valid | l2t, all | l2t, all | body, slack | nodups | body}) {
    // A context for each road: the header is written once per context.
    user_ctx ctx[2];
    for (user_ctx& x : ctx) {
      x.indxfile = file;
      x.mft_entry_count = 0x10000000;
      x.all = c & all;
      x.slack = c & slack;
      x.valid = c & valid;
      x.nodups = c & nodups;
      x.csv = c & csv;
      x.csvl2t = c & l2t;
      x.bodyfile = c & body;
      x.hex_sizes = !(c & base10);
    }
    std::ostringstream text;
    std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
    EXPECT_EQ(analyze_indx_file(ctx[0]), indx_file_done) << c;
    std::cout.rdbuf(saved);
    const std::string expected = map_merge_output(file, ctx[1]);
    EXPECT_GT(expected.size(), c & (all | slack) ? 20000u : 1000u) << c;
    EXPECT_TRUE(text.str() == expected) << "case " << c << ": " << text.str().size() << " vs " << expected.size();
  }
}

}  // namespace
