// Attribute data through runs as the engine's members offer it, the $DATA
// locators, record and cluster write-back (only on copies the test makes),
// and the attribute searches by name.
#include "ntfs/attribute_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "ntfs/dir_children.h"
#include "ntfs/entry_info.h"
#include "ntfs/entry_record.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/path_lookup.h"
#include "ntfs/volume_io.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/allocation_failure_new.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "tests/support/record_builder.h"
#include "utils/utf_convert.h"

namespace {

std::unique_ptr<CNtfs> open(const std::string& img, bool writable) { return quor_test::open_engine_at(img, writable); }

ulong64 listed_inode(const std::string& path) { return quor_test::listed_inode("default", path); }

byte pattern(ulong64 o, uint32 seed) { return quor_test::pattern_byte(o, seed); }

TEST(AttributeData, RangesThroughTheRunsOfEveryPlainFile) {
  auto engine = open(quor_test::fixture("default.img"), false);
  ASSERT_TRUE(engine);
  const ulong64 cs = engine->m_cluster_size;
  const struct {
    const char* path;
    uint32 seed;
    ulong64 size;
  } files[] = {{"/nonres.bin", 2, 204800}, {"/frag/a.bin", 3, 65536}, {"/frag/b.bin", 4, 65536}};
  for (const auto& f : files) {
    std::vector<data_run> runs;
    byte* resident = nullptr;
    uint32 resident_size = 0;
    ASSERT_TRUE(engine->find_data_runs(listed_inode(f.path), runs, resident, resident_size, true)) << f.path;
    EXPECT_EQ(resident, nullptr);
    // Across cluster (and, fragmented, run) ends, and past the last mapped
    // VCN, where the bytes that map are delivered.
    const struct {
      ulong64 offset;
      int size;
      int expect;
    } ranges[] = {{3 * cs + 1, static_cast<int>(2 * cs), static_cast<int>(2 * cs)},
                  {f.size - 10, 4000, static_cast<int>(cs > 10 ? 10 : 0)}};
    for (const auto& r : ranges) {
      std::vector<byte> buf(static_cast<size_t>(r.size), 0xEE);
      int size = r.size;
      ASSERT_TRUE(engine->read_attribute_data(runs, r.offset, buf.data(), size)) << f.path << " at " << r.offset;
      ASSERT_EQ(size, r.expect) << f.path << " at " << r.offset;
      for (int i = 0; i < size; ++i) ASSERT_EQ(buf[i], pattern(r.offset + i, f.seed)) << f.path << " byte " << i;
    }
    // Starting past the runs: nothing copied, false, size unchanged.
    std::vector<byte> buf(16);
    int size = 16;
    EXPECT_FALSE(engine->read_attribute_data(runs, f.size + 8 * cs, buf.data(), size));
    EXPECT_EQ(size, 16);
  }
  std::vector<data_run> runs;
  byte* resident = nullptr;
  uint32 resident_size = 0;
  // A resident $DATA comes back as the caller's copy of its value.
  ASSERT_TRUE(engine->find_data_runs(listed_inode("/small.txt"), runs, resident, resident_size, true));
  ASSERT_EQ(resident_size, 300u);
  EXPECT_EQ(resident[299], pattern(299, 1));
  delete[] resident;
  // Named streams: "alt" is found by its whole name only.
  lcn_run_list list;
  EXPECT_FALSE(engine->find_named_data_cluster_list(listed_inode("/streams.txt"), "al", list));
  EXPECT_TRUE(engine->find_data_cluster_list(listed_inode("/nonres.bin"), list, true));
  EXPECT_EQ(list.size(), 50u);
}

TEST(AttributeData, NamedStreamsReadAsNtfscatShowsThem) {
  if (!quor_test::have_program("ntfscat")) GTEST_SKIP() << "ntfscat not installed";
  const std::string img = quor_test::fixture("streams.img");
  auto engine = open(img, false);
  ASSERT_TRUE(engine);
  const struct {
    ulong64 inode;
    const char* path;
    const char* stream;
    ulong64 size;
  } streams[] = {{64, "/host.bin", "big", 20000}, {65, "/other.bin", "big", 50000}};
  for (const auto& st : streams) {
    std::string want;
    ASSERT_EQ(quor_test::run_command(std::string("ntfscat -a 0x80 -n ") + st.stream + " '" + img + "' " + st.path,
                                     want),
              0);
    ASSERT_EQ(want.size(), st.size);
    std::vector<data_run> runs;
    ASSERT_TRUE(engine->find_named_data_runs(st.inode, st.stream, runs)) << st.path;
    std::vector<byte> got(st.size);
    int size = static_cast<int>(st.size);
    ASSERT_TRUE(engine->read_attribute_data(runs, 0, got.data(), size)) << st.path;
    ASSERT_EQ(size, static_cast<int>(st.size));
    EXPECT_TRUE(std::string(got.begin(), got.end()) == want) << st.path;
    lcn_run_list list;
    ASSERT_TRUE(engine->find_named_data_cluster_list(st.inode, st.stream, list));
    EXPECT_EQ(list.size(), (st.size + 4095) / 4096);
  }
  // The unnamed data is not a stream named "big"; a resident stream has no runs.
  std::vector<data_run> runs;
  EXPECT_FALSE(engine->find_named_data_runs(64, "bi", runs));
  EXPECT_FALSE(engine->find_named_data_runs(64, "small", runs));
  byte* resident = nullptr;
  uint32 resident_size = 0;
  ASSERT_TRUE(engine->find_data_runs(64, runs, resident, resident_size, true));
  EXPECT_EQ(resident, nullptr);
  EXPECT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].num_clusters, 3u);
}

