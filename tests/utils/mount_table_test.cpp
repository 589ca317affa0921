// The mount table kept for the output checks: read again only after a
// mount or an unmount, which every later check then sees; the FUSE servers
// walked again only with it.
#include "utils/mount_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"
#include "utils/fuse_servers.h"
#include "utils/output_file.h"
#include "utils/output_reach.h"

namespace {

// The entry the kept table has for the mount point `at`; null when none.
const uni::mount_entry* entry_at(const uni::mount_table& table, const std::string& at) {
  for (const uni::mount_entry& e : table.entries)
    if (e.mount_point == at) return &e;
  return nullptr;
}

// Runs `body` in a child process with a mount namespace of its own, where
// the mounts and unmounts of other tests running beside this one are not
// seen; its result, or -1 when no such namespace can be made.
int in_own_mount_namespace(const std::function<int()>& body) {
  return quor_test::exit_status_in_child(
      [&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
          return 100;
        return body();
      },
      quor_test::scratch_dir() + "/table-child.err");
}

// Each check that fails gives its own number, so a failing child says which.
TEST(MountTable, ReadAgainOnlyAfterAChange) {
  const std::string at = quor_test::scratch_dir() + "/table-tmpfs";
  ::mkdir(at.c_str(), 0700);
  const int failed = in_own_mount_namespace([&] {
    const std::shared_ptr<const uni::mount_table> first = uni::current_mount_table();
    if (!first) return 1;
    const uint64 reads = uni::mount_table_reads();
    if (uni::current_mount_table() != first || uni::mount_table_reads() != reads) return 2;
    if (entry_at(*first, at) != nullptr) return 3;
    if (::mount("table", at.c_str(), "tmpfs", 0, nullptr) != 0) return 4;
    const std::shared_ptr<const uni::mount_table> mounted = uni::current_mount_table();
    if (!mounted || uni::mount_table_reads() != reads + 1 || mounted->generation <= first->generation) return 5;
    const uni::mount_entry* entry = entry_at(*mounted, at);
    if (entry == nullptr || entry->type != "tmpfs") return 6;
    // Found by the mount ID of a file there.
    struct statx sx;
    if (::statx(AT_FDCWD, at.c_str(), 0, STATX_MNT_ID, &sx) != 0 || mounted->by_id(sx.stx_mnt_id) != entry) return 7;
    // The guard's own lookup finds that ID by the path and by a descriptor
    // of a file there, and another for the folder that holds the mount point.
    uint64 by_path = 0, by_fd = 0, above = 0;
    const int inside = ::open((at + "/f").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const bool told = uni::mount_id_at(-1, at, by_path) && uni::mount_id_at(inside, "/nowhere", by_fd) &&
                      uni::mount_id_at(-1, quor_test::scratch_dir(), above);
    if (inside >= 0) ::close(inside);
    if (!told || by_path != sx.stx_mnt_id || by_fd != sx.stx_mnt_id || above == sx.stx_mnt_id) return 12;
    // And by its device number, a tmpfs's own.
    struct stat st;
    if (::stat(at.c_str(), &st) != 0 || mounted->by_device(static_cast<uint64>(st.st_dev)) != entry) return 11;
    if (uni::current_mount_table() != mounted) return 8;
    if (::umount2(at.c_str(), 0) != 0) return 9;
    const std::shared_ptr<const uni::mount_table> gone = uni::current_mount_table();
    if (!gone || entry_at(*gone, at) != nullptr || uni::mount_table_reads() != reads + 2) return 10;
    return 0;
  });
  if (failed == 100) GTEST_SKIP() << "no mount namespace of its own";
  EXPECT_EQ(failed, 0);
}

// A table read before the process moves to a mount namespace of its own is
// not that namespace's: the watch opened in the old one is never marked for
// what is mounted in the new. Read, then moved (private, so nothing leaks
// out) and a tmpfs mounted there: the next table shows it.
TEST(MountTable, AMountNamespaceMovedToIsReadAgain) {
  const std::string at = quor_test::scratch_dir() + "/table-moved";
  ::mkdir(at.c_str(), 0700);
  const int failed = quor_test::exit_status_in_child(
      [&] {
        const std::shared_ptr<const uni::mount_table> before = uni::current_mount_table();
        if (!before) return 1;
        if (entry_at(*before, at) != nullptr) return 2;
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
          return 100;
        if (::mount("moved", at.c_str(), "tmpfs", 0, nullptr) != 0) return 3;
        const std::shared_ptr<const uni::mount_table> after = uni::current_mount_table();
        if (!after) return 4;
        const uni::mount_entry* entry = entry_at(*after, at);
        return entry != nullptr && entry->type == "tmpfs" ? 0 : 5;
      },
      quor_test::scratch_dir() + "/table-moved.err");
  if (failed == 100) GTEST_SKIP() << "unshare(CLONE_NEWNS) with private propagation is refused here";
  EXPECT_EQ(failed, 0);
}

// An ntfs-3g mount of the image made between two checks of a folder is
// seen by the second; checks with nothing changed between them read the
// table and walk the processes for the mount's server no more.
TEST(MountTable, AMountMadeBetweenTwoChecksIsSeen) {
  const std::string image = quor_test::copy_fixture("default.img", "table-mounted.img");
  ASSERT_FALSE(image.empty());
  const std::string at = quor_test::scratch_dir() + "/table-ntfs";
  ::mkdir(at.c_str(), 0700);
  uni::file_identities sources;
  const int fd = ::open(image.c_str(), O_RDONLY);
  ASSERT_TRUE(uni::identities_of_source(fd, sources));
  ::close(fd);
  EXPECT_FALSE(uni::folder_writes_source(at + "/new", sources));
  const quor_test::ntfs3g_mount mount(image, at);
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  // Refused as the evidence, not for a mount the table does not show.
  testing::internal::CaptureStderr();
  EXPECT_TRUE(uni::folder_writes_source(at + "/new", sources));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + at + "/new: it is stored in the evidence " +
                                                        image + " through the FUSE mount at " + at + " (fuse)\n");
  const int failed = in_own_mount_namespace([&] {
    if (!uni::folder_writes_source(at + "/new", sources)) return 1;
    const uint64 walks = uni::fuse_server_walks(), reads = uni::mount_table_reads();
    if (!uni::folder_writes_source(at + "/new", sources) || !uni::folder_writes_source(at + "/other", sources))
      return 2;
    return uni::fuse_server_walks() == walks && uni::mount_table_reads() == reads ? 0 : 3;
  });
  if (failed == 100) GTEST_SKIP() << "no mount namespace of its own";
  EXPECT_EQ(failed, 0);
}

// A run in a mount namespace of its own, writing into a copy of an ntfs-3g
// mount whose server stayed outside: the image that server holds lies on a
// mount of the other namespace, on a file system the run's own table shows
// all the same, so the output is told apart from the evidence instead of
// being refused as untold.
TEST(MountTable, ServerOfAnotherNamespaceHoldsAFileOfAFileSystemThisOneShows) {
  const std::string served = quor_test::copy_fixture("default.img", "table-served.img");
  const std::string evidence = quor_test::copy_fixture("sample.img", "table-evidence.img");
  ASSERT_FALSE(served.empty() || evidence.empty());
  const quor_test::ntfs3g_mount mount(served, quor_test::scratch_dir() + "/table-served");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  uni::file_identities sources;
  const int fd = ::open(evidence.c_str(), O_RDONLY);
  ASSERT_TRUE(uni::identities_of_source(fd, sources));
  ::close(fd);
  const std::string out = mount.dir() + "/listing.csv";
  const int failed = in_own_mount_namespace([&] {
    std::string why;
    const int made = ::open(out.c_str(), O_WRONLY | O_CREAT, 0600);
    const uni::reach_answer answer = uni::descriptor_reach(made, sources, why);
    ::close(made);
    ::unlink(out.c_str());
    return answer == uni::reach_answer::clear ? 0 : answer == uni::reach_answer::source ? 1 : 2;
  });
  if (failed == 100) GTEST_SKIP() << "no mount namespace of its own";
  EXPECT_EQ(failed, 0);
}

}  // namespace

