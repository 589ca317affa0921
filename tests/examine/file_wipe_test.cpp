// Wiping a file's data on a copy of a kit volume: every kind of file ends as
// zeros of its size, written in small chunks, compressed data too (as icat
// and ntfs-3g read it back); other files keep their data.
#include "examine/file_wipe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include <memory>

#include "examine/attribute_writer.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/examine/examine_support.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "tests/support/listing.h"
#include "tests/support/loop_device.h"

namespace {

std::string data_of(CNtfs* ntfs, const std::string& path, ulong64* entry_out = nullptr) {
  std::string name;
  ulong64 entry = 0;
  std::ostringstream out;
  if (!ntfs->get_inode_from_path(path, name, entry, false) || !write_unnamed_data(ntfs, entry, out)) return "<none>";
  if (entry_out) *entry_out = entry;
  return out.str();
}

TEST(FileWipe, ZerosOverEveryKindOfFileOnACopy) {
  const std::string copy = quor_test::copy_fixture("default.img", "wipe.img");
  ASSERT_FALSE(copy.empty());
  const struct {
    const char* path;
    bool wiped;
  } cases[] = {{"/nonres.bin", true}, {"/frag/a.bin", true}, {"/sparse.bin", true}, {"/small.txt", true},
               {"/compressed/pattern.bin", true}};
  std::vector<std::string> before;
  for (int pass = 0; pass < 2; ++pass) {
    const std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(copy, pass == 0);
    ASSERT_NE(ntfs, nullptr);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
      ulong64 entry = 0;
      const std::string now = data_of(ntfs.get(), cases[i].path, &entry);
      if (pass == 0) {
        before.push_back(now);
        EXPECT_EQ(wipe_entry_data(ntfs.get(), entry, 4096), cases[i].wiped) << cases[i].path;
      } else {
        EXPECT_TRUE(now == (cases[i].wiped ? std::string(before[i].size(), '\0') : before[i])) << cases[i].path;
      }
    }
    std::string kept;
    ASSERT_TRUE(quor_test::expected_file_data("default.img", "/frag/b.bin", kept));
    EXPECT_TRUE(data_of(ntfs.get(), "/frag/b.bin") == kept);
  }
  // A volume opened for reading only refuses; the original stays as it was.
  examine_test::volume original("default.img");
  ulong64 entry = 0;
  EXPECT_TRUE(data_of(original.ntfs, "/nonres.bin", &entry) == before[0]);
  EXPECT_FALSE(wipe_entry_data(original.ntfs, entry));
  EXPECT_FALSE(wipe_file_data("Z:/nonres.bin"));
}

// The clusters istat lists for the unnamed $DATA of `entry`.
std::vector<ulong64> data_clusters(const std::string& image, ulong64 entry) {
  const std::string report = quor_test::istat_report(image, entry);
  const std::string head = "Type: $DATA (128-";
  const size_t at = report.find(head);
  if (at == std::string::npos || report.find("Name: N/A", at) > report.find('\n', at)) return {};
  return quor_test::istat_clusters(report, ATTR_DATA, std::stoul(report.substr(at + head.size())));
}

// A wipe through a drive-letter path on a copy: every byte of every cluster
// istat gives the file is zero afterwards, the tail of its last cluster past
// the data size included (bytes planted there first, as an older file
// leaves them), and not one byte of the volume outside them changed. An
// empty resident file has nothing to overwrite: false, and the volume is as
// it was. A file continued in extension records is wiped over every piece.
TEST(FileWipe, EveryAllocatedClusterAndNothingElse) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    const char* image;
    const char* path;
    bool wiped;
    size_t clusters;
    bool tail;  // the data ends inside its last cluster
  } cases[] = {{"sample", "/Documents/report-2023.docx", true, 2, true},
               {"views", "/links/l00", false, 0, false},
               {"runlist", "/frag/a.bin", true, 4800, false},
               {"default", "/compressed/pattern.bin", true, 25, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string copy = quor_test::copy_fixture(std::string(c.image) + ".img", "wipe-all.img");
    ASSERT_FALSE(copy.empty());
    const ulong64 entry = quor_test::listed_inode(c.image, c.path);
    ASSERT_NE(entry, 0u);
    const std::vector<ulong64> clusters = data_clusters(copy, entry);
    ASSERT_EQ(clusters.size(), c.clusters);
    auto engine = quor_test::open_engine_at(copy);
    ASSERT_NE(engine, nullptr);
    const size_t cs = engine->m_cluster_size;
    engine.reset();
    size_t tail = 0;
    for (const quor_test::listing_entry& e : quor_test::read_listing(c.image))
      if (e.path == c.path) tail = e.size % cs;
    ASSERT_EQ(tail != 0, c.tail);
    if (tail != 0) {
      std::fstream io(copy, std::ios::in | std::ios::out | std::ios::binary);
      io.seekp(static_cast<std::streamoff>(clusters.back() * cs + tail));
      io.write(std::string(cs - tail, '\xA5').data(), static_cast<std::streamsize>(cs - tail));
      ASSERT_TRUE(io.flush());
    }
    const std::string before = quor_test::read_file_text(copy);
    std::string letter_path = std::string("Q:") + c.path;
    for (char& ch : letter_path)
      if (ch == '/') ch = '\\';
    {
      quor_test::drive_letter q(copy);
      ASSERT_TRUE(q.ok);
      EXPECT_EQ(wipe_file_data(letter_path), c.wiped);
    }
    const std::string after = quor_test::read_file_text(copy);
    ASSERT_EQ(after.size(), before.size());
    std::string want = before;
    // istat gives a hole as cluster 0, which stays as it is.
    for (ulong64 lcn : clusters)
      if (lcn != 0) want.replace(lcn * cs, cs, cs, '\0');
    size_t changed = 0;
    for (size_t i = 0; i < after.size(); ++i) changed += after[i] != want[i];
    EXPECT_EQ(changed, 0u);
  }
}