// host.bin of streams.img (entry 64) with its unnamed $DATA (3 clusters)
// or its stream "big" (5 clusters) given other runs and, where told, sizes
// to match. Runs that allocate more clusters than the volume holds, or that
// claim more than the attribute's sizes state, fail both cluster-list
// locators, allocating nothing per claimed cluster (no allocation above
// 1 MiB succeeds meanwhile), also when the boot sector claims 2^40 sectors,
// where the image bounds the volume; so does a list too large to hold. Holes
// past the volume's size that the sizes state (a long-lived journal's) are
// listed, as is a claim of the whole volume, one entry a cluster.
TEST(AttributeData, ClusterListsBoundedByTheVolumeAndTheStatedSizes) {
  const ulong64 host = 64;
  ulong64 volume = 0, unnamed_lcn = 0, big_lcn = 0, record = 0;
  {
    auto engine = open(quor_test::fixture("streams.img"), false);
    ASSERT_TRUE(engine);
    // 8 MiB of 4 KiB clusters less the last sector, as mkntfs leaves it.
    ASSERT_EQ(engine->m_total_clusters, 2047u);
    volume = engine->m_total_clusters;
    record = engine->get_inode_file_pos(host);
    std::vector<data_run> runs;
    ASSERT_TRUE(engine->find_named_data_runs(host, "big", runs));
    ASSERT_EQ(runs.size(), 1u);
    big_lcn = runs[0].lcn;
    runs.clear();
    byte* resident = nullptr;
    uint32 resident_size = 0;
    ASSERT_TRUE(engine->find_data_runs(host, runs, resident, resident_size, true));
    ASSERT_EQ(runs.size(), 1u);
    unnamed_lcn = runs[0].lcn;
  }
  const ulong64 image_clusters = (8u << 20) / 4096;
  using quor_test::SPARSE_RUN;
  const ulong64 most = 0xFFFFFFFFull;
  const struct {
    const char* what;
    bool named;
    bool boot_claims_2_40;
    std::vector<std::pair<ulong64, ulong64>> runs;
    ulong64 clusters;  // the sizes the record states, in clusters, or 0: as they were
    ulong64 listed;    // entries listed, or 0: the call fails
  } cases[] = {
      {"four billion clusters", false, false, {{most, unnamed_lcn}}, 0, 0},
      {"four billion clusters of hole, sizes as they were", true, false, {{most, SPARSE_RUN}}, 0, 0},
      {"the volume and one more, sizes as they were", true, false, {{5, big_lcn}, {volume - 4, SPARSE_RUN}}, 0, 0},
      {"four billion clusters, boot sector claiming 2^40 sectors", true, true, {{most, big_lcn}}, most, 0},
      {"the image and one more, boot sector claiming 2^40 sectors", false, true, {{image_clusters + 1, 0}},
       image_clusters + 1, 0},
      {"four billion clusters of hole, sizes stating them", true, false, {{5, big_lcn}, {most - 5, SPARSE_RUN}},
       most, 0},
      {"the whole volume", true, false, {{5, big_lcn}, {volume - 5, SPARSE_RUN}}, volume, volume},
      {"the whole image, boot sector claiming 2^40 sectors", false, true, {{image_clusters, 0}}, image_clusters,
       image_clusters},
      {"holes past the volume, sizes stating them", true, false, {{3, big_lcn}, {volume - 1, SPARSE_RUN}},
       volume + 2, volume + 2},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string copy = quor_test::copy_fixture("streams.img", "claims-" + std::to_string(n++) + ".img");
    ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, record, c.runs, c.clusters * 4096, ATTR_DATA, c.named ? 1 : 0));
    if (c.boot_claims_2_40) quor_test::rewrite_total_sectors(copy, 1ull << 40);
    auto engine = open(copy, false);
    ASSERT_TRUE(engine);
    lcn_run_list list;
    bool listed = true;
    {
      const quor_test::allocation_size_limit most(1u << 20);
      EXPECT_NO_THROW(listed = c.named ? engine->find_named_data_cluster_list(host, "big", list)
                                       : engine->find_data_cluster_list(host, list, true));
    }
    EXPECT_EQ(listed, c.listed != 0);
    ASSERT_EQ(list.size(), c.listed);
    if (c.listed == 0) continue;
    ulong64 vcn = 0;
    for (const auto& r : c.runs) {
      for (ulong64 i = 0; i < r.first; ++i, ++vcn) {
        const lcn_run_entry& e = list[static_cast<size_t>(vcn)];
        ASSERT_EQ(e.vcn, vcn);
        ASSERT_EQ(e.m_bSparse, r.second == SPARSE_RUN);
        ASSERT_EQ(e.lcn, r.second == SPARSE_RUN ? 0 : r.second + i);
      }
    }
  }
}

