// The engine on the real test volumes: validation, entry counts, every
// listed entry's names and parents, and file data read through the runs.
#include "ntfs/ntfs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "disk/disk_handle.h"
#include "ntfs/mft_record.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "tests/support/record_builder.h"
#include "utils/utf_convert.h"

using quor_test::record_builder;

namespace {

using listed_entry = quor_test::listing_entry;
using quor_test::read_listing;

// The bytes each patterned file of a kit volume must read as.
std::map<std::string, std::vector<byte>> expected_contents(const std::string& name) {
  std::map<std::string, std::vector<byte>> out;
  for (const quor_test::content_range& r : quor_test::read_content(name)) {
    if (out.count(r.path)) continue;
    std::string data;
    if (quor_test::expected_file_data(name, r.path, data)) out[r.path].assign(data.begin(), data.end());
  }
  return out;
}

std::string parent_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "dir\name\", the form of the engine's path lists, of a listed "/dir/name".
std::string path_list_form(const std::string& path) {
  std::string p = path.substr(1) + "/";
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

struct geometry {
  const char* name;
  uint32 cluster;
  uint32 record;
  uint16 sector;
};

const geometry kVolumes[] = {
    {"default", 4096, 1024, 512}, {"c512", 512, 1024, 512},      {"c64k", 65536, 1024, 512},
    {"s4096", 4096, 4096, 4096},  {"c128k", 131072, 1024, 512},
};

CNtfs* open_fixture(const std::string& name) { return quor_test::open_engine(name + ".img").release(); }

// $MFT data size / record size as ntfsinfo reports them.
long64 ntfsinfo_entry_count(const std::string& img) {
  std::string out;
  if (quor_test::run_command("ntfsinfo -F '/$MFT' '" + img + "' 2>/dev/null", out) != 0) return -1;
  const size_t dump = out.find("Dumping attribute $DATA");
  const size_t data = out.find("Data size:", dump);
  const size_t rec = out.find("Bytes Allocated:");
  if (dump == std::string::npos || data == std::string::npos || rec == std::string::npos) return -1;
  const ulong64 data_size = std::stoull(out.substr(out.find_first_of("0123456789", data + 10)));
  const ulong64 record = std::stoull(out.substr(out.find_first_of("0123456789", rec + 16)));
  return static_cast<long64>(data_size / record);
}

}  // namespace

TEST(EngineOnFixtures, ValidatesGeometry) {
  for (const geometry& g : kVolumes) {
    CNtfs* engine = open_fixture(g.name);
    if (!engine) {
      ADD_FAILURE() << g.name << " did not open (or is missing)";
      continue;
    }
    EXPECT_EQ(engine->m_cluster_size, g.cluster) << g.name;
    EXPECT_EQ(engine->m_mft_record_size, g.record) << g.name;
    EXPECT_EQ(engine->m_mft_record_alloc_size, g.record) << g.name;
    EXPECT_EQ(engine->get_bytes_per_sector(), g.sector) << g.name;
    ulong64 highest = 0;
    for (const listed_entry& e : read_listing(g.name)) highest = std::max(highest, e.inode);
    EXPECT_GT(engine->get_inode_count(), highest) << g.name;
    // The tool asks again for the position of an engine already validated.
    ulong64 pos = 0;
    EXPECT_TRUE(engine->initialise(pos));
    EXPECT_EQ(pos, engine->m_mft_file_pos);
    delete engine;
  }
}

// Every name of every entry is checked by the path lists of the entry
// information; here the record's flags and sequence, and the name and parent
// of its summary.
TEST(EngineOnFixtures, EveryListedEntryCarriesItsNameParentAndSequence) {
  std::vector<geometry> volumes(std::begin(kVolumes), std::end(kVolumes));
  volumes.push_back({"bigdir", 4096, 1024, 512});
  for (const geometry& g : volumes) {
    CNtfs* engine = open_fixture(g.name);
    ASSERT_NE(engine, nullptr) << g.name;
    const std::vector<listed_entry> listing = read_listing(g.name);
    std::map<std::string, ulong64> inode_of;
    inode_of["/"] = 5;
    for (const listed_entry& e : listing) inode_of[e.path] = e.inode;
    std::set<std::pair<ulong64, std::pair<std::string, ulong64>>> names;  // entry, (name, parent)
    for (const listed_entry& e : listing)
      names.insert({e.inode, {e.path.substr(e.path.rfind('/') + 1), inode_of[parent_path(e.path)]}});
    std::vector<byte> rec(engine->m_mft_record_alloc_size);
    for (const listed_entry& e : listing) {
      byte* buf = rec.data();
      ulong64 pos = 0;
      int size = static_cast<int>(rec.size());
      ASSERT_TRUE(engine->read_mft_record(e.inode, buf, pos, size, false)) << g.name << " " << e.path;
      EXPECT_FALSE(engine->last_record_torn()) << e.path;
      const uint16 flags = load_u16(rec.data(), FRH_FLAGS);
      EXPECT_TRUE(flags & FILE_RECORD_IN_USE) << e.path;
      EXPECT_EQ((flags & FILE_RECORD_DIRECTORY) != 0, e.kind == 'd') << e.path;
      if (e.sequence != 0) {
        EXPECT_EQ(load_u16(rec.data(), FRH_SEQUENCE), e.sequence) << e.path;
      }
      INODE_STATS stats;
      ASSERT_TRUE(engine->parse_file_record(rec.data(), stats)) << e.path;
      EXPECT_TRUE(names.count({e.inode, {stats.name_utf8, mft_reference_entry(load_u64(stats.file_name, FN_PARENT))}}))
          << g.name << " " << e.path << ": summary named " << stats.name_utf8;
    }
    delete engine;
  }
}

TEST(EngineOnFixtures, FileDataThroughTheRunsMatchesWhatWasWritten) {
  for (const geometry& g : kVolumes) {
    CNtfs* engine = open_fixture(g.name);
    ASSERT_NE(engine, nullptr) << g.name;
    const std::vector<listed_entry> listing = read_listing(g.name);
    std::map<std::string, ulong64> inode_of;
    for (const listed_entry& e : listing) inode_of[e.path] = e.inode;
    const auto contents = expected_contents(g.name);
    ASSERT_FALSE(contents.empty()) << g.name;
    for (const auto& kv : contents) {
      byte* rec = nullptr;
      ulong64 pos = 0;
      int size = 0;
      ASSERT_TRUE(engine->read_mft_record(inode_of.at(kv.first), rec, pos, size, true)) << kv.first;
      std::ostringstream data;
      byte* cursor = nullptr;
      EXPECT_TRUE(engine->write_attribute_value(rec, ATTR_DATA, data, cursor, false)) << g.name << kv.first;
      const std::string got = data.str();
      EXPECT_TRUE(got.size() == kv.second.size() && std::equal(got.begin(), got.end(), kv.second.begin(),
                                                               [](char a, byte b) { return static_cast<byte>(a) == b; }))
          << g.name << " " << kv.first << ": " << got.size() << " bytes read, " << kv.second.size() << " expected";
      delete[] rec;
    }
    delete engine;
  }
}

TEST(EngineOnFixtures, HolesKeepTheOffsetsOfTheDataAfterThem) {
  CNtfs* engine = open_fixture("default");
  ASSERT_NE(engine, nullptr);
  const auto contents = expected_contents("default");
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, quor_test::listed_inode("default", "/sparse.bin")));
  INODE_STATS stats;
  ASSERT_TRUE(engine->parse_file_record(rec.data(), stats));
  const std::vector<byte>& want = contents.at("/sparse.bin");
  std::vector<byte> got(want.size(), 0xEE);
  ASSERT_TRUE(engine->read_run_records_data(stats.data_runs, got.data(), static_cast<int>(got.size())));
  EXPECT_TRUE(got == want);
  // A range that starts inside the hole and ends in the data after it.
  int range = 8192;
  std::vector<byte> part(range);
  ASSERT_TRUE(engine->read_run_records_range(stats.data_runs, 1048576 - 4096, range, part.data(), range));
  EXPECT_EQ(range, 8192);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), want.begin() + (1048576 - 4096)));
  delete engine;
}

