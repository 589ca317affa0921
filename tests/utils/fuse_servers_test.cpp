// The process serving a FUSE mount is found by its connection, and holds
// the image open under the image's whole name, comma and all, where the
// mount table has the name cut at the comma: for writing where the mount
// writes the image in place, for reading only where it never writes it.
#include "utils/fuse_servers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"
#include "utils/mount_table.h"

namespace {

// The servers as a walk made since the mount table last changed finds
// them: after a mount made here, a walk made now. Null when the table
// cannot be read.
std::shared_ptr<const uni::fuse_server_list> servers_now() {
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  return table ? uni::current_fuse_servers(table->generation) : nullptr;
}

TEST(FuseServers, ConnectionNumbers) {
  EXPECT_EQ(uni::fuse_connection_of(makedev(0, 40)), 40u);
  EXPECT_EQ(uni::fuse_connection_of(makedev(7, 0)), 7u << 20);
  EXPECT_EQ(uni::fuse_connection_of(makedev(259, 3)), (259u << 20) | 3u);
}

TEST(FuseServers, TheServerOfAMountHoldsItsImage) {
  const std::string image = quor_test::copy_fixture("default.img", "served,by ntfs-3g.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, quor_test::scratch_dir() + "/served");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  struct stat at, img;
  ASSERT_EQ(::stat(mount.dir().c_str(), &at), 0);
  ASSERT_EQ(::stat(image.c_str(), &img), 0);
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  std::vector<std::string> named;
  for (const uni::mount_entry& e : table->entries)
    if (e.device == static_cast<uint64>(at.st_dev)) named.push_back(e.source);
  ASSERT_FALSE(named.empty());
  EXPECT_EQ(named, std::vector<std::string>{image.substr(0, image.find(','))}) << "ntfs-3g no longer cuts the name";
  const std::shared_ptr<const uni::fuse_server_list> servers = servers_now();
  ASSERT_TRUE(servers);
  std::vector<uni::fuse_held_file> held;
  const uni::fuse_servers_seen seen = servers->files_of(uni::fuse_connection_of(at.st_dev), held);
  EXPECT_TRUE(seen.exact && seen.counted && seen.complete);
  // The image among what the server holds (it may hold more that it was
  // handed when it started).
  bool image_held = false;
  for (const uni::fuse_held_file& file : held)
    image_held = image_held || (file.name == image && file.status.st_dev == img.st_dev &&
                                file.status.st_ino == img.st_ino && file.readable && file.writable &&
                                file.handle.compare(0, 6, "/proc/") == 0);
  EXPECT_TRUE(image_held) << held.size();
  // The walk kept for the output checks finds the same.
  std::vector<uni::fuse_held_file> kept;
  const uni::fuse_servers_seen kept_seen =
      uni::current_fuse_servers(~static_cast<uint64>(0))->files_of(uni::fuse_connection_of(at.st_dev), kept);
  EXPECT_TRUE(kept_seen.exact);
  // Other tests' servers come and go between two walks: only the image is
  // sure to be in both.
  bool image_kept = false;
  for (const uni::fuse_held_file& file : kept)
    image_kept = image_kept || (file.status.st_dev == img.st_dev && file.status.st_ino == img.st_ino);
  EXPECT_TRUE(image_kept) << kept.size();
  // A connection nothing serves.
  held.clear();
  const uni::fuse_servers_seen none = servers->files_of(uni::fuse_connection_of(makedev(0, 1)), held);
  EXPECT_FALSE(none.exact);
  EXPECT_TRUE(held.empty());
}

TEST(FuseServers, AServerThatOnlyReadsItsImageHoldsItForReading) {
  if (!quor_test::have_program("squashfuse") || !quor_test::have_program("mksquashfs"))
    GTEST_SKIP() << "squashfuse or mksquashfs not installed";
  const std::string top = quor_test::scratch_dir() + "/squashed";
  ::mkdir(top.c_str(), 0700);
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("echo inside > '" + top + "/f' && mksquashfs '" + top + "/f' '" + top +
                                       "/q.sqfs' -quiet -noappend >/dev/null",
                                   ignored),
            0);
  const quor_test::mount_guard mount("squashfuse '" + top + "/q.sqfs' '" + top + "/m'", top + "/m");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  struct stat at, img;
  ASSERT_EQ(::stat(mount.dir().c_str(), &at), 0);
  ASSERT_EQ(::stat((top + "/q.sqfs").c_str(), &img), 0);
  const std::shared_ptr<const uni::fuse_server_list> servers = servers_now();
  ASSERT_TRUE(servers);
  std::vector<uni::fuse_held_file> held;
  EXPECT_TRUE(servers->files_of(uni::fuse_connection_of(at.st_dev), held).exact);
  bool read_only = false;
  for (const uni::fuse_held_file& file : held)
    read_only = read_only || (file.status.st_ino == img.st_ino && file.readable && !file.writable);
  EXPECT_TRUE(read_only) << held.size();
}

}  // namespace