TEST(AttributeData, WritesInPlaceLandOnlyWhereTheRunsSay) {
  if (!quor_test::have_program("ntfscat") || !quor_test::have_program("ntfsfix"))
    GTEST_SKIP() << "ntfscat or ntfsfix not installed";
  const std::string img = quor_test::copy_fixture("default.img", "write-copy.img");
  ASSERT_FALSE(img.empty());
  // A read-only engine writes nothing.
  {
    auto ro = open(img, false);
    ASSERT_TRUE(ro);
    std::vector<byte> data(10, 1);
    int size = 10;
    EXPECT_FALSE(ro->write_attribute_data(listed_inode("/nonres.bin"), data.data(), size, 0));
  }
  const std::string before = quor_test::read_file_text(img);
  auto engine = open(img, true);
  ASSERT_TRUE(engine);
  // Into the hole at the start of the sparse file, and into compressed data:
  // refused, the image unchanged.
  std::vector<byte> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<byte>(i * 13 + 5);
  int size = 100;
  EXPECT_FALSE(engine->write_attribute_data(listed_inode("/sparse.bin"), data.data(), size, 4096));
  size = 100;
  EXPECT_FALSE(engine->write_attribute_data(listed_inode("/compressed/pattern.bin"), data.data(), size, 0));
  // A write whose tail would reach a hole is refused whole.
  size = 8192;
  EXPECT_FALSE(engine->write_attribute_data(listed_inode("/sparse.bin"), data.data(), size, 4194304 + 4096));
  size = 100;
  EXPECT_FALSE(engine->write_attribute_data(listed_inode("/small.txt"), data.data(), size, 300));
  std::vector<run_record> none;
  size = 10;
  EXPECT_FALSE(write_runs_data(engine.get(), none, data.data(), size, 0));
  // Past the end of the run list, and through a run that says cluster 0
  // (the boot sector): refused before anything is written.
  const uint32 cs = engine->m_cluster_size;
  std::vector<data_run> two = {data_run(3000, 0, 2, false)};
  size = 20;
  EXPECT_FALSE(write_data_runs_data(engine.get(), two, data.data(), size, 2 * cs - 10));
  std::vector<data_run> boot = {data_run(0, 0, 2, false)};
  size = 20;
  EXPECT_FALSE(write_data_runs_data(engine.get(), boot, data.data(), size, 100));
  std::vector<data_run> hole = {data_run(0, 0, 2, true), data_run(3000, 2, 2, false)};
  size = 20;
  EXPECT_FALSE(write_data_runs_data(engine.get(), hole, data.data(), size, 2 * cs - 10));
  EXPECT_TRUE(quor_test::read_file_text(img) == before);

  // Across cluster ends of the fragmented file, and into a resident value.
  size = static_cast<int>(data.size());
  ASSERT_TRUE(engine->write_attribute_data(listed_inode("/frag/a.bin"), data.data(), size, 4000));
  EXPECT_EQ(size, 10000);
  size = 5;
  ASSERT_TRUE(engine->write_attribute_data(listed_inode("/small.txt"), data.data(), size, 297));
  EXPECT_EQ(size, 3);
  // The unsigned-length form is the same write, cut at a resident value's end.
  uint32 usize = 3000;
  ASSERT_TRUE(engine->write_attribute_data(listed_inode("/frag/b.bin"), data.data() + 100, usize, 60000));
  EXPECT_EQ(usize, 3000u);
  usize = 5;
  ASSERT_TRUE(engine->write_attribute_data(listed_inode("/small.txt"), data.data() + 200, usize, 290));
  EXPECT_EQ(usize, 5u);
  usize = 100;
  ASSERT_TRUE(engine->write_attribute_data(listed_inode("/small.txt"), data.data() + 2, usize, 299));
  EXPECT_EQ(usize, 1u);
  usize = 5;
  EXPECT_FALSE(engine->write_attribute_data(listed_inode("/small.txt"), data.data(), usize, 300));
  EXPECT_EQ(usize, 5u);
  engine.reset();
  std::string out;
  ASSERT_EQ(quor_test::run_command("ntfscat '" + img + "' /frag/a.bin", out), 0);
  ASSERT_EQ(out.size(), 65536u);
  for (ulong64 i = 0; i < out.size(); ++i) {
    const byte want = i >= 4000 && i < 14000 ? data[i - 4000] : pattern(i, 3);
    ASSERT_EQ(static_cast<byte>(out[i]), want) << "byte " << i;
  }
  ASSERT_EQ(quor_test::run_command("ntfscat '" + img + "' /small.txt", out), 0);
  ASSERT_EQ(out.size(), 300u);
  EXPECT_EQ(static_cast<byte>(out[296]), pattern(296, 1));
  EXPECT_EQ(static_cast<byte>(out[297]), data[0]);
  EXPECT_EQ(static_cast<byte>(out[299]), data[2]);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(static_cast<byte>(out[290 + i]), data[200 + i]) << i;
  ASSERT_EQ(quor_test::run_command("ntfscat '" + img + "' /frag/b.bin", out), 0);
  ASSERT_EQ(out.size(), 65536u);
  for (ulong64 i = 0; i < out.size(); ++i) {
    const byte want = i >= 60000 && i < 63000 ? data[i - 60000 + 100] : pattern(i, 4);
    ASSERT_EQ(static_cast<byte>(out[i]), want) << "byte " << i;
  }
  EXPECT_EQ(quor_test::run_command("ntfsfix -n '" + img + "' >/dev/null 2>&1", out), 0);
}

TEST(AttributeData, RecordWriteBackProtectsIn512ByteStridesOnEverySectorSize) {
  const struct {
    const char* fixture;
    uint32 record;
  } volumes[] = {{"default.img", 1024}, {"s4096.img", 4096}};
  for (const auto& v : volumes) {
    const std::string img = quor_test::copy_fixture(v.fixture, std::string("record-") + v.fixture);
    ASSERT_FALSE(img.empty()) << v.fixture;
    auto engine = open(img, true);
    ASSERT_TRUE(engine) << v.fixture;
    byte* rec = nullptr;
    ulong64 pos = 0;
    int size = 0;
    ASSERT_TRUE(engine->read_mft_record(5, rec, pos, size, true));
    ASSERT_EQ(static_cast<uint32>(size), v.record);
    const std::vector<byte> plain(rec, rec + size);
    const uint16 check = load_u16(rec, load_u16(rec, FRH_USA_OFFSET));
    // A length that does not match the array is refused, nothing written.
    const std::string before = quor_test::read_file_text(img);
    uint32 wrong = v.record * 2;
    std::vector<byte> big(wrong);
    std::copy(plain.begin(), plain.end(), big.begin());
    EXPECT_FALSE(engine->write_record(pos, big.data(), wrong, true)) << v.fixture;
    EXPECT_TRUE(quor_test::read_file_text(img) == before);
    uint32 len = v.record;
    ASSERT_TRUE(engine->write_record(pos, rec, len, true)) << v.fixture;
    EXPECT_EQ(len, v.record);
    const uint16 next = static_cast<uint16>(check + 1);
    EXPECT_EQ(load_u16(rec, load_u16(rec, FRH_USA_OFFSET)), next);
    for (uint32 i = 1; i <= v.record / 512; ++i) EXPECT_EQ(load_u16(rec, i * 512 - 2), next) << i;
    delete[] rec;
    engine.reset();
    const std::string after = quor_test::read_file_text(img);
    ASSERT_GT(after.size(), pos + v.record);
    EXPECT_EQ(load_u16(reinterpret_cast<const byte*>(after.data()) + pos, v.record - 2), next);
    // Read back through a fresh engine: the same record, fixed up, not torn.
    auto again = open(img, false);
    ASSERT_TRUE(again);
    std::vector<byte> back;
    bool torn = true;
    ASSERT_TRUE(again->read_mft_record_to_vector(back, torn, 5));
    EXPECT_FALSE(torn);
    for (uint32 i = 1; i <= v.record / 512; ++i)
      EXPECT_EQ(load_u16(back.data(), i * 512 - 2), load_u16(plain.data(), i * 512 - 2)) << v.fixture << " " << i;
  }
}

