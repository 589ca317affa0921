// The data pump against icat on every kind of non-resident file of the kit:
// whole reads, odd ranges across cluster, run and compression-unit ends, and
// the pump's stops (end of runs, failed and short reads, a refusing sink).
#include "ntfs/attribute_pump.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "tests/support/engine.h"

namespace {

struct opened {
  std::unique_ptr<CNtfs> engine;
  std::string image;
};

opened open_image(const std::string& img) { return {quor_test::open_engine_at(img), img}; }

ulong64 listed_inode(const std::string& path) { return quor_test::listed_inode("default", path); }

// The unnamed $DATA of an entry as a pump layout.
bool data_layout(CNtfs& engine, ulong64 inode, attribute_layout& layout) {
  std::vector<byte> rec;
  bool torn = false;
  const byte* attr = nullptr;
  return engine.read_mft_record_to_vector(rec, torn, inode) &&
         find_attribute_by_name(rec.data(), static_cast<uint32>(rec.size()), ATTR_DATA, attr, nullptr, 0) &&
         layout.set_attribute(attr, load_u32(attr, AH_LENGTH));
}

std::string icat(const std::string& img, ulong64 inode) {
  std::string out;
  if (quor_test::run_command("icat '" + img + "' " + std::to_string(inode), out) != 0) out.clear();
  return out;
}

std::string as_text(const std::vector<byte>& v) { return std::string(v.begin(), v.end()); }

const char* const kFiles[] = {"/nonres.bin", "/frag/a.bin", "/frag/b.bin", "/sparse.bin", "/compressed/pattern.bin",
                              "/compressed/longer.bin"};

TEST(AttributePump, EveryKindOfFileReadsAsIcatDoes) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  for (const char* path : kFiles) {
    const ulong64 inode = listed_inode(path);
    attribute_layout layout;
    ASSERT_TRUE(data_layout(*o.engine, inode, layout)) << path;
    const std::string want = icat(o.image, inode);
    ASSERT_FALSE(want.empty()) << path;
    ASSERT_EQ(layout.data_size, want.size()) << path;
    std::vector<byte> got(want.size());
    ulong64 delivered = 0;
    EXPECT_EQ(pump_attribute_to_buffer(*o.engine, layout, 0, got.size(), got.data(), delivered), PUMP_DONE) << path;
    EXPECT_EQ(delivered, want.size()) << path;
    EXPECT_TRUE(as_text(got) == want) << path;
    // Ranges that start and end inside clusters and cross cluster, run and
    // compression-unit ends, and one that runs past the data's end.
    const struct {
      ulong64 offset, length;
    } ranges[] = {{1, 1}, {4095, 2}, {4093, 4099}, {8191, 12289}, {65533, 7}, {65535, 65538},
                  {want.size() - 5, 5}, {want.size() - 3, 100}};
    for (const auto& r : ranges) {
      const ulong64 expect = std::min<ulong64>(r.length, want.size() - r.offset);
      std::vector<byte> part(static_cast<size_t>(r.length), 0xEE);
      EXPECT_EQ(pump_attribute_to_buffer(*o.engine, layout, r.offset, r.length, part.data(), delivered), PUMP_DONE);
      ASSERT_EQ(delivered, expect) << path << " at " << r.offset;
      EXPECT_TRUE(std::string(part.begin(), part.begin() + static_cast<long>(expect)) ==
                  want.substr(static_cast<size_t>(r.offset), static_cast<size_t>(expect)))
          << path << " at " << r.offset << " length " << r.length;
    }
  }
}

using quor_test::pattern_byte;

