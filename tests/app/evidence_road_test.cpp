// quor on damaged or unusual evidence: damaged INDX update sequences, a VMDK
// of a bare volume, $MFT runs past the volume, inputs that are not files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/dir_children.h"
#include "tests/app/quor_run.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

using namespace quor_test;
typedef std::vector<std::string> args_t;

std::string write_copy(const std::string& name, const std::string& data) {
  const std::string path = scratch_dir() + "/" + name;
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

// The sorted rows of a -csv run (after banner, run time, blank, echo, header).
std::vector<std::string> csv_rows(const args_t& args) {
  const run_result r = run_quor(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = lines_of(r.out);
  lines.erase(lines.begin(), lines.begin() + std::min<size_t>(5, lines.size()));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Live rows by their entry number (a name may hold an unrestored sector end)
// and carved rows whole.
void sort_rows(const std::vector<std::string>& rows, size_t entry_column, std::vector<std::string>& live,
               std::vector<std::string>& carved) {
  for (const std::string& row : rows) {
    if (row.find(",valid,") != std::string::npos) live.push_back(split(row, ',').at(entry_column));
    if (row.find(",slack,") != std::string::npos) carved.push_back(row);
  }
  std::sort(live.begin(), live.end());
}

}  // namespace

// One INDX record of /many gets update-sequence counts that do not match its
// size, on the volume and in an extracted INDX file. Every live entry stays
// listed and every carved entry carved; at most one per sector whose end
// cannot be restored differs, and with count 17 (eight sectors restored)
// none does.
TEST(EvidenceRoad, IndxRecordKeptWhateverItsUpdateSequenceCount) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  ulong64 many = 0;
  for (const auto& e : read_listing("default.img")) many = e.path == "/many" ? e.inode : many;
  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, ntfs, false, false));
  directory_index index;
  const bool read = read_directory_index(*ntfs, many, index) && !index.runs.empty();
  const uint64 cluster = ntfs->m_cluster_size;
  delete ntfs;
  ASSERT_TRUE(read);
  const std::string original = read_whole(image);
  const std::string indx = original.substr(index.runs[0].lcn * cluster, index.runs[0].num_clusters * cluster);
  ASSERT_GE(indx.size(), 3u * 4096);
  ASSERT_EQ(indx.compare(4096, 4, "INDX"), 0);
  const std::vector<std::string> before[] = {csv_rows({"-image", image, "-path", "\\many", "-all", "-csv"}),
                                             csv_rows({"-indxfile", write_copy("many.i30", indx), "-all", "-csv"})};
  ASSERT_GE(before[0].size(), 2000u);

  for (const uint16 count : {uint16(3), uint16(17), uint16(0xFFFF)}) {
    std::string volume = original, file = indx;
    store_u16(reinterpret_cast<byte*>(&volume[index.runs[0].lcn * cluster + 4096 + 6]), count);
    store_u16(reinterpret_cast<byte*>(&file[4096 + 6]), count);
    const std::string tag = std::to_string(count);
    const std::vector<std::string> after[] = {
        csv_rows({"-image", write_copy(tag + ".img", volume), "-path", "\\many", "-all", "-csv"}),
        csv_rows({"-indxfile", write_copy(tag + ".i30", file), "-all", "-csv"})};
    for (size_t road = 0; road < 2; ++road) {
      SCOPED_TRACE("count " + tag + (road ? " in -indxfile" : " on -image"));
      std::vector<std::string> live_before, carved_before, live_after, carved_after, lost;
      sort_rows(before[road], road, live_before, carved_before);
      sort_rows(after[road], road, live_after, carved_after);
      EXPECT_EQ(live_after, live_before);
      EXPECT_EQ(carved_after.size(), carved_before.size());
      std::set_difference(carved_before.begin(), carved_before.end(), carved_after.begin(), carved_after.end(),
                          std::back_inserter(lost));
      EXPECT_LE(lost.size(), count == 17 ? 0u : 8u);
    }
  }
}

// qemu-img's VMDK of a bare volume lists through -vmdk what -image lists.
TEST(EvidenceRoad, VmdkOfABareVolume) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  if (!have_program("qemu-img")) GTEST_SKIP() << "qemu-img absent";
  const std::string vmdk = scratch_dir() + "/bare.vmdk";
  std::string ignored;
  ASSERT_EQ(run_command("qemu-img convert -f raw -O vmdk " + quote(image) + " " + quote(vmdk), ignored), 0);
  const std::vector<std::string> by_image = csv_rows({"-image", image, "-all", "-csv"});
  ASSERT_GT(by_image.size(), 1000u);
  EXPECT_EQ(csv_rows({"-vmdk", vmdk, "-all", "-csv"}), by_image);
}