// A file whose runs outgrew its record: the summary takes the $DATA pieces
// of the extension records after the base record's, each at its own VCN,
// so its runs map every cluster istat lists (0 for a hole), and data read
// through them from the last piece is the data written there.
TEST(EngineOnFixtures, SummaryOfAFileWithAnAttributeListHoldsEveryPiece) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string image = quor_test::fixture("runlist.img");
  auto engine = quor_test::open_engine_at(image);
  ASSERT_NE(engine, nullptr);
  const ulong64 inode = quor_test::listed_inode("runlist", "/frag/a.bin");
  const std::string report = quor_test::istat_report(image, inode);
  std::vector<ulong64> want;
  for (const quor_test::istat_list_entry& e : quor_test::istat_list_entries(report))
    if (e.type == ATTR_DATA && e.vcn == 0) want = quor_test::istat_clusters(report, ATTR_DATA, e.id);
  ASSERT_EQ(want.size(), 4800u);
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, inode));
  INODE_STATS stats;
  ASSERT_TRUE(engine->parse_file_record(rec.data(), stats));
  // This decoder marks a hole by an all-ones LCN.
  std::vector<ulong64> clusters;
  for (const run_record& r : stats.data_runs) {
    ASSERT_EQ(r.vcn, clusters.size());
    for (uint32 c = 0; c < r.num_clusters; ++c) clusters.push_back(r.is_sparse_lcn() ? 0 : r.lcn + c);
  }
  EXPECT_TRUE(clusters == want) << clusters.size() << " clusters";
  // The last 4 KiB of pattern, at 599 x 32 KiB.
  const uint32 offset = 599u * 32768;
  int size = 4096;
  std::vector<byte> got(size, 0xEE);
  ASSERT_TRUE(engine->read_run_records_range(stats.data_runs, offset, size, got.data(), size));
  ASSERT_EQ(size, 4096);
  for (int i = 0; i < size; ++i) ASSERT_EQ(got[i], quor_test::pattern_byte(offset + i, 3)) << i;
}