namespace {

// Checks from several threads while the table changes under them: each
// answers as it would alone.
TEST(MountTable, ChecksFromSeveralThreadsWhileTheTableChanges) {
  const std::string image = quor_test::copy_fixture("default.img", "table-threads.img");
  ASSERT_FALSE(image.empty());
  const quor_test::ntfs3g_mount mount(image, quor_test::scratch_dir() + "/table-threads");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  const std::string kept = mount.dir() + "/kept", beside = quor_test::scratch_dir() + "/table-beside";
  std::ofstream(kept) << "kept";
  std::ofstream(beside) << "beside";
  uni::file_identities sources;
  const int image_fd = ::open(image.c_str(), O_RDONLY);
  ASSERT_TRUE(uni::identities_of_source(image_fd, sources));
  ::close(image_fd);
  const int in_mount = ::open(kept.c_str(), O_RDONLY), outside = ::open(beside.c_str(), O_RDONLY);
  const std::string churn = quor_test::scratch_dir() + "/table-churn";
  ::mkdir(churn.c_str(), 0700);
  std::atomic<int> wrong(0);
  std::atomic<bool> done(false);
  std::vector<std::thread> checkers;
  for (int t = 0; t < 4; ++t)
    checkers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::string why;
        if (uni::descriptor_reach(in_mount, sources, why) != uni::reach_answer::source) ++wrong;
        if (uni::descriptor_reach(outside, sources, why) != uni::reach_answer::clear) ++wrong;
      }
    });
  std::thread changer([&] {
    while (!done)
      if (::mount("churn", churn.c_str(), "tmpfs", 0, nullptr) == 0) ::umount2(churn.c_str(), 0);
  });
  for (std::thread& t : checkers) t.join();
  done = true;
  changer.join();
  ::close(in_mount);
  ::close(outside);
  EXPECT_EQ(wrong, 0);
}

