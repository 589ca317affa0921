// What a standard stream holds is read (its head judged for binary data)
// only once nothing else refuses it. A stream put off for a layer only the
// run's volume can tell, and refused once that answers, was never read: a
// read through an ntfs-3g mount that writes every access time (`-o atime`)
// would write that time into the volume under the mount.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/layer_setups.h"

namespace {

using namespace quor_test;

// ntfs-3g over `image` at `at`, writing the access time of every read.
bool mount_writing_access_times(layer_stack& stack, const std::string& image, const std::string& at) {
  return stack.mount("ntfs-3g -o atime " + quote(image) + " " + quote(at), at, image);
}

// The source read through an sshfs share of its folder, a stream appended
// to existing.txt of an ntfs-3g mount: of the image the share serves (the
// volume the run opens says the file is its own) or of another volume (the
// share may hide any image here). Each run is refused, and once unmounted
// the image is as before, where a read through the same mount changes it.
TEST(StreamHeadRead, AStreamRefusedOntoAnNtfsMountIsNeverRead) {
  const std::string dir = folder("head-unread"), ev = folder("head-unread/ev");
  const std::string links = copy_fixture("links.img", "head-unread/ev/links.img");
  ASSERT_FALSE(links.empty());
  ASSERT_FALSE(copy_fixture("sample.img", "head-unread/ev/sample.img").empty());
  const std::string drive = dir + "/drive.img";
  std::string why;
  {
    layer_stack made;
    if (!ntfs_case_drive(made, drive, dir + "/nn", false)) GTEST_SKIP() << made.why();
  }
  if (!put_existing(links, ev + "/nn", why) || !put_existing(drive, dir + "/nn", why)) GTEST_SKIP() << why;
  ASSERT_TRUE(wait_until_unheld(links) && wait_until_unheld(drive));
  ssh_share ssh(dir + "/sshd", ev);
  if (!ssh.ok() || !share_start_folder(ssh, ev, dir + "/s")) GTEST_SKIP() << ssh.why();
  const std::vector<std::string> evidence = {"-image", "s/links.img", "-all", "-csv"},
                                 other = {"-image", "s/sample.img", "-all", "-csv"};
  const struct {
    quor_call call;
    std::string image, at;
  } rows[] = {
      {{"the listing appended to a file of the evidence", dir, evidence, ">>ev/nn/existing.txt"}, links, ev + "/nn"},
      {{"standard error appended there", dir, evidence, "2>>ev/nn/existing.txt"}, links, ev + "/nn"},
      {{"the listing appended to a file of another volume", dir, other, ">>nn/existing.txt"}, drive, dir + "/nn"},
      {{"standard error appended there", dir, other, "2>>nn/existing.txt"}, drive, dir + "/nn"},
  };
  for (const auto& r : rows) {
    const std::string before = md5_of_file(r.image);
    {
      layer_stack ntfs;
      ASSERT_TRUE(mount_writing_access_times(ntfs, r.image, r.at)) << ntfs.why();
      // Nothing there is digested: that would read it.
      expect_refused({r.call}, {});
    }
    ASSERT_TRUE(wait_until_unheld(r.image));
    EXPECT_EQ(md5_of_file(r.image), before) << r.call.how;
    EXPECT_EQ(volume_file_text(r.image, "existing.txt"), "already there\n") << r.call.how;
  }
  const std::string before = md5_of_file(drive);
  {
    layer_stack read;
    ASSERT_TRUE(mount_writing_access_times(read, drive, dir + "/nn")) << read.why();
    ASSERT_EQ(read_whole(dir + "/nn/existing.txt"), "already there\n");
  }
  ASSERT_TRUE(wait_until_unheld(drive));
  EXPECT_NE(md5_of_file(drive), before) << "a read through the mount left no trace to be seen by";
}

// A stream onto an NTFS case drive waits for the run's volume, which clears
// it: what it holds is read then, and a file of binary data is still refused.
TEST(StreamHeadRead, AStreamTheVolumeClearsIsReadThen) {
  const std::string dir = folder("head-later");
  const std::string links = copy_fixture("links.img", "head-later/links.img"), drive = dir + "/drive.img";
  ASSERT_FALSE(links.empty());
  layer_stack stack;
  if (!ntfs_case_drive(stack, drive, dir + "/cd", false) || !mount_ntfs(stack, drive, dir + "/cd") ||
      !stack.step("printf 'MZ\\0\\0\\220' > " + quote(dir + "/cd/tool.exe")))
    GTEST_SKIP() << stack.why();
  expect_refused({{"the listing appended to a binary file", dir, {"-image", "links.img", "-all", "-csv"},
                   ">>" + quote(dir + "/cd/tool.exe")}},
                 {dir + "/cd/tool.exe"}, {}, "it holds binary data");
}

}  // namespace