// Data that does not fit is a failure, never a value cut short.
TEST(EngineOnFixtures, RunDataLargerThanTheBufferIsRefused) {
  CNtfs* engine = open_fixture("default");
  ASSERT_NE(engine, nullptr);
  const auto contents = expected_contents("default");
  const std::vector<byte>& want = contents.at("/hardlink.bin");
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, quor_test::listed_inode("default", "/hardlink.bin")));
  INODE_STATS stats;
  ASSERT_TRUE(engine->parse_file_record(rec.data(), stats));
  ASSERT_EQ(want.size() % engine->m_cluster_size, 0u);  // the runs hold exactly the file
  const struct {
    size_t capacity;
    bool ok;
  } cases[] = {{want.size(), true}, {want.size() + 1, true}, {want.size() - 1, false}, {4096, false}};
  for (const auto& c : cases) {
    std::vector<byte> got(c.capacity, 0xEE);
    EXPECT_EQ(engine->read_run_records_data(stats.data_runs, got.data(), static_cast<int>(got.size())), c.ok)
        << c.capacity;
    if (c.ok) {
      EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << c.capacity;
    }
  }
  delete engine;
}

// Runs mapping more bytes than 64 bits count (2 MiB clusters, 2^43 + 1 of
// them, all holes) are refused, not read as the 2 MiB their byte count
// wraps to.
TEST(EngineOnFixtures, RunsBeyondSixtyFourBitsOfBytesAreRefused) {
  CNtfs* engine = open_fixture("default");
  ASSERT_NE(engine, nullptr);
  engine->m_cluster_size = 2u << 20;
  std::vector<run_record> runs(2048, run_record(RUN_NOT_RECORDED, 0xFFFFFFFFu, ATTR_DATA, std::string()));
  runs.emplace_back(RUN_NOT_RECORDED, 2049u, ATTR_DATA, std::string());
  std::vector<byte> got(engine->m_cluster_size, 0xEE);
  EXPECT_FALSE(engine->read_run_records_data(runs, got.data(), static_cast<int>(got.size())));
  delete engine;
}

TEST(EngineOnFixtures, NamedStreamDoesNotReplaceTheFileData) {
  CNtfs* engine = open_fixture("default");
  ASSERT_NE(engine, nullptr);
  const ulong64 inode = quor_test::listed_inode("default", "/streams.txt");
  std::vector<byte> rec;
  bool torn = true;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, inode));
  EXPECT_FALSE(torn);
  INODE_STATS stats;
  ASSERT_TRUE(engine->parse_file_record(rec.data(), stats));
  ASSERT_EQ(stats.data_runs.size(), 1u);
  EXPECT_EQ(stats.data_runs[0].resident_data.size(), 50u);
  EXPECT_EQ(stats.name_utf8, "streams.txt");
  delete engine;
}

