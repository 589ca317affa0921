// quor on evidence that is damaged, packed another way, or not a file at
// all: damaged INDX update sequences keep their entries, a VMDK of a bare
// volume lists as the volume does, a $MFT run list reaching past the volume
// does not turn into billions of entries, and inputs that would block or
// cannot be named end at once with a message.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/ntfs.h"
#include "tests/app/quor_run.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

using namespace quor_test;
typedef std::vector<std::string> args_t;

std::vector<char> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string write_copy(const std::string& name, const std::vector<char>& data) {
  const std::string path = scratch_dir() + "/" + name;
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  return path;
}

// The rows of a -csv run (after banner, run time, blank, echo and header),
// sorted, so that two runs compare whatever order their maps gave.
std::vector<std::string> csv_rows(const args_t& args) {
  const run_result r = run_quor(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = lines_of(r.out);
  if (lines.size() < 5) return {};
  lines.erase(lines.begin(), lines.begin() + 5);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> with_type(const std::vector<std::string>& rows, const std::string& type) {
  std::vector<std::string> out;
  for (const std::string& row : rows)
    if (row.find("," + type + ",") != std::string::npos) out.push_back(row);
  return out;
}

// Live entries by the number in the given column: the names may carry the
// bytes an unrestored sector end holds.
std::vector<std::string> live_entries(const std::vector<std::string>& rows, size_t column) {
  std::vector<std::string> out;
  for (const std::string& row : with_type(rows, "valid")) out.push_back(split(row, ',').at(column));
  std::sort(out.begin(), out.end());
  return out;
}

size_t missing_from(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  std::vector<std::string> gone;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
  return gone.size();
}

}  // namespace

// One INDX record of /many gets update-sequence counts that do not match
// its size. On the volume road and on the -indxfile road the record stays:
// every live entry is listed and its carved entries are carved; only entries
// crossing a sector end that could not be restored may differ (at most one
// per sector). Count 17 restores all eight sectors: nothing differs at all.
TEST(EvidenceRoad, IndxRecordKeptWhateverItsUpdateSequenceCount) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  ulong64 many = 0;
  for (const auto& e : read_listing("default.img"))
    if (e.path == "/many") many = e.inode;
  ASSERT_NE(many, 0u);
  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, ntfs, false, false));
  directory_index index;
  const bool read = read_directory_index(*ntfs, many, index);
  const uint64 cluster = ntfs->m_cluster_size;
  delete ntfs;
  ASSERT_TRUE(read);
  ASSERT_FALSE(index.runs.empty());
  const uint64 run_start = index.runs[0].lcn * cluster;
  const uint64 run_bytes = static_cast<uint64>(index.runs[0].num_clusters) * cluster;
  ASSERT_GE(run_bytes, 3u * 4096);

  const std::vector<char> original = read_bytes(image);
  const uint64 damaged = run_start + 4096;  // the run's second record
  ASSERT_EQ(std::memcmp(&original[damaged], "INDX", 4), 0);
  const std::vector<char> indx(original.begin() + run_start, original.begin() + run_start + run_bytes);
  const std::string indx_path = write_copy("many.i30", indx);

  const std::vector<std::string> volume_before = csv_rows({"-image", image, "-path", "\\many", "-all", "-csv"});
  const std::vector<std::string> file_before = csv_rows({"-indxfile", indx_path, "-all", "-csv"});
  ASSERT_GE(with_type(volume_before, "valid").size(), 2000u);
  ASSERT_GT(with_type(file_before, "valid").size(), 100u);

  for (const uint16 count : {uint16(3), uint16(17), uint16(0xFFFF)}) {
    std::vector<char> volume = original, file = indx;
    store_u16(reinterpret_cast<byte*>(&volume[damaged + 6]), count);
    store_u16(reinterpret_cast<byte*>(&file[4096 + 6]), count);
    const std::string tag = std::to_string(count);
    struct road {
      std::vector<std::string> before, after;
      size_t entry_column;
    } roads[] = {
        {volume_before, csv_rows({"-image", write_copy("count" + tag + ".img", volume), "-path", "\\many", "-all", "-csv"}), 0},
        {file_before, csv_rows({"-indxfile", write_copy("count" + tag + ".i30", file), "-all", "-csv"}), 1},
    };
    for (const road& r : roads) {
      SCOPED_TRACE("count " + tag + (r.entry_column ? " on -indxfile" : " on -image"));
      EXPECT_EQ(live_entries(r.after, r.entry_column), live_entries(r.before, r.entry_column));
      EXPECT_EQ(with_type(r.after, "slack").size(), with_type(r.before, "slack").size());
      EXPECT_LE(missing_from(with_type(r.before, "slack"), with_type(r.after, "slack")), count == 17 ? 0u : 8u);
    }
  }
}

// qemu-img's VMDK of a bare volume (no partition table) lists through -vmdk
// what the volume lists through -image.
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