// A compressed file wiped through a drive-letter path reads back as zeros
// of its size through icat and an ntfs-3g mount; its neighbour in the
// compressed folder keeps its data.
TEST(FileWipe, CompressedFileReadsBackAsZeros) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const std::string copy = quor_test::copy_fixture("default.img", "wipe-compressed.img");
  ASSERT_FALSE(copy.empty());
  const ulong64 pattern = quor_test::listed_inode("default", "/compressed/pattern.bin");
  const ulong64 longer = quor_test::listed_inode("default", "/compressed/longer.bin");
  ASSERT_TRUE(pattern != 0 && longer != 0);
  std::string kept_before, kept_after, wiped;
  ASSERT_TRUE(examine_test::icat(copy, std::to_string(longer), kept_before));
  {
    quor_test::drive_letter q(copy);
    ASSERT_TRUE(q.ok);
    EXPECT_TRUE(wipe_file_data("Q:\\compressed\\pattern.bin"));
  }
  ASSERT_TRUE(examine_test::icat(copy, std::to_string(pattern), wiped));
  EXPECT_TRUE(wiped == std::string(102400, '\0')) << wiped.size() << " bytes";
  ASSERT_TRUE(examine_test::icat(copy, std::to_string(longer), kept_after));
  EXPECT_TRUE(kept_after == kept_before);
  const quor_test::ntfs3g_mount mounted(copy, quor_test::scratch_dir() + "/wipe-compressed");
  if (mounted.dir().empty()) GTEST_SKIP() << mounted.why();
  EXPECT_TRUE(quor_test::read_file_text(mounted.dir() + "/compressed/pattern.bin") == std::string(102400, '\0'));
}

// A wipe of `entry` on `copy`, opened for writing, gives false and leaves
// the copy as it was, byte for byte.
void expect_nothing_written(const std::string& copy, ulong64 entry) {
  const std::string before = quor_test::read_file_text(copy);
  {
    const std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(copy, true);
    ASSERT_NE(ntfs, nullptr);
    EXPECT_FALSE(wipe_entry_data(ntfs.get(), entry, 4096));
  }
  EXPECT_TRUE(quor_test::read_file_text(copy) == before);
}