TEST(EngineOnFixtures, DamagedBootSectorsAreRefusedCleanly) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  std::vector<char> original;
  {
    std::ifstream in(img, std::ios::binary);
    original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  struct Case {
    const char* what;
    uint32 offset;
    std::vector<byte> bytes;
  };
  const Case cases[] = {
      {"keyword", 3, {'n', 't', 'f', 's'}},
      {"keyword tail", 7, {' ', ' ', ' ', 'X'}},
      {"zero bytes per sector", 11, {0, 0}},
      {"bytes per sector not a power of two", 11, {0x00, 0x03}},
      {"zero sectors per cluster", 13, {0}},
      {"sectors per cluster not a power of two", 13, {3}},
      {"record size zero", 64, {0}},
      {"record size below 256", 64, {0xF9}},
      {"record size above 64 KiB", 64, {0xEF}},
      {"record size of 32 clusters (128 KiB)", 64, {32}},
      {"MFT beyond the volume", 48, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
  };
  const std::string damaged = quor_test::scratch_dir() + "/damaged.img";
  for (const Case& c : cases) {
    std::vector<char> copy = original;
    for (size_t i = 0; i < c.bytes.size(); ++i) copy[c.offset + i] = static_cast<char>(c.bytes[i]);
    std::ofstream(damaged, std::ios::binary | std::ios::trunc).write(copy.data(), copy.size());
    CNtfs* engine = reinterpret_cast<CNtfs*>(0x1);
    EXPECT_FALSE(open_ntfs_image(damaged.c_str(), 0, engine, false, false)) << c.what;
    EXPECT_EQ(engine, nullptr) << c.what;
  }
  // Entry 0 claiming a record size other than the boot sector's.
  CNtfs* probe = open_fixture("default");
  ASSERT_NE(probe, nullptr);
  const ulong64 record0 = probe->m_mft_file_pos;
  delete probe;
  std::vector<char> copy = original;
  copy[record0 + FRH_BYTES_ALLOCATED + 1] = 0x08;  // 2048
  std::ofstream(damaged, std::ios::binary | std::ios::trunc).write(copy.data(), copy.size());
  CNtfs* engine = nullptr;
  EXPECT_FALSE(open_ntfs_image(damaged.c_str(), 0, engine, false, false));
  // An offset past the end of the image.
  EXPECT_FALSE(open_ntfs_image(img.c_str(), original.size(), engine, false, false));
  EXPECT_FALSE(open_ntfs_image((img + ".missing").c_str(), 0, engine, false, false));
  EXPECT_EQ(engine, nullptr);
}

TEST(EngineOnFixtures, RecordsOutsideTheMftAreNotRead) {
  CNtfs* engine = open_fixture("c512");
  ASSERT_NE(engine, nullptr);
  byte* rec = reinterpret_cast<byte*>(0x1);
  ulong64 pos = 0;
  int size = 0;
  EXPECT_FALSE(engine->read_mft_record(1ULL << 40, rec, pos, size, true));
  EXPECT_EQ(rec, nullptr);
  EXPECT_EQ(engine->get_inode_file_pos(1ULL << 40), 0u);
  // A caller buffer smaller than a record is refused.
  std::vector<byte> small(512);
  byte* buf = small.data();
  size = 512;
  EXPECT_FALSE(engine->read_mft_record(5, buf, pos, size, false));
  // Entry 0 is where the boot sector puts the $MFT.
  ulong64 lcn = 0;
  uint32 within = 0;
  ASSERT_TRUE(engine->get_inode_lcn(0, lcn, within));
  EXPECT_EQ(lcn, engine->get_mft_lcn());
  EXPECT_EQ(within, 0u);
  delete engine;
}

// Without a boot sector the record size is learnt from record 0: 1 KiB and
// 4 KiB records alike.
TEST(EngineOnFixtures, ExtractedMftFileServesRecordsByNumber) {
  if (!quor_test::have_program("ntfscat")) GTEST_SKIP() << "ntfscat not installed";
  std::string mft;
  CNtfs* engine = nullptr;
  for (const auto& c : {std::make_pair("default.img", 1024u), std::make_pair("s4096.img", 4096u)}) {
    const std::string img = quor_test::fixture(c.first);
    ASSERT_FALSE(img.empty());
    mft = quor_test::scratch_dir() + "/" + c.first + ".mft";
    std::string out;
    ASSERT_EQ(quor_test::run_command("ntfscat -f '" + img + "' '$MFT' > '" + mft + "'", out), 0);
    ASSERT_TRUE(open_ntfs_mft_file(mft.c_str(), engine)) << c.first;
    std::ifstream in(mft, std::ios::binary | std::ios::ate);
    EXPECT_EQ(engine->get_inode_count(), static_cast<ulong64>(in.tellg()) / c.second) << c.first;
    std::vector<byte> rec;
    bool torn = false;
    ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, 5));
    EXPECT_EQ(rec.size(), c.second);
    INODE_STATS stats;
    ASSERT_TRUE(engine->parse_file_record(rec.data(), stats)) << c.first;
    EXPECT_EQ(stats.name_utf8, ".");
    delete engine;
  }
  EXPECT_FALSE(open_ntfs_mft_file((mft + ".missing").c_str(), engine));
  EXPECT_EQ(engine, nullptr);
}

namespace {

// Mapping pairs of one run: `count` clusters at absolute `lcn`, then the end.
std::vector<byte> one_run(ulong64 count, ulong64 lcn) {
  std::vector<byte> length_bytes;
  for (ulong64 v = count; v; v >>= 8) length_bytes.push_back(static_cast<byte>(v));
  std::vector<byte> offset_bytes;
  for (ulong64 v = lcn; v; v >>= 8) offset_bytes.push_back(static_cast<byte>(v));
  if (offset_bytes.empty() || (offset_bytes.back() & 0x80)) offset_bytes.push_back(0);
  std::vector<byte> pairs = {static_cast<byte>(length_bytes.size() | (offset_bytes.size() << 4))};
  pairs.insert(pairs.end(), length_bytes.begin(), length_bytes.end());
  pairs.insert(pairs.end(), offset_bytes.begin(), offset_bytes.end());
  pairs.push_back(0);
  return pairs;
}

std::vector<byte> list_entry(uint32 type, ulong64 first_vcn, ulong64 reference) {
  std::vector<byte> e(32, 0);
  store_u32(&e[ALE_TYPE], type);
  store_u16(&e[ALE_LENGTH], 32);
  store_u64(&e[ALE_FIRST_VCN], first_vcn);
  store_u64(&e[ALE_REFERENCE], reference);
  return e;
}

}  // namespace

