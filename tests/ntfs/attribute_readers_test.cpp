// Attribute values and data read out of a record and through run records,
// checked against the kit's pattern data.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"

namespace {

ulong64 inode_of(const std::string& path) { return quor_test::listed_inode("default", path); }

std::string expected(const std::string& path) {
  std::string data;
  quor_test::expected_file_data("default", path, data);
  return data;
}

std::vector<byte> record_of(CNtfs& engine, const std::string& path) {
  std::vector<byte> rec;
  bool torn = false;
  if (!engine.read_mft_record_to_vector(rec, torn, inode_of(path))) rec.clear();
  return rec;
}

std::vector<run_record> data_runs_of(CNtfs& engine, const std::string& path) {
  INODE_STATS stats;
  const std::vector<byte> rec = record_of(engine, path);
  if (rec.empty() || !engine.parse_file_record(rec.data(), stats)) return {};
  return stats.data_runs;
}

bool same(const byte* got, const std::string& want, size_t from, size_t n) {
  return from + n <= want.size() && std::equal(got, got + n, want.begin() + from,
                                               [](byte a, char b) { return a == static_cast<byte>(b); });
}

}  // namespace

TEST(AttributeReaders, ValuesAndRangesOutOfARecord) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  // Whole values: a resident one is cut to the room given, data through runs
  // that does not fit is refused.
  const struct {
    const char* path;
    uint32 capacity;
    bool ok;
    size_t compared;
  } values[] = {{"/small.txt", 300, true, 300},
                {"/small.txt", 100, true, 100},
                {"/hardlink.bin", 204800, true, 204800},
                {"/frag/a.bin", 65536 + 7, true, 65536},
                {"/hardlink.bin", 4096, false, 0}};
  for (const auto& v : values) {
    const std::vector<byte> rec = record_of(*engine, v.path);
    ASSERT_FALSE(rec.empty()) << v.path;
    std::vector<byte> buf(v.capacity + 16, 0xEE);
    byte* cursor = nullptr;
    EXPECT_EQ(engine->read_attribute_value(rec.data(), ATTR_DATA, buf.data(), v.capacity, cursor, false), v.ok)
        << v.path << " " << v.capacity;
    if (!v.ok) continue;
    EXPECT_TRUE(same(buf.data(), expected(v.path), 0, v.compared)) << v.path;
    EXPECT_EQ(buf[v.capacity], 0xEE) << v.path;  // nothing past the room given
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(load_u32(cursor, 0), ATTR_DATA);
  }
  // The $FILE_NAME value holds the name at 66, its length at 64.
  const std::vector<byte> small = record_of(*engine, "/small.txt");
  std::vector<byte> fn(128, 0);
  byte* cursor = nullptr;
  ASSERT_TRUE(engine->read_attribute_value(small.data(), ATTR_FILE_NAME, fn.data(), 128, cursor, false));
  EXPECT_EQ(fn[64], 9);
  EXPECT_EQ(load_u16(fn.data(), 66), 's');
  EXPECT_EQ(load_u16(fn.data(), 66 + 2 * 8), 't');
  cursor = nullptr;
  EXPECT_FALSE(engine->read_attribute_value(small.data(), 0xC0, fn.data(), 128, cursor, false));

  // Ranges: cut at the value's or the runs' end; at or past a resident
  // value's end the buffer is zeroed and the size kept.
  const struct {
    const char* path;
    uint32 offset;
    int length, size;
    int got;
  } ranges[] = {{"/small.txt", 290, 20, 32, 10},         {"/small.txt", 0, 300, 300, 300},
                {"/small.txt", 300, 10, 16, 16},         {"/hardlink.bin", 5000, 3000, 3000, 3000},
                {"/hardlink.bin", 204800 - 100, 1000, 1000, 100}, {"/frag/b.bin", 4000, 9000, 9000, 9000}};
  for (const auto& r : ranges) {
    const std::vector<byte> rec = record_of(*engine, r.path);
    std::vector<byte> buf(r.size, 0xEE);
    int size = r.size;
    byte* at = nullptr;
    ASSERT_TRUE(engine->read_attribute_range(rec.data(), ATTR_DATA, r.offset, r.length, buf.data(), size, at, false))
        << r.path << " at " << r.offset;
    EXPECT_EQ(size, r.got) << r.path << " at " << r.offset;
    if (r.offset >= expected(r.path).size()) {
      EXPECT_EQ(std::count(buf.begin(), buf.end(), 0), r.size) << r.path;
    } else {
      EXPECT_TRUE(same(buf.data(), expected(r.path), r.offset, size)) << r.path << " at " << r.offset;
    }
  }

  // A resident value, through the record and through its run record alike:
  // inside the value `size` is the bytes copied, none for a length below 1;
  // at or past its end `size` stays as passed.
  const std::vector<run_record> resident = data_runs_of(*engine, "/small.txt");
  ASSERT_EQ(resident.size(), 1u);
  ASSERT_TRUE(resident[0].resident);
  const struct {
    uint32 offset;
    int length;
    int got;
  } short_ranges[] = {{10, 0, 0}, {10, -1, 0}, {290, 16, 10}, {300, 0, 16}, {400, -1, 16}};
  for (const auto& r : short_ranges) {
    for (bool through_runs : {false, true}) {
      std::vector<byte> buf(16, 0xEE);
      int size = 16;
      byte* at = nullptr;
      EXPECT_TRUE(through_runs ? engine->read_run_records_range(resident, r.offset, r.length, buf.data(), size)
                               : engine->read_attribute_range(small.data(), ATTR_DATA, r.offset, r.length,
                                                              buf.data(), size, at, false))
          << r.offset << " " << r.length << (through_runs ? " runs" : " record");
      EXPECT_EQ(size, r.got) << r.offset << " " << r.length << (through_runs ? " runs" : " record");
      // The bytes copied, then zeros to the end of the buffer.
      const int copied = r.offset < 300 ? r.got : 0;
      EXPECT_TRUE(same(buf.data(), expected("/small.txt"), r.offset, copied) || copied == 0);
      EXPECT_EQ(std::count(buf.begin() + copied, buf.end(), 0), 16 - copied);
    }
  }
}