TEST(AttributePump, UnitsStoredWholeOrAllSparseNeedNoDecoding) {
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  attribute_layout file;
  ASSERT_TRUE(data_layout(*o.engine, listed_inode("/nonres.bin"), file));
  ASSERT_GE(file.runs.size(), 1u);
  ASSERT_GE(file.runs[0].num_clusters, 32u);
  const ulong64 cs = o.engine->m_cluster_size;
  attribute_layout units;
  units.unit_clusters = 16;
  units.runs = {data_run(file.runs[0].lcn, 0, 32, false), data_run(0, 32, 16, true)};
  units.data_size = 48 * cs;
  std::vector<byte> got(static_cast<size_t>(units.data_size), 0xEE);
  ulong64 delivered = 0;
  ASSERT_EQ(pump_attribute_to_buffer(*o.engine, units, 0, got.size(), got.data(), delivered), PUMP_DONE);
  ASSERT_EQ(delivered, got.size());
  for (ulong64 i = 0; i < got.size(); ++i)
    ASSERT_EQ(got[i], i < 32 * cs ? pattern_byte(i, 2) : 0) << "byte " << i;
  // Data behind a hole inside a unit is no unit NTFS writes, even when it
  // would decode: the compressed file's first unit moved one cluster on.
  attribute_layout packed;
  ASSERT_TRUE(data_layout(*o.engine, listed_inode("/compressed/pattern.bin"), packed));
  const data_run first = packed.runs.at(0);
  ASSERT_TRUE(packed.unit_clusters == 16 && !first.sparse && first.num_clusters < 15);
  ASSERT_TRUE(packed.runs.at(1).sparse);
  units.runs = {data_run(0, 0, 1, true), data_run(first.lcn, 1, first.num_clusters, false),
                data_run(0, 1 + first.num_clusters, 15 - first.num_clusters, true)};
  units.data_size = 16 * cs;
  EXPECT_EQ(pump_attribute_to_buffer(*o.engine, units, 0, units.data_size, got.data(), delivered), PUMP_BAD_UNIT);
}

// Past the initialized size a compression unit is zeros whatever its
// clusters hold, as plain data is: a unit there that could not be read or
// decoded does not stop the data, holes asked for or not. The unit before
// it, stored whole, is cut at the initialized size inside a cluster.
TEST(AttributePump, UnitsPastTheInitializedSizeAreZerosUnread) {
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  CNtfs& engine = *o.engine;
  const ulong64 cs = engine.m_cluster_size;
  attribute_layout file;
  ASSERT_TRUE(data_layout(engine, listed_inode("/nonres.bin"), file));
  ASSERT_GE(file.runs.at(0).num_clusters, 18u);
  const ulong64 lcn = file.runs[0].lcn;
  const struct {
    const char* tail;
    std::vector<data_run> runs;
  } cases[] = {
      {"outside the volume",
       {data_run(lcn, 0, 16, false), data_run(engine.m_total_clusters + 8, 16, 1, false), data_run(0, 17, 15, true)}},
      {"data behind a hole",
       {data_run(lcn, 0, 16, false), data_run(0, 16, 1, true), data_run(lcn + 17, 17, 1, false),
        data_run(0, 18, 14, true)}},
  };
  const ulong64 init = 5 * cs + 123;
  for (const auto& c : cases)
    for (const bool as_holes : {false, true}) {
      SCOPED_TRACE(std::string(c.tail) + (as_holes ? ", holes as lengths" : ", holes as bytes"));
      attribute_layout units;
      units.unit_clusters = 16;
      units.runs = c.runs;
      units.data_size = 32 * cs;
      units.initialized_size = init;
      std::string got;
      ulong64 skipped = 0, delivered = 0;
      const pump_sink take = [&](const byte* d, uint32 n) {
        got.append(reinterpret_cast<const char*>(d), n);
        return true;
      };
      pump_hole_sink skip;
      if (as_holes) skip = [&](ulong64 n) {
        skipped += n;
        got.append(static_cast<size_t>(n), '\0');
        return true;
      };
      EXPECT_EQ(pump_attribute_data(engine, units, 0, PUMP_UNBOUNDED, take, skip, delivered), PUMP_DONE);
      EXPECT_EQ(delivered, 32 * cs);
      EXPECT_EQ(skipped, as_holes ? 32 * cs - init : 0);
      ASSERT_EQ(got.size(), 32 * cs);
      for (ulong64 i = 0; i < got.size(); ++i)
        ASSERT_EQ(static_cast<byte>(got[i]), i < init ? pattern_byte(i, 2) : 0) << "byte " << i;
    }
}