TEST(EngineOnFixtures, MftWhoseRunsContinueInAnExtensionRecordCountsEveryEntry) {
  CNtfs* original = open_fixture("default");
  ASSERT_NE(original, nullptr);
  const std::vector<run_record> runs = original->m_mft_stats.data_runs;
  ASSERT_EQ(runs.size(), 2u) << "the kit's default volume has a two-run $MFT";
  const ulong64 entries = original->get_inode_count();
  const ulong64 first_clusters = runs[0].num_clusters;
  const ulong64 extension = 20;  // a reserved, unused record inside the first run
  std::vector<byte> rec0;
  std::vector<byte> last_record;
  bool torn = false;
  ASSERT_TRUE(original->read_mft_record_to_vector(rec0, torn, 0));
  ASSERT_TRUE(original->read_mft_record_to_vector(last_record, torn, entries - 1));
  const ulong64 rec0_pos = original->get_inode_file_pos(0);
  const ulong64 ext_pos = original->get_inode_file_pos(extension);
  const ulong64 mft_data_size = entries * 1024;
  std::ostringstream mft_data;
  byte* cursor = nullptr;
  ASSERT_TRUE(original->write_attribute_value(rec0.data(), ATTR_DATA, mft_data, cursor, false));
  delete original;

  const byte* si = nullptr;
  const byte* fn = nullptr;
  byte_view std_info, name_info;
  ASSERT_TRUE(find_attribute(rec0.data(), 1024, ATTR_STANDARD_INFORMATION, si));
  ASSERT_TRUE(find_attribute(rec0.data(), 1024, ATTR_FILE_NAME, fn));
  ASSERT_TRUE(resident_value(si, load_u32(si, AH_LENGTH), std_info));
  ASSERT_TRUE(resident_value(fn, load_u32(fn, AH_LENGTH), name_info));

  // Record 0 keeps the first run; its list sends the rest to the extension.
  const ulong64 base_ref = (1ULL << 48) | 0;
  std::vector<byte> list;
  for (const auto& e : {list_entry(ATTR_STANDARD_INFORMATION, 0, base_ref), list_entry(ATTR_ATTRIBUTE_LIST, 0, base_ref),
                        list_entry(ATTR_FILE_NAME, 0, base_ref), list_entry(ATTR_DATA, 0, base_ref),
                        list_entry(ATTR_DATA, first_clusters, (1ULL << 48) | extension)})
    list.insert(list.end(), e.begin(), e.end());
  record_builder base;
  base.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(std_info.data, std_info.data + std_info.size));
  base.resident(ATTR_ATTRIBUTE_LIST, list);
  base.resident(ATTR_FILE_NAME, std::vector<byte>(name_info.data, name_info.data + name_info.size));
  const uint32 data_at = base.non_resident(ATTR_DATA, one_run(first_clusters, runs[0].lcn), mft_data_size);
  std::vector<byte> new_rec0 = base.done();
  store_u64(&new_rec0[data_at + AH_LAST_VCN], first_clusters - 1);

  record_builder ext;
  const uint32 piece_at = ext.non_resident(ATTR_DATA, one_run(runs[1].num_clusters, runs[1].lcn), 0, first_clusters);
  std::vector<byte> ext_rec = ext.done();
  store_u64(&ext_rec[FRH_BASE_RECORD], base_ref);
  store_u64(&ext_rec[piece_at + AH_LAST_VCN], first_clusters + runs[1].num_clusters - 1);

  std::vector<char> image;
  {
    std::ifstream in(quor_test::fixture("default.img"), std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::vector<byte> disk0 = record_builder::protect(new_rec0, 0x0042);
  const std::vector<byte> disk_ext = record_builder::protect(ext_rec, 0x0042);
  std::copy(disk0.begin(), disk0.begin() + 1024, image.begin() + rec0_pos);
  std::copy(disk_ext.begin(), disk_ext.begin() + 1024, image.begin() + ext_pos);
  const std::string path = quor_test::scratch_dir() + "/mft-list.img";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(image.data(), image.size());

  CNtfs* engine = nullptr;
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  EXPECT_EQ(engine->get_inode_count(), entries);
  ASSERT_EQ(engine->m_mft_stats.data_runs.size(), 2u);
  EXPECT_EQ(engine->m_mft_stats.data_runs[1].lcn, runs[1].lcn);
  std::vector<byte> again;
  ASSERT_TRUE(engine->read_mft_record_to_vector(again, torn, entries - 1));
  EXPECT_TRUE(again == last_record);
  // The $MFT's own data, read from its record, follows the list as well.
  std::vector<byte> moved_rec0;
  ASSERT_TRUE(engine->read_mft_record_to_vector(moved_rec0, torn, 0));
  std::ostringstream moved_data;
  cursor = nullptr;
  ASSERT_TRUE(engine->write_attribute_value(moved_rec0.data(), ATTR_DATA, moved_data, cursor, false));
  EXPECT_EQ(moved_data.str().size(), mft_data_size);
  EXPECT_TRUE(moved_data.str().substr(1024 * 30) == mft_data.str().substr(1024 * 30));  // past the two rewritten records
  delete engine;

  // Without the extension only the first run's entries are reachable.
  image[ext_pos] = 'B';  // "BILE": no longer a FILE record
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(image.data(), image.size());
  ASSERT_TRUE(open_ntfs_image(path.c_str(), 0, engine, false, false));
  EXPECT_EQ(engine->get_inode_count(), first_clusters * 4);
  delete engine;
}

// The entry count of kit volumes and of volumes from elsewhere, as ntfsinfo
// reports it.
TEST(EngineOnFixtures, CountsEntriesLikeNtfsinfo) {
  if (!quor_test::have_program("ntfsinfo")) GTEST_SKIP() << "ntfsinfo (ntfs-3g) not installed";
  std::vector<std::string> images;
  for (const geometry& g : kVolumes) images.push_back(quor_test::fixture(std::string(g.name) + ".img"));
  for (const char* name : {"ntfs3", "ntfs3_attrlist"}) {
    const std::string img = quor_test::shared_testdata(std::string(name) + ".raw");
    if (!img.empty()) images.push_back(img);
  }
  for (const std::string& img : images) {
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false)) << img;
    EXPECT_EQ(static_cast<long64>(engine->get_inode_count()), ntfsinfo_entry_count(img)) << img;
    delete engine;
  }
}