TEST(AttributeData, WholeClusterWritesAndTheStandAloneFixup) {
  const std::string img = quor_test::copy_fixture("default.img", "lcn-copy.img");
  auto engine = open(img, true);
  ASSERT_TRUE(engine);
  std::vector<byte> half(engine->m_cluster_size / 2, 7);
  int len = static_cast<int>(half.size());
  EXPECT_FALSE(engine->write_lcn(100, half.data(), len));

  quor_test::record_builder b(4096);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 1));
  std::vector<byte> plain = b.done();
  for (uint32 i = 1; i <= 8; ++i) store_u16(&plain[i * 512 - 2], static_cast<uint16>(0x1000 + i));
  std::vector<byte> rec = quor_test::record_builder::protect(plain, 0x77);
  ASSERT_NE(rec, plain);
  // The sector tails come back; the array itself keeps the saved words.
  std::vector<byte> want = plain;
  std::copy(rec.begin() + 0x30, rec.begin() + 0x30 + 18, want.begin() + 0x30);
  EXPECT_TRUE(fixup_file_record_512(reinterpret_cast<uint16*>(rec.data()), 4096));
  EXPECT_EQ(rec, want);
  EXPECT_FALSE(fixup_file_record_512(reinterpret_cast<uint16*>(rec.data()), 2048));
  store_u16(&rec[FRH_USA_COUNT], 1);
  const std::vector<byte> one = rec;
  EXPECT_TRUE(fixup_file_record_512(reinterpret_cast<uint16*>(rec.data()), 4096));
  EXPECT_EQ(rec, one);
  std::memcpy(rec.data(), "INDX", 4);
  EXPECT_FALSE(fixup_file_record_512(reinterpret_cast<uint16*>(rec.data()), 4096));
}

// Attributes longer than 1 KiB: a named search walks over them and finds
// them; the unnamed search ends at an unnamed one of another type.
TEST(AttributeData, LongAttributesInALargeRecord) {
  quor_test::record_builder b(4096);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 1));
  const uint32 big = b.resident(ATTR_DATA, std::vector<byte>(1100, 2), u"big");
  const uint32 x = b.resident(ATTR_DATA, std::vector<byte>(1050, 3), u"x");
  const uint32 sd = b.resident(ATTR_SECURITY_DESCRIPTOR, std::vector<byte>(1030, 4));
  b.resident(ATTR_DATA, std::vector<byte>(4, 5));
  std::vector<byte> rec = b.done();
  ASSERT_EQ(rec.size(), 4096u);
  const uint32 first = load_u16(rec.data(), FRH_FIRST_ATTRIBUTE);
  const struct {
    uint32 type;
    std::vector<uint16> name;
    bool found;
    uint32 at;
  } cases[] = {{ATTR_DATA, {'x'}, true, x},
               {ATTR_DATA, {'b', 'i', 'g'}, true, big},
               {ATTR_SECURITY_DESCRIPTOR, {}, true, sd},
               {ATTR_DATA, {}, false, sd}};
  for (const auto& c : cases) {
    byte* cursor = rec.data() + first;
    EXPECT_EQ(find_attribute_by_name_from(cursor, 4096 - first, c.type, c.name), c.found) << c.type << " " << c.name.size();
    EXPECT_EQ(static_cast<uint32>(cursor - rec.data()), c.at) << c.type << " " << c.name.size();
  }
}