TEST(AttributePump, StopsWhereTheDataStopsAndSaysWhy) {
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  CNtfs& engine = *o.engine;
  const ulong64 cs = engine.m_cluster_size;
  attribute_layout file;
  ASSERT_TRUE(data_layout(engine, listed_inode("/nonres.bin"), file));
  ulong64 delivered = 0;
  std::vector<byte> buf(1 << 20);

  // The sparse file's first piece is its 1 MiB hole; a sink that takes one
  // piece stops the pump after it.
  attribute_layout sparse;
  ASSERT_TRUE(data_layout(engine, listed_inode("/sparse.bin"), sparse));
  int pieces = 0;
  EXPECT_EQ(pump_attribute_data(engine, sparse, 0, PUMP_UNBOUNDED, [&](const byte*, uint32) { return ++pieces == 1; },
                                delivered),
            PUMP_SINK_STOPPED);
  EXPECT_EQ(pieces, 2);
  EXPECT_EQ(delivered, 1u << 20);

  // Without a size, the runs end the data; what they map is delivered.
  attribute_layout unsized = file;
  unsized.data_size = unsized.initialized_size = PUMP_UNBOUNDED;
  const ulong64 mapped = unsized.mapped_bytes(engine.m_cluster_size);
  EXPECT_EQ(pump_attribute_to_buffer(engine, unsized, mapped - 10, 100, buf.data(), delivered), PUMP_END_OF_RUNS);
  EXPECT_EQ(delivered, 10u);

  // A run reaching past the volume fails where it starts, after the good run.
  attribute_layout outside;
  outside.runs = {data_run(file.runs[0].lcn, 0, 2, false), data_run(engine.m_total_clusters - 1, 2, 4, false)};
  EXPECT_EQ(pump_attribute_to_buffer(engine, outside, 0, 6 * cs, buf.data(), delivered), PUMP_READ_FAILED);
  EXPECT_EQ(delivered, 2 * cs);

  // A short read at the end of a cut image hands on what arrived, at its
  // true offsets, and fails; the engine's cluster size is untouched.
  const std::string cut = quor_test::scratch_dir() + "/pump-cut.img";
  {
    std::ifstream in(o.image, std::ios::binary);
    std::ofstream outf(cut, std::ios::binary);
    std::vector<char> all((file.runs[0].lcn + 2) * cs + 100);
    in.read(all.data(), static_cast<std::streamsize>(all.size()));
    outf.write(all.data(), static_cast<std::streamsize>(all.size()));
  }
  opened c = open_image(cut);
  ASSERT_TRUE(c.engine);
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(pump_attribute_to_buffer(*c.engine, file, 0, file.data_size, buf.data(), delivered), PUMP_READ_FAILED);
  ASSERT_EQ(delivered, 2 * cs + 100);
  for (ulong64 i = 0; i < delivered; ++i) ASSERT_EQ(buf[i], pattern_byte(i, 2)) << "byte " << i;
  EXPECT_EQ(buf[delivered], 0xEE);
  EXPECT_EQ(c.engine->m_cluster_size, cs);
}

// Holes asked for as lengths: every file still rebuilds to icat's bytes, a
// hole is one notice however long, and the initialized size ends the data.
TEST(AttributePump, HolesComeAsLengthsWhenAsked) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  CNtfs& engine = *o.engine;
  std::string got;
  std::vector<ulong64> holes;
  const pump_sink take = [&](const byte* d, uint32 n) {
    got.append(reinterpret_cast<const char*>(d), n);
    return true;
  };
  const pump_hole_sink skip = [&](ulong64 n) {
    holes.push_back(n);
    if (n < (1u << 30)) got.append(static_cast<size_t>(n), '\0');
    return true;
  };
  ulong64 delivered = 0;
  for (const char* path : kFiles) {
    attribute_layout layout;
    ASSERT_TRUE(data_layout(engine, listed_inode(path), layout)) << path;
    got.clear();
    holes.clear();
    EXPECT_EQ(pump_attribute_data(engine, layout, 0, PUMP_UNBOUNDED, take, skip, delivered), PUMP_DONE) << path;
    EXPECT_EQ(delivered, got.size()) << path;
    EXPECT_TRUE(got == icat(o.image, listed_inode(path))) << path;
  }
  // 5 MiB with 8 KiB written at 1 MiB and at 4 MiB: three holes.
  attribute_layout sparse;
  ASSERT_TRUE(data_layout(engine, listed_inode("/sparse.bin"), sparse));
  holes.clear();
  got.clear();
  ASSERT_EQ(pump_attribute_data(engine, sparse, 0, PUMP_UNBOUNDED, take, skip, delivered), PUMP_DONE);
  EXPECT_EQ(holes, (std::vector<ulong64>{1048576, 3145728 - 8192, 1048576 - 8192}));

  // Written only to byte 100000: the rest is one hole, none of it read.
  attribute_layout part;
  ASSERT_TRUE(data_layout(engine, listed_inode("/nonres.bin"), part));
  part.initialized_size = 100000;
  holes.clear();
  got.clear();
  ASSERT_EQ(pump_attribute_data(engine, part, 0, PUMP_UNBOUNDED, take, skip, delivered), PUMP_DONE);
  EXPECT_EQ(holes, std::vector<ulong64>{204800 - 100000});
  ASSERT_EQ(got.size(), 204800u);
  for (ulong64 i = 0; i < 100000; ++i) ASSERT_EQ(static_cast<byte>(got[i]), pattern_byte(i, 2)) << "byte " << i;

  // A record claiming a terabyte of nothing is one notice, not a million pieces.
  attribute_layout huge;
  huge.runs = {data_run(0, 0, 1ULL << 28, true)};
  huge.data_size = (1ULL << 28) * engine.m_cluster_size;
  holes.clear();
  ASSERT_EQ(pump_attribute_data(engine, huge, 0, PUMP_UNBOUNDED, take, skip, delivered), PUMP_DONE);
  EXPECT_EQ(holes, std::vector<ulong64>{huge.data_size});
  EXPECT_EQ(delivered, huge.data_size);
}

}  // namespace