// A file is told to lie on FUSE by the kind of its file system, by its
// descriptor or its path, as `stat -f` tells it: ntfs-3g over a loop device
// (fuseblk, whose files carry the loop device's number) and over an image
// file are; a local file, the root folder and a missing path are not.
TEST(MountTable, FuseFilesAreToldByTheirFileSystemsKind) {
  const std::string dir = quor_test::scratch_dir() + "/fuse-kind";
  ::mkdir(dir.c_str(), 0700);
  const std::string image = quor_test::copy_fixture("sample.img", "fuse-kind/ev.img"),
                    image_too = quor_test::copy_fixture("sample.img", "fuse-kind/ev2.img"), local = dir + "/local";
  ASSERT_FALSE(image.empty());
  ASSERT_FALSE(image_too.empty());
  std::ofstream(local) << "local";
  const quor_test::loop_device device(image, false);
  if (device.path().empty()) GTEST_SKIP() << device.why();
  const quor_test::ntfs3g_mount over_device(device.path(), dir + "/blk");
  const quor_test::ntfs3g_mount over_file(image_too, dir + "/file");
  if (over_device.dir().empty() || over_file.dir().empty()) GTEST_SKIP() << over_device.why() << over_file.why();
  const struct {
    std::string path;
    bool fuse;
  } cases[] = {{dir + "/blk/readme.txt", true}, {dir + "/blk", true},  {dir + "/file/readme.txt", true},
               {local, false},                  {"/", false},         {dir + "/missing", false}};
  for (const auto& c : cases) {
    std::string kind;
    quor_test::run_command("stat -f -c %t '" + c.path + "' 2>/dev/null", kind);
    EXPECT_EQ(kind == "65735546\n", c.fuse) << c.path << ": stat -f says " << kind;
    EXPECT_EQ(uni::is_fuse_file(-1, c.path), c.fuse) << c.path;
    const int fd = ::open(c.path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(fd >= 0 && uni::is_fuse_file(fd, "/"), c.fuse) << c.path << " by its descriptor";
    if (fd >= 0) ::close(fd);
  }
  struct stat st;
  ASSERT_EQ(::stat((dir + "/blk/readme.txt").c_str(), &st), 0);
  EXPECT_NE(major(st.st_dev), 0u) << "fuseblk's files carry the loop device's number";
  // Yet it lies on a mount only the evidence's volume can tell from its own.
  const int fd = ::open((dir + "/blk/readme.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  uni::output_reach r;
  uni::reach_of(fd, st, r);
  ::close(fd);
  EXPECT_NE(r.volume_layer.find(" (fuseblk)"), std::string::npos) << r.volume_layer;
}

// An NTFS volume shows itself through FUSE (ntfs-3g, fuseblk, any view over
// one) and the kernel's NTFS drivers; through no other file system.
TEST(MountTable, MountsThatMayShowAVolume) {
  const struct {
    const char* type;
    bool fuse, volume;
  } cases[] = {{"fuse", true, true},     {"fuseblk", true, true}, {"fuse.rclone", true, true},
               {"ntfs", false, true},    {"ntfs3", false, true},  {"ext4", false, false},
               {"overlay", false, false}, {"vfat", false, false}, {"ntfs-3g", false, false}};
  for (const auto& c : cases) {
    uni::mount_entry m;
    m.type = c.type;
    EXPECT_EQ(uni::is_fuse(m), c.fuse) << c.type;
    EXPECT_EQ(uni::may_show_a_volume(m), c.volume) << c.type;
  }
}

}  // namespace