TEST(EngineOnOtherWriters, LiveEntriesOfTheSleuthKitListingHaveTheirPaths) {
  // Volumes written by another NTFS implementation, one with a file whose
  // hundred hard links push its names into extension records.
  for (const char* name : {"ntfs3", "ntfs3_attrlist"}) {
    const std::string img = quor_test::shared_testdata(std::string(name) + ".raw");
    if (img.empty()) GTEST_SKIP() << "shared test data absent";
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false)) << name;
    std::map<ulong64, std::multiset<std::string>> live;
    for (const quor_test::fls_line& f : quor_test::read_fls(std::string(QUOR_SHARED_TESTDATA_DIR) + "/" + name + ".fls.txt")) {
      if ((f.kind != 'r' && f.kind != 'd') || f.deleted) continue;
      if (f.path.find(':') != std::string::npos) continue;  // a named stream, not a name
      live[f.inode].insert(path_list_form("/" + f.path));
    }
    ASSERT_GT(live.size(), 10u) << name;
    for (const auto& entry : live) {
      std::vector<std::string> paths;
      ASSERT_TRUE(engine->get_path_list(entry.first, {}, paths)) << entry.first;
      EXPECT_EQ(std::multiset<std::string>(paths.begin(), paths.end()), entry.second) << name << " " << entry.first;
    }
    delete engine;
  }
}

TEST(EngineOnOtherWriters, FileDataMatchesIcat) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  for (const char* name : {"ntfs3", "ntfs3_attrlist"}) {
    const std::string img = quor_test::shared_testdata(std::string(name) + ".raw");
    if (img.empty()) GTEST_SKIP() << "shared test data absent";
    CNtfs* engine = nullptr;
    ASSERT_TRUE(open_ntfs_image(img.c_str(), 0, engine, false, false));
    std::set<ulong64> seen;
    for (const quor_test::fls_line& f : quor_test::read_fls(std::string(QUOR_SHARED_TESTDATA_DIR) + "/" + name + ".fls.txt")) {
      // Live files by their unnamed $DATA (type 128), system files included.
      if (f.kind != 'r' || f.deleted || f.attribute != 128 || f.path.find(':') != std::string::npos) continue;
      const ulong64 inode = f.inode;
      if (!seen.insert(inode).second) continue;
      std::string expected;
      ASSERT_EQ(quor_test::run_command("icat -f ntfs '" + img + "' " + std::to_string(inode), expected), 0);
      byte* rec = nullptr;
      ulong64 pos = 0;
      int size = 0;
      ASSERT_TRUE(engine->read_mft_record(inode, rec, pos, size, true));
      std::ostringstream data;
      byte* cursor = nullptr;
      EXPECT_TRUE(engine->write_attribute_value(rec, ATTR_DATA, data, cursor, false)) << name << " " << inode;
      EXPECT_TRUE(data.str() == expected) << name << " entry " << inode << ": " << data.str().size()
                                          << " bytes, icat " << expected.size();
      delete[] rec;
    }
    EXPECT_GE(seen.size(), 10u) << name;  // the system files at least
    delete engine;
  }
}

namespace {

const ulong64 kMiB = 0x100000;  // where the kit's partitioned disk keeps its volume

// A factory or constructor under test, as one call.
struct engine_case {
  const char* what;
  std::function<CNtfs*()> make;
  bool open;
  bool valid;
  ulong64 offset;
  bool writable;
};

}  // namespace

// Each constructor opens its source at the offset its form gives and passes
// its writable flag on; a device is always read as a plain file, and a drive
// by number never opens on this host.
TEST(EngineObject, ConstructorsOpenTheirSourceAtTheirOffset) {
  const std::string img = quor_test::copy_fixture("default.img", "ctor.img");
  const std::string disk = quor_test::copy_fixture("mbr-1p.img", "ctor-mbr.img");
  ASSERT_FALSE(img.empty() || disk.empty());
  const std::wstring wimg = utf8_to_wstring(img), wdisk = utf8_to_wstring(disk);
  const engine_case cases[] = {
      {"narrow at 1 MiB", [&] { return new CNtfs(disk.c_str(), kMiB, true, false); }, true, true, kMiB, true},
      {"wide at 1 MiB", [&] { return new CNtfs(wdisk.c_str(), kMiB, false, true); }, true, true, kMiB, false},
      {"narrow, partitioned disk at 0", [&] { return new CNtfs(disk.c_str(), false, false); }, true, false, 0, false},
      {"narrow", [&] { return new CNtfs(img.c_str(), true, true); }, true, true, 0, true},
      {"wide", [&] { return new CNtfs(wimg.c_str(), false, false); }, true, true, 0, false},
      {"narrow device", [&] { return new CNtfs(img.c_str(), true); }, true, true, 0, true},
      {"wide device", [&] { return new CNtfs(wimg.c_str(), false); }, true, true, 0, false},
      {"missing file", [&] { return new CNtfs((img + ".missing").c_str(), kMiB, false, false); }, false, false, 0,
       false},
      {"drive number", [&] { return new CNtfs(0u, kMiB, false, false); }, false, false, 0, false},
      {"no source", [&] { return new CNtfs(); }, false, false, 0, false},
  };
  for (const engine_case& c : cases) {
    std::unique_ptr<CNtfs> e(c.make());
    EXPECT_EQ(e->get_disk_handle() != nullptr, c.open) << c.what;
    EXPECT_EQ(e->is_valid(), c.valid) << c.what;
    EXPECT_EQ(e->m_volume_offset, c.offset) << c.what;
    EXPECT_EQ(e->is_disk_writable(), c.writable) << c.what;
    EXPECT_FALSE(e->is_disk_device()) << c.what;
    EXPECT_EQ(e->get_inode_count() != 0, c.valid) << c.what;
  }
}