TEST(AttributeData, SearchesByNameCompareWholeNamesInsideTheRecord) {
  quor_test::record_builder b(1024);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 1));
  const uint32 ab = b.resident(ATTR_DATA, std::vector<byte>(4, 2), u"ab");
  const uint32 a = b.resident(ATTR_DATA, std::vector<byte>(4, 3), u"a");
  const uint32 unnamed = b.resident(ATTR_DATA, std::vector<byte>(4, 4));
  std::vector<byte> rec = b.done();
  const uint32 first = load_u16(rec.data(), FRH_FIRST_ATTRIBUTE);
  const struct {
    std::vector<uint16> name;
    bool found;
    uint32 at;
  } cases[] = {{{'a'}, true, a}, {{'a', 'b'}, true, ab}, {{'a', 'b', 0}, true, ab}, {{}, true, unnamed},
               {{'b'}, false, 0}, {{'a', 'b', 'c'}, false, 0}};
  for (const auto& c : cases) {
    byte* cursor = rec.data() + first;
    EXPECT_EQ(find_attribute_by_name_from(cursor, 1024 - first, ATTR_DATA, c.name), c.found) << c.name.size();
    if (c.found) {
      EXPECT_EQ(static_cast<uint32>(cursor - rec.data()), c.at);
    }
  }
  // Without a count the walk trusts the record to end (the buffer holds a
  // record of the largest size): the same answers, and an end marker
  // overwritten by zeros still ends it at the zero length.
  std::vector<byte> whole(rec);
  whole.resize(MAX_MFT_RECORD_SIZE, 0);
  for (const auto& c : cases) {
    byte* cursor = whole.data() + first;
    EXPECT_EQ(find_attribute_by_name_from(cursor, ATTR_DATA, c.name), c.found) << c.name.size();
    if (c.found) {
      EXPECT_EQ(static_cast<uint32>(cursor - whole.data()), c.at);
    }
  }
  const uint32 end = unnamed + load_u32(whole.data(), unnamed + AH_LENGTH);
  ASSERT_EQ(load_u32(whole.data(), end), ATTR_END);
  store_u32(&whole[end], 0);
  byte* past = whole.data() + first;
  EXPECT_FALSE(find_attribute_by_name_from(past, ATTR_INDEX_ROOT, {}));
  EXPECT_EQ(static_cast<uint32>(past - whole.data()), end);

  // A walk bounded by the bytes given: the unnamed one lies past them.
  byte* cursor = rec.data() + first;
  EXPECT_FALSE(find_attribute_by_name_from(cursor, unnamed - first, ATTR_DATA, {}));
  // A length that runs past the record ends the walk, and the attribute
  // that claims it is not found.
  store_u32(&rec[ab + AH_LENGTH], 2000);
  cursor = rec.data() + first;
  EXPECT_FALSE(find_attribute_by_name_from(cursor, 1024 - first, ATTR_DATA, {'a'}));
  const uint16 ab_name[] = {'a', 'b'};
  const byte* attr = nullptr;
  EXPECT_FALSE(find_attribute_by_name(rec.data(), 1024, ATTR_DATA, attr, ab_name, 2));

  // $ATTRIBUTE_LIST entries: type, length, name length and offset, name.
  std::vector<byte> list(3 * 32, 0);
  const char16_t* names[] = {u"ab", u"a", u""};
  for (int i = 0; i < 3; ++i) {
    byte* e = &list[32 * i];
    store_u32(e, ATTR_DATA);
    store_u16(e + 4, 32);
    e[6] = static_cast<byte>(std::char_traits<char16_t>::length(names[i]));
    e[7] = 26;
    for (int k = 0; k < e[6]; ++k) store_u16(e + 26 + 2 * k, names[i][k]);
  }
  // `remaining` counts the list's bytes from the cursor on; each step past
  // an entry takes its length off, below zero when the entry claims more than
  // is left (the cursor then stays on it), and an entry is taken only whole
  // inside them. A zero length ends the list with nothing left, as does the
  // end marker after a step.
  const struct {
    std::vector<uint16> name;
    int remaining;
    bool found;
    int entry;  // where the cursor stops
    int left;   // remaining afterwards
  } lists[] = {{{'a'}, 96, true, 1, 64},     {{'a', 'b'}, 96, true, 0, 96}, {{}, 96, true, 2, 32},
               {{'a'}, 40, false, 1, -24},   {{'z'}, 96, false, 3, 0},      {{'a', 'b'}, 20, false, 0, -12},
               {{'z'}, 20, false, 0, -12},   {{'z'}, 64, false, 2, 0},      {{'a'}, 7, false, 0, 7}};
  for (const auto& c : lists) {
    byte* at = list.data();
    int remaining = c.remaining;
    EXPECT_EQ(find_attribute_list_entry_by_name(at, remaining, ATTR_DATA, c.name), c.found)
        << c.name.size() << " " << c.remaining;
    EXPECT_EQ(at - list.data(), 32 * c.entry) << c.name.size() << " " << c.remaining;
    EXPECT_EQ(remaining, c.left) << c.name.size() << " " << c.remaining;
  }
  std::vector<byte> ended = list;
  store_u32(&ended[32], ATTR_END);
  byte* at = ended.data();
  int remaining = 96;
  EXPECT_FALSE(find_attribute_list_entry_by_name(at, remaining, ATTR_DATA, {'a'}));
  EXPECT_EQ(at - ended.data(), 32);
  EXPECT_EQ(remaining, 64);
  store_u16(&ended[4], 0);
  at = ended.data();
  remaining = 96;
  EXPECT_FALSE(find_attribute_list_entry_by_name(at, remaining, ATTR_DATA, {'a'}));
  EXPECT_EQ(at, ended.data());
  EXPECT_EQ(remaining, 0);
}

}  // namespace

// The times are read right after the attribute's name, whatever its value
// offset says; a non-resident one and one too short for the four times
// print nothing.
TEST(AttributeData, StandardInformationTimesOfARecord) {
  const uint64 t = 0x01d5c1194b2b74e0ULL;  // 2020-01-02 03:04:05.678 UTC
  quor_test::record_builder b(1024);
  b.non_resident(ATTR_STANDARD_INFORMATION, {0x11, 0x01, 0x20, 0x00}, 4096);
  b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(24, 0xFF));
  const uint32 named = b.resident(ATTR_STANDARD_INFORMATION, std::vector<byte>(48, 0), u"x");
  std::vector<byte> rec = b.done();
  store_u64(&rec[named + 26], t);
  store_u64(&rec[named + 26 + 24], t + 10000ULL * 1000 * 3600);  // an hour later
  std::ostringstream os;
  dump_standard_information_times(rec.data(), 1024, os);
  EXPECT_EQ(os.str(), "create: 01/02/20 03:04:05.678\nmod:    00/00/00 00:00:00\naccess: 01/02/20 04:04:05.678\n"
                      "meta:   00/00/00 00:00:00");
  std::ostringstream cut;
  dump_standard_information_times(rec.data(), named + 40, cut);
  EXPECT_EQ(cut.str(), "");
}