// A run list that disagrees with its volume or its own header is not
// written at all, whatever part of it looks sound: a run past the volume's
// end, a run at cluster 0 (the boot sector), one damaged run length that
// claims every cluster to the volume's end (other files' data), runs that
// stop short of the allocated size of 50 clusters (a piece lost). Nor is a
// file whose attribute list names another file's extension record for a
// piece of its data (istat refuses that list).
TEST(FileWipe, DamagedRunListsWriteNothing) {
  const ulong64 entry = quor_test::listed_inode("default", "/nonres.bin");
  ASSERT_NE(entry, 0u);
  ulong64 lcn = 0, total = 0, record_pos = 0;
  {
    const std::unique_ptr<CNtfs> ntfs = quor_test::open_engine("default.img");
    ASSERT_NE(ntfs, nullptr);
    std::vector<byte> rec;
    bool torn = false;
    ASSERT_TRUE(ntfs->read_mft_record_to_vector(rec, torn, entry));
    const byte* attr = nullptr;
    ASSERT_TRUE(find_attribute(rec.data(), static_cast<uint32>(rec.size()), ATTR_DATA, attr));
    ASSERT_EQ(load_u64(attr, AH_ALLOCATED_SIZE), 50u * ntfs->m_cluster_size);
    ulong64 clusters = 0;
    ASSERT_TRUE(lookup_vcn_in_mapping_pairs(attr, 0, lcn, clusters));
    ASSERT_EQ(clusters, 50u);
    total = ntfs->m_total_clusters;
    record_pos = ntfs->get_inode_file_pos(entry);
  }
  const std::vector<std::pair<ulong64, ulong64>> damaged[] = {
      {{45, lcn}, {5, total + 10}},
      {{45, lcn}, {5, 0}},
      {{total - lcn, lcn}},
      {{45, lcn}},
  };
  for (const auto& runs : damaged) {
    SCOPED_TRACE(std::to_string(runs.size()) + " runs, the last " + std::to_string(runs.back().first) + " at " +
                 std::to_string(runs.back().second));
    const std::string copy = quor_test::copy_fixture("default.img", "wipe-damaged.img");
    ASSERT_FALSE(copy.empty());
    ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, record_pos, runs, 0));
    expect_nothing_written(copy, entry);
  }

  // runlist.img's /frag/a.bin (65) keeps the piece from VCN 2433 in record
  // 68, which here says it belongs to record 70.
  const std::string copy = quor_test::copy_fixture("runlist.img", "wipe-foreign.img");
  ASSERT_FALSE(copy.empty());
  const ulong64 fragmented = quor_test::listed_inode("runlist", "/frag/a.bin");
  ASSERT_EQ(fragmented, 65u);
  ulong64 extension_pos = 0;
  {
    const std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(copy);
    ASSERT_NE(ntfs, nullptr);
    std::vector<byte> rec;
    bool torn = false;
    ASSERT_TRUE(ntfs->read_mft_record_to_vector(rec, torn, 68));
    ASSERT_EQ(load_u64(rec.data(), FRH_BASE_RECORD), (1ull << 48) | fragmented);
    extension_pos = ntfs->get_inode_file_pos(68);
  }
  std::vector<byte> base(8);
  store_u64(base.data(), (1ull << 48) | 70);
  quor_test::write_at(copy, extension_pos + FRH_BASE_RECORD, base);
  expect_nothing_written(copy, fragmented);
}

// This host has no drive letters: the volume of "Q:" is the file named
// "Q:" in the working folder, here a link to a kit image. The sizes are
// the listing's.
TEST(FileWipe, DataSizeThroughADriveLetter) {
  const std::string image = quor_test::fixture("default.img");
  ASSERT_FALSE(image.empty());
  quor_test::drive_letter q(image);
  ASSERT_TRUE(q.ok);
  const struct {
    const char* path;
    bool found;
    ulong64 size;
  } cases[] = {{"Q:\\nonres.bin", true, 204800},
               {"Q:\\frag\\a.bin", true, 65536},
               {"Q:\\sparse.bin", true, 5242880},
               {"Q:\\small.txt", true, 300},
               {"Q:\\no-such.txt", false, 0},
               {"Z:\\nonres.bin", false, 0}};
  for (const auto& c : cases) {
    ulong64 size = 12345;
    EXPECT_EQ(get_file_data_size(c.path, size), c.found) << c.path;
    EXPECT_EQ(size, c.size) << c.path;
  }
}

// A file with a hundred names keeps its data in an extension record and
// none in its base record: its size is the clusters istat lists for it,
// and the wipe goes ahead (on a copy), leaving icat nothing but zeros.
TEST(FileWipe, DataKeptOnlyInAnExtensionRecord) {
  const std::string shared = quor_test::shared_testdata("ntfs3_attrlist.raw");
  if (shared.empty() || !quor_test::have_program("istat") || !quor_test::have_program("icat"))
    GTEST_SKIP() << "ntfs3_attrlist.raw, istat or icat absent";
  const std::string copy = quor_test::scratch_dir() + "/attrlist-wipe.raw";
  {
    std::ifstream in(shared, std::ios::binary);
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    ASSERT_TRUE(out.flush());
  }
  const std::string report = quor_test::istat_report(copy, 27);
  size_t clusters = 0;
  for (uint32 id : quor_test::istat_attribute_ids(report, ATTR_DATA))
    clusters += quor_test::istat_clusters(report, ATTR_DATA, id).size();
  ASSERT_EQ(clusters, 1u);
  std::string data;
  ASSERT_EQ(quor_test::run_command("icat '" + copy + "' 27", data), 0);
  ASSERT_FALSE(data.empty());
  ASSERT_NE(data, std::string(data.size(), '\0'));
  ulong64 cluster_size = 0;
  {
    auto engine = quor_test::open_engine_at(copy);
    ASSERT_NE(engine, nullptr);
    cluster_size = engine->m_cluster_size;
  }
  {
    quor_test::drive_letter q(copy);
    ASSERT_TRUE(q.ok);
    ulong64 size = 0;
    EXPECT_TRUE(get_file_data_size("Q:\\11.txt", size));
    EXPECT_EQ(size, clusters * cluster_size);
    EXPECT_TRUE(wipe_file_data("Q:\\11.txt"));
  }
  std::string after;
  ASSERT_EQ(quor_test::run_command("icat '" + copy + "' 27", after), 0);
  EXPECT_EQ(after, std::string(data.size(), '\0'));
}

}  // namespace
