// The walker's one-entry report on default.img entries read as the walker
// reads them: the run summary of a whole record and the columns of a report
// narrowed to a stream, against ntfsinfo's run lists written out by hand.
#include "examine/walk_entry_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "app/source_open.h"
#include "tests/examine/walk_run.h"
#include "tests/support/engine.h"

namespace {

using quor_test::split_fields;
using quor_test::split_lines;

struct walked_entry {
  user_ctx ctx;
  inode_attributes rec;
  bool ok = false;
  explicit walked_entry(const std::string& path) {
    const std::string image = quor_test::fixture("default.img");
    ok = !image.empty() && quor_test::parse_walk_options(ctx, {"-image", image, "-csv"}) && initialize_mft(ctx) &&
         read_inode(rec, ctx, quor_test::listed_inode("default", path));
  }
  const attribute_record* data() const {
    for (const auto& kv : rec.attributes)
      if (kv.second.label == "unnamed data") return &kv.second;
    return nullptr;
  }
};

// ntfsinfo: /frag/a.bin has 16 runs of one cluster, at 0xe32, 0xe34, ...
// 0xe50; /sparse.bin a hole of 0x100 clusters, 2 at 0xe52, a hole of 0x2fe,
// 2 at 0x1152 and a hole of 0xfe. Both carry a resident descriptor of 80
// bytes (istat), filed before the data.
std::string frag_runs() {
  std::string text;
  char run[16];
  for (int k = 0; k < 16; ++k) {
    std::snprintf(run, sizeof run, "0x%06x/1", 0xe32 + 2 * k);
    text += (k ? " : " : "") + std::string(run);
  }
  return text;
}

TEST(WalkEntryReport, DescribeRunsOfEveryAttributeWithData) {
  const struct {
    const char* path;
    bool omit_runs;
    std::string want;
  } cases[] = {
      {"/frag/a.bin", false,
       "[security descr : sz: 0x0050]; [unnamed data : sz: 0x10000 : start cluster/count: " +
           frag_runs() + "]"},
      {"/frag/a.bin", true, "[security descr : sz: 0x0050]; [unnamed data : sz: 0x10000]"},
      {"/sparse.bin", false,
       "[security descr : sz: 0x0050]; [unnamed data : sz: 0x500000 : start cluster/count: "
       "0x000000/256 [sparse] : 0x000e52/2 : 0x000000/766 [sparse] : 0x001152/2 : 0x000000/254 [sparse]]"},
      {"/small.txt", false, "[security descr : sz: 0x0050]; [unnamed data : sz: 0x012c]"},
  };
  for (const auto& c : cases) {
    walked_entry e(c.path);
    ASSERT_TRUE(e.ok) << c.path;
    std::ostringstream out;
    describe_runs(e.rec, out, "; ", c.omit_runs);
    EXPECT_EQ(out.str(), c.want) << c.path;
  }
  // Nothing with data: nothing at all.
  inode_attributes none;
  std::ostringstream empty;
  describe_runs(none, empty, "; ", false);
  EXPECT_EQ(empty.str(), "");
}

// Columns of the CSV form by their titles, for every row of the output.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string& text) {
  std::vector<std::map<std::string, std::string>> rows;
  const std::vector<std::string> lines = split_lines(text);
  if (lines.empty()) return rows;
  const std::vector<std::string> titles = split_fields(lines[0], ',');
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = split_fields(lines[i], ',');
    std::map<std::string, std::string> row;
    for (size_t k = 0; k < titles.size() && k < f.size(); ++k) row[titles[k]] = f[k];
    rows.push_back(row);
  }
  return rows;
}