// $MFT record 0's run and sizes claim 2^32 - 1 clusters: the engine counts
// the entries that fit between the $MFT's start and the volume's end, and
// the run lists what the undamaged one does (the time bound guards a hang).
TEST(EvidenceRoad, MftRunsPastTheVolumeAreBounded) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  std::string data = read_whole(image);
  byte* boot = reinterpret_cast<byte*>(&data[0]);
  const uint64 cluster = load_u16(boot, 11) * boot[13], mft_lcn = load_u64(boot, 0x30);
  ASSERT_LT(mft_lcn, 0x80u);
  byte* record = boot + mft_lcn * cluster;
  uint32 at = load_u16(record, 0x14);
  while (at < 400 && load_u32(record, at) != 0x80) at += load_u32(record, at + 4);
  ASSERT_EQ(load_u32(record, at), 0x80u);
  for (int field : {0x28, 0x30, 0x38}) store_u64(record + at + field, 0xFFFFFFFFULL * cluster);
  const byte run[] = {0x14, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<byte>(mft_lcn), 0};
  std::memcpy(record + at + load_u16(record, at + 0x20), run, sizeof run);
  const std::string damaged = write_copy("record0-runs.img", data);

  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(damaged.c_str(), 0, ntfs, false, false));
  EXPECT_EQ(ntfs->get_inode_count(), (load_u64(boot, 0x28) / boot[13] - mft_lcn) * cluster / 1024);
  delete ntfs;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> rows = csv_rows({"-image", damaged, "-all", "-csv"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
  EXPECT_EQ(rows, csv_rows({"-image", image, "-all", "-csv"}));
}

// Inputs that are not files end at once with a message: FIFOs (open would
// wait for ever), a VMDK parent hint naming a FIFO or a device, and names
// that are not UTF-8.
TEST(EvidenceRoad, InputsThatAreNotFilesEndAtOnce) {
  const std::string fifo = scratch_dir() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string child_path = fixture("vmdk-child.vmdk");
  if (child_path.empty()) GTEST_SKIP() << "vmdk-child.vmdk fixture absent";
  const std::string child = read_whole(child_path);
  const std::string key = "parentFileNameHint=\"vmdk-base.vmdk\"";
  const size_t hint = child.find(key);
  ASSERT_NE(hint, std::string::npos);
  std::string hinted[2];
  const std::string targets[] = {"fifo", "../../../../../../../../../../dev/zero"};
  for (int i = 0; i < 2; ++i) {
    // The descriptor text has zero bytes after it to take the longer name.
    const size_t end = child.find('\0', hint);
    std::string copy = child.substr(0, end);
    copy.replace(hint + key.size() - 15, 14, targets[i]);
    copy.resize(end + 512, '\0');
    copy += child.substr(end + 512);
    hinted[i] = write_copy("hint" + std::to_string(i) + ".vmdk", copy);
  }
  const std::string bad_name = scratch_dir() + "/\xff\xfe.img";
  const std::string utf8 = ": the file name is not valid UTF-8 and cannot be opened, aborting";
  const std::string kind = " is not a regular file or block device, aborting";
  const std::pair<args_t, std::string> cases[] = {
      {{"-image", fifo}, "-image: " + fifo + kind},   {{"-indxfile", fifo}, "-indxfile: " + fifo + kind},
      {{"-vmdk", fifo}, "-vmdk: " + fifo + kind},     {{"-vmdk", hinted[0]}, "fifo is not a regular file\n"},
      {{"-vmdk", hinted[1]}, "/zero is not a regular file\n"}, {{"-image", bad_name}, "-image" + utf8},
      {{"-indxfile", bad_name}, "-indxfile" + utf8},  {{"-vmdk", bad_name}, "-vmdk" + utf8},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const run_result r = run_quor(c.first);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << c.first[1];
    EXPECT_EQ(r.status, kFailed) << c.first[1];
    EXPECT_NE(r.err.find(c.second), std::string::npos) << c.first[1] << ": " << r.err;
  }
}