TEST(EngineObject, OpenCloseAndTheValidatedCopies) {
  const std::string img = quor_test::fixture("default.img");
  ASSERT_FALSE(img.empty());
  const std::wstring wimg = utf8_to_wstring(img);
  CNtfs e;
  bool as_device = true;
  // A kind outside the four is refused before anything is touched.
  EXPECT_FALSE(e.open(static_cast<ntfs_source_kind>(31), wimg, 0, 0, false, as_device));
  EXPECT_FALSE(e.open(static_cast<ntfs_source_kind>(36), wimg, 0, 0, false, as_device));
  EXPECT_TRUE(as_device);
  const struct {
    ntfs_source_kind kind;
    std::wstring path;
    bool ok;
  } opens[] = {{NTFS_SOURCE_FILE, L"", false},
               {NTFS_SOURCE_DEVICE, L"", false},
               {NTFS_SOURCE_DRIVE, wimg, false},
               {NTFS_SOURCE_DEFAULT, wimg, true}};
  for (const auto& o : opens) {
    as_device = true;
    EXPECT_EQ(e.open(o.kind, o.path, 0, 0, false, as_device), o.ok) << o.kind;
    EXPECT_FALSE(as_device) << o.kind;
    EXPECT_EQ(e.get_disk_handle() != nullptr, o.ok) << o.kind;
  }
  ASSERT_TRUE(e.is_valid());

  std::vector<byte> raw(512);
  std::ifstream(img, std::ios::binary).read(reinterpret_cast<char*>(raw.data()), 512);
  const NTFS_BOOT boot = e.get_boot_sector();
  EXPECT_EQ(std::memcmp(boot.keyword, &raw[3], 8), 0);
  EXPECT_EQ(boot.bytes_per_sector, load_u16(raw.data(), 11));
  EXPECT_EQ(boot.total_sectors, load_u64(raw.data(), 40));
  EXPECT_EQ(boot.mft_start_lcn, load_u64(raw.data(), 48));
  const INODE_STATS stats = e.get_inode_stats();
  EXPECT_EQ(stats.name_utf8, "$MFT");
  ASSERT_EQ(stats.data_runs.size(), e.m_mft_stats.data_runs.size());
  EXPECT_EQ(stats.data_runs[0].lcn, boot.mft_start_lcn);

  // Closing forgets the source without releasing it (it is meant for
  // engines that hold none yet); the summary of entry 0 stays.
  disk_handle* disk = e.m_disk;
  byte* record0 = e.m_mft_record0;
  e.close();
  EXPECT_EQ(e.m_disk, nullptr);
  EXPECT_EQ(e.m_mft_record0, nullptr);
  EXPECT_EQ(e.m_cluster_size, 0u);
  EXPECT_EQ(e.get_bytes_per_sector(), 0u);
  EXPECT_FALSE(e.is_valid());
  EXPECT_EQ(e.get_inode_count(), 0u);
  EXPECT_EQ(e.m_mft_stats.name_utf8, "$MFT");
  delete disk;
  delete[] record0;
}

TEST(EngineObject, DataClusterCountOfASummary) {
  const byte value[5] = {1, 2, 3, 4, 5};
  INODE_STATS none, resident, runs;
  resident.data_runs.emplace_back(value, 5, ATTR_DATA, "");
  runs.data_runs = {run_record(0x100, 8, ATTR_DATA, ""), run_record(RUN_NOT_RECORDED, 4, ATTR_DATA, ""),
                    run_record(0x200, 2, ATTR_DATA, "")};
  CNtfs e;
  EXPECT_EQ(e.get_data_cluster_count(none), 0u);
  EXPECT_EQ(e.get_data_cluster_count(resident), 1u);
  EXPECT_EQ(e.get_data_cluster_count(runs), 14u);  // the sparse run counts too
}