// $MFT record 0's run list claims 2^32 - 1 clusters (and its sizes agree):
// the entries stop where the volume does, so the run ends in about the time
// of the undamaged one and lists the same. The bound is a hang guard only.
TEST(EvidenceRoad, MftRunsPastTheVolumeAreBounded) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  std::vector<char> data = read_bytes(image);
  const byte* boot = reinterpret_cast<const byte*>(data.data());
  const uint64 cluster = static_cast<uint64>(load_u16(boot, 11)) * boot[13];
  const uint64 record0 = load_u64(boot, 0x30) * cluster;
  byte* record = reinterpret_cast<byte*>(&data[record0]);
  uint32 at = load_u16(record, 0x14);
  while (at + 8 < 512 && load_u32(record, at) != 0x80) at += load_u32(record, at + 4);
  ASSERT_EQ(load_u32(record, at), 0x80u);
  ASSERT_EQ(record[at + 8], 1);  // non-resident
  const uint32 pairs = at + load_u16(record, at + 0x20);
  ASSERT_LE(pairs + 8, 510u);  // clear of the first sector's update-sequence tail
  const ulong64 claimed = 0xFFFFFFFFULL * cluster;
  for (int field : {0x28, 0x30, 0x38}) store_u64(record + at + field, claimed);
  const byte run[] = {0x14, 0xFF, 0xFF, 0xFF, 0xFF, static_cast<byte>(load_u64(boot, 0x30)), 0};
  ASSERT_LT(load_u64(boot, 0x30), 0x80u);
  std::memcpy(record + pairs, run, sizeof run);
  const std::string damaged = write_copy("record0-runs.img", data);

  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(damaged.c_str(), 0, ntfs, false, false));
  const ulong64 volume_clusters = load_u64(boot, 0x28) / boot[13];
  EXPECT_EQ(ntfs->get_inode_count(), (volume_clusters - load_u64(boot, 0x30)) * cluster / 1024);
  delete ntfs;

  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> rows = csv_rows({"-image", damaged, "-all", "-csv"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
  EXPECT_EQ(rows, csv_rows({"-image", image, "-all", "-csv"}));
}

// Inputs that are not files end at once with a message naming them: FIFOs
// (which would block in open for ever), a VMDK whose parent hint names a
// FIFO or a character device, and file names that are not UTF-8.
TEST(EvidenceRoad, InputsThatAreNotFilesEndAtOnce) {
  const std::string dir = scratch_dir() + "/not-files";
  std::string ignored;
  ASSERT_EQ(run_command("mkdir -p " + quote(dir), ignored), 0);
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string child = fixture("vmdk-child.vmdk");
  std::string hinted_fifo, hinted_device;
  if (!child.empty()) {
    // The child's parent hint is rewritten; the descriptor text keeps room
    // for a longer name in the zero bytes after it.
    const std::vector<char> bytes = read_bytes(child);
    const std::string key = "parentFileNameHint=\"";
    const size_t name_at = static_cast<size_t>(std::search(bytes.begin(), bytes.end(), key.begin(), key.end()) - bytes.begin()) + key.size();
    ASSERT_LT(name_at, bytes.size());
    const size_t name_end = static_cast<size_t>(std::find(bytes.begin() + name_at, bytes.end(), '"') - bytes.begin());
    const size_t text_end = static_cast<size_t>(std::find(bytes.begin() + name_end, bytes.end(), '\0') - bytes.begin());
    for (const std::string target : {"fifo", "../../../../../../../../../../dev/zero"}) {
      std::vector<char> copy(bytes.begin(), bytes.begin() + name_at);
      copy.insert(copy.end(), target.begin(), target.end());
      copy.insert(copy.end(), bytes.begin() + name_end, bytes.begin() + text_end);
      ASSERT_LT(copy.size(), text_end + 512);
      copy.resize(text_end + 512, '\0');
      ASSERT_EQ(std::count(bytes.begin() + text_end, bytes.begin() + text_end + 512, '\0'), 512);
      copy.insert(copy.end(), bytes.begin() + text_end + 512, bytes.end());
      (target == "fifo" ? hinted_fifo : hinted_device) =
          write_copy(target == "fifo" ? "not-files/hint-fifo.vmdk" : "not-files/hint-dev.vmdk", copy);
    }
  }
  const std::string bad_name = dir + "/\xff\xfe.img";
  struct input_case {
    args_t args;
    std::string message;  // what standard error holds
  } cases[] = {
      {{"-image", fifo}, "-image: " + fifo + " is not a regular file or block device, aborting"},
      {{"-indxfile", fifo}, "-indxfile: " + fifo + " is not a regular file or block device, aborting"},
      {{"-vmdk", fifo}, "-vmdk: " + fifo + " is not a regular file or block device, aborting"},
      {{"-vmdk", hinted_fifo}, " is not a regular file"},
      {{"-vmdk", hinted_device}, " is not a regular file"},
      {{"-image", bad_name}, "-image: the file name is not valid UTF-8 and cannot be opened, aborting"},
      {{"-indxfile", bad_name}, "-indxfile: the file name is not valid UTF-8 and cannot be opened, aborting"},
      {{"-vmdk", bad_name}, "-vmdk: the file name is not valid UTF-8 and cannot be opened, aborting"},
  };
  for (const input_case& c : cases) {
    if (c.args[1].empty()) continue;  // no VMDK fixture to rewrite
    const auto start = std::chrono::steady_clock::now();
    const run_result r = run_quor(c.args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << c.args[1];
    EXPECT_EQ(r.status, kFailed) << c.args[1];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[1] << ": " << r.err;
  }
}