TEST(AttributeReaders, DataThroughRunRecords) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  CNtfs none;
  // Whole data to a stream; compressed data decompressed when asked.
  const struct {
    const char* path;
    bool decompress;
  } streams[] = {{"/hardlink.bin", false}, {"/small.txt", false}, {"/frag/a.bin", false},
                 {"/compressed/pattern.bin", true}};
  for (const auto& s : streams) {
    const std::vector<run_record> runs = data_runs_of(*engine, s.path);
    ASSERT_FALSE(runs.empty()) << s.path;
    std::ostringstream out;
    engine->write_run_records_data(runs, out, s.decompress);
    // Run records carry no data size: compressed data comes out in whole
    // 64 KiB units, the last one ending in zeros.
    std::string want = expected(s.path);
    if (s.decompress) want.resize((want.size() + 65535) / 65536 * 65536, '\0');
    EXPECT_TRUE(out.str() == want) << s.path << ": " << out.str().size() << " bytes";
    std::ostringstream nothing;
    if (!runs[0].resident) none.write_run_records_data(runs, nothing, s.decompress);
    EXPECT_TRUE(nothing.str().empty()) << s.path;
  }

  // A byte range through the cluster list, holes as zeros.
  lcn_run_list list;
  ASSERT_TRUE(engine->find_data_cluster_list(inode_of("/sparse.bin"), list, true));
  const std::string sparse = expected("/sparse.bin");
  ASSERT_EQ(sparse.size(), 5242880u);
  const struct {
    ulong64 offset;
    int size;
    bool ok;
  } ranges[] = {{0, 100, true},
                {1048576 - 4096, 8192, true},
                {4194304 + 10, 5000, true},
                {5242880 - 10, 10, true},
                {5242880 + 4096, 10, false}};
  for (const auto& r : ranges) {
    std::vector<byte> buf(r.size, 0xEE);
    int size = r.size;
    EXPECT_EQ(engine->read_range_by_lcn_list(list, r.offset, buf.data(), size), r.ok) << r.offset;
    if (r.ok) {
      EXPECT_TRUE(same(buf.data(), sparse, r.offset, r.size)) << r.offset;
    }
  }
  int size = 10;
  std::vector<byte> buf(10);
  EXPECT_FALSE(none.read_range_by_lcn_list(list, 0, buf.data(), size));
}

