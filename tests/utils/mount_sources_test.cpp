// The mount table's source of a device: read from lines in the table's own
// form (escapes, optional fields), and from the live table for a mount made
// here, as findmnt reports it.
#include "utils/mount_sources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "utils/mount_table.h"

namespace {

// A line is found for `device` when it is in the table's form and its
// entry has that device number: a line of another device (0:411 where
// 0:41 is asked) is an entry all the same, and one not in the table's form
// (no "-" before the type) is none, its entry left as it was.
TEST(MountSources, LinesOfTheMountTable) {
  const uint64 fuse = makedev(0, 41);
  const struct {
    const char* line;
    bool parsed;
    uint64 device;
    bool found;
    std::string source;
  } cases[] = {
      {"46 27 0:41 / /tmp/m rw,relatime - fuse /tmp/d.img rw,user_id=0\n", true, fuse, true, "/tmp/d.img"},
      {"46 27 0:41 / /tmp/m rw shared:5 master:1 - fuseblk /dev/loop0 rw\n", true, fuse, true, "/dev/loop0"},
      {"46 27 0:41 / /tmp/m\\040x rw - fuse /tmp/a\\040b\\134c\\011d.img rw", true, fuse, true,
       "/tmp/a b\\c\td.img"},
      {"46 27 0:41 / /tmp/m rw - fuse /tmp/trailing\\04 rw", true, fuse, true, "/tmp/trailing\\04"},
      // An escape that ends the field is undone too.
      {"46 27 0:41 / /tmp/m rw - fuse /mnt/a\\040 rw", true, fuse, true, "/mnt/a "},
      {"46 27 0:411 / /tmp/m rw - fuse /tmp/d.img rw", true, fuse, false, ""},
      {"46 27 0:41 / /tmp/m rw fuse /tmp/d.img rw", false, fuse, false, ""},
      {"8 1 259:3 / / rw - ext4 /dev/nvme0n1p3 rw", true, makedev(259, 3), true, "/dev/nvme0n1p3"},
  };
  for (const auto& c : cases) {
    uni::mount_entry entry;
    entry.source = "untouched";
    ASSERT_EQ(uni::mount_entry_of_line(c.line, entry), c.parsed) << c.line;
    EXPECT_EQ(c.parsed && entry.device == c.device, c.found) << c.line;
    if (c.found) {
      EXPECT_EQ(entry.source, c.source) << c.line;
    } else if (!c.parsed) {
      EXPECT_EQ(entry.source, "untouched") << c.line;
    }
  }
}

// The sources of every entry of the live table with the device number
// `device`, in `out`; false when the table cannot be read.
bool sources_of(uint64 device, std::vector<std::string>& out) {
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  if (!table) return false;
  for (const uni::mount_entry& e : table->entries)
    if (e.device == device) out.push_back(e.source);
  return true;
}

TEST(MountSources, TheLiveTableNamesAnImageMountedByNtfs3g) {
  const std::string image = quor_test::copy_fixture("default.img", "mount-sources.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, quor_test::scratch_dir() + "/mount-sources");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  struct stat st;
  ASSERT_EQ(::stat(mount.dir().c_str(), &st), 0);
  std::vector<std::string> sources;
  ASSERT_TRUE(sources_of(static_cast<uint64>(st.st_dev), sources));
  ASSERT_FALSE(sources.empty());
  std::string findmnt;
  if (quor_test::have_program("findmnt") &&
      quor_test::run_command("findmnt -n -o SOURCE --mountpoint '" + mount.dir() + "'", findmnt) == 0) {
    while (!findmnt.empty() && findmnt.back() == '\n') findmnt.pop_back();
    EXPECT_EQ(sources, std::vector<std::string>{findmnt});
  }
  EXPECT_EQ(sources, std::vector<std::string>{image});
  // No mount has a device number of 0:0.
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  EXPECT_EQ(table->by_device(0), nullptr);
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
    bool parsed;
    bool found;  // the entry has the device number `anon`
    const char *root, *at, *type, *source;
    std::vector<std::string> options;
  } cases[] = {
      {"61 27 0:52 / /tmp/M rw,relatime - overlay overlay rw,lowerdir=L:L2\\134\\054x,upperdir=/u\\040p,workdir=W\n",
       true, true, "/", "/tmp/M", "overlay", "overlay", {"rw", "lowerdir=L:L2\\,x", "upperdir=/u p", "workdir=W"}},
      {"62 61 0:52 /sub /tmp/b\\040m rw shared:3 - overlay overlay rw,lowerdir+=/l\\054a,datadir+=/d", true, true,
       "/sub", "/tmp/b m", "overlay", "overlay", {"rw", "lowerdir+=/l,a", "datadir+=/d"}},
      {"63 27 0:52 / /tmp/m rw - fuse /tmp/case12 rw,user_id=0", true, true, "/", "/tmp/m", "fuse", "/tmp/case12",
       {"rw", "user_id=0"}},
      {"63 27 0:520 / /tmp/m rw - fuse /tmp/case12 rw", true, false, "", "", "", "", {}},
      {"63 27 0:52 / /tmp/m rw fuse /tmp/case12 rw", false, false, "", "", "", "", {}},
  };
  for (const auto& c : cases) {
    uni::mount_entry entry;
    entry.type = "untouched";
    ASSERT_EQ(uni::mount_entry_of_line(c.line, entry), c.parsed) << c.line;
    ASSERT_EQ(c.parsed && entry.device == anon, c.found) << c.line;
    if (!c.parsed) {
      EXPECT_EQ(entry.type, "untouched");
      continue;
    }
    if (!c.found) continue;
    EXPECT_EQ(entry.id, static_cast<uint64>(std::stoul(c.line))) << c.line;
    EXPECT_EQ(entry.root, c.root) << c.line;
    EXPECT_EQ(entry.mount_point, c.at) << c.line;
    EXPECT_EQ(entry.type, c.type) << c.line;
    EXPECT_EQ(entry.source, c.source) << c.line;
    EXPECT_EQ(entry.options, c.options) << c.line;
  }
  // Fields that are no numbers where numbers belong.
  uni::mount_entry none;
  for (const char* line : {"x 27 0:52 / /m rw - fuse /a rw", "63 27 0-52 / /m rw - fuse /a rw",
                           "63 27 :52 / /m rw - fuse /a rw", "63 27 0:4294967296 / /m rw - fuse /a rw"})
    EXPECT_FALSE(uni::mount_entry_of_line(line, none)) << line;
  // The live table: the root folder's mount is there, under its own number.
  struct stat st;
  ASSERT_EQ(::stat("/", &st), 0);
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  bool root = false;
  for (const uni::mount_entry& e : table->entries)
    root = root || (e.device == static_cast<uint64>(st.st_dev) && e.mount_point == "/");
  EXPECT_TRUE(root);
}

// The folders an rclone mount of a configured remote stores its files in,
// by the config the run itself would read where no server of the mount is
// in sight: a local remote's path, a union's upstreams less their modes,
// each with the path below the remote; nothing for another kind of remote,
// an on-the-fly backend or another file system.
TEST(MountSources, FoldersOfAConfiguredRcloneRemote) {
  const std::string config = quor_test::scratch_dir() + "/rclone-remotes.conf";
  std::ofstream(config) << "[case]\ntype = local\n\n[pool]\ntype = union\nupstreams = /srv/a  /srv/b:ro /srv/c:nc\n"
                           "[cloud]\ntype = s3\n";
  const char* const before = std::getenv("RCLONE_CONFIG");
  const std::string kept = before != nullptr ? before : "";
  ::setenv("RCLONE_CONFIG", config.c_str(), 1);
  const struct {
    std::string type, source;
    std::vector<std::string> folders;
  } cases[] = {
      {"fuse.rclone", "case:/cases/117", {"/cases/117"}},
      {"fuse.rclone", "pool:", {"/srv/a", "/srv/b", "/srv/c"}},
      {"fuse.rclone", "pool:exports", {"/srv/a/exports", "/srv/b/exports", "/srv/c/exports"}},
      {"fuse.rclone", "cloud:bucket", {}},
      {"fuse.rclone", "missing:/x", {}},
      {"fuse.rclone", ":local:/cases", {}},
      {"fuse.sshfs", "case:/cases", {}},
  };
  int n = 0;
  for (const auto& c : cases) {
    uni::mount_entry m;
    m.id = 900000 + n;
    m.mount_point = quor_test::scratch_dir() + "/no-server-mounts-here-" + std::to_string(n++);
    m.type = c.type;
    m.source = c.source;
    EXPECT_EQ(uni::rclone_remote_folders(m), c.folders) << c.type << " " << c.source;
  }
  if (before != nullptr) ::setenv("RCLONE_CONFIG", kept.c_str(), 1);
  if (before == nullptr) ::unsetenv("RCLONE_CONFIG");
}

// The pieces of a list as the guard splits them (a table line, a path, a
// command line, mergerfs's branches): empty pieces kept where they stand,
// none after a last separator, none of an empty text.
TEST(MountSources, PiecesOfAList) {
  const struct {
    std::string text;
    char separator;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", ':', {}},
      {"a", ':', {"a"}},
      {"a::b:", ':', {"a", "", "b"}},
      {":a", ':', {"", "a"}},
      {"/cases//ev/./x/", '/', {"", "cases", "", "ev", ".", "x"}},
      {std::string("rclone\0mount\0\0/mnt/r\0", 21), '\0', {"rclone", "mount", "", "/mnt/r"}},
  };
  for (const auto& c : cases) EXPECT_EQ(uni::split(c.text, c.separator), c.pieces) << c.text;
}

// A device number as the table and /sys write it; anything else is none,
// and leaves the number as it was.
TEST(MountSources, DeviceNumbers) {
  const struct {
    const char* text;
    bool read;
    uint64 device;
  } cases[] = {
      {"8:0", true, makedev(8, 0)},
      {"259:3", true, makedev(259, 3)},
      {"7:1048575", true, makedev(7, 1048575)},
      {"8:0\n", false, 0},
      {" 8:0", false, 0},
      {"-1:0", false, 0},
      {"8:", false, 0},
      {"8", false, 0},
      {"4294967296:0", false, 0},
  };
  for (const auto& c : cases) {
    uint64 device = 12345;
    ASSERT_EQ(uni::device_number(c.text, device), c.read) << c.text;
    EXPECT_EQ(device, c.read ? c.device : 12345) << c.text;
  }
}

// A file is read whole however long, NULs and all; one that is not there
// reads as nothing.
TEST(MountSources, TextOfAFile) {
  const std::string path = quor_test::scratch_dir() + "/file-text-whole";
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + '\0';
  ASSERT_GT(text.size(), 3 * 4096u);
  std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(uni::file_text(path), text);
  EXPECT_EQ(uni::file_text(path + ".missing"), "");
}

}  // namespace