namespace {

// A file whose last cluster is only partly data: three sparse 4 KiB clusters
// hold 12,188 bytes. The hole ends where the data does, for a whole read and
// for every range, plain or compressed, as lengths or as bytes.
TEST(AttributePump, AHoleEndsAtTheDataSize) {
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  CNtfs& engine = *o.engine;
  ASSERT_EQ(engine.m_cluster_size, 4096u);
  const ulong64 size = 12188;
  const struct {
    ulong64 offset, length, hole;
  } ranges[] = {{0, PUMP_UNBOUNDED, size}, {0, 3 * 4096, size},  {5000, 20000, size - 5000},
                {8192, 4096, size - 8192}, {12000, 1000, 188},    {12187, 1, 1},
                {12188, 100, 0}};
  for (const uint32 unit : {0u, 16u})
    for (const auto& r : ranges) {
      SCOPED_TRACE("unit " + std::to_string(unit) + ", offset " + std::to_string(r.offset) + ", length " +
                   std::to_string(r.length));
      attribute_layout layout;
      layout.runs = {data_run(0, 0, 3, true)};
      layout.data_size = layout.initialized_size = size;
      layout.unit_clusters = unit;
      ulong64 bytes = 0, delivered = 0;
      std::vector<ulong64> holes;
      const pump_sink take = [&](const byte* d, uint32 n) {
        for (uint32 i = 0; i < n; ++i) EXPECT_EQ(d[i], 0) << i;
        bytes += n;
        return true;
      };
      const pump_hole_sink skip = [&](ulong64 n) {
        holes.push_back(n);
        return true;
      };
      EXPECT_EQ(pump_attribute_data(engine, layout, r.offset, r.length, take, skip, delivered), PUMP_DONE);
      EXPECT_EQ(bytes, 0u);
      EXPECT_EQ(holes, r.hole ? std::vector<ulong64>{r.hole} : std::vector<ulong64>{});
      EXPECT_EQ(delivered, r.hole);
      bytes = 0;
      EXPECT_EQ(pump_attribute_data(engine, layout, r.offset, r.length, take, delivered), PUMP_DONE);
      EXPECT_EQ(bytes, r.hole);
      EXPECT_EQ(delivered, r.hole);
    }
}

}  // namespace

namespace {

// A run list is held by the volume when every run that is no hole lies in
// the clusters the source holds; a hole may pass them.
TEST(AttributePump, RunsHeldByTheVolume) {
  opened o = open_image(quor_test::fixture("default.img"));
  ASSERT_TRUE(o.engine);
  const CNtfs& engine = *o.engine;
  const ulong64 held = engine.held_clusters();
  ASSERT_GT(held, 16u);
  const struct {
    const char* what;
    std::vector<data_run> runs;
    bool held;
  } rows[] = {
      {"inside", {data_run(10, 0, 6, false), data_run(0, 6, 4, true)}, true},
      {"up to the last cluster", {data_run(held - 4, 0, 4, false)}, true},
      {"one cluster past the end", {data_run(held - 4, 0, 5, false)}, false},
      {"starting past the end", {data_run(10, 0, 6, false), data_run(held, 6, 1, false)}, false},
      {"four billion clusters from inside", {data_run(10, 0, 0x80000000u, false)}, false},
      {"a hole far past the volume", {data_run(10, 0, 6, false), data_run(0, 6, 0x80000000u, true)}, true},
      {"no runs", {}, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    attribute_layout layout;
    ASSERT_TRUE(layout.set_data_runs(r.runs));
    EXPECT_EQ(layout.held_by(engine), r.held);
  }
}

}  // namespace