TEST(WalkEntryReport, ColumnsOfAStreamAndOfTheWholeRecord) {
  const std::string sparse_clusters =
      "0x00000000 -> 0x000000ff [sparse]; 0x00000e52 -> 0x00000e53; 0x00000000 -> 0x000002fd [sparse]; "
      "0x00001152 -> 0x00001153; 0x00000000 -> 0x000000fd [sparse]";
  std::string frag_clusters;
  for (int k = 0; k < 16; ++k) {
    char run[16];
    std::snprintf(run, sizeof run, "0x%08x", 0xe32 + 2 * k);
    frag_clusters += (k ? "; " : "") + std::string(run);
  }
  const struct {
    const char* path;
    bool with_parent, with_data, whole, omit_clusters;
    std::map<std::string, std::string> want;
  } cases[] = {
      // /frag is entry 66; its files are 64 KiB.
      {"/frag/a.bin", true, true, false, false,
       {{"parent mft", "0x00000042"}, {"type", "file"}, {"ext", "bin"}, {"size data", "0x00010000"},
        {"data type", "unnamed data"}, {"other info", ""}, {"clusters/relevant data", frag_clusters}}},
      {"/sparse.bin", true, true, false, false,
       {{"parent mft", "0x00000005"}, {"ext", "bin"}, {"size data", "0x00500000"},
        {"clusters/relevant data", sparse_clusters}}},
      {"/small.txt", true, true, false, false,
       {{"ext", "txt"}, {"size data", "0x0000012c"}, {"clusters/relevant data", "<data in MFT entry>"}}},
      // The whole record: the run summary, no size, no data type.
      {"/frag/a.bin", true, false, true, false,
       {{"size data", "0x00000000"}, {"data type", ""},
        {"clusters/relevant data",
         "[security descr : sz: 0x0050]; [unnamed data : sz: 0x10000 : start cluster/count: " +
             frag_runs() + "]"}}},
      // Without cluster information: no size or data type column, and the
      // whole record's summary without its runs.
      {"/frag/a.bin", true, false, true, true,
       {{"various data types", "[security descr : sz: 0x0050]; [unnamed data : sz: 0x10000]"}}},
      // No parent: the root with sequence 0, no extension.
      {"/frag/a.bin", false, false, false, false,
       {{"parent mft", "0x00000005"}, {"ext", "none"}, {"size data", "0x00000000"}, {"clusters/relevant data", ""}}},
      // Two names in one folder (a hard link).
      {"/nonres.bin", true, false, false, false, {{"other info", "multinames [2]"}, {"type", "file"}}},
      {"/frag", true, false, false, false, {{"type", "dir"}, {"ext", "none"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.whole ? " whole" : c.with_data ? " data" : ""));
    walked_entry e(c.path);
    ASSERT_TRUE(e.ok);
    ASSERT_FALSE(e.rec.parents.empty());
    e.ctx.omit_clusterinfo = c.omit_clusters;
    const attribute_record* data = e.data();
    if (c.with_data) {
      ASSERT_NE(data, nullptr);
    }
    std::ostringstream out;
    write_entry_report(e.rec, out, e.ctx, c.with_parent ? &e.rec.parents.begin()->second : nullptr,
                       c.with_data ? data : nullptr, c.whole);
    const auto rows = csv_rows(out.str());
    ASSERT_FALSE(rows.empty()) << out.str();
    EXPECT_FALSE(e.ctx.header_pending);
    // Files made through the mount: created, then written, then changed:
    // at least two instants, each row with the entry's columns.
    EXPECT_GE(rows.size(), 2u);
    for (const auto& row : rows) {
      EXPECT_EQ(row.at("mft entry"), "0x" + [&] {
        char n[16];
        std::snprintf(n, sizeof n, "%08llx", static_cast<unsigned long long>(e.rec.entry));
        return std::string(n);
      }());
      for (const auto& kv : c.want) {
        ASSERT_TRUE(row.count(kv.first)) << kv.first;
        EXPECT_EQ(row.at(kv.first), kv.second) << kv.first;
      }
    }
  }
}

// Without -csv the same report goes to the text table, its columns joined
// by " | ".
TEST(WalkEntryReport, TextFormTakesTheSameColumns) {
  walked_entry e("/frag/a.bin");
  ASSERT_TRUE(e.ok);
  ASSERT_FALSE(e.rec.parents.empty());
  e.ctx.csv = false;
  e.ctx.omit_clusterinfo = false;
  const attribute_record* data = e.data();
  ASSERT_NE(data, nullptr);
  std::ostringstream out;
  write_entry_report(e.rec, out, e.ctx, &e.rec.parents.begin()->second, data, false);
  const std::vector<std::string> lines = split_lines(out.str());
  ASSERT_GE(lines.size(), 3u) << out.str();  // the header and two instants
  EXPECT_NE(lines[0].find("clusters/relevant data"), std::string::npos) << lines[0];
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(" | "), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find("unnamed data"), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find("0x00000e32; 0x00000e34; "), std::string::npos) << lines[i];
    EXPECT_EQ(lines[i].find(','), std::string::npos) << lines[i];
  }
}

}  // namespace