TEST(EngineObject, FactoriesOverEachFormOfThePath) {
  const std::string img = quor_test::fixture("default.img");
  const std::string disk = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(img.empty() || disk.empty());
  const std::wstring wimg = utf8_to_wstring(img), wdisk = utf8_to_wstring(disk);
  const struct {
    const char* what;
    std::function<bool(CNtfs*&)> open;
    bool ok;
    ulong64 offset;
  } cases[] = {
      {"image, wide string", [&](CNtfs*& e) { return open_ntfs_image(wimg, 0, e, false, false); }, true, 0},
      {"image at 1 MiB, wide string", [&](CNtfs*& e) { return open_ntfs_image(wdisk, kMiB, e, false, false); }, true,
       kMiB},
      {"partitioned disk at 0", [&](CNtfs*& e) { return open_ntfs_image(wdisk, 0, e, false, false); }, false, 0},
      {"empty wide string", [&](CNtfs*& e) { return open_ntfs_image(std::wstring(), 0, e, false, false); }, false, 0},
      {"device path, wide", [&](CNtfs*& e) { return open_ntfs_by_path(wimg, e, false); }, true, 0},
      {"device path, narrow", [&](CNtfs*& e) { return open_ntfs_by_path(img.c_str(), e, false); }, true, 0},
      {"device path, empty", [&](CNtfs*& e) { return open_ntfs_by_path(std::wstring(), e, false); }, false, 0},
      {"device path, null", [&](CNtfs*& e) { return open_ntfs_by_path(static_cast<const char*>(nullptr), e, false); },
       false, 0},
      {"device path, missing", [&](CNtfs*& e) { return open_ntfs_by_path((img + ".missing").c_str(), e, false); },
       false, 0},
      {"drive number", [&](CNtfs*& e) { return open_ntfs_by_drive_number(0, 0, e, false, false); }, false, 0},
      {"drive number at 1 MiB", [&](CNtfs*& e) { return open_ntfs_by_drive_number(1, kMiB, e, false, false); }, false,
       0},
  };
  for (const auto& c : cases) {
    CNtfs* e = reinterpret_cast<CNtfs*>(&e);  // a stale pointer must not survive
    EXPECT_EQ(c.open(e), c.ok) << c.what;
    EXPECT_EQ(e != nullptr, c.ok) << c.what;
    if (!e) continue;
    EXPECT_EQ(e->m_volume_offset, c.offset) << c.what;
    EXPECT_TRUE(e->is_validated()) << c.what;
    EXPECT_EQ(e->m_mft_record_size, 1024u) << c.what;
    delete e;
  }
}

// This host has no drive letters: the volume of "Q:" is the file named "Q:"
// in the working folder, here a link to a kit image.
TEST(EngineObject, DriveLetterOpensTheFileOfThatNameInTheWorkingFolder) {
  const std::string image = quor_test::fixture("default.img");
  ASSERT_FALSE(image.empty());
  quor_test::drive_letter q(image);
  ASSERT_TRUE(q.ok);
  const struct {
    const char* what;
    std::function<bool(CNtfs*&)> open;
    bool ok;
  } cases[] = {
      {"narrow letter", [](CNtfs*& e) { return open_ntfs_by_drive_letter("Q", e, false, false); }, true},
      {"narrow path", [](CNtfs*& e) { return open_ntfs_by_drive_letter("Q:\\frag", e, false, false); }, true},
      {"wide letter", [](CNtfs*& e) { return open_ntfs_by_drive_letter(L"Q", e, false, false); }, true},
      {"wide string", [](CNtfs*& e) { return open_ntfs_by_drive_letter(std::wstring(L"Q:"), e, false, false); }, true},
      {"other letter", [](CNtfs*& e) { return open_ntfs_by_drive_letter("Z", e, false, false); }, false},
      {"empty string", [](CNtfs*& e) { return open_ntfs_by_drive_letter(std::wstring(), e, false, false); }, false},
      {"null narrow",
       [](CNtfs*& e) { return open_ntfs_by_drive_letter(static_cast<const char*>(nullptr), e, false, false); }, false},
      {"null wide",
       [](CNtfs*& e) { return open_ntfs_by_drive_letter(static_cast<const wchar_t*>(nullptr), e, false, false); },
       false},
  };
  for (const auto& c : cases) {
    CNtfs* e = reinterpret_cast<CNtfs*>(&e);
    EXPECT_EQ(c.open(e), c.ok) << c.what;
    EXPECT_EQ(e != nullptr, c.ok) << c.what;
    if (e) {
      EXPECT_EQ(e->m_volume_offset, 0u) << c.what;
      EXPECT_TRUE(e->is_directory(66)) << c.what;  // /frag
    }
    delete e;
  }
}

// An engine that never validated holds nothing read from a volume: asking it
// for the boot sector or entry 0's summary stops the process, in every build,
// naming the invariant, the engine's source file and the member.
TEST(EngineObjectDeathTest, BootSectorAndSummaryOfAnUnvalidatedEngineStop) {
  const std::string not_ntfs = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(not_ntfs.empty());
  const struct {
    const char* what;
    std::function<CNtfs*()> make;
  } engines[] = {{"no source", [] { return new CNtfs(); }},
                 {"a disk whose first sector is no NTFS boot sector",
                  [&] { return new CNtfs(not_ntfs.c_str(), false, false); }}};
  for (const auto& e : engines) {
    std::unique_ptr<CNtfs> engine(e.make());
    ASSERT_FALSE(engine->is_valid()) << e.what;
    EXPECT_DEATH(engine->get_boot_sector(),
                 "(^|\n)ntfs\\.cpp:[0-9]+: NTFS_BOOT CNtfs::get_boot_sector\\(\\) const: Assertion `m_Validated' failed\\.")
        << e.what;
    EXPECT_DEATH(engine->get_inode_stats(),
                 "(^|\n)ntfs\\.cpp:[0-9]+: INODE_STATS CNtfs::get_inode_stats\\(\\) const: Assertion `m_Validated' failed\\.")
        << e.what;
  }
}