TEST(AttributeReaders, DataSizesAndTheRunReport) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  // Every $DATA attribute counts, sparse runs included; the record's own
  // total is added to.
  const struct {
    const char* path;
    ulong64 start;
    bool ok;
    ulong64 total;
  } sizes[] = {{"/hardlink.bin", 0, true, 204800}, {"/small.txt", 0, true, 300},     {"/sparse.bin", 0, true, 5242880},
               {"/streams.txt", 0, true, 71},    {"/small.txt", 1000, true, 1300}, {"/frag", 0, false, 0}};
  for (const auto& s : sizes) {
    ulong64 total = s.start;
    EXPECT_EQ(engine->get_data_size(inode_of(s.path), total), s.ok) << s.path;
    if (s.ok) {
      EXPECT_EQ(total, s.total) << s.path;
    }
    // Without a list the whole size is the record's own; the total starts at
    // 0. A record without $DATA (the folder) adds nothing and is no failure.
    total = s.start;
    EXPECT_TRUE(engine->get_data_size_incl_attribute_list(inode_of(s.path), total)) << s.path;
    EXPECT_EQ(total, s.ok ? s.total - s.start : 0) << s.path;
  }
  // A file whose runs outgrew its record counts the pieces its (non-resident)
  // attribute list names in extension records: every cluster istat lists,
  // holes included, which is the file's size; its base record holds 1,017.
  if (quor_test::have_program("istat")) {
    const std::string image = quor_test::fixture("runlist.img");
    auto listed = quor_test::open_engine_at(image);
    ASSERT_TRUE(listed);
    const ulong64 inode = quor_test::listed_inode("runlist", "/frag/a.bin");
    const std::string report = quor_test::istat_report(image, inode);
    ulong64 clusters = 0;
    for (const quor_test::istat_list_entry& e : quor_test::istat_list_entries(report))
      if (e.type == ATTR_DATA && e.vcn == 0) clusters = quor_test::istat_clusters(report, ATTR_DATA, e.id).size();
    ulong64 total = 0;
    ASSERT_TRUE(listed->get_data_size_incl_attribute_list(inode, total));
    EXPECT_EQ(total, clusters * listed->m_cluster_size);
    EXPECT_EQ(total, 19660800u);
    total = 0;
    ASSERT_TRUE(listed->get_data_size(inode, total));
    EXPECT_EQ(total, 1017u * listed->m_cluster_size);

    // The same file once its list cannot be read (its run sent past the
    // volume's end): no size at all, rather than its base record's alone.
    const std::string damaged = quor_test::copy_fixture("runlist.img", "list-run-damaged.img");
    ASSERT_FALSE(damaged.empty());
    ASSERT_TRUE(quor_test::rewrite_mft_runs(damaged, listed->get_inode_file_pos(inode),
                                            {{1, listed->m_total_clusters + 10}}, 0, ATTR_ATTRIBUTE_LIST));
    auto broken = quor_test::open_engine_at(damaged);
    ASSERT_TRUE(broken);
    total = 1;
    EXPECT_FALSE(broken->get_data_size_incl_attribute_list(inode, total));
    EXPECT_EQ(total, 0u);
    total = 0;
    EXPECT_TRUE(broken->get_data_size(inode, total));
    EXPECT_EQ(total, 1017u * broken->m_cluster_size);
  }
  // A file with a hundred names: its list went non-resident and its data to
  // an extension record, leaving the base record without $DATA. Its size is
  // the clusters istat lists for that data.
  const std::string attrlist = quor_test::shared_testdata("ntfs3_attrlist.raw");
  if (!attrlist.empty() && quor_test::have_program("istat")) {
    auto many = quor_test::open_engine_at(attrlist);
    ASSERT_TRUE(many);
    const std::string report = quor_test::istat_report(attrlist, 27);
    ulong64 clusters = 0;
    for (uint32 id : quor_test::istat_attribute_ids(report, ATTR_DATA))
      clusters += quor_test::istat_clusters(report, ATTR_DATA, id).size();
    ASSERT_GT(clusters, 0u);
    ulong64 total = 0;
    EXPECT_FALSE(many->get_data_size(27, total));
    EXPECT_TRUE(many->get_data_size_incl_attribute_list(27, total));
    EXPECT_EQ(total, clusters * many->m_cluster_size);
  }

  // The run report: each run's first and last LCN and the running total.
  const std::vector<run_record> runs = data_runs_of(*engine, "/frag/a.bin");
  ASSERT_GE(runs.size(), 2u);
  std::ostringstream out;
  engine->dump_runs_with_sample(runs, out);
  const std::string text = out.str();
  size_t at = 0;
  ulong64 total = 0;
  for (const run_record& r : runs) {
    total += r.num_clusters;
    std::ostringstream lines;
    lines << std::hex << "\tLCN (start): 0x" << r.lcn << " (" << std::dec << r.lcn << ")\n"
          << std::hex << "\tLCN (stop):  0x" << r.lcn + r.num_clusters - 1 << " (" << std::dec
          << r.lcn + r.num_clusters - 1 << ")\n"
          << std::hex << "\tnum clusters (running total):  0x" << total << " (" << std::dec << total << ")\n"
          << std::hex << "will try to read the NTFS_DATA starting at LCN 0x" << r.lcn << " (" << std::dec << r.lcn
          << ")";
    at = text.find(lines.str(), at);
    ASSERT_NE(at, std::string::npos) << r.lcn << "\n" << text;
  }
  EXPECT_NE(text.find("output to 64 bytes)"), std::string::npos);
  std::ostringstream holes;
  engine->dump_runs_with_sample(data_runs_of(*engine, "/sparse.bin"), holes);
  EXPECT_NE(holes.str().find("\tLCN (start/end): SPARSE ENTRY\n"), std::string::npos);
  std::ostringstream resident, unopened;
  engine->dump_runs_with_sample(data_runs_of(*engine, "/small.txt"), resident);
  CNtfs none;
  none.dump_runs_with_sample(runs, unopened);
  EXPECT_EQ(resident.str(), "");
  EXPECT_EQ(unopened.str(), "");
}
