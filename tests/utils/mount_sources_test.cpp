// The mount table's source of a device: read from lines in the table's own
// form (escapes, optional fields), and from the live table for a mount made
// here, as findmnt reports it.
#include "utils/mount_sources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"

namespace {

TEST(MountSources, LinesOfTheMountTable) {
  const uint64 fuse = makedev(0, 41);
  const struct {
    const char* line;
    uint64 device;
    bool found;
    std::string source;
  } cases[] = {
      {"46 27 0:41 / /tmp/m rw,relatime - fuse /tmp/d.img rw,user_id=0\n", fuse, true, "/tmp/d.img"},
      {"46 27 0:41 / /tmp/m rw shared:5 master:1 - fuseblk /dev/loop0 rw\n", fuse, true, "/dev/loop0"},
      {"46 27 0:41 / /tmp/m\\040x rw - fuse /tmp/a\\040b\\134c\\011d.img rw", fuse, true, "/tmp/a b\\c\td.img"},
      {"46 27 0:41 / /tmp/m rw - fuse /tmp/trailing\\04 rw", fuse, true, "/tmp/trailing\\04"},
      // An escape that ends the field is undone too.
      {"46 27 0:41 / /tmp/m rw - fuse /mnt/a\\040 rw", fuse, true, "/mnt/a "},
      {"46 27 0:411 / /tmp/m rw - fuse /tmp/d.img rw", fuse, false, ""},
      {"46 27 0:41 / /tmp/m rw fuse /tmp/d.img rw", fuse, false, ""},
      {"8 1 259:3 / / rw - ext4 /dev/nvme0n1p3 rw", makedev(259, 3), true, "/dev/nvme0n1p3"},
  };
  for (const auto& c : cases) {
    std::string source = "untouched";
    EXPECT_EQ(uni::mount_source_in_line(c.line, c.device, source), c.found) << c.line;
    EXPECT_EQ(source, c.found ? c.source : std::string("untouched")) << c.line;
  }
}

TEST(MountSources, TheLiveTableNamesAnImageMountedByNtfs3g) {
  const std::string image = quor_test::copy_fixture("default.img", "mount-sources.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, quor_test::scratch_dir() + "/mount-sources");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  struct stat st;
  ASSERT_EQ(::stat(mount.dir().c_str(), &st), 0);
  std::vector<std::string> sources;
  ASSERT_TRUE(uni::mount_sources_of(static_cast<uint64>(st.st_dev), sources));
  std::string findmnt;
  if (quor_test::have_program("findmnt") &&
      quor_test::run_command("findmnt -n -o SOURCE --mountpoint '" + mount.dir() + "'", findmnt) == 0) {
    while (!findmnt.empty() && findmnt.back() == '\n') findmnt.pop_back();
    EXPECT_EQ(sources, std::vector<std::string>{findmnt});
  }
  EXPECT_EQ(sources, std::vector<std::string>{image});
  // No mount has a device number of 0:0.
  EXPECT_FALSE(uni::mount_sources_of(0, sources));
}

}  // namespace

namespace {

// Every field of an entry, escapes undone; the file system's options one
// each, a comma or blank escaped inside a value (an overlay's layer) kept
// inside its option.
TEST(MountSources, EntriesOfTheMountTable) {
  const uint64 anon = makedev(0, 52);
  const struct {
    const char* line;
    bool found;
    const char *root, *at, *type, *source;
    std::vector<std::string> options;
  } cases[] = {
      {"61 27 0:52 / /tmp/M rw,relatime - overlay overlay rw,lowerdir=L:L2\\134\\054x,upperdir=/u\\040p,workdir=W\n",
       true, "/", "/tmp/M", "overlay", "overlay", {"rw", "lowerdir=L:L2\\,x", "upperdir=/u p", "workdir=W"}},
      {"62 61 0:52 /sub /tmp/b\\040m rw shared:3 - overlay overlay rw,lowerdir+=/l\\054a,datadir+=/d", true, "/sub",
       "/tmp/b m", "overlay", "overlay", {"rw", "lowerdir+=/l,a", "datadir+=/d"}},
      {"63 27 0:52 / /tmp/m rw - fuse /tmp/case12 rw,user_id=0", true, "/", "/tmp/m", "fuse", "/tmp/case12",
       {"rw", "user_id=0"}},
      {"63 27 0:520 / /tmp/m rw - fuse /tmp/case12 rw", false, "", "", "", "", {}},
      {"63 27 0:52 / /tmp/m rw fuse /tmp/case12 rw", false, "", "", "", "", {}},
  };
  for (const auto& c : cases) {
    uni::mount_entry entry;
    entry.type = "untouched";
    ASSERT_EQ(uni::mount_entry_in_line(c.line, anon, entry), c.found) << c.line;
    if (!c.found) {
      EXPECT_EQ(entry.type, "untouched");
      continue;
    }
    EXPECT_EQ(entry.root, c.root) << c.line;
    EXPECT_EQ(entry.mount_point, c.at) << c.line;
    EXPECT_EQ(entry.type, c.type) << c.line;
    EXPECT_EQ(entry.source, c.source) << c.line;
    EXPECT_EQ(entry.options, c.options) << c.line;
    // Read as any line of the table, the same entry with its mount ID.
    uni::mount_entry any;
    ASSERT_TRUE(uni::mount_entry_of_line(c.line, any)) << c.line;
    EXPECT_EQ(any.id, static_cast<uint64>(std::stoul(c.line))) << c.line;
    EXPECT_EQ(any.device, anon) << c.line;
    EXPECT_EQ(any.mount_point, c.at) << c.line;
  }
  // Fields that are no numbers where numbers belong.
  uni::mount_entry none;
  for (const char* line : {"x 27 0:52 / /m rw - fuse /a rw", "63 27 0-52 / /m rw - fuse /a rw",
                           "63 27 :52 / /m rw - fuse /a rw", "63 27 0:4294967296 / /m rw - fuse /a rw"})
    EXPECT_FALSE(uni::mount_entry_of_line(line, none)) << line;
  // The live table: the root folder's mount is there, under its own number.
  struct stat st;
  ASSERT_EQ(::stat("/", &st), 0);
  std::vector<uni::mount_entry> entries;
  ASSERT_TRUE(uni::mount_entries_of(static_cast<uint64>(st.st_dev), entries));
  bool root = false;
  for (const uni::mount_entry& e : entries) root = root || e.mount_point == "/";
  EXPECT_TRUE(root);
}

}  // namespace