namespace {

// One attribute line of istat: "Type: $DATA (128-4)   Name: big   Non-Resident   size: 20000 ...".
struct istat_attribute {
  uint32 type = 0;
  uint32 id = 0;
  std::string name;  // "N/A" when unnamed
  ulong64 size = 0;
  bool operator==(const istat_attribute& o) const {
    return type == o.type && id == o.id && name == o.name && size == o.size;
  }
};

std::ostream& operator<<(std::ostream& os, const istat_attribute& a) {
  return os << a.type << "-" << a.id << " " << a.name << " " << a.size;
}

std::vector<istat_attribute> istat_attributes(const std::string& image, ulong64 entry, uint32 type) {
  std::string out;
  std::vector<istat_attribute> found;
  if (quor_test::run_command("istat '" + image + "' " + std::to_string(entry), out) != 0) return found;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t open = line.find(" (");
    const size_t name = line.find("Name: ");
    const size_t size = line.find("size: ");
    if (line.compare(0, 6, "Type: ") != 0 || open == std::string::npos || name == std::string::npos ||
        size == std::string::npos)
      continue;
    istat_attribute a;
    a.type = static_cast<uint32>(std::stoul(line.substr(open + 2)));
    a.id = static_cast<uint32>(std::stoul(line.substr(line.find('-', open) + 1)));
    a.name = line.substr(name + 6, line.find("   ", name) - name - 6);
    a.size = std::stoull(line.substr(size + 6));
    if (a.type == type) found.push_back(a);
  }
  return found;
}

}  // namespace

// The parent references of every $FILE_NAME istat reports of an entry, in
// its order ("Parent MFT Entry: 65 \tSequence: 1"), as stored: sequence in
// the top 16 bits.
std::vector<ulong64> istat_parents(const std::string& image, ulong64 entry) {
  std::vector<ulong64> parents;
  std::istringstream lines(quor_test::istat_report(image, entry));
  unsigned long long parent = 0, sequence = 0;
  for (std::string line; std::getline(lines, line);)
    if (std::sscanf(line.c_str(), "Parent MFT Entry: %llu Sequence: %llu", &parent, &sequence) == 2)
      parents.push_back(sequence << 48 | parent);
  return parents;
}

// The walks, the summary filling, the display name and the record's names
// in their forms that take no byte count, on kit files with named streams:
// every $DATA as istat lists it (instance, name, size), each found by its
// name, and every parent istat gives. On the 4 KiB records of names4k.img
// the later names and both $DATA attributes lie past the first 1 KiB; the
// kit's listing gives the names.
TEST(AttributeData, RecordWalksWithoutAByteCountAgainstIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  // names4k's links: the folder's name, "-", then the filler, 201 characters in all.
  std::string one = "one-";
  while (one.size() < 201) one += "abcdefghijklmnopqrstuvwxyz0123456789";
  one.resize(201);
  const struct {
    const char* image;
    const char* path;
    size_t streams;        // $DATA attributes, the unnamed one included
    std::string display;   // target.bin (a short name) gives way to the first long one
    uint32 past;           // the record offset past which the unnamed $DATA lies
  } files[] = {{"streams", "/host.bin", 3, "host.bin", 0}, {"names4k", "/target.bin", 2, one, 1024}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.image);
    const std::string image = quor_test::fixture(std::string(f.image) + ".img");
    auto engine = open(image, false);
    if (!engine) GTEST_SKIP() << "fixture kit absent";
    const ulong64 host = quor_test::listed_inode(f.image, f.path);
    ASSERT_NE(host, 0u);
    const std::vector<istat_attribute> expected = istat_attributes(image, host, ATTR_DATA);
    ASSERT_EQ(expected.size(), f.streams);
    std::vector<byte> rec;
    bool torn = false;
    ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, host));

    std::vector<istat_attribute> walked;
    byte* attr = nullptr;
    for (bool ok = find_attribute(rec.data(), ATTR_DATA, attr); ok; ok = find_next_attribute(attr, ATTR_DATA)) {
      entry_record summary;
      ASSERT_TRUE(fill_entry_record_from_attribute(summary, host, host, attr));
      istat_attribute a;
      a.type = summary.item.header.type;
      a.id = summary.item.header.small_value;
      a.name = summary.name.empty() ? "N/A" : summary.name;
      a.size = summary.item.header.flag ? load_u64(summary.item.body, 16) : load_u32(summary.item.body, 0);
      walked.push_back(a);
    }
    EXPECT_EQ(walked, expected);

    std::set<std::wstring> streams;
    for (const istat_attribute& want : expected) {
      std::vector<uint16> name;
      if (want.name != "N/A") {
        name.assign(want.name.begin(), want.name.end());
        streams.insert(std::wstring(want.name.begin(), want.name.end()));
      }
      name.push_back(0);
      attr = nullptr;
      ASSERT_TRUE(find_attribute_by_name(rec.data(), ATTR_DATA, attr, name.data())) << want;
      EXPECT_EQ(load_u16(attr, AH_INSTANCE), want.id) << want;
      if (want.name == "N/A") {
        EXPECT_GT(attr - rec.data(), f.past);
      }
    }
    byte* from = rec.data() + load_u16(rec.data(), FRH_FIRST_ATTRIBUTE);
    ASSERT_TRUE(find_attribute_from(from, ATTR_DATA));
    EXPECT_EQ(load_u16(from, AH_INSTANCE), expected[0].id);

    // Every name and parent of the record, and its named streams.
    const std::vector<ulong64> istat_order = istat_parents(image, host);
    ASSERT_FALSE(istat_order.empty());
    const ulong64_set parents_expected(istat_order.begin(), istat_order.end());
    std::string display;
    ulong64_set parents;
    const byte* name_attr = nullptr;
    ASSERT_TRUE(get_record_display_name(rec.data(), display, parents, name_attr));
    EXPECT_EQ(display, f.display);
    EXPECT_EQ(parents, parents_expected);
    ASSERT_NE(name_attr, nullptr);
    EXPECT_EQ(load_u32(name_attr, AH_TYPE), ATTR_FILE_NAME);
    file_name_map names;
    ASSERT_TRUE(collect_record_file_names(names, rec.data()));
    ulong64_set named_parents;
    for (const auto& n : names) named_parents.insert(n.second.parent);
    EXPECT_EQ(named_parents, parents_expected);
    std::set<std::wstring> ads;
    ulong64 parent = 0;
    EXPECT_TRUE(get_record_ads_names(rec.data(), ads, parent));
    EXPECT_EQ(ads, streams);
    EXPECT_EQ(parent, mft_reference_entry(istat_order[0]));
    // The gathered information without an engine: every name the listing
    // gives the file, each link in its folder.
    std::set<std::string> listed;
    for (const quor_test::listing_entry& e : quor_test::read_listing(f.image))
      if (e.inode == host) listed.insert(e.path.substr(e.path.rfind('/') + 1));
    inode_info info;
    ASSERT_TRUE(get_record_inode_info(nullptr, rec.data(), host, info, ~0ULL));
    std::set<std::string> gathered;
    for (const file_name_info& n : info.names) gathered.insert(wstring_to_utf8(n.name));
    EXPECT_EQ(gathered, listed);
    EXPECT_EQ(info.ads_names, streams);
  }

  // An attribute copied out alone, as long as it says it is, fills the same
  // summary; one whose length is 0 fills none.
  const std::string image = quor_test::fixture("streams.img");
  auto engine = open(image, false);
  const ulong64 host = quor_test::listed_inode("streams", "/host.bin");
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine && engine->read_mft_record_to_vector(rec, torn, host));
  byte* attr = nullptr;
  ASSERT_TRUE(find_attribute_by_name(rec.data(), ATTR_DATA, attr, nullptr));
  std::vector<byte> alone(attr, attr + load_u32(attr, AH_LENGTH));
  entry_record summary;
  ASSERT_TRUE(fill_entry_record_from_attribute(summary, host, host, alone.data()));
  EXPECT_EQ(load_u64(summary.item.body, 16), istat_attributes(image, host, ATTR_DATA).at(0).size);
  EXPECT_EQ(summary.runs.size(), 1u);
  store_u32(&alone[AH_LENGTH], 0);
  EXPECT_FALSE(fill_entry_record_from_attribute(summary, host, host, alone.data()));
}

