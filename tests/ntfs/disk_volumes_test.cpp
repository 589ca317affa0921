// The NTFS volumes of one disk (open_ntfs_disk_volumes): each start its table
// names opened once, however often it is named, all read through the disk's
// own handle: no descriptor more, not a word on standard output, nothing
// written, and the disk left open when they go.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "tests/support/partitioned_disk.h"

namespace {

using namespace quor_test;

const char* const kVolumes[] = {"sample.img", "links.img", "moved.img"};

// The descriptors this process holds.
size_t open_descriptors() {
  size_t count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++count;
    ::closedir(d);
  }
  return count;
}

// The GPT disk of the three kit volumes, its second named in 1,098 slots;
// "" (and `why`) where it cannot be made.
const std::string& repeating_disk(std::string& why) {
  static std::string made, failed;
  if (made.empty() && failed.empty()) {
    layer_stack stack;
    const std::string path = scratch_dir() + "/repeating-gpt.img";
    if (repeating_gpt_disk(stack, path, {kVolumes[0], kVolumes[1], kVolumes[2]}, 1100))
      made = path;
    else
      failed = stack.why();
  }
  why = failed;
  return made;
}

// The first path the kit lists of `volume`, found in `ntfs` under the record the kit gives it.
bool holds_first_listed(CNtfs& ntfs, const std::string& volume) {
  const std::vector<listing_entry> listed = read_listing(volume);
  if (listed.empty()) return false;
  std::string path = listed[0].path, resolved;
  for (char& c : path) c = c == '/' ? '\\' : c;
  ulong64 record = 0;
  return ntfs.get_inode_from_path(path, resolved, record, false) && record == listed[0].inode;
}

TEST(DiskVolumes, EachStartOnceThroughTheDisksOwnHandle) {
  std::string why;
  const std::string gpt = repeating_disk(why);
  if (gpt.empty()) GTEST_SKIP() << why;
  // Copies: a volume that wrote through its disk would spoil the kit's images for every test after.
  const std::string bare = copy_fixture("links.img", "volumes-links.img"),
                    logical = copy_fixture("mbr-ext.img", "volumes-ext.img"), child = fixture("vmdk-child.vmdk"),
                    base = fixture("vmdk-base.vmdk");
  ASSERT_FALSE(bare.empty() || logical.empty() || child.empty() || base.empty());
  const ulong64 none = ~0ULL, a = disk_volume_offset(0), b = disk_volume_offset(1), c = disk_volume_offset(2);
  const struct {
    std::string how;
    std::vector<std::string> files;  // one file, or a VMDK chain
    ulong64 except;
    bool first_only;
    std::vector<ulong64> offsets;
    std::vector<std::string> volumes;  // the kit volume at each, where the kit lists it
  } cases[] = {
      {"GPT, the first volume the run's", {gpt}, a, false, {b, c}, {kVolumes[1], kVolumes[2]}},
      {"GPT, none the run's", {gpt}, none, false, {a, b, c}, {kVolumes[0], kVolumes[1], kVolumes[2]}},
      {"GPT, the first found", {gpt}, none, true, {a}, {kVolumes[0]}},
      {"GPT, the first found past the run's", {gpt}, a, true, {b}, {kVolumes[1]}},
      {"GPT, the last volume the run's", {gpt}, c, false, {a, b}, {kVolumes[0], kVolumes[1]}},
      {"a bare volume", {bare}, none, false, {0}, {"links.img"}},
      {"a bare volume, the run's", {bare}, 0, false, {}, {}},
      {"a logical volume of an extended partition", {logical}, none, false, {12288 * 512}, {}},
      {"a VMDK chain", {child, base}, none, false, {0x100000}, {}},
  };
  for (const auto& k : cases) {
    const bool chain = k.files.size() > 1;
    // Opened to be written, as a wiping run opens it: what reads through it still writes nothing.
    std::unique_ptr<disk_handle> disk(chain ? new disk_handle(k.files, false, false)
                                            : new disk_handle(k.files[0].c_str(), true, false, DISK_KIND_FILE));
    ASSERT_TRUE(disk->m_is_open) << k.how;
    const size_t before = open_descriptors();
    std::vector<std::unique_ptr<CNtfs>> found;
    found.emplace_back(new CNtfs());  // what was there before goes
    testing::internal::CaptureStdout();
    open_ntfs_disk_volumes(*disk, k.except, found, k.first_only);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << k.how;
    EXPECT_EQ(open_descriptors(), before) << k.how;
    std::vector<ulong64> offsets;
    for (const auto& v : found) offsets.push_back(v->m_volume_offset);
    EXPECT_EQ(offsets, k.offsets) << k.how;
    for (size_t i = 0; i < found.size() && i < k.volumes.size(); ++i)
      EXPECT_TRUE(holds_first_listed(*found[i], k.volumes[i])) << k.how << ": " << k.volumes[i];
    for (const auto& v : found) {
      EXPECT_GT(v->get_inode_count(), 16u) << k.how;
      EXPECT_EQ(v->get_partition_start(), v->m_volume_offset) << k.how;
      EXPECT_FALSE(v->is_disk_writable()) << k.how;
      byte cluster[4096] = {};
      int length = sizeof cluster;
      EXPECT_FALSE(v->write_lcn(0, cluster, length)) << k.how;
    }
    found.clear();
    // The disk is its owner's still: open, and read as before.
    byte head[512];
    uint32 got = sizeof head;
    EXPECT_TRUE(disk->read(head, got, 0) && got == sizeof head) << k.how;
    if (!chain) {
      EXPECT_NE(::fcntl(disk->m_fd, F_GETFD), -1) << k.how;
    }
  }
}

// Memory that runs out at any allocation of the opening (the table's scan, a
// volume's validation) is said by std::bad_alloc: the opening never ends
// with fewer volumes than the disk holds.
TEST(DiskVolumes, MemoryThatRunsOutIsSaidNotTakenForFewerVolumes) {
  std::string why;
  const std::string gpt = repeating_disk(why);
  if (gpt.empty()) GTEST_SKIP() << why;
  disk_handle disk(gpt.c_str(), false, false, DISK_KIND_FILE);
  ASSERT_TRUE(disk.m_is_open);
  std::vector<std::unique_ptr<CNtfs>> found;
  arm_allocation_failure(1LL << 40);
  open_ntfs_disk_volumes(disk, ~0ULL, found);
  const long64 allocations = allocations_counted();
  arm_allocation_failure(-1);
  ASSERT_EQ(found.size(), 3u);
  found.clear();
  long64 thrown = 0;
  for (long64 n = 0; n < allocations; ++n) {
    bool ran_out = false;
    arm_allocation_failure(n);
    try {
      open_ntfs_disk_volumes(disk, ~0ULL, found);
    } catch (const std::bad_alloc&) {
      ran_out = true;
    }
    arm_allocation_failure(-1);
    thrown += ran_out ? 1 : 0;
    if (!ran_out) {
      EXPECT_EQ(found.size(), 3u) << "allocation " << n << " failed";
    }
    found.clear();
  }
  EXPECT_GT(thrown, 0);
}

}  // namespace