// A kit record of 1 KiB whose header claims more than the record holds (a
// larger allocated size, 4 KiB in use, its end marker overwritten by an
// attribute that runs to the 1 KiB end): every form without a byte count
// keeps to the 1 KiB, so it gives what istat gives of the record, nothing of
// the other file's name and stream that follow it in memory, and reads
// nothing past a buffer of exactly 1 KiB.
TEST(AttributeData, RecordFormsWithoutAByteCountKeepToADamagedRecord) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const std::string image = quor_test::fixture("streams.img");
  auto engine = open(image, false);
  if (!engine) GTEST_SKIP() << "fixture kit absent";
  const ulong64 host = quor_test::listed_inode("streams", "/host.bin");
  ASSERT_NE(host, 0u);
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, host));
  ASSERT_EQ(rec.size(), 1024u);
  std::set<std::wstring> streams;
  for (const istat_attribute& a : istat_attributes(image, host, ATTR_DATA))
    if (a.name != "N/A") streams.insert(std::wstring(a.name.begin(), a.name.end()));
  ASSERT_EQ(streams.size(), 2u);
  const std::vector<ulong64> istat_order = istat_parents(image, host);
  ASSERT_FALSE(istat_order.empty());
  const ulong64_set parents_expected(istat_order.begin(), istat_order.end());
  ulong64_set entries_expected;
  for (ulong64 p : istat_order) entries_expected.insert(mft_reference_entry(p));

  const uint32 end = load_u32(rec.data(), FRH_BYTES_IN_USE) - 8;
  ASSERT_EQ(load_u32(rec.data(), end), ATTR_END);
  store_u32(&rec[end], ATTR_LOGGED_UTILITY_STREAM);
  store_u32(&rec[end + AH_LENGTH], 1024 - end);
  store_u16(&rec[end + AH_VALUE_OFFSET], static_cast<uint16>(AH_RESIDENT_SIZE));
  store_u32(&rec[FRH_BYTES_IN_USE], 4096);
  // Another file's Win32 name (long enough to be the display name) and stream.
  quor_test::record_builder other;
  other.resident(ATTR_FILE_NAME, quor_test::record_builder::file_name_value(70 | (1ULL << 48), u"another-file.txt"));
  other.resident(ATTR_DATA, {1}, u"bait");
  const std::vector<byte> after = other.done();
  const uint16 bait[] = {'b', 'a', 'i', 't', 0};

  for (uint32 allocated : {4096u, 12288u}) {
    store_u32(&rec[FRH_BYTES_ALLOCATED], allocated);
    const std::vector<byte> alone(rec);  // a copy holds exactly its 1 KiB
    std::vector<byte> followed(rec);
    followed.insert(followed.end(), after.begin() + load_u16(after.data(), FRH_FIRST_ATTRIBUTE),
                    after.begin() + load_u32(after.data(), FRH_BYTES_IN_USE));
    followed.resize(allocated, 0);
    const std::vector<byte>* buffers[] = {&alone, &followed};
    for (const std::vector<byte>* buffer : buffers) {
      SCOPED_TRACE(std::to_string(allocated) + (buffer == &alone ? " alone" : " followed"));
      const byte* r = buffer->data();
      byte* attr = nullptr;
      EXPECT_FALSE(find_attribute_by_name(r, ATTR_DATA, attr, bait));
      for (const std::wstring& name : streams) {
        std::vector<uint16> units(name.begin(), name.end());
        units.push_back(0);
        EXPECT_TRUE(find_attribute_by_name(r, ATTR_DATA, attr, units.data()));
      }
      std::string display;
      ulong64_set parents;
      const byte* name_attr = nullptr;
      ASSERT_TRUE(get_record_display_name(r, display, parents, name_attr));
      EXPECT_EQ(display, "host.bin");
      EXPECT_EQ(parents, parents_expected);
      for (bool all_spaces : {false, true}) {
        file_name_map names;
        ASSERT_TRUE(all_spaces ? collect_file_names(names, r, true, ~0ULL, true) : collect_record_file_names(names, r));
        ulong64_set named_parents;
        for (const auto& n : names) named_parents.insert(n.second.parent);
        EXPECT_EQ(named_parents, parents_expected);
      }
      std::wstring first;
      ASSERT_TRUE(get_record_names_and_parents(r, first, parents));
      EXPECT_EQ(first, L"host.bin");
      EXPECT_EQ(parents, entries_expected);
      std::set<std::wstring> ads;
      ulong64 parent = 0;
      EXPECT_TRUE(get_record_ads_names(r, ads, parent));
      EXPECT_EQ(ads, streams);
      inode_info info;
      ASSERT_TRUE(get_record_inode_info(nullptr, r, host, info, ~0ULL));
      EXPECT_EQ(info.ads_names, streams);
      EXPECT_EQ(info.first_name, L"host.bin");
    }
  }
}

// The $ATTRIBUTE_LIST of a kit file whose runs outgrew its record, as icat
// reads it: the list walk over the caller's copy of the value finds every
// $DATA piece, each in the record it names and starting at the VCN it
// gives, its summary mapping those VCNs to istat's clusters, the pieces
// together covering the size istat reports; the engine's own read of the
// list is icat's bytes.
TEST(AttributeData, AttributeListWalksWithoutAByteCountAgainstIcat) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("icat"))
    GTEST_SKIP() << "istat or icat not installed";
  const std::string image = quor_test::fixture("runlist.img");
  auto engine = open(image, false);
  if (!engine) GTEST_SKIP() << "fixture kit absent";
  const ulong64 file = quor_test::listed_inode("runlist", "/frag/a.bin");
  ASSERT_NE(file, 0u);
  const std::vector<istat_attribute> lists = istat_attributes(image, file, ATTR_ATTRIBUTE_LIST);
  const std::vector<istat_attribute> data = istat_attributes(image, file, ATTR_DATA);
  ASSERT_EQ(lists.size(), 1u);
  ASSERT_EQ(data.size(), 1u);
  std::string icat;
  ASSERT_EQ(quor_test::run_command("icat '" + image + "' " + std::to_string(file) + "-32-" +
                                       std::to_string(lists[0].id),
                                   icat),
            0);
  std::vector<byte> value(icat.begin(), icat.end());
  ASSERT_EQ(value.size(), lists[0].size);

  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(engine->read_mft_record_to_vector(rec, torn, file));
  byte* list_attr = nullptr;
  ASSERT_TRUE(find_attribute(rec.data(), ATTR_ATTRIBUTE_LIST, list_attr));
  ASSERT_EQ(load_u16(list_attr, AH_INSTANCE), lists[0].id);
  ASSERT_NE(list_attr[AH_NON_RESIDENT], 0);

  const ulong64 clusters = (data[0].size + engine->m_cluster_size - 1) / engine->m_cluster_size;
  const std::vector<ulong64> istat_clusters =
      quor_test::istat_clusters(quor_test::istat_report(image, file), ATTR_DATA, data[0].id);
  ulong64 next_vcn = 0;
  const byte* first_piece = nullptr;
  byte* entry = value.data();
  uint32 remaining = 0;
  int pieces = 0;
  for (bool ok = find_attribute_list_entry(list_attr, ATTR_DATA, entry, remaining); ok;
       ok = find_next_attribute_list_entry(entry, remaining, ATTR_DATA)) {
    if (!first_piece) first_piece = entry;
    EXPECT_EQ(remaining, value.size() - (entry - value.data()));
    ASSERT_EQ(load_u64(entry, ALE_FIRST_VCN), next_vcn);
    std::vector<byte> holder;
    ASSERT_TRUE(engine->read_mft_record_to_vector(holder, torn, mft_reference_entry(load_u64(entry, ALE_REFERENCE))));
    byte* piece = nullptr;
    ASSERT_TRUE(find_attribute(holder.data(), ATTR_DATA, piece));
    EXPECT_EQ(load_u64(piece, AH_FIRST_VCN), next_vcn);
    // The piece's summary maps its VCNs, from its own first one, to the
    // clusters istat gives them (0 for a hole).
    entry_record summary;
    const ulong64 holder_entry = mft_reference_entry(load_u64(entry, ALE_REFERENCE));
    ASSERT_TRUE(fill_entry_record_from_attribute(summary, file, holder_entry, piece));
    ASSERT_FALSE(summary.runs.empty());
    EXPECT_EQ(summary.runs.front().vcn, next_vcn);
    const ulong64 last_vcn = load_u64(piece, AH_LAST_VCN);
    for (ulong64 vcn = next_vcn; vcn <= last_vcn && vcn < istat_clusters.size(); vcn += 7) {
      uint32 index = 0;
      ulong64 lcn = 0;
      ASSERT_TRUE(find_lcn_for_vcn(summary.runs, vcn, index, lcn)) << "vcn " << vcn;
      EXPECT_EQ(lcn, istat_clusters[vcn]) << "vcn " << vcn;
    }
    next_vcn = last_vcn + 1;
    ++pieces;
  }
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(next_vcn, clusters);
  EXPECT_EQ(istat_clusters.size(), clusters);

  std::vector<byte> list;
  const byte* found = nullptr;
  ASSERT_TRUE(find_attribute_list_entry(engine.get(), list_attr, ATTR_DATA, found, remaining, {}, list, false));
  EXPECT_EQ(list, value);
  EXPECT_EQ(found - list.data(), first_piece - value.data());
  EXPECT_EQ(remaining, list.size() - (found - list.data()));
}
