// quor's output must not reach the evidence through any layer between the
// two: a view of a container (EWF, AFF, squashfs, a split raw image), an
// encrypted folder, an archive view that writes its archive anew, a
// pass-through view, a share of this machine over ssh, btrfs, a disk in a
// file in a disk, a mount of another namespace, an image moved after it was
// mounted, an overlay under a loop device. Each run that would write the
// evidence or what holds it ends with status 255 and nothing written: the
// container's digest, its own checker (ewfverify, btrfs check, e2fsck) and
// fls of the image stay as they were.
#include "tests/support/layer_setups.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"

namespace {

using namespace quor_test;

// A run that writes elsewhere takes the set-up: the refusals are the
// guard's, not a view quor cannot read.
void expect_listed(const quor_call& c, const std::string& listing, const std::string& name = "readme.txt") {
  std::string err;
  EXPECT_EQ(run_call(c, err), 0) << c.how << ": " << err.substr(0, 300);
  EXPECT_NE(read_whole(listing).find(name), std::string::npos) << c.how;
}

// The digest of an ext2 image but for its superblock, which each mount
// rewrites (the time and count of mounts): what a run wrote into the file
// system shows, a mount alone does not.
std::string ext_image_sum(const std::string& image) {
  std::string out;
  return run_command("{ head -c 1024 " + quote(image) + " && tail -c +2049 " + quote(image) + "; } | md5sum", out) ==
                     0 &&
                 out.size() >= 32
             ? out.substr(0, 32)
             : "";
}

// A node of its own in the scratch folder for the block device `device`.
std::string node_for(const std::string& device, const std::string& name) {
  struct stat st;
  const std::string node = scratch_dir() + "/" + name;
  ::unlink(node.c_str());
  if (::stat(device.c_str(), &st) != 0 || ::mknod(node.c_str(), S_IFBLK | 0600, st.st_rdev) != 0) return "";
  return node;
}

TEST(LayerSetups, EwfViewOfTheContainerIsRefused) {
  const std::string dir = folder("ewf");
  ewf_view ewf(dir, fixture("sample.img"));
  if (!ewf.ok()) GTEST_SKIP() << ewf.why();
  const std::string loop = ewf.loop(ewf.view, true);
  ASSERT_TRUE(ewf.ok()) << ewf.why();
  const std::string e01 = quote(ewf.e01);
  const std::vector<std::string> image = {"-image", ewf.view, "-all", "-csv"};
  std::vector<quor_call> calls = {
      {"appended to the E01", dir, image, ">>" + e01},
      {"written in place on the E01", dir, image, "1<>" + e01},
      {"standard error appended to the E01", dir, image, "2>>" + e01},
      {"read through a loop device over the view", dir, {"-image", loop, "-all", "-csv"}, ">>" + e01},
      {"started inside the view", ewf.at, {"-image", "ewf1", "-all", "-csv"}, ">>../case.E01"},
      {"in a PID namespace of its own", dir, image, ">>" + e01, own_pid_namespace(dir)},
  };
  if (!have_program("unshare")) calls.pop_back();
  expect_refused(calls, {ewf.e01});
  expect_listed({"beside the E01", dir, image, ">listing.csv"}, dir + "/listing.csv");
  std::string ignored;
  EXPECT_EQ(run_command("ewfverify -q " + e01 + " >/dev/null 2>&1", ignored), 0);
}

// A later segment of a multi-segment E01 is the evidence as much as the
// first; so is the later file of a split raw image whose head is text, as
// xmount and affuse show it.
TEST(LayerSetups, LaterSegmentOfTheContainerIsRefused) {
  const std::string dir = folder("segments");
  ewf_view ewf(dir, fixture("sample.img"), 1048576);
  if (!ewf.ok()) GTEST_SKIP() << ewf.why();
  ASSERT_TRUE(exists(ewf.segment(2))) << "one segment only";
  // The raw image split at 6 MiB, where sample.img's clusters are free:
  // the second file begins with 8 KiB of text, no NUL and no volume.
  std::ofstream(dir + "/text.head") << std::string(8191, 'x') << '\n';
  const std::string split = "cd " + quote(dir) + " && cp " + quote(fixture("sample.img")) +
                            " raw.img && dd if=text.head of=raw.img bs=1M seek=6 conv=notrunc status=none" +
                            " && head -c 6291456 raw.img > seg.001 && tail -c +6291457 raw.img > seg.002 && rm raw.img";
  ASSERT_TRUE(ewf.step(split)) << ewf.why();
  ASSERT_EQ(read_whole(dir + "/seg.002").substr(0, 8192), std::string(8191, 'x') + "\n");
  std::vector<quor_call> calls = {
      {"appended to the E02", dir, {"-image", ewf.view, "-all", "-csv"}, ">>" + quote(ewf.segment(2))},
      {"standard error appended to the E02", dir, {"-image", ewf.view, "-all", "-csv"}, "2>>" + quote(ewf.segment(2))},
  };
  std::vector<std::string> kept = {ewf.e01, ewf.segment(2), dir + "/seg.001", dir + "/seg.002"};
  xmount_view by_xmount("raw", {dir + "/seg.001", dir + "/seg.002"}, dir + "/mx");
  if (by_xmount.ok()) {
    calls.push_back(
        {"appended to the second raw file xmount reads", dir, {"-image", by_xmount.view, "-all", "-csv"}, ">>seg.002"});
    expect_listed({"xmount's view listed", dir, {"-image", by_xmount.view, "-csv"}, ">xmount.csv"},
                  dir + "/xmount.csv");
  }
  layer_stack by_affuse;
  if (by_affuse.need({"affuse"}) &&
      by_affuse.mount("affuse " + quote(dir + "/seg.001") + " " + quote(dir + "/ma"), dir + "/ma")) {
    calls.push_back({"appended to the second raw file affuse reads",
                     dir,
                     {"-image", dir + "/ma/seg.001.raw", "-all", "-csv"},
                     ">>seg.002"});
  }
  expect_refused(calls, kept);
  if (!by_xmount.ok()) GTEST_SKIP() << "the split image through xmount not tried: " << by_xmount.why();
  if (!by_affuse.ok()) GTEST_SKIP() << "the split image through affuse not tried: " << by_affuse.why();
}

TEST(LayerSetups, OtherContainerViewsAreRefused) {
  const std::string dir = folder("containers");
  const std::string sample = fixture("sample.img");
  std::string skipped;
  {
    ewf_view ewf(dir + "/ewf", sample);
    ewf.undo_all();
    xmount_view by_xmount("ewf", {ewf.e01}, dir + "/m2");
    if (ewf.ok() && by_xmount.ok()) {
      expect_refused(
          {{"xmount's raw view of the E01", dir, {"-image", by_xmount.view, "-all", "-csv"}, ">>" + quote(ewf.e01)}},
          {ewf.e01});
    } else {
      skipped += " xmount: " + ewf.why() + by_xmount.why();
    }
  }
  {
    aff_view aff(dir + "/aff", sample);
    if (aff.ok()) {
      expect_refused(
          {{"affuse's view of the AFF", dir, {"-image", aff.view, "-all", "-csv"}, ">>" + quote(aff.aff)},
           {"written in place on the AFF", dir, {"-image", aff.view, "-all", "-csv"}, "1<>" + quote(aff.aff)}},
          {aff.aff});
    } else {
      skipped += " affuse: " + aff.why();
    }
  }
  {
    squash_view squash(dir + "/sq", sample);
    if (squash.ok()) {
      expect_refused({{"squashfuse's view of the squashfs",
                       dir,
                       {"-image", squash.view, "-all", "-csv"},
                       ">>" + quote(squash.sqfs)}},
                     {squash.sqfs});
    } else {
      skipped += " squashfuse: " + squash.why();
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The clear view's file is the cipher file in the folder beside it.
TEST(LayerSetups, EncryptedCaseFolderIsRefused) {
  std::string skipped;
  for (const std::string kind : {"gocryptfs", "encfs"}) {
    const std::string dir = folder("crypt-" + kind);
    encrypted_folder crypt(kind, dir, fixture("sample.img"));
    if (!crypt.ok()) {
      skipped += " " + kind + ": " + crypt.why();
      continue;
    }
    const std::vector<std::string> image = {"-image", crypt.view, "-all", "-csv"};
    expect_refused({{kind + ": appended to the cipher file", dir, image, ">>" + quote(crypt.cipher)},
                    {kind + ": written in place on the cipher file", dir, image, "1<>" + quote(crypt.cipher)}},
                   {crypt.cipher});
    EXPECT_EQ(md5_of_file(crypt.view), md5_of_file(fixture("sample.img"))) << kind;
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The lines the archive's own tool lists `archive` with (tar's or zip's,
// by its name), or why not.
std::string archive_listing(const std::string& archive) {
  if (archive.size() < 4 || archive.compare(archive.size() - 4, 4, ".zip") != 0) return tar_listing(archive);
  std::string out;
  return run_command("unzip -l " + quote(archive) + " 2>&1", out) == 0 ? out : "unzip failed: " + out;
}

// A file of the view and a copy folder there would be written into the
// archive when the view is unmounted. Served by root to every user, the
// view's table entry names no file ("fuse-zip", "archivemount") and its
// server is out of another user's sight: a run of his that reads the view
// cannot tell what a file of it is stored on.
TEST(LayerSetups, ArchiveViewIsRefused) {
  if (!have_program("setpriv") || !have_program("unzip")) GTEST_SKIP() << "setpriv or unzip not installed";
  std::string skipped;
  for (const std::string kind : {"fuse-zip", "archivemount"}) {
    const std::string dir = folder("archive-" + kind);
    std::string sum, listed;
    {
      archive_view archive(kind, dir, fixture("sample.img"), "-o allow_other");
      if (!archive.ok()) {
        skipped += " " + kind + ": " + archive.why();
        continue;
      }
      sum = md5_of_file(archive.archive);
      listed = archive_listing(archive.archive);
      const std::vector<std::string> image = {"-image", archive.view, "-all", "-csv"};
      expect_refused({{kind + ": appended to a file of the view", dir, image, ">>" + quote(archive.notes)},
                      {kind + ": a copy folder in the view",
                       dir,
                       {"-image", archive.view, "-csv", "-action_copy_files", archive.at + "/copies"},
                       ""}},
                     {archive.notes}, {archive.at + "/copies"});
      open_to_nobody({dir});
      // The source is read through that view: the volume it opens answers
      // for no file of the view.
      expect_refused({{kind + ", served by root: nobody's listing appended to a file of the view",
                       dir,
                       {"-image", "m/sample.img", "-all", "-csv"},
                       ">>m/notes.txt",
                       as_nobody()},
                      {kind + ", served by root: nobody's standard error appended there",
                       dir,
                       {"-image", "m/sample.img", "-all", "-csv"},
                       "2>>m/notes.txt",
                       as_nobody()}},
                     {archive.notes}, {}, "write the listing elsewhere");
    }
    const std::string archive = dir + (kind == "fuse-zip" ? "/case.zip" : "/case.tar");
    ASSERT_TRUE(wait_until_unheld(archive));
    EXPECT_EQ(md5_of_file(archive), sum) << kind << " rewritten";
    EXPECT_EQ(archive_listing(archive), listed) << kind;
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A copy folder through a pass-through view of an ntfs-3g mount of the
// image lands in the image.
TEST(LayerSetups, PassThroughViewOfAMountOfTheImageIsRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("pass");
  const std::string image = copy_fixture("links.img", "pass/links.img");
  ASSERT_FALSE(image.empty());
  const std::string listed = fls_of(image);
  std::string skipped;
  {
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
    for (const std::string kind : {"bindfs", "unionfs", "rclone", "mergerfs"}) {
      pass_through view(kind, dir + "/n", dir + "/v-" + kind);
      if (!view.ok()) {
        skipped += " " + kind + ": " + view.why();
        continue;
      }
      expect_refused({{kind + ": a copy folder",
                       dir,
                       {"-image", image, "-all", "-csv", "-action_copy_files", view.at + "/newdir"},
                       ""}},
                     {}, {dir + "/n/newdir"});
    }
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A view of the folder that holds a mount of the image (avfs's of the whole
// tree, mergerfs's named by a word of its own, its branches given bare or
// with their modes, rclone's local remote with its write cache): the file
// the view's server holds while a stream goes through it is the mount's
// own, stored in the image. A file the shell empties there stays empty. A
// copy folder in the mount through the view, which holds no file of it, is
// known by the folder the view shows it from, and the refusal names the
// mount, or the volume's own folder where the view names nothing (avfs).
// fls lists the image as before.
TEST(LayerSetups, OutputsThroughAViewOfAFolderHoldingAMountOfTheImageAreRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("held"), br = folder("held/br");
  folder("held/ev");
  const std::string image = copy_fixture("links.img", "held/ev/nn.img");
  ASSERT_FALSE(image.empty());
  std::string put_why;
  if (!put_existing(image, br + "/n5", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  std::string skipped;
  {
    layer_stack ntfs;
    ASSERT_TRUE(mount_ntfs(ntfs, image, br + "/n5")) << ntfs.why();
    const std::vector<std::string> args = {"-image", "ev/nn.img", "-all", "-csv"};
    // avfs's table entry ("avfsd") names no folder, and its server holds
    // none: the volume itself tells the copy folder's, whose folder avfs
    // shows by the root's names; the others name the image's mount.
    const struct {
      std::string kind, at;
      bool told;
    } views[] = {{"avfs", "v-avfs", false},
                 {"mergerfs fsname", "v-mergerfs", true},
                 {"mergerfs modes", "v-modes", true},
                 {"rclone :local:", "v-rclone", true}};
    for (const auto& v : views) {
      const std::string& kind = v.kind;
      pass_through view(kind, br, dir + "/" + v.at);
      if (!view.ok()) {
        skipped += " " + kind + ": " + view.why();
        continue;
      }
      const std::string shown = view.shows + "/n5/";
      expect_refused({{kind + ": appended to a file of the mount", dir, args, ">>" + quote(shown + "existing.txt")},
                      {kind + ": standard error appended there", dir, args, "2>>" + quote(shown + "existing.txt")}},
                     {image, br + "/n5/existing.txt"});
      // The shell empties the file before the run starts (rclone's cache
      // only when it writes back): the run adds nothing.
      std::string said;
      const quor_call anew = {kind + ": written there anew", dir, args, ">" + quote(shown + "existing.txt")};
      EXPECT_EQ(run_call(anew, said), kFailed) << kind << ": " << said.substr(0, 300);
      EXPECT_NE(said.find("refused to write"), std::string::npos) << kind << ": " << said.substr(0, 300);
      const std::string left = read_whole(br + "/n5/existing.txt");
      EXPECT_TRUE(left.empty() || left == "already there\n") << kind << ": " << left.substr(0, 300);
      std::ofstream(br + "/n5/existing.txt") << "already there\n";
      expect_refused({{kind + ": a copy folder in the mount",
                       dir,
                       {"-image", "ev/nn.img", "-csv", "-action_copy_files", shown + "copies"},
                       ""}},
                     {}, {br + "/n5/copies"},
                     "refused to write: " + shown + "copies: " +
                         (v.told ? "it is stored in the evidence " + image + " through the FUSE mount at " + br +
                                       "/n5 (fuse)\n"
                                 : "it is \\ of the evidence " + image + " (record 5)\n"));
    }
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// avfs's view of the whole tree, root's with a home of its own, while
// another program holds a file of the case folder open through it: the
// server holds a file of the local disk, and nothing of the mount of the
// image under it. A copy folder in that mount through the view is the
// volume's root, which the volume itself tells; nothing is made there, and
// fls lists the image as before.
TEST(LayerSetups, CopyFolderThroughAvfsWhoseServerHoldsAnotherFileIsRefused) {
  if (!have_program("fls") || !have_program("tail")) GTEST_SKIP() << "fls or tail not installed";
  const std::string dir = folder("avfs-held"), av = folder("avfs-held/av");
  folder("avfs-held/ev");
  const std::string image = copy_fixture("links.img", "avfs-held/ev/links.img");
  ASSERT_FALSE(image.empty());
  std::ofstream(av + "/held.txt") << "held open\n";
  const std::string listed = fls_of(image);
  {
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, image, av + "/n")) GTEST_SKIP() << ntfs.why();
    pass_through view("avfs", dir, dir + "/home");
    if (!view.ok()) GTEST_SKIP() << view.why();
    const std::string log = dir + "/tail.log";
    view.start("tail -f " + shell_word(view.shows + "/av/held.txt"), log);
    view.wait_for([log] { return read_whole(log).find("held open") != std::string::npos; }, "tail through avfs");
    ASSERT_TRUE(view.ok()) << view.why();
    const std::string copies = view.shows + "/av/n/newdir";
    expect_refused({{"avfs holding another file: a copy folder in the mount",
                     dir,
                     {"-image", "ev/links.img", "-all", "-csv", "-action_copy_files", copies},
                     ""}},
                   {}, {av + "/n/newdir"},
                   "refused to write: " + copies + ": it is \\ of the evidence " + image + " (record 5)\n");
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
}

// An index-record file read through a view of its folder: standard output
// onto the file itself. (The cluster copies of the writers' tests try the
// same views by identity alone.)
TEST(LayerSetups, IndexRecordFileBehindAPassThroughViewIsRefused) {
  const std::string dir = folder("behind");
  const std::string ev = folder("behind/ev");
  ASSERT_FALSE(copy_fixture("sample.img", "behind/ev/sample.img").empty());
  std::string ignored;
  if (!have_program("icat")) GTEST_SKIP() << "icat not installed";
  // /Documents is entry 66: its index records as one file.
  ASSERT_EQ(run_command("icat " + quote(ev + "/sample.img") + " 66-160 > " + quote(ev + "/t.i30"), ignored), 0);
  ASSERT_EQ(read_whole(ev + "/t.i30").compare(0, 4, "INDX"), 0);
  std::string skipped;
  for (const std::string kind : {"bindfs", "mergerfs", "rclone"}) {
    pass_through view(kind, ev, dir + "/r-" + kind, true);
    if (!view.ok()) {
      skipped += " " + kind + ": " + view.why();
      continue;
    }
    expect_refused({{kind + ": appended to the index-record file",
                     dir,
                     {"-indxfile", view.at + "/t.i30", "-all", "-csv"},
                     ">>" + quote(ev + "/t.i30")}},
                   {ev + "/t.i30"});
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A share of this machine over ssh is the same files under another device.
TEST(LayerSetups, ShareOfThisMachineOverSshIsRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("ssh");
  const std::string ev = folder("ssh/ev");
  ASSERT_FALSE(copy_fixture("sample.img", "ssh/ev/sample.img").empty());
  const std::string links = copy_fixture("links.img", "ssh/ev/links.img");
  ASSERT_FALSE(links.empty());
  std::string ignored;
  ASSERT_EQ(run_command("icat " + quote(ev + "/sample.img") + " 66-160 > " + quote(ev + "/t.i30"), ignored), 0);
  const std::string listed = fls_of(links);
  {
    // The ntfs-3g mount first: sshd's namespace takes the mounts there are
    // when it starts.
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, links, ev + "/n")) GTEST_SKIP() << ntfs.why();
    ssh_share ssh(dir + "/sshd", ev);
    if (!ssh.ok()) GTEST_SKIP() << ssh.why();
    ASSERT_TRUE(ssh.share(ev, dir + "/s")) << ssh.why();
    expect_refused({{"appended to the index-record file read over ssh",
                     dir,
                     {"-indxfile", dir + "/s/t.i30", "-all", "-csv"},
                     ">>" + quote(ev + "/t.i30")},
                    {"a copy folder over ssh in a mount of the image",
                     dir,
                     {"-image", links, "-all", "-csv", "-action_copy_files", dir + "/s/n/newdir"},
                     ""}},
                   {ev + "/t.i30"}, {ev + "/n/newdir"});
  }
  ASSERT_TRUE(wait_until_unheld(links));
  EXPECT_EQ(fls_of(links), listed);
}

// The btrfs the image's file is stored on, by its file and by a node of
// its loop device.
TEST(LayerSetups, BtrfsHoldingTheImageIsRefused) {
  const std::string dir = folder("btrfs");
  std::string first;
  long long size = 0;
  {
    btrfs_disk disk(dir, fixture("sample.img"));
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    const std::string node = node_for(disk.device, "btrfs-node");
    ASSERT_FALSE(node.empty());
    // btrfs writes nothing in its first 64 KiB: a listing there shows.
    const std::string head = dir + "/head";
    auto head_sum = [&] {
      std::string ignored;
      run_command("sync && head -c 65536 " + quote(disk.file) + " > " + quote(head), ignored);
      return md5_of_file(head);
    };
    first = head_sum();
    struct stat st;
    ASSERT_EQ(::stat(disk.file.c_str(), &st), 0);
    size = st.st_size;
    const std::vector<std::string> image = {"-image", disk.view, "-all", "-csv"};
    expect_refused({{"appended to the btrfs file", dir, image, ">>" + quote(disk.file)},
                    {"written in place on the btrfs loop device", dir, image, "1<>" + quote(node)}},
                   {disk.view});
    EXPECT_EQ(head_sum(), first);
    ASSERT_EQ(::stat(disk.file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size);
  }
  std::string ignored;
  EXPECT_EQ(run_command("btrfs check " + quote(dir + "/b.img") + " >/dev/null 2>&1", ignored), 0);
}

// The xfs whose file holds the ext4 that holds the image.
TEST(LayerSetups, DiskInsideAFileInsideADiskIsRefused) {
  const std::string dir = folder("nested");
  {
    nested_disk disk(dir, fixture("sample.img"));
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    const std::string node = node_for(disk.outer_device, "nested-node");
    ASSERT_FALSE(node.empty());
    struct stat before, after;
    ASSERT_EQ(::stat(disk.outer.c_str(), &before), 0);
    const std::vector<std::string> image = {"-image", disk.view, "-all", "-csv"};
    expect_refused({{"appended to the outer xfs file", dir, image, ">>" + quote(disk.outer)},
                    {"written in place on the outer loop device", dir, image, "1<>" + quote(node)},
                    {"appended to the inner ext4 file", dir, image, ">>" + quote(disk.inner)}},
                   {disk.view});
    ASSERT_EQ(::stat(disk.outer.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
  }
  std::string ignored;
  if (have_program("xfs_repair")) {
    EXPECT_EQ(run_command("xfs_repair -n " + quote(dir + "/outer.xfs") + " 2>&1", ignored), 0) << ignored;
  }
}

// A mount of the image that only another mount namespace has, reached
// through a process's root there; `existing.txt` was written into the
// image beforehand. `check` is run with the mount up; fls and the file's
// content read from the image after show that nothing reached it.
void in_another_namespace(
    const std::string& name,
    const std::function<void(const std::string& dir, const std::string& image, const std::string& through)>& check) {
  if (!have_program("fls") || !have_program("ifind") || !have_program("icat"))
    GTEST_SKIP() << "fls, ifind or icat not installed";
  const std::string dir = folder(name);
  const std::string image = copy_fixture("links.img", name + "/links.img");
  ASSERT_FALSE(image.empty());
  std::string put_why;
  if (!put_existing(image, dir + "/pn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  std::string entry, text;
  ASSERT_EQ(run_command("ifind -n /existing.txt " + quote(image), entry), 0);
  {
    namespace_mount other(image, dir + "/pn");
    if (!other.ok()) GTEST_SKIP() << other.why();
    ASSERT_TRUE(exists(other.through + "/existing.txt"));
    check(dir, image, other.through);
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  EXPECT_EQ(run_command("icat " + quote(image) + " " + entry, text), 0);
  EXPECT_EQ(text, "already there\n");
}

TEST(LayerSetups, CopyFolderInAMountOfAnotherNamespaceIsRefused) {
  in_another_namespace("otherns", [](const std::string& dir, const std::string& image, const std::string& through) {
    expect_refused({{"a copy folder in the other namespace's mount",
                     dir,
                     {"-image", image, "-all", "-csv", "-action_copy_files", through + "/newdir"},
                     ""}},
                   {through + "/existing.txt"}, {through + "/newdir"});
  });
}

// A mount no table of this run shows cannot be told: a stream there is
// refused, whatever it holds.
TEST(LayerSetups, StandardOutputIntoAMountOfAnotherNamespaceIsRefused) {
  in_another_namespace("otherns-out", [](const std::string& dir, const std::string& image, const std::string& through) {
    expect_refused({{"appended to a file of the other namespace's mount",
                     dir,
                     {"-image", image, "-all", "-csv"},
                     ">>" + quote(through + "/existing.txt")}},
                   {through + "/existing.txt"});
  });
}

// The mount table names the image by the name it had: ntfs-3g's image,
// moved to sub/ev3.img, with another file under its old name. `check` is
// run with the mount up; fls of the moved image after shows nothing reached
// it.
void with_moved_image(const std::string& name,
                      const std::function<void(const std::string& dir, const std::string& moved)>& check) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder(name);
  folder(name + "/sub");
  const std::string image = copy_fixture("sample.img", name + "/ev.img");
  ASSERT_FALSE(image.empty());
  const std::string moved = dir + "/sub/ev3.img";
  std::string put_why;
  if (!put_existing(image, dir + "/m", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  {
    layer_stack setup;
    ASSERT_TRUE(mount_ntfs(setup, image, dir + "/m")) << setup.why();
    ASSERT_TRUE(
        setup.step("cd " + quote(dir) + " && mv ev.img sub/ev3.img && cp " + quote(fixture("sample.img")) + " ev.img"))
        << setup.why();
    check(dir, moved);
  }
  ASSERT_TRUE(wait_until_unheld(moved));
  EXPECT_EQ(fls_of(moved), listed);
}

TEST(LayerSetups, ImageMovedAfterItWasMountedIsRefused) {
  with_moved_image("moved", [](const std::string& dir, const std::string& moved) {
    std::vector<quor_call> calls = {
        {"appended to a file of the mount", dir, {"-image", "sub/ev3.img", "-csv"}, ">>m/existing.txt"},
        {"standard error appended there", dir, {"-image", "sub/ev3.img", "-csv"}, "2>>m/existing.txt"},
        {"a copy folder there", dir, {"-image", "sub/ev3.img", "-csv", "-action_copy_files", "m/nd"}, ""},
        {"a copy folder there, from a PID namespace of its own",
         dir,
         {"-image", "sub/ev3.img", "-csv", "-action_copy_files", "m/nd"},
         "",
         own_pid_namespace(dir)}};
    if (!have_program("unshare")) calls.pop_back();
    expect_refused(calls, {moved, dir + "/m/existing.txt"}, {dir + "/m/nd"});
  });
}

// An ntfs-3g mount of a loop device over the overlay's file of the image
// read from the upper layer.
TEST(LayerSetups, OverlayUnderALoopDeviceIsRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string top = folder("ovl");
  for (const char* sub : {"/L", "/U", "/W", "/M"}) ::mkdir((top + sub).c_str(), 0700);
  ASSERT_FALSE(copy_fixture("sample.img", "ovl/U/up.img").empty());
  const std::string upper = top + "/U/up.img";
  const std::string listed = fls_of(upper);
  {
    layer_stack setup;
    setup.mount("cd " + quote(top) + " && mount -t overlay overlay -o lowerdir=L,upperdir=U,workdir=W M", top + "/M");
    const std::string loop = setup.loop(top + "/M/up.img");
    if (!setup.ok() || !mount_ntfs(setup, loop, top + "/N")) GTEST_SKIP() << setup.why();
    expect_refused({{"a copy folder in the mount of the loop device",
                     top,
                     {"-image", "U/up.img", "-csv", "-action_copy_files", "N/nd"},
                     ""}},
                   {}, {top + "/N/nd"});
  }
  EXPECT_EQ(fls_of(upper), listed);
}

// ntfs-3g cuts the image's name at its first comma in the mount table;
// where a file of that cut name stands beside the image, the table names
// the wrong file, and the process serving the mount is asked instead.
TEST(LayerSetups, CommaNamedImageWithItsCutNameBesideIsRefused) {
  const std::string dir = folder("comma");
  const std::string image = copy_fixture("sample.img", "comma/Smith, John.dd");
  ASSERT_FALSE(image.empty());
  std::ofstream(dir + "/Smith") << "another file\n";
  std::string put_why;
  if (!put_existing(image, dir + "/m", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  {
    layer_stack setup;
    ASSERT_TRUE(mount_ntfs(setup, image, dir + "/m")) << setup.why();
    expect_refused({{"appended to a file of the mount", dir, {"-image", "Smith, John.dd", "-csv"}, ">>m/existing.txt"}},
                   {image, dir + "/m/existing.txt", dir + "/Smith"});
  }
}

// fuse2fs over a loop device over the file: the mount's source is a block
// device other than its own, and the file behind it is the source read.
TEST(LayerSetups, Fuse2fsOverALoopDeviceOfTheSourceIsRefused) {
  const std::string dir = folder("fuse2fs");
  const std::string file = dir + "/hold.ext4";
  layer_stack setup;
  if (!setup.need({"fuse2fs", "mkfs.ext4", "e2fsck", "debugfs", "icat", "losetup"})) GTEST_SKIP() << setup.why();
  // The ext4 holds an index-record file in whole blocks: read as one, the
  // ext4 file gives a listing.
  ASSERT_TRUE(setup.step("cd " + quote(dir) + " && icat " + quote(fixture("sample.img")) + " 66-160 > t.i30" +
                         " && truncate -s 32M hold.ext4 && mkfs.ext4 -q -F -b 4096 hold.ext4" +
                         " && debugfs -w -R 'write t.i30 t.i30' hold.ext4"))
      << setup.why();
  const std::string loop = setup.loop(file);
  if (!setup.ok() || !setup.mount("fuse2fs " + quote(loop) + " " + quote(dir + "/m"), dir + "/m"))
    GTEST_SKIP() << setup.why();
  std::ofstream(dir + "/m/existing.txt") << "already there\n";
  ASSERT_TRUE(setup.step("sync"));
  expect_listed({"a listing beside", dir, {"-indxfile", "hold.ext4", "-all", "-csv"}, ">listing.csv"},
                dir + "/listing.csv", "budget.xlsx");
  expect_refused(
      {{"appended to a file of the mount", dir, {"-indxfile", "hold.ext4", "-all", "-csv"}, ">>m/existing.txt"},
       {"a copy folder in the mount",
        dir,
        {"-indxfile", "hold.ext4", "-all", "-csv", "-action_copy_files", "m/nd"},
        ""}},
      {dir + "/m/existing.txt"}, {dir + "/m/nd"});
  setup.undo_all();
  std::string ignored;
  EXPECT_EQ(run_command("e2fsck -n -f " + quote(file) + " >/dev/null 2>&1", ignored), 0);
}

// A loop device given without -image is still named evidence, and so is
// the file behind it, though that holds no volume and no NUL in its head.
TEST(LayerSetups, BlockDeviceNamedWithoutItsOptionIsRefused) {
  const std::string dir = folder("bare");
  const std::string backing = dir + "/backing.bin";
  {
    std::ofstream text(backing);
    for (int line = 0; line < 20000; ++line) text << "case notes, line " << line << "\n";
  }
  layer_stack setup;
  const std::string loop = setup.loop(backing, true);
  if (!setup.ok()) GTEST_SKIP() << setup.why();
  expect_refused({{"appended to the file behind the loop device", dir, {loop, "-all"}, ">>backing.bin"}}, {backing});
}

// archivemount started the ordinary way, in the archive's folder (or in
// one above it), holds that folder open: the archive in it is what the
// view is stored on, for a file of the view, a copy folder there and a
// second read-write mount of the same archive alike. Another user, who
// cannot see the server, cannot tell what the view is stored on. tar lists
// the archive as before once it is unmounted, and its digest is the same.
TEST(LayerSetups, ArchiveMountedFromItsFolderIsRefused) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string skipped =
      with_archive_mounted_from_its_folder("from", [](const std::string& from, archive_from_folder& archive) {
        const std::string dir = archive.at.substr(0, archive.at.size() - 2);
        const std::vector<std::string> image = {"-image", "m/sample.img", "-all", "-csv"};
        expect_refused({{from + ": appended to a file of the view", dir, image, ">>m/notes.txt"},
                        {from + ": a copy folder in the view",
                         dir,
                         {"-image", "m/sample.img", "-csv", "-action_copy_files", "m/copies"},
                         ""},
                        {from + ": appended to a file of a second mount of the archive", dir, image, ">>m2/notes.txt"}},
                       {archive.notes, dir + "/m2/notes.txt"}, {archive.at + "/copies"});
        open_to_nobody({dir.substr(0, dir.rfind('/')), dir});
        expect_refused(
            {{from + ": nobody's listing appended to a file of root's view", dir, image, ">>m/notes.txt", as_nobody()}},
            {archive.notes}, {}, "write the listing elsewhere");
      });
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The image served by this machine over WebDAV (rclone mounts it, with its
// file cache and without, and so does davfs2, which keeps its own copy of
// what it reads) or over HTTP (httpfs2 mounts it): no layer under
// either tells what it is stored on, so the file an ntfs-3g mount of the
// image is stored in may be the source, and no copy folder is made there;
// the refusal names the layer that could not be told. Read from its own
// folder, the image is the evidence the mount is stored in, by identity.
// A copy folder on this machine's disk is made all the same, and fls lists
// the image as before.
TEST(LayerSetups, CopyFolderInAMountOfAnImageReadThroughAnUntoldRemoteIsRefused) {
  if (!have_program("fls") || !have_program("findmnt")) GTEST_SKIP() << "fls or findmnt not installed";
  const std::string dir = folder("untold"), ev = folder("untold/ev");
  const std::string image = copy_fixture("links.img", "untold/ev/links.img");
  ASSERT_FALSE(image.empty());
  const std::string listed = fls_of(image);
  std::string skipped;
  {
    layer_stack ntfs;
    if (!mount_ntfs(ntfs, image, dir + "/n")) GTEST_SKIP() << ntfs.why();
    rclone_served dav("webdav", dir + "/dav", ev, 0);
    rclone_served http("http", dir + "/http", ev, 1);
    struct remote {
      std::string how, at;
      bool mounted;
    };
    std::vector<remote> remotes = {{"WebDAV", dir + "/rm", dav.mount_webdav(dir + "/rm")},
                                   {"WebDAV with its cache", dir + "/rc", dav.mount_webdav(dir + "/rc", "full")},
                                   {"HTTP", dir + "/hm", http.mount_http("links.img", dir + "/hm")},
                                   {"davfs2", dir + "/dm", dav.mount_davfs(dir + "/dm")}};
    for (const remote& r : remotes) {
      if (!r.mounted) {
        skipped += " " + r.how + ": " + dav.why() + http.why();
        continue;
      }
      std::string type, said;
      ASSERT_EQ(run_command("findmnt -n -o FSTYPE " + quote(r.at), type), 0);
      type = type.substr(0, type.find('\n'));
      const std::string copies = dir + "/n/newdir";
      const quor_call call = {r.how, dir, {"-image", r.at + "/links.img", "-all", "-csv", "-action_copy_files", copies}, ""};
      expect_refused({call}, {}, {copies});
      EXPECT_EQ(run_call(call, said), kFailed);
      // The volume read through the remote is the one mounted at n.
      const std::string want = "refused to write: " + copies + ": it is \\ of the evidence " + r.at +
                               "/links.img (record 5)\n";
      EXPECT_NE(said.find(want), std::string::npos) << r.how << ": " << said.substr(0, 600);
      const std::string here = dir + "/copies-" + r.at.substr(r.at.size() - 2);
      EXPECT_EQ(run_call({r.how + ": a copy folder on this machine's disk", dir,
                          {"-image", r.at + "/links.img", "-csv", "-action_copy_files", here}, ""},
                         said),
                0)
          << said.substr(0, 300);
      EXPECT_TRUE(exists(here)) << r.how;
    }
    std::string said;
    const quor_call by_identity = {
        "read from its folder", dir, {"-image", image, "-all", "-csv", "-action_copy_files", dir + "/n/newdir"}, ""};
    EXPECT_EQ(run_call(by_identity, said), kFailed);
    EXPECT_NE(said.find("refused to write: " + dir + "/n/newdir: it is stored in the evidence " + image +
                        " through the FUSE mount at " + dir + "/n (fuse)\n"),
              std::string::npos)
        << said.substr(0, 600);
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// fuse2fs over a loop device over the source, its server out of sight (quor
// in a PID namespace of its own): the mount table alone names the loop
// device, and through it the source, so a file of the mount is refused
// though it holds text.
TEST(LayerSetups, Fuse2fsOverALoopDeviceNamedOnlyByTheTableIsRefused) {
  if (!have_program("unshare")) GTEST_SKIP() << "unshare not installed";
  const std::string dir = folder("fuse2fs-table");
  fuse2fs_over_loop setup(dir, fixture("sample.img"));
  if (!setup.ok()) GTEST_SKIP() << setup.why();
  expect_refused({{"appended to a file of the mount, the server unseen",
                   dir,
                   {"-indxfile", "hold.ext4", "-all", "-csv"},
                   ">>m/existing.txt",
                   own_pid_namespace(dir)}},
                 {dir + "/m/existing.txt"});
  expect_listed({"a listing beside, the server unseen",
                 dir,
                 {"-indxfile", "hold.ext4", "-all", "-csv"},
                 ">listing.csv",
                 own_pid_namespace(dir)},
                dir + "/listing.csv", "budget.xlsx");
  setup.undo_all();
  std::string ignored;
  EXPECT_EQ(run_command("e2fsck -n -f " + quote(setup.file) + " >/dev/null 2>&1", ignored), 0);
}

// A listing kept in an encrypted view of the case folder that also holds
// the image: what the view's server holds for it lies in the folder the
// view's table entry names, and is no file of the evidence.
TEST(LayerSetups, ListingInAnEncryptedViewThatHoldsTheImageIsWritten) {
  const std::string dir = folder("crypt-listing"), local = folder("crypt-listing/local");
  encrypted_folder crypt("gocryptfs", dir, fixture("sample.img"));
  if (!crypt.ok()) GTEST_SKIP() << crypt.why();
  for (const stream_form& f : {stream_forms()[0], stream_forms()[1]})
    expect_written({"gocryptfs", dir, {"-image", "v/ev.img", "-all"}, ""}, f, crypt.at, local + "/" + f.name);
}

// Shares whose store cannot be told, where an examiner keeps listings and
// logs: a share named only by its server's address (its start folder, or
// one forced on it), one named by its server and a folder, one that reads
// as a hypervisor's shared folder, one of a FUSE type no share program
// has whose table source is a remote's address, rclone's memory and a
// WebDAV remote in each of rclone's cache modes and through davfs2,
// mergerfs named by its branches or by a word of its own. A run that reads a local image writes
// every stream there as it does onto the local disk, as the examiner who
// mounted the share and as another user on root's share open to all.
TEST(LayerSetups, StreamsOnSharesThatCannotBeToldAreWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "the set-ups need root";
  const std::string dir = folder("shares");
  // nobody reaches the image and the local files.
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const std::string image = copy_fixture("sample.img", "shares/sample.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string local = folder("shares/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  // rclone without its cache takes no write to a file it did not make
  // anew: nothing appends there.
  struct share {
    std::string how, at, prefix = "";
    bool appends = true;
  };
  std::vector<share> shares;
  std::string skipped;
  ssh_share ssh(dir + "/sshd", folder("shares/cases"));
  for (const char* sub : {"hgfs", "host", "named"}) folder(std::string("shares/") + sub);
  if (ssh.ok() && share_start_folder(ssh, dir + "/cases", dir + "/s") &&
      share_start_folder(ssh, dir + "/hgfs", dir + "/h", "fsname=vmhgfs-fuse,subtype=vmhgfs-fuse") &&
      share_start_folder(ssh, dir + "/host", dir + "/h2", "fsname=.host:/,subtype=vmhgfs-fuse") &&
      ssh.share(dir + "/named", dir + "/sn", "allow_other")) {
    shares.push_back({"sshfs named by its server", dir + "/s"});
    shares.push_back({"a share that reads as a hypervisor's", dir + "/h"});
    shares.push_back({"a share named as a hypervisor's", dir + "/h2"});
    shares.push_back({"sshfs named by its server and a folder", dir + "/sn"});
    shares.push_back({"root's sshfs named by its server and a folder, as nobody", dir + "/sn", as_nobody()});
  } else {
    skipped += " sshfs: " + ssh.why();
  }
  // A FUSE type of no share program, its table source a remote's address.
  if (ssh.ok() && share_start_folder(ssh, folder("shares/own-type"), dir + "/o",
                                     "fsname=host:/path,subtype=somefs,allow_other")) {
    shares.push_back({"root's share of a type of its own named host:/path, as nobody", dir + "/o", as_nobody()});
  } else {
    skipped += " sshfs of a type of its own: " + ssh.why();
  }
  const std::string forced_folder = folder("shares/forced");
  ssh_share forced(dir + "/sshd-forced", forced_folder, "ForceCommand internal-sftp -d " + forced_folder, 1);
  if (forced.ok() && forced.share("", dir + "/sf", "allow_other")) {
    shares.push_back({"sshfs whose server forces its folder", dir + "/sf"});
    shares.push_back({"root's sshfs whose server forces its folder, as nobody", dir + "/sf", as_nobody()});
  } else {
    skipped += " sshfs with a forced folder: " + forced.why();
  }
  layer_stack memory;
  if (memory_share(memory, dir + "/r", dir + "/rclone-cache")) {
    shares.push_back({"rclone's memory", dir + "/r"});
  } else {
    skipped += " rclone: " + memory.why();
  }
  // Each mount writes a folder of its own: none sees what another wrote.
  const std::string served = folder("shares/served");
  for (const char* sub : {"off", "minimal", "writes", "full", "davfs2"}) folder(std::string("shares/served/") + sub);
  rclone_served dav("webdav", dir + "/dav", served);
  for (const std::string mode : {"off", "minimal", "writes", "full"}) {
    if (dav.mount_webdav(dir + "/w-" + mode, mode))
      shares.push_back(
          {"rclone's WebDAV remote, cache mode " + mode, dir + "/w-" + mode + "/" + mode, "", mode != "off"});
  }
  if (dav.mount_davfs(dir + "/dv")) shares.push_back({"davfs2", dir + "/dv/davfs2"});
  if (!dav.ok()) skipped += " WebDAV: " + dav.why();
  layer_stack merged;
  for (const char* sub : {"A", "B", "A2", "B2", "A3", "B3"}) folder(std::string("shares/") + sub);
  if (merged.need({"mergerfs"}) && merged.mount("cd " + quote(dir) + " && mergerfs A:B M", dir + "/M") &&
      merged.mount("mergerfs " + quote(dir + "/A2:" + dir + "/B2") + " " + quote(dir + "/M2"), dir + "/M2") &&
      merged.mount("mergerfs -o fsname=pool " + quote(dir + "/A3:" + dir + "/B3") + " " + quote(dir + "/M3"),
                   dir + "/M3")) {
    shares.push_back({"mergerfs of relative branches", dir + "/M"});
    shares.push_back({"mergerfs named as it names itself", dir + "/M2"});
    shares.push_back({"mergerfs named by a word of its own", dir + "/M3"});
  } else {
    skipped += " mergerfs: " + merged.why();
  }
  for (const share& on : shares)
    for (const stream_form& f : stream_forms())
      if (on.appends || f.before.empty())
        expect_written({on.how, dir, {"-image", "sample.img", "-all", "-csv"}, "", on.prefix}, f, on.at,
                       local + "/" + f.name);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// Root's share open to every user, of a FUSE type no share program has,
// whose table source is a remote's address (host:/path): another user, who
// cannot see its server, reads the image on it; the copy folder beside it
// on the share may be stored anywhere, the image too, so it is not made,
// and the refusal says which mount cannot be told. A copy folder on this
// machine's disk is made all the same.
TEST(LayerSetups, CopyFolderOnAShareOfATypeOfItsOwnThatTheSourceIsReadThroughIsRefused) {
  if (!have_program("setpriv") || !have_program("findmnt")) GTEST_SKIP() << "setpriv or findmnt not installed";
  const std::string dir = folder("own-type"), cases = folder("own-type/cases"), local = folder("own-type/local");
  open_to_nobody({dir, cases});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("sample.img", "own-type/cases/sample.img").empty());
  ASSERT_EQ(::chmod((cases + "/sample.img").c_str(), 0644), 0);
  ssh_share ssh(dir + "/sshd", cases);
  if (!ssh.ok() || !share_start_folder(ssh, cases, dir + "/o", "fsname=host:/path,subtype=somefs,allow_other"))
    GTEST_SKIP() << ssh.why();
  std::string entry;
  ASSERT_EQ(run_command("findmnt -n -r -o FSTYPE,SOURCE " + quote(dir + "/o"), entry), 0);
  ASSERT_EQ(entry, "fuse.somefs host:/path\n");
  const std::vector<std::string> image = {"-image", "o/sample.img", "-csv", "-action_copy_files"};
  std::vector<std::string> on_share = image, on_disk = image;
  on_share.push_back("o/copies");
  on_disk.push_back("local/copies");
  expect_refused({{"nobody's copy folder on the share beside the image", dir, on_share, "", as_nobody()}}, {},
                 {cases + "/copies"},
                 "refused to write: o/copies: cannot tell what the FUSE mount at " + dir +
                     "/o (fuse.somefs) is stored on: its server cannot be found or read\n");
  std::string said;
  EXPECT_EQ(run_call({"nobody's copy folder on this machine's disk", dir, on_disk, "", as_nobody()}, said), 0)
      << said.substr(0, 300);
  EXPECT_TRUE(exists(local + "/copies"));
}

// A set-up's undo returns only once each FUSE server it mounted has ended
// (ntfs-3g writes the image last, after its unmount) and the loop device
// `mount -o loop` attached is let go, though a namespace made meanwhile
// holds a copy of every mount for two seconds more: the servers are found
// by the mount's connection, as /proc shows it beside each /dev/fuse.
TEST(LayerSetups, UndoWaitsForEachFuseServerToEnd) {
  if (!have_program("unshare") || !have_program("mkfs.ext2")) GTEST_SKIP() << "unshare or mkfs.ext2 not installed";
  const std::string dir = folder("server-end");
  const std::string image = copy_fixture("links.img", "server-end/ev.img"), ext = dir + "/ext.img";
  ASSERT_FALSE(image.empty());
  std::vector<process_mark> servers;
  std::string loop_device, loop_backing;
  {
    layer_stack setup, loop_setup;
    if (!mount_ntfs(setup, image, dir + "/n") ||
        !setup.mount("bindfs " + quote(dir + "/n") + " " + quote(dir + "/b"), dir + "/b"))
      GTEST_SKIP() << setup.why();
    if (!loop_setup.step("truncate -s 4M " + quote(ext) + " && mkfs.ext2 -q -F " + quote(ext)) ||
        !loop_setup.mount("mount -o loop " + quote(ext) + " " + quote(dir + "/e"), dir + "/e"))
      GTEST_SKIP() << loop_setup.why();
    for (const std::string& at : {dir + "/n", dir + "/b"}) {
      const std::vector<process_mark> found = fuse_servers_of(fuse_connection_at(at));
      ASSERT_EQ(found.size(), 1u) << at;
      ASSERT_FALSE(found[0].start.empty()) << at;
      servers.push_back(found[0]);
    }
    EXPECT_EQ(read_whole("/proc/" + servers[0].pid + "/comm"), "ntfs-3g\n");
    EXPECT_EQ(read_whole("/proc/" + servers[1].pid + "/comm"), "bindfs\n");
    EXPECT_EQ(fuse_connection_at(dir), 0u) << "the scratch folder is no FUSE mount";
    autoclear_loop_at(dir + "/e", loop_device, loop_backing);
    ASSERT_FALSE(loop_device.empty());
    EXPECT_EQ(loop_backing, ext);
    std::string ignored;
    ASSERT_EQ(run_command("unshare -m --propagation private sleep 2 >/dev/null 2>&1 </dev/null &", ignored), 0);
    loop_setup.undo_all();
    std::string now;
    std::getline(std::ifstream("/sys/dev/block/" + loop_device + "/loop/backing_file"), now);
    EXPECT_NE(now, loop_backing) << loop_device << " still attached";
  }
  for (const process_mark& s : servers) EXPECT_NE(process_start(s.pid), s.start) << s.pid << " still runs";
}

// A namespace that lets go of the other mounts drops only its own copies,
// and says nothing on the standard output it shares with the run it
// starts: a davfs2 mount of the host, whose unmount helper would end its
// server and say so, stays up and keeps its files.
TEST(LayerSetups, LettingGoOfOtherMountsLeavesTheHostsAndSaysNothing) {
  if (!have_program("unshare")) GTEST_SKIP() << "unshare not installed";
  const std::string dir = folder("let-go"), served = folder("let-go/served");
  std::ofstream(served + "/kept.txt") << "kept\n";
  rclone_served dav("webdav", dir + "/dav", served);
  if (!dav.mount_davfs(dir + "/dv")) GTEST_SKIP() << dav.why();
  ASSERT_EQ(read_whole(dir + "/dv/kept.txt"), "kept\n");
  const std::string inner = dir + "/inner";
  std::string said;
  // Bounded: umount.davfs waits for a server that does not end.
  ASSERT_EQ(run_command("timeout 20 unshare -m --propagation private sh -c " +
                            quote(let_go_of_other_mounts({inner}) + "grep -c ' " + dir + "/dv ' /proc/self/mountinfo") +
                            " 2>&1",
                        said),
            1) << said;
  EXPECT_EQ(said, "0\n") << "the copy is gone, and nothing else is said";
  EXPECT_TRUE(layer_stack::is_mount_point(dir + "/dv"));
  EXPECT_EQ(read_whole(dir + "/dv/kept.txt"), "kept\n");
}

// Standard error appended to a log on rclone without its cache, which
// cannot append to a file it did not make anew and takes about a second to
// refuse each write: the run goes on at its own speed once a status line
// failed, and its listing and status are those of the same run whose log
// is on the local disk. A run that tried each status line again would take
// minutes and be cut off after one. Only quor's standard error goes to the
// log: timeout's own would fail its exit status as the share refuses it.
TEST(LayerSetups, StandardErrorThatFailsOnAShareDoesNotSlowTheRun) {
  const std::string dir = folder("failing-log"), cases = folder("failing-log/case");
  pass_through view("rclone", ":local:" + cases, dir + "/c");
  if (!view.ok()) GTEST_SKIP() << view.why();
  const std::string image = fixture("links.img");
  ASSERT_FALSE(image.empty());
  auto run = [&](const std::string& log, std::string& listing) {
    std::string said;
    const std::string out = dir + "/listing.csv";
    // The log is made through the mount first, as an earlier run made it.
    if (run_command("cd " + quote(dir) + " && echo 'earlier log' > " + quote(log) + " && timeout 60 sh -c " +
                        quote("exec \"$@\" 2>>" + quote(log)) + " sh " + quote(quor_exe()) + " -image " +
                        quote(image) + " -all -csv >" + quote(out) + " </dev/null; echo $?",
                    said) != 0)
      return -1;
    listing = read_whole(out);
    return std::atoi(said.c_str());
  };
  std::string listed, listed_locally;
  const int local = run("local.log", listed_locally);
  ASSERT_EQ(local, 0);
  ASSERT_NE(read_whole(dir + "/local.log").find("analyzing entry"), std::string::npos) << "no status line to fail";
  const auto start = std::chrono::steady_clock::now();
  const int on_share = run("c/run.log", listed);
  const auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  // timeout ends a run after a minute with 124.
  EXPECT_EQ(on_share, local) << "after " << took.count() << " s";
  EXPECT_NE(comparable(listed_locally).find("deep.txt"), std::string::npos);
  EXPECT_EQ(first_difference(comparable(listed), comparable(listed_locally)), "");
}

// A source read through a layer that cannot be told (a share named only by
// its server, a WebDAV remote, root's ewfmount or xmount view read by
// another user, a view whose server a PID namespace, a user namespace or a
// sandbox hides) keeps no stream on the local disk from the run, nor from a
// case store kept in a file that can hold no source: an ext4 in a file
// mounted through a loop device, an overlay whose upper layer lies on such
// an ext4 (a live system's persistence file), an encfs case folder.
TEST(LayerSetups, StreamsBesideASourceReadThroughALayerThatCannotBeToldAreWritten) {
  if (::geteuid() != 0) GTEST_SKIP() << "the set-ups need root";
  const std::string dir = folder("untold-source");
  // nobody reaches the view and the local files.
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  folder("untold-source/cases");
  ASSERT_FALSE(copy_fixture("sample.img", "untold-source/cases/sample.img").empty());
  const std::string local = folder("untold-source/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  // Where each run's streams go, the first `reach` of the stores: runs by
  // another user or in a sandbox write on the local disk only; one in a PID
  // namespace of its own sees no server of the encrypted folder and no line
  // for the overlay the shell opened outside it, and goes no further than
  // the ext4 in a file.
  struct run {
    quor_call call;
    size_t reach;
  };
  std::vector<run> runs;
  std::string skipped;
  ssh_share ssh(dir + "/sshd", dir + "/cases");
  if (ssh.ok() && share_start_folder(ssh, dir + "/cases", dir + "/s")) {
    runs.push_back({{"read through sshfs named by its server", dir, {"-image", "s/sample.img", "-all", "-csv"}, ""},
                    4});
  } else {
    skipped += " sshfs: " + ssh.why();
  }
  rclone_served dav("webdav", dir + "/dav", dir + "/cases");
  if (dav.mount_webdav(dir + "/rm", "full")) {
    runs.push_back({{"read through a WebDAV remote", dir, {"-image", "rm/sample.img", "-all", "-csv"}, ""}, 4});
  } else {
    skipped += " WebDAV: " + dav.why();
  }
  const std::vector<std::string> ewf1 = {"-image", "ma/ewf1", "-all", "-csv"};
  ewf_view ewf(dir + "/ewf", fixture("sample.img"));
  if (ewf.ok() && ewf.mount("ewfmount -X allow_other " + quote(ewf.e01) + " " + quote(dir + "/ma"), dir + "/ma")) {
    runs.push_back({{"root's ewfmount read by nobody", dir, ewf1, "", as_nobody()}, 1});
    if (have_program("unshare")) {
      runs.push_back({{"ewfmount read from a PID namespace of its own", dir, ewf1, "", own_pid_namespace(dir)}, 2});
      // The user namespace's copies of the host's mounts cannot be let go
      // of from inside it: they are let go of in a mount namespace first.
      runs.push_back({{"ewfmount read from a user namespace of its own", dir, ewf1, "",
                       "unshare -m --propagation private sh -c " +
                           shell_word(let_go_of_other_mounts({dir}) + "exec unshare -Urm \"$@\"") + " sh "},
                      1});
    }
    if (have_program("bwrap"))
      runs.push_back({{"ewfmount read in a sandbox of its own PID namespace", dir, ewf1, "",
                       "bwrap --bind / / --dev /dev --proc /proc --unshare-pid "},
                      1});
  } else {
    skipped += " ewfmount: " + ewf.why();
  }
  // xmount opens its view to every user.
  xmount_view by_xmount("ewf", {ewf.e01}, dir + "/mx");
  if (ewf.ok() && by_xmount.ok()) {
    const std::vector<std::string> view = {"-image", by_xmount.view, "-all", "-csv"};
    runs.push_back({{"root's xmount view read by nobody", dir, view, "", as_nobody()}, 1});
    if (have_program("unshare"))
      runs.push_back(
          {{"xmount's view read from a PID namespace of its own", dir, view, "", own_pid_namespace(dir)}, 2});
  } else {
    skipped += " xmount: " + by_xmount.why();
  }
  std::vector<std::string> stores = {local, "", "", ""};
  layer_stack in_files;
  if (file_store(in_files, dir + "/C.ext4", dir + "/C")) stores[1] = dir + "/C";
  const std::string overlay =
      "lowerdir=" + folder("untold-source/lower") + ",upperdir=" + dir + "/pm/U,workdir=" + dir + "/pm/W";
  if (file_store(in_files, dir + "/P.ext4", dir + "/pm") &&
      in_files.step("mkdir " + quote(dir + "/pm/U") + " " + quote(dir + "/pm/W")) &&
      in_files.mount("mount -t overlay overlay -o " + quote(overlay) + " " + quote(dir + "/O"), dir + "/O") &&
      in_files.step("chmod 0777 " + quote(dir + "/O"))) {
    stores[2] = dir + "/O";
  } else {
    skipped += " a file system in a file: " + in_files.why();
  }
  encrypted_folder encfs("encfs", dir + "/crypt", "");
  if (encfs.ok()) {
    stores[3] = encfs.at;
  } else {
    skipped += " encfs: " + encfs.why();
  }
  for (const run& r : runs)
    for (size_t store = 0; store < r.reach; ++store)
      for (const stream_form& f : stream_forms())
        if (!stores[store].empty()) expect_written(r.call, f, stores[store], local + "/reference");
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A source read over sshfs may be any file at all, so no stream goes into a
// case store kept in a file whose head shows what a source could be: an
// ext4 in a file whose first sector ends in the boot mark of an MBR takes
// no stream, and what its files held stays. One whose boot block begins as
// a zip does is an archive, never a disk, and takes every stream as the
// local disk does.
TEST(LayerSetups, StreamsIntoAStoreInAFileWhoseHeadCouldBeASourceAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "the set-ups need root";
  if (!have_program("findmnt")) GTEST_SKIP() << "findmnt not installed";
  const std::string dir = folder("untold-head");
  folder("untold-head/cases");
  ASSERT_FALSE(copy_fixture("sample.img", "untold-head/cases/sample.img").empty());
  const std::string local = folder("untold-head/local");
  ssh_share ssh(dir + "/sshd", dir + "/cases");
  if (!ssh.ok() || !share_start_folder(ssh, dir + "/cases", dir + "/s")) GTEST_SKIP() << "sshfs: " << ssh.why();
  layer_stack in_files;
  if (!file_store(in_files, dir + "/M.ext4", dir + "/M", "\\125\\252", 510) ||
      !file_store(in_files, dir + "/Z.ext4", dir + "/Z", "PK\\003\\004", 0))
    GTEST_SKIP() << "a file system in a file: " << in_files.why();
  // Each store is the ext4 it was made as, mounted, and its file's head is
  // what the row says.
  struct store {
    std::string file, at, head;
    size_t head_at;
  };
  for (const store& s : {store{dir + "/M.ext4", dir + "/M", "\x55\xAA", 510},
                         store{dir + "/Z.ext4", dir + "/Z", "PK\x03\x04", 0}}) {
    std::string type;
    ASSERT_EQ(run_command("findmnt -n -o FSTYPE " + quote(s.at), type), 0) << s.at;
    EXPECT_EQ(type, "ext4\n") << s.at;
    EXPECT_EQ(read_whole(s.file).substr(s.head_at, s.head.size()), s.head) << s.file;
  }
  const quor_call call = {"read through sshfs named by its server", dir, {"-image", "s/sample.img", "-all", "-csv"},
                          ""};
  // The shell opens a new file before the run starts: refused, it is left
  // as the shell made it, empty. Where both streams go into the store, the
  // refusal has nowhere to be said, and the status says it.
  for (const stream_form& f : stream_forms()) {
    const std::string file = dir + "/M/" + f.name,
                      how = call.how + ", " + f.how + " into an ext4 whose file bears an MBR's boot mark";
    ::unlink(file.c_str());
    if (!f.before.empty()) std::ofstream(file) << f.before;
    quor_call c = call;
    c.redirect = with_file(f.form, file);
    std::string said;
    EXPECT_EQ(run_call(c, said), kFailed) << how << ": " << said.substr(0, 300);
    if (f.form.find("2>&1") == std::string::npos) {
      EXPECT_NE(said.find("refused to write: "), std::string::npos) << how << ": " << said.substr(0, 300);
      EXPECT_NE(said.find("it may be the evidence " + dir + "/s/sample.img: "), std::string::npos)
          << how << ": " << said.substr(0, 300);
    }
    EXPECT_TRUE(read_whole(file) == f.before) << how << ": the run wrote into the store";
  }
  for (const stream_form& f : stream_forms())
    expect_written({call.how + ", into an ext4 whose file begins as a zip", dir, call.args, ""}, f, dir + "/Z",
                   local + "/" + f.name);
}

// Root's ntfs-3g mount of the image, open to every user: quor run by
// another user, who cannot see what the server holds (its /proc, or a /proc
// that hides other users' processes), or in a PID namespace of its own,
// still finds the image named in the mount's table entry, and refuses a
// stream into the mount; a log beside it takes the listing. fls lists the
// image as before once unmounted.
TEST(LayerSetups, StreamsIntoAnotherUsersMountOfTheSourceAreRefused) {
  if (!have_program("fls") || !have_program("setpriv") || !have_program("unshare"))
    GTEST_SKIP() << "fls, setpriv or unshare not installed";
  const std::string dir = folder("by-nobody");
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  const std::string image = copy_fixture("links.img", "by-nobody/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::string put_why;
  if (!put_existing(image, dir + "/n", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  std::ofstream(dir + "/case.csv") << "earlier listing\n";
  ASSERT_EQ(::chmod((dir + "/case.csv").c_str(), 0666), 0);
  {
    layer_stack setup;
    ASSERT_TRUE(
        setup.need({"ntfs-3g"}) &&
        setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(dir + "/n"), dir + "/n", image))
        << setup.why();
    const std::vector<std::string> args = {"-image", "ev.img", "-all", "-csv"};
    const std::string hidden = hidden_processes(dir) + as_nobody();
    expect_refused(
        {{"appended to a file of the mount", dir, args, ">>n/existing.txt", as_nobody()},
         {"standard error appended there", dir, args, "2>>n/existing.txt", as_nobody()},
         {"appended there, other users' processes hidden", dir, args, ">>n/existing.txt", hidden},
         {"standard error appended there, other users' processes hidden", dir, args, "2>>n/existing.txt", hidden},
         {"appended there from a PID namespace of its own", dir, args, ">>n/existing.txt", own_pid_namespace(dir)},
         {"standard error appended there from a PID namespace of its own", dir, args, "2>>n/existing.txt",
          own_pid_namespace(dir)}},
        // The image itself is judged once unmounted (fls below): ntfs-3g,
        // mounted to be written, may write its own metadata at any moment,
        // and a digest taken or a copy put back under it is no oracle.
        {dir + "/n/existing.txt"});
    expect_listed({"appended to the log beside", dir, args, ">>case.csv", hidden}, dir + "/case.csv", "deep.txt");
    expect_listed({"appended to the log beside from a PID namespace of its own", dir, args, ">>case.csv",
                   own_pid_namespace(dir)},
                  dir + "/case.csv", "deep.txt");
    EXPECT_EQ(read_whole(dir + "/case.csv").compare(0, 16, "earlier listing\n"), 0);
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
}

// Root attaches the NTFS partition of a disk image (at sector 63) as a loop
// device and mounts it for every user; the examiner, who cannot open the
// device, reads the disk at the partition's offset. The file behind the
// device is the disk he reads, so a stream into the volume and a copy
// folder there are refused, for him as for root, and a listing beside is
// written. fls and icat of the disk show the volume as it was.
TEST(LayerSetups, LoopDeviceAnotherUserAttachedIsRefused) {
  if (!have_program("fls") || !have_program("ifind") || !have_program("icat") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, ifind, icat or setpriv not installed";
  const std::string dir = folder("loop-part");
  partition_on_loop part(dir, fixture("links.img"));
  if (!part.ok()) GTEST_SKIP() << part.why();
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(part.disk.c_str(), 0644), 0);
  const std::string local = folder("loop-part/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  auto volume = [&] {
    std::string out;
    return run_command("fls -r -p -o 63 " + quote(part.disk) + " 2>&1", out) == 0 ? out : "fls failed: " + out;
  };
  const std::string sum = md5_of_file(part.disk), listed = volume();
  std::string entry;
  ASSERT_EQ(run_command("ifind -o 63 -n /NTFS.TXT " + quote(part.disk), entry), 0);
  while (!entry.empty() && entry.back() == '\n') entry.pop_back();
  const std::vector<std::string> args = {"-image", "disk.dd", "-offset", "0x7e00", "-all", "-csv"};
  std::vector<std::string> copies = args;
  copies.insert(copies.end(), {"-action_copy_files", "ld/newdir"});
  for (const std::string& who : {as_nobody(), std::string()}) {
    const std::string by = who.empty() ? "root: " : "nobody: ";
    expect_refused({{by + "appended to a file of the volume", dir, args, ">>ld/NTFS.TXT", who},
                    {by + "standard error appended there", dir, args, "2>>ld/NTFS.TXT", who},
                    {by + "a copy folder in the volume", dir, copies, "", who}},
                   {dir + "/ld/NTFS.TXT"}, {dir + "/ld/newdir"}, "disk.dd through the loop device " + part.device);
  }
  expect_listed({"nobody: a listing beside", dir, args, ">local/listing.csv", as_nobody()}, local + "/listing.csv",
                "deep.txt");
  part.undo_all();
  EXPECT_EQ(volume(), listed);
  std::string text;
  EXPECT_EQ(run_command("icat -o 63 " + quote(part.disk) + " " + entry, text), 0);
  EXPECT_EQ(text, "already there\n");
  EXPECT_EQ(md5_of_file(part.disk), sum);
}

// Root's ext2 over a loop device: by `mount -o loop` of the very file read
// as the source (which opens as no NTFS volume), and over a file deleted
// since it was attached, which the examiner, who cannot open the device,
// cannot tell from any file his run may read. Streams into the first are
// refused, his as root's, and his into the second, and nothing of a run
// reaches the file system: its image, but for the superblock each mount
// rewrites, is as it was, and e2fsck finds it clean.
TEST(LayerSetups, ExtFileSystemOnALoopDeviceRootAttachedIsRefused) {
  if (!have_program("setpriv") || !have_program("findmnt")) GTEST_SKIP() << "setpriv or findmnt not installed";
  const std::string dir = folder("loop-ext");
  open_to_nobody({dir});
  const std::string image = dir + "/ext.img", local = folder("loop-ext/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("sample.img", "loop-ext/sample.img").empty());
  ASSERT_EQ(::chmod((dir + "/sample.img").c_str(), 0644), 0);
  const std::string mount = "mount -o loop,noatime " + quote(image) + " " + quote(dir + "/km");
  {
    layer_stack first;
    if (!first.need({"mkfs.ext2", "e2fsck", "debugfs", "losetup"}) ||
        !first.step("truncate -s 4M " + quote(image) + " && mkfs.ext2 -q -F " + quote(image) + " && chmod 0644 " +
                    quote(image)) ||
        !first.mount(mount, dir + "/km") ||
        !first.step("echo 'already there' > " + quote(dir + "/km/notes.txt") + " && chmod 0666 " +
                    quote(dir + "/km/notes.txt")))
      GTEST_SKIP() << first.why();
  }
  const std::string sum = ext_image_sum(image);
  {
    layer_stack setup;
    std::string device;
    ASSERT_TRUE(setup.mount(mount, dir + "/km") && setup.ask("findmnt -n -o SOURCE " + quote(dir + "/km"), device))
        << setup.why();
    const std::vector<std::string> args = {"-image", "ext.img", "-all", "-csv"};
    for (const std::string& who : {as_nobody(), std::string()}) {
      const std::string by = who.empty() ? "root: " : "nobody: ";
      expect_refused({{by + "appended to a file of the mounted source", dir, args, ">>km/notes.txt", who},
                      {by + "standard error appended there", dir, args, "2>>km/notes.txt", who}},
                     {dir + "/km/notes.txt"}, {}, "ext.img through the loop device " + device);
    }
    // A second file system, whose file is gone, beside the same run.
    const std::string gone = dir + "/gone.img";
    ASSERT_TRUE(setup.step("truncate -s 4M " + quote(gone) + " && mkfs.ext2 -q -F " + quote(gone)));
    const std::string loop = setup.loop(gone);
    ASSERT_TRUE(setup.mount("mount -o noatime " + quote(loop) + " " + quote(dir + "/kg"), dir + "/kg") &&
                setup.step("echo 'already there' > " + quote(dir + "/kg/notes.txt") + " && chmod 0666 " +
                           quote(dir + "/kg/notes.txt") + " && rm " + quote(gone)))
        << setup.why();
    // Nothing answers for it while no volume is open; one that opens
    // answers for its own files, and that file system holds none of them.
    const std::vector<std::string> opens = {"-image", "sample.img", "-all", "-csv"};
    expect_refused({{"nobody: appended to a file system whose file was deleted, the source no volume", dir,
                     {"-image", "ext.img", "-all", "-csv"}, ">>kg/notes.txt", as_nobody()}},
                   {dir + "/kg/notes.txt"}, {}, "write the listing elsewhere");
    expect_listed({"nobody: appended to a file system whose file was deleted", dir, opens, ">>kg/notes.txt",
                   as_nobody()},
                  dir + "/kg/notes.txt");
    expect_listed({"nobody: a listing beside", dir, opens, ">local/listing.csv", as_nobody()}, local + "/listing.csv");
  }
  EXPECT_EQ(ext_image_sum(image), sum);
  std::string text;
  EXPECT_EQ(run_command("debugfs -R 'cat notes.txt' " + quote(image) + " 2>/dev/null", text), 0);
  EXPECT_EQ(text, "already there\n");
  EXPECT_EQ(run_command("e2fsck -n -f " + quote(image) + " >/dev/null 2>&1", text), 0);
}

// The shell text that runs the command after it (this test's copy of quor)
// in a bubblewrap sandbox of its own PID namespace holding the system's
// programs, the folder `evidence` read-only at /evidence and the folder
// `case_dir` at /case, started in /case with `redirect` made inside: no
// host path of either folder is there, nor /sys.
std::string sandbox_of_its_own(const std::string& evidence, const std::string& case_dir, const std::string& redirect) {
  // /lib32 holds the loader of a 32-bit build.
  return "bwrap --ro-bind /usr /usr --symlink usr/lib /lib --symlink usr/lib64 /lib64 --symlink usr/lib32 /lib32"
         " --symlink usr/bin /bin --proc /proc --dev /dev --ro-bind " +
         quote(quor_exe()) + " " + quote(quor_exe()) + " --ro-bind " + quote(evidence) + " /evidence --bind " +
         quote(case_dir) + " /case --unshare-pid --chdir /case sh -c " + quote("exec \"$@\" " + redirect) + " sh ";
}

// An ntfs-3g mount of the image in the case folder, the run in a sandbox of
// its own PID namespace that sees the image read-only elsewhere: the mount
// table names a host path that is not there, and the server is out of
// sight, so a stream into the mount is refused, and one into the case
// folder beside is written. The image is as it was.
TEST(LayerSetups, StreamIntoAMountSeenFromASandboxOfItsOwnIsRefused) {
  if (!have_program("bwrap") || !have_program("fls")) GTEST_SKIP() << "bwrap or fls not installed";
  const std::string dir = folder("sandbox"), ev = folder("sandbox/ev"), case_dir = folder("sandbox/case");
  const std::string image = copy_fixture("links.img", "sandbox/ev/nn.img");
  ASSERT_FALSE(image.empty());
  std::string put_why;
  if (!put_existing(image, case_dir + "/mnt", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string sum = md5_of_file(image), listed = fls_of(image);
  {
    layer_stack setup;
    ASSERT_TRUE(mount_ntfs(setup, image, case_dir + "/mnt")) << setup.why();
    const std::vector<std::string> args = {"-image", "/evidence/nn.img", "-all", "-csv"};
    expect_listed({"a listing in the case folder", dir, args, "", sandbox_of_its_own(ev, case_dir, ">/case/l.csv")},
                  case_dir + "/l.csv", "deep.txt");
    expect_refused({{"appended to a file of the mount", dir, args, "",
                     sandbox_of_its_own(ev, case_dir, ">>/case/mnt/existing.txt")},
                    {"standard error appended there", dir, args, "",
                     sandbox_of_its_own(ev, case_dir, "2>>/case/mnt/existing.txt")}},
                   {case_dir + "/mnt/existing.txt"}, {}, "it is \\existing.txt of the evidence /evidence/nn.img (record ");
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  EXPECT_EQ(md5_of_file(image), sum);
}

// A sandbox whose own root is a FUSE view (as a rootless container's
// fuse-overlayfs is), its server out of sight: what the run stands on is
// its own to trust, so the copy folder is made there and the listing
// written, as on the host.
TEST(LayerSetups, CopyFolderOnASandboxsOwnFuseRootIsMade) {
  if (!have_program("bwrap") || !have_program("bindfs")) GTEST_SKIP() << "bwrap or bindfs not installed";
  const std::string dir = folder("own-root");
  ASSERT_FALSE(copy_fixture("sample.img", "own-root/sample.img").empty());
  layer_stack view;
  if (!view.mount("bindfs / " + quote(dir + "/rv"), dir + "/rv")) GTEST_SKIP() << view.why();
  const std::string inside = "bwrap --bind " + quote(dir + "/rv") + " / --proc /proc --dev /dev --unshare-pid sh -c " +
                             quote("exec \"$@\" >" + dir + "/l.csv") + " sh ";
  expect_listed({"a copy folder on the sandbox's root", dir,
                 {"-image", dir + "/sample.img", "-all", "-csv", "-action_copy_files", dir + "/copies"}, "", inside},
                dir + "/l.csv");
  EXPECT_TRUE(exists(dir + "/copies"));
}

// rclone's mount of a remote its configuration file names, open to every
// user: a local folder (type local), or a union of two (type union). The
// table entry names the remote, no folder, and rclone numbers files its own
// way. The store holds root's ntfs-3g mount of the image: a stream, root's
// or nobody's, into the mount's existing.txt through rclone is the volume's
// own file by its names, and is refused. fls of the image and icat of the
// file show them as they were.
TEST(LayerSetups, StreamsThroughRcloneOfAConfiguredLocalRemoteAreRefused) {
  if (!have_program("setpriv") || !have_program("fls") || !have_program("ifind") || !have_program("icat"))
    GTEST_SKIP() << "setpriv, fls, ifind or icat not installed";
  const std::string dir = folder("rclone-conf"), store = folder("rclone-conf/store"),
                    other = folder("rclone-conf/other");
  open_to_nobody({dir, store, other});
  const std::string image = copy_fixture("sample.img", "rclone-conf/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::string put_why, entry;
  if (!put_existing(image, store + "/n", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  ASSERT_EQ(run_command("ifind -n /existing.txt " + quote(image), entry), 0);
  const struct {
    std::string kind, config, remote;
  } remotes[] = {{"local", "[remote]\ntype = local\n", "remote:" + store},
                 {"union", "[remote]\ntype = union\nupstreams = " + store + " " + other + "\n", "remote:"}};
  for (const auto& r : remotes) {
    const std::string config = dir + "/" + r.kind + ".conf", at = dir + "/r-" + r.kind;
    std::ofstream(config) << r.config;
    {
      layer_stack setup;
      if (!setup.need({"ntfs-3g", "rclone"}) ||
          !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(store + "/n"), store + "/n",
                       image) ||
          // Each file written back on its close, as a store that commits
          // at once: what a run wrote would reach the image in its time.
          !setup.mount("rclone mount --config " + quote(config) + " " + quote(r.remote) + " " + quote(at) +
                           " --allow-other --vfs-cache-mode writes --vfs-write-back 0s --cache-dir " +
                           quote(at + ".cache") + " --daemon",
                       at))
        GTEST_SKIP() << r.kind << ": " << setup.why();
      const std::string into = ">>" + quote(at + "/n/existing.txt");
      const std::vector<std::string> args = {"-image", "ev.img", "-all", "-csv"};
      expect_refused({{r.kind + ": root's listing appended to a file of the mount", dir, args, into},
                      {r.kind + ": nobody's listing appended there", dir, args, into, as_nobody()}},
                     {store + "/n/existing.txt"}, {},
                     "/n/existing.txt: it is stored in the evidence ev.img through the FUSE mount at " + store + "/n ");
    }
    ASSERT_TRUE(wait_until_unheld(image));
    EXPECT_EQ(fls_of(image), listed) << r.kind;
    std::string text;
    EXPECT_EQ(run_command("icat " + quote(image) + " " + entry, text), 0);
    EXPECT_EQ(text, "already there\n") << r.kind;
  }
}

// A sandbox whose root is root's pass-through view of the host's (bindfs
// of /, open to every user), with the host's ntfs-3g mount of the image
// under it: the table inside shows neither that mount nor its server, and
// bindfs shows the mount's files with their record numbers and creation
// times. A stream into a file of the mount, root's or nobody's, with or
// without a PID namespace of its own, is the volume's existing.txt:
// refused. fls lists the image as before, and the file holds what it held.
TEST(LayerSetups, StreamIntoAMountUnderASandboxsPassThroughRootIsRefused) {
  if (!have_program("bwrap") || !have_program("setpriv") || !have_program("fls") || !have_program("ifind") ||
      !have_program("icat"))
    GTEST_SKIP() << "bwrap, setpriv, fls, ifind or icat not installed";
  const std::string dir = folder("root-view");
  open_to_nobody({dir});
  const std::string image = copy_fixture("links.img", "root-view/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  std::string put_why, entry, text;
  if (!put_existing(image, dir + "/n", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  const std::string listed = fls_of(image);
  ASSERT_EQ(run_command("ifind -n /existing.txt " + quote(image), entry), 0);
  {
    layer_stack setup;
    if (!setup.need({"ntfs-3g", "bindfs"}) ||
        !setup.mount("ntfs-3g -o allow_other,noatime " + quote(image) + " " + quote(dir + "/n"), dir + "/n", image) ||
        !setup.mount("bindfs -o allow_other / " + quote(dir + "/rootv"), dir + "/rootv"))
      GTEST_SKIP() << setup.why();
    const std::string said = "refused to write: " + dir + "/n/existing.txt: it is ";
    for (const std::string pids : {"", "--unshare-pid "})
      for (const std::string& who : {std::string(), as_nobody()}) {
        const std::string how = std::string(who.empty() ? "root" : "nobody") +
                                (pids.empty() ? "" : ", a PID namespace of its own") +
                                ": appended to a file of the mount";
        // Root in the host's PID namespace sees the sandbox root's server
        // hold files only to read (the sandbox's programs), which a view
        // writes anew whole, and says so first.
        const bool server_seen = who.empty() && pids.empty();
        expect_refused({{how, dir, {"-image", "ev.img", "-all", "-csv"}, "",
                         "bwrap --bind " + quote(dir + "/rootv") + " / --dev /dev --proc /proc " + pids + "--chdir " +
                             quote(dir) + " " + who + "sh -c " + quote("exec \"$@\" >>n/existing.txt") + " sh "}},
                       {dir + "/n/existing.txt"}, {},
                       said + (server_seen
                                   ? "stored in what holds the evidence ev.img through the FUSE mount at / (fuse)"
                                   : "\\existing.txt of the evidence " + image + " (record "));
      }
  }
  ASSERT_TRUE(wait_until_unheld(image));
  EXPECT_EQ(fls_of(image), listed);
  EXPECT_EQ(run_command("icat " + quote(image) + " " + entry, text), 0);
  EXPECT_EQ(text, "already there\n");
}

// Root's mounts, open to every user, whose table entry leads to no file,
// or to another: ntfs-3g's name cut at a comma, an image renamed after it
// was mounted (another file put under its old name), a name relative to
// the folder fuse2fs was started in. A run of another user, or of root in
// a PID namespace of its own, sees no server and cannot tell what the mount
// is stored on: a stream into it is refused, and nothing of the run reaches
// the image (ext2's but for its superblock).
TEST(LayerSetups, StreamsIntoAMountWhoseTableNameLeadsNowhereAreRefused) {
  if (!have_program("setpriv") || !have_program("unshare")) GTEST_SKIP() << "setpriv or unshare not installed";
  const std::string dir = folder("nowhere"), ev = folder("nowhere/ev");
  folder("nowhere/evE");
  open_to_nobody({dir, ev, dir + "/evE"});
  const std::string local = folder("nowhere/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  // Each image made as `file`, mounted by `server` at `at`; then `then`
  // runs, leaving it as `image`.
  const struct {
    std::string how, file, server, at, then, image, source, kept;
  } mounts[] = {
      {"ntfs-3g of a name with a comma", "ev/case,1.img", "ntfs-3g -o allow_other,noatime 'ev/case,1.img' n", "n", "",
       "ev/case,1.img", "ev/case,1.img", "n/existing.txt"},
      {"ntfs-3g of an image renamed since", "ev/r.img", "ntfs-3g -o allow_other,noatime ev/r.img n2", "n2",
       "mv ev/r.img ev/r2.img", "ev/r2.img", "ev/r2.img", "n2/existing.txt"},
      {"ntfs-3g of an image renamed since, another file under its name", "ev/d.img",
       "ntfs-3g -o allow_other,noatime ev/d.img n3", "n3",
       "mv ev/d.img ev/d-real.img && echo 'another file' > ev/d.img && chmod 0644 ev/d.img", "ev/d-real.img",
       "ev/d-real.img", "n3/existing.txt"},
      {"fuse2fs of a relative name", "evE/ext.img", "fuse2fs -o allow_other evE/ext.img fm", "fm", "", "evE/ext.img",
       dir + "/evE/ext.img", "fm/notes.txt"},
  };
  std::string skipped;
  for (const auto& m : mounts) {
    const bool ext = m.server.compare(0, 7, "fuse2fs") == 0;
    const std::string file = dir + "/" + m.file, image = dir + "/" + m.image, kept = dir + "/" + m.kept;
    const std::string in = "cd " + quote(dir) + " && ";
    auto sum = [ext](const std::string& f) { return ext ? ext_image_sum(f) : md5_of_file(f); };
    {
      layer_stack first;
      first.need({ext ? "fuse2fs" : "ntfs-3g", "mkfs.ext2"});
      first.step(ext ? "truncate -s 4M " + quote(file) + " && mkfs.ext2 -q -F " + quote(file)
                     : "cp " + quote(fixture("links.img")) + " " + quote(file));
      if (!first.mount(in + m.server, dir + "/" + m.at, file) ||
          !first.step("echo 'already there' > " + quote(kept) + " && chmod 0666 " + quote(kept) + " && chmod 0644 " +
                      quote(file))) {
        skipped += " " + m.how + ": " + first.why();
        continue;
      }
    }
    const std::string before = sum(file);
    {
      layer_stack setup;
      ASSERT_TRUE(setup.mount(in + m.server, dir + "/" + m.at, file) && (m.then.empty() || setup.step(in + m.then)))
          << setup.why();
      const std::vector<std::string> args = {"-image", m.source, "-all", "-csv"};
      expect_refused(
          {{m.how + ": nobody's listing appended to a file of the mount", dir, args, ">>" + m.kept, as_nobody()},
           {m.how + ": nobody's standard error appended there", dir, args, "2>>" + m.kept, as_nobody()},
           {m.how + ": appended there from a PID namespace of its own", dir, args, ">>" + m.kept,
            own_pid_namespace(dir)}},
          {kept}, {},
          // The volume the run opened tells its own file; an ext2 opens none.
          ext ? "write the listing elsewhere" : "it is \\existing.txt of the evidence " + image + " (record ");
      if (!ext)
        expect_listed({m.how + ": nobody's listing beside", dir, args, ">local/listing.csv", as_nobody()},
                      local + "/listing.csv", "deep.txt");
    }
    ASSERT_TRUE(wait_until_unheld(image));
    EXPECT_EQ(sum(image), before) << m.how;
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// Root's bindfs of a case folder, open to every user and showing its files
// as the examiner's: the folder it names is on the local disk, so every
// stream of the examiner's run of a local image is written there byte for
// byte as onto a local file.
TEST(LayerSetups, StreamsOntoRootsBindfsOfACaseFolderAreWrittenForAnotherUser) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("bound");
  open_to_nobody({dir});
  ASSERT_FALSE(copy_fixture("sample.img", "bound/sample.img").empty());
  ASSERT_EQ(::chmod((dir + "/sample.img").c_str(), 0644), 0);
  const std::string local = folder("bound/local");
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  pass_through view("bindfs", folder("bound/cases"), dir + "/b", false,
                    "-o allow_other --force-user=nobody --force-group=nogroup");
  if (!view.ok()) GTEST_SKIP() << view.why();
  for (const stream_form& f : stream_forms())
    expect_written({"root's bindfs, nobody's run", dir, {"-image", "sample.img", "-all", "-csv"}, "", as_nobody()}, f,
                   view.at, local + "/" + f.name);
}

// An examiner's NTFS case drive, root's ntfs-3g mount open to every user:
// a fresh one, and one whose root holds names and folders the source's root
// holds, its first folders under the source's numbers. Every NTFS root is
// record 5, but the creation times the mount shows are the drive's own: a
// stream of root's or nobody's run into the drive's root or a folder of
// it, directly or through bindfs, is written byte for byte as onto a local
// file.
TEST(LayerSetups, StreamsOntoAnNtfsCaseDriveAreWritten) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("case-drive"), local = folder("case-drive/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("sample.img", "case-drive/ev.img").empty());
  ASSERT_EQ(::chmod((dir + "/ev.img").c_str(), 0644), 0);
  std::string skipped;
  for (const bool like_sample : {false, true}) {
    const std::string name = like_sample ? "like" : "fresh", drive = dir + "/" + name + ".img",
                      at = dir + "/" + name;
    layer_stack setup;
    if (!ntfs_case_drive(setup, drive, at, like_sample) ||
        !setup.mount("ntfs-3g -o allow_other,noatime " + quote(drive) + " " + quote(at), at, drive) ||
        !setup.step("mkdir -p " + quote(at + "/Documents"))) {
      skipped += " " + name + ": " + setup.why();
      continue;
    }
    pass_through bound("bindfs", at, at + "-b", false, "-o allow_other");
    // A folder below the root first: the root above it shows the source
    // root's names alone, as long as no listing was left there.
    std::vector<std::string> folders = {at + "/Documents", at};
    if (bound.ok())
      folders.insert(folders.begin(), {bound.at + "/Documents", bound.at});
    else
      skipped += " bindfs over the " + name + " drive: " + bound.why();
    // First, while the root shows no name but those the source's root
    // holds, a file of one of those names.
    std::vector<stream_form> forms = stream_forms();
    if (like_sample)
      forms.insert(forms.begin(),
                   {"appended to the drive's file of a name the source's root holds", ">>@", "readme.txt", "text\n"});
    for (const std::string& into : folders) {
      for (const std::string& who : {std::string(), as_nobody()})
        for (const stream_form& f : forms)
          expect_written({name + " case drive, " + (who.empty() ? "root" : "nobody") + ", " + into, dir,
                          {"-image", "ev.img", "-all", "-csv"}, "", who},
                         f, into, local + "/" + f.name);
      for (const stream_form& f : stream_forms()) ::unlink((into + "/" + f.name).c_str());
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A source read through a share that cannot be told may be stored in any
// image on this machine: a stream into a file system stored in a file (an
// ntfs-3g mount of the image the share serves, or of a copy of it) is
// refused, even where the source never opens, and nothing of the run
// reaches either image, whichever way the share is named: by its server
// alone, by its server and this machine's folder, by its server and "/".
// A log on the local disk takes the listing.
TEST(LayerSetups, StreamIntoAMountedImageWhileTheSourceIsReadThroughAShareIsRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("share-and-image");
  const std::string ev = folder("share-and-image/ev");
  const std::string links = copy_fixture("links.img", "share-and-image/ev/links.img");
  ASSERT_FALSE(links.empty());
  std::string put_why;
  if (!put_existing(links, ev + "/nn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(links));
  const std::string copy = dir + "/copy.img";
  std::string ignored;
  ASSERT_EQ(run_command("cp " + quote(links) + " " + quote(copy), ignored), 0);
  const std::string listed = fls_of(links), copy_listed = fls_of(copy);
  std::string skipped;
  {
    ssh_share ssh(dir + "/sshd", ev);
    if (!ssh.ok() || !share_start_folder(ssh, ev, dir + "/s4")) GTEST_SKIP() << ssh.why();
    std::vector<std::string> shares = {"s4"};
    if (ssh.share(ev, dir + "/s5")) shares.push_back("s5");
    rclone_served sftp("sftp", dir + "/sftp", ev);
    if (sftp.mount_sftp(dir + "/s6")) shares.push_back("s6");
    if (!ssh.ok() || !sftp.ok()) skipped = ssh.why() + " " + sftp.why();
    layer_stack ntfs;
    ASSERT_TRUE(mount_ntfs(ntfs, links, ev + "/nn") && mount_ntfs(ntfs, copy, dir + "/nc")) << ntfs.why();
    for (const std::string& share : shares) {
      const std::vector<std::string> opens = {"-image", share + "/links.img", "-all", "-csv"};
      const std::vector<std::string> never = {"-image", share + "/links.img", "-offset", "0x100000", "-all"};
      expect_refused(
          {{share + ": appended to a file of the mounted image", dir, opens, ">>ev/nn/existing.txt"},
           {share + ": standard error appended there", dir, opens, "2>>ev/nn/existing.txt"},
           {share + ": appended there, the source never opening", dir, never, ">>ev/nn/existing.txt"},
           {share + ": standard error appended there, the source never opening", dir, never, "2>>ev/nn/existing.txt"},
           {share + ": appended to a file of the mounted copy", dir, opens, ">>nc/existing.txt"},
           {share + ": standard error appended to that file", dir, opens, "2>>nc/existing.txt"}},
          {links, ev + "/nn/existing.txt", copy, dir + "/nc/existing.txt"});
      std::ofstream(dir + "/case.csv") << "earlier listing\n";
      expect_listed({share + ": appended to the log beside", dir, opens, ">>case.csv"}, dir + "/case.csv", "deep.txt");
    }
  }
  ASSERT_TRUE(wait_until_unheld(links) && wait_until_unheld(copy));
  EXPECT_EQ(fls_of(links), listed);
  EXPECT_EQ(fls_of(copy), copy_listed);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// The check made before anything is written refuses a stream whose store
// cannot be told (a mount of another namespace) by itself: a source that
// never opens (a file of zeros) is never checked again, and what the run
// held would be let out at its end.
TEST(LayerSetups, StreamIntoAMountOfAnotherNamespaceIsRefusedBeforeTheSourceOpens) {
  in_another_namespace("otherns-zeros", [](const std::string& dir, const std::string&, const std::string& through) {
    std::ofstream(dir + "/zeros.img") << std::string(1 << 20, '\0');
    expect_refused({{"appended to a file of the other namespace's mount, the source a file of zeros",
                     dir,
                     {"-image", "zeros.img", "-all", "-csv"},
                     ">>" + quote(through + "/existing.txt")}},
                   {through + "/existing.txt"});
  });
}

// rclone over a local folder without a cache commits a file on the flush
// each close sends, and takes no write after: a run whose output waits in
// memory leaves the descriptors it was handed alone, so every byte the same
// run writes onto the local disk reaches the file there, with the run's
// status: the listing, a log, both into one file, and what tells the
// examiner how to run again (the -vmdk list to give, the -offset of the
// volume, the usage).
TEST(LayerSetups, HeldOutputReachesAStoreThatCommitsOnEveryClose) {
  const std::string dir = folder("commit");
  const std::string local = folder("commit/local");
  ASSERT_FALSE(copy_fixture("sample.img", "commit/sample.img").empty());
  folder("commit/chain");
  ASSERT_FALSE(copy_fixture("vmdk-child.vmdk", "commit/chain/child.vmdk").empty());
  pass_through view("rclone", folder("commit/store"), dir + "/m");
  if (!view.ok()) GTEST_SKIP() << view.why();
  const std::vector<std::string> listing = {"-image", "sample.img", "-all", "-csv"};
  const struct {
    quor_call call;
    stream_form form;
    int status;
    std::string shows;
  } runs[] = {
      {{"a listing", dir, listing, ""}, {"made", ">@", "x.csv", ""}, 0, "[root]\\Documents"},
      {{"a log", dir, listing, ""}, {"made", "2>@", "err.log", ""}, 0, "preping directories"},
      {{"a listing and its log", dir, listing, ""}, {"in one file", ">@ 2>&1", "x.txt", ""}, 0, "preping directories"},
      {{"no argument", dir, {}, ""}, {"with the usage", ">@ 2>&1", "u", ""}, 0, " [source of NTFS volume]"},
  };
  for (const auto& r : runs) {
    expect_written(r.call, r.form, view.at, local + "/" + r.form.name, r.status);
    EXPECT_NE(read_whole(view.at + "/" + r.form.name).find(r.shows), std::string::npos) << r.call.how;
  }
  // A run that opens no volume of its own writes there what it writes on the
  // local disk: no volume its source holds, nor any layer, ties the view to
  // the source.
  const quor_call unopened[] = {{"a snapshot named without its parent", dir, {"-vmdk", "chain/child.vmdk", "-all"}, ""},
                                {"a disk read at 0", dir, {"-image", fixture("mbr-far.img"), "-all"}, ""}};
  for (const quor_call& c : unopened)
    expect_written(c, {"with its log", ">@ 2>&1", "unopened.txt", ""}, view.at, local + "/unopened.txt", kFailed);
}

// The disk image `file` of qemu's format `format` as a raw image: itself
// when raw, else a conversion beside it, which the oracles (fls, icat) read.
std::string raw_of(const std::string& file, const std::string& format) {
  if (format == "raw") return file;
  const std::string raw = file + ".raw";
  std::string ignored;
  return run_command("qemu-img convert -f " + format + " -O raw " + quote(file) + " " + quote(raw), ignored) == 0
             ? raw
             : "";
}

// libguestfs's guestmount of the image, root's and open to every user, by
// a raw image and by a VMDK of it: the appliance's ntfs-3g numbers files
// its own way (the mount's root is 1), so the volume the run opened knows
// its own file by its names. Root's streams and another user's into a file
// of the mount are refused, and once guestunmount's appliance has written
// the disk back and quit, fls and icat show the volume as it was.
TEST(LayerSetups, StreamsIntoAGuestmountOfTheImageAreRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv") ||
      !have_program("qemu-img"))
    GTEST_SKIP() << "fls, icat, ifind, setpriv or qemu-img not installed";
  const std::string dir = folder("guestfs"), ev = folder("guestfs/ev");
  open_to_nobody({dir, ev});
  const std::string image = copy_fixture("links.img", "guestfs/ev/img.dd"), vmdk = ev + "/img.vmdk";
  ASSERT_FALSE(image.empty());
  std::string put_why, ignored;
  if (!put_existing(image, dir + "/pn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  ASSERT_EQ(run_command("qemu-img convert -f raw -O vmdk " + quote(image) + " " + quote(vmdk) + " && chmod 0644 " +
                            quote(image) + " " + quote(vmdk),
                        ignored),
            0);
  const std::string listed = fls_of(image);
  const struct {
    std::string how, file, format, option;
  } disks[] = {{"a raw image", image, "raw", "-image"}, {"a VMDK", vmdk, "vmdk", "-vmdk"}};
  for (const auto& d : disks) {
    {
      guest_mount gm(d.file, d.format, dir + "/gm");
      if (!gm.ok()) GTEST_SKIP() << gm.why();
      const std::vector<std::string> args = {d.option, "ev/" + d.file.substr(d.file.rfind('/') + 1), "-all", "-csv"};
      std::vector<quor_call> calls;
      for (const std::string& who : {std::string(), as_nobody()}) {
        const std::string by = d.how + (who.empty() ? ", root: " : ", nobody: ");
        calls.push_back({by + "appended to a file of the mount", dir, args, ">>gm/existing.txt", who});
        calls.push_back({by + "standard error appended there", dir, args, "2>>gm/existing.txt", who});
      }
      expect_refused(calls, {dir + "/gm/existing.txt"}, {},
                     "refused to write: " + dir + "/gm/existing.txt: it is \\existing.txt of the evidence " + d.file +
                         " (record ");
    }
    const std::string raw = raw_of(d.file, d.format);
    EXPECT_EQ(fls_of(raw), listed) << d.how;
    EXPECT_EQ(volume_file_text(raw, "/existing.txt"), "already there\n") << d.how;
  }
}

// A file the shell makes anew in guestmount's view of the image for a
// run's stream is one of the volume's files as much as one that was there,
// though the image the run opens does not hold it yet; and a file that was
// there stays one while a name beside it waits to be written back.
TEST(LayerSetups, NewFileInAGuestmountOfTheImageIsRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv"))
    GTEST_SKIP() << "fls, icat, ifind or setpriv not installed";
  const std::string dir = folder("guestfs-new"), ev = folder("guestfs-new/ev");
  open_to_nobody({dir, ev});
  const std::string image = copy_fixture("links.img", "guestfs-new/ev/img.dd");
  ASSERT_FALSE(image.empty());
  std::string put_why;
  if (!put_existing(image, dir + "/pn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(image));
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::vector<std::string> args = {"-image", "ev/img.dd", "-all", "-csv"};
  {
    guest_mount gm(image, "raw", dir + "/gm");
    if (!gm.ok()) GTEST_SKIP() << gm.why();
    for (const std::string& who : {as_nobody(), std::string()}) {
      const std::string by = who.empty() ? "root: " : "nobody: ";
      std::string said;
      EXPECT_EQ(run_call({by + "a new file in the mount", dir, args, ">gm/new.txt", who}, said), kFailed)
          << by << said.substr(0, 300);
      EXPECT_NE(said.find("refused to write: " + dir + "/gm/new.txt: it is \\new.txt of the evidence " + image),
                std::string::npos)
          << by << said.substr(0, 300);
      EXPECT_EQ(read_whole(dir + "/gm/new.txt"), "") << by;
      expect_refused({{by + "appended to a file of the mount, a new file there", dir, args, ">>gm/existing.txt", who},
                      {by + "standard error appended there, a new file there", dir, args, "2>>gm/existing.txt",
                       who}},
                     {dir + "/gm/existing.txt"}, {}, "it is \\existing.txt of the evidence " + image + " (record ");
    }
  }
  EXPECT_EQ(volume_file_text(image, "/new.txt"), "");
  EXPECT_EQ(volume_file_text(image, "/existing.txt"), "already there\n");
}

// qemu-storage-daemon's writable FUSE export of the disk, root's and open
// to every user, mounted by ntfs-3g: the mount's table entry names the
// export, a regular file whose server another user cannot see, and the
// volume the run opened tells its own file by its record, number and
// creation time. So it is for a raw image and for a VMDK snapshot over its
// parent, the child taking every write. Another user's streams into a file
// of the mount are refused, and once the daemon is gone fls and icat show
// the volume as it was.
TEST(LayerSetups, StreamsIntoNtfs3gOverABlockExportOfTheImageAreRefused) {
  if (!have_program("fls") || !have_program("icat") || !have_program("ifind") || !have_program("setpriv") ||
      !have_program("qemu-img"))
    GTEST_SKIP() << "fls, icat, ifind, setpriv or qemu-img not installed";
  const std::string dir = folder("qsd"), ev = folder("qsd/ev");
  const std::string raw = copy_fixture("links.img", "qsd/ev/raw.img");
  ASSERT_FALSE(raw.empty());
  std::string put_why, ignored;
  if (!put_existing(raw, dir + "/pn", put_why)) GTEST_SKIP() << put_why;
  ASSERT_TRUE(wait_until_unheld(raw));
  ASSERT_EQ(run_command("cd " + quote(ev) + " && qemu-img convert -f raw -O vmdk raw.img base.vmdk" +
                            " && qemu-img create -q -f vmdk -b base.vmdk -F vmdk child.vmdk" +
                            " && chmod 0644 raw.img base.vmdk child.vmdk",
                        ignored),
            0);
  const std::string listed = fls_of(raw), child = ev + "/child.vmdk";
  // The record ntfs-3g gave existing.txt, as the refusal names it.
  std::string record;
  ASSERT_EQ(run_command("ifind -n /existing.txt " + quote(raw), record), 0);
  while (!record.empty() && record.back() == '\n') record.pop_back();
  const struct {
    std::string how, sub, blockdevs, node;
    std::vector<std::string> source, files;
    std::string file, format;
  } exports[] = {
      {"a raw image", "raw", "--blockdev " + quote("driver=file,filename=" + raw + ",node-name=r"), "r",
       {"-image", "ev/raw.img"}, {raw}, raw, "raw"},
      {"a VMDK snapshot", "vmdk",
       "--blockdev " + quote("driver=file,filename=" + child + ",node-name=f") + " --blockdev " +
           quote("driver=vmdk,file=f,node-name=v"),
       "v", {"-vmdk", "ev/child.vmdk", "-vmdk", "ev/base.vmdk"}, {child, ev + "/base.vmdk"}, child, "vmdk"},
  };
  for (const auto& e : exports) {
    const std::string at = folder("qsd/" + e.sub);
    {
      block_export exported(at, e.blockdevs, e.node);
      if (!exported.ok()) GTEST_SKIP() << exported.why();
      open_to_nobody({dir, ev, at});
      std::vector<std::string> args = e.source;
      args.insert(args.end(), {"-all", "-csv"});
      const std::string kept = e.sub + "/nr/existing.txt";
      const std::string own = "refused to write: " + dir + "/" + kept + ": it is \\existing.txt of the evidence ";
      const std::vector<quor_call> calls = {
          {e.how + ", nobody: appended to a file of the mount", dir, args, ">>" + kept, as_nobody()},
          {e.how + ", nobody: standard error appended there", dir, args, "2>>" + kept, as_nobody()}};
      expect_refused(calls, {dir + "/" + kept}, {}, own + ev + "/");
      // Each file of the chain is a source of the volume, and either may
      // be the one named.
      for (const quor_call& c : calls) {
        std::string said;
        EXPECT_EQ(run_call(c, said), kFailed) << c.how;
        const bool named = std::any_of(e.files.begin(), e.files.end(), [&](const std::string& f) {
          return said.find(own + f + " (record " + record + ")\n") != std::string::npos;
        });
        EXPECT_TRUE(named) << c.how << ": " << said.substr(0, 600);
      }
    }
    ASSERT_TRUE(wait_until_unheld(e.file));
    const std::string as_raw = raw_of(e.file, e.format);
    EXPECT_EQ(fls_of(as_raw), listed) << e.how;
    EXPECT_EQ(volume_file_text(as_raw, "/existing.txt"), "already there\n") << e.how;
  }
}

// The listing and the log of one run, each into a file of its own in
// `folder` (the log there first, as an earlier run left it), end as the same
// run's into two files of the local folder `local`: each file holds what
// it held and then what the local one took.
void expect_both_written(const quor_call& c, const std::string& folder, const std::string& local) {
  const std::string earlier = "earlier log\n";
  for (const std::string& at : {folder, local}) {
    ::unlink((at + "/new.csv").c_str());
    std::ofstream(at + "/err.log", std::ios::trunc) << earlier;
  }
  quor_call on = c, here = c;
  on.redirect = ">" + quote(folder + "/new.csv") + " 2>>" + quote(folder + "/err.log");
  here.redirect = ">" + quote(local + "/new.csv") + " 2>>" + quote(local + "/err.log");
  std::string said, said_here;
  EXPECT_EQ(run_call(here, said_here), 0) << c.how << ": " << said_here.substr(0, 300);
  EXPECT_EQ(run_call(on, said), 0) << c.how << ": " << said.substr(0, 300);
  const std::string listing = read_whole(local + "/new.csv"), log = read_whole(local + "/err.log");
  EXPECT_FALSE(listing.empty()) << c.how << ": the local run listed nothing";
  EXPECT_EQ(first_difference(comparable(read_whole(folder + "/new.csv")), comparable(listing)), "") << c.how;
  const std::string got_log = read_whole(folder + "/err.log");
  ASSERT_EQ(got_log.compare(0, earlier.size(), earlier), 0) << c.how;
  EXPECT_EQ(first_difference(comparable(got_log.substr(earlier.size())), comparable(log.substr(earlier.size()))), "")
      << c.how;
  EXPECT_TRUE(first_status(got_log) == first_status(log)) << c.how << ": the log lacks the first status line";
}

// `times` runs of `c` in a row, each appended to `folder`/case.csv after an
// earlier listing, leave there that listing and then each run's, as one
// run's on the local disk (`reference`) reads.
void expect_appended_in_a_row(const quor_call& c, const std::string& folder, const std::string& reference, int times) {
  const std::string file = folder + "/case.csv", earlier = "earlier listing\n";
  std::ofstream(file, std::ios::trunc) << earlier;
  quor_call on = c, here = c;
  on.redirect = ">>" + quote(file);
  here.redirect = ">" + quote(reference);
  std::string said;
  ASSERT_EQ(run_call(here, said), 0) << c.how << ": " << said.substr(0, 300);
  const std::string one = comparable(read_whole(reference));
  ASSERT_FALSE(one.empty()) << c.how << ": the local run listed nothing";
  std::string all;
  for (int run = 0; run < times; ++run) {
    EXPECT_EQ(run_call(on, said), 0) << c.how << ", run " << run + 1 << ": " << said.substr(0, 300);
    all += one;
  }
  const std::string got = read_whole(file);
  ASSERT_EQ(got.compare(0, earlier.size(), earlier), 0) << c.how;
  EXPECT_EQ(first_difference(comparable(got.substr(earlier.size())), all), "") << c.how;
}

// Case stores root serves to every user by FUSE, on this machine's disk:
// an encfs folder, unionfs-fuse's copy-on-write view, fuse-overlayfs's
// overlay, fusefat's FAT image, a mergerfs pool named by a word of its own.
// Another user cannot see their servers, nor can root from a PID namespace
// of its own; the local image the run reads opens as a volume that holds
// none of their files, so every stream is written there as onto the local
// disk: each way of sending it, the listing and the log into two files,
// twenty listings appended in a row (on fusefat, which appends to nothing,
// the new files alone). A run whose source opens as no volume
// (a text file given as an image, an index-record file) has nothing to
// answer for such a store, and its stream there is refused at its end.
TEST(LayerSetups, StreamsIntoRootsFuseCaseStoresAreWrittenForAnotherUser) {
  if (!have_program("setpriv") || !have_program("unshare") || !have_program("icat"))
    GTEST_SKIP() << "setpriv, unshare or icat not installed";
  const std::string dir = folder("fuse-stores"), local = folder("fuse-stores/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("links.img", "fuse-stores/links.img").empty());
  std::string ignored;
  // /Documents of sample.img is entry 66: its index records as one file.
  ASSERT_EQ(run_command("cd " + quote(dir) + " && icat " + quote(fixture("sample.img")) +
                            " 66-160 > t.i30 && seq 1 20000 > notes.img && chmod 0644 links.img t.i30 notes.img",
                        ignored),
            0);
  // fusefat takes no write to a file it did not make in the same open:
  // nothing appends there.
  struct store {
    std::string how, at;
    bool appends = true;
  };
  std::vector<store> stores;
  std::string skipped;
  encrypted_folder encfs("encfs", dir + "/crypt", "", "-o allow_other");
  if (encfs.ok() && encfs.step("chmod 0755 " + quote(dir + "/crypt") + " && chmod 0777 " + quote(encfs.at))) {
    stores.push_back({"root's encfs", encfs.at});
  } else {
    skipped += " encfs: " + encfs.why();
  }
  const std::string branch = folder("fuse-stores/ub"), upper = folder("fuse-stores/up");
  ASSERT_EQ(::chmod(branch.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(upper.c_str(), 0777), 0);
  pass_through unionfs("unionfs", branch, dir + "/um", false, "-o allow_other");
  if (unionfs.ok()) {
    stores.push_back({"root's unionfs-fuse", unionfs.at});
  } else {
    skipped += " unionfs-fuse: " + unionfs.why();
  }
  pass_through overlay("fuse-overlayfs", upper, dir + "/om", false, "-o allow_other");
  if (overlay.ok() && overlay.step("chmod 0777 " + quote(overlay.at))) {
    stores.push_back({"root's fuse-overlayfs", overlay.at});
  } else {
    skipped += " fuse-overlayfs: " + overlay.why();
  }
  layer_stack fat;
  if (fat_store(fat, dir + "/fat.img", dir + "/fm")) {
    stores.push_back({"root's fusefat", dir + "/fm", false});
  } else {
    skipped += " fusefat: " + fat.why();
  }
  const std::string pooled = folder("fuse-stores/A");
  ASSERT_EQ(::chmod(pooled.c_str(), 0777), 0);
  pass_through pool("mergerfs fsname", pooled, dir + "/pool", false, "-o allow_other,xattr=nosys");
  if (pool.ok() && pool.step("ls -l " + quote(pool.at))) {
    stores.push_back({"root's mergerfs pool", pool.at});
  } else {
    skipped += " mergerfs: " + pool.why();
  }
  const std::vector<std::string> args = {"-image", "links.img", "-all", "-csv"};
  for (const store& on : stores) {
    for (const stream_form& f : stream_forms()) {
      if (!on.appends && !f.before.empty()) continue;
      expect_written({on.how + ", nobody's run", dir, args, "", as_nobody()}, f, on.at, local + "/" + f.name);
      expect_written({on.how + ", root's run in a PID namespace of its own", dir, args, "", own_pid_namespace(dir)},
                     f, on.at, local + "/" + f.name);
    }
    if (on.appends) {
      expect_both_written({on.how + ", nobody's listing and log", dir, args, "", as_nobody()}, on.at, local);
      expect_appended_in_a_row({on.how + ", nobody's listings in a row", dir, args, "", as_nobody()}, on.at,
                               local + "/one.csv", 20);
    }
    std::ofstream(on.at + "/case.csv", std::ios::trunc) << "earlier listing\n";
    expect_refused({{on.how + ", nobody's run of a text file as an image", dir,
                     {"-image", "notes.img", "-all", "-csv"}, ">>" + quote(on.at + "/case.csv"), as_nobody()},
                    {on.how + ", nobody's run of an index-record file", dir, {"-indxfile", "t.i30", "-all", "-csv"},
                     ">>" + quote(on.at + "/case.csv"), as_nobody()},
                    {on.how + ", its log", dir, {"-indxfile", "t.i30", "-all", "-csv"},
                     "2>>" + quote(on.at + "/case.csv"), as_nobody()}},
                   {on.at + "/case.csv"}, {}, "write the listing elsewhere");
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// `c` run by nobody in a sandbox of its own (sandbox_of_its_own) that sees
// `evidence` at /evidence and `view` at /case, its stream sent by `f` to
// /case, is left to the run: it ends as the same run whose /case is the
// local folder `local`, and the file holds what it held and then what the
// local one took.
void expect_written_in_sandbox(const quor_call& c, const stream_form& f, const std::string& evidence,
                               const std::string& view, const std::string& local) {
  const std::string how = c.how + ", " + f.how, redirect = with_file(f.form, "/case/" + f.name);
  for (const std::string& at : {view, local}) {
    ::unlink((at + "/" + f.name).c_str());
    if (f.before.empty()) continue;
    std::ofstream(at + "/" + f.name) << f.before;
    // The run inside opens the file as the user it runs as.
    ASSERT_EQ(::chmod((at + "/" + f.name).c_str(), 0666), 0) << how;
  }
  quor_call on = c, here = c;
  on.prefix = as_nobody() + sandbox_of_its_own(evidence, view, redirect);
  here.prefix = as_nobody() + sandbox_of_its_own(evidence, local, redirect);
  std::string said, said_here;
  EXPECT_EQ(run_call(here, said_here), 0) << how << ": " << said_here.substr(0, 300);
  EXPECT_EQ(run_call(on, said), 0) << how << ": " << said.substr(0, 300);
  const std::string got = read_whole(view + "/" + f.name), want = read_whole(local + "/" + f.name);
  ASSERT_EQ(want.compare(0, f.before.size(), f.before), 0) << how << ": the local run";
  EXPECT_FALSE(want.size() == f.before.size()) << how << ": the local run wrote nothing";
  ASSERT_EQ(got.compare(0, f.before.size(), f.before), 0) << how;
  EXPECT_EQ(first_difference(comparable(got.substr(f.before.size())), comparable(want.substr(f.before.size()))), "")
      << how;
}

// Root's bindfs of a case folder, open to every user, bound into another
// user's sandbox of its own PID namespace: the mount's table entry names a
// host folder the sandbox does not have and its server is out of sight,
// but the image the run reads opens as a volume that holds none of its
// files, so every stream is written there as into a local folder.
TEST(LayerSetups, StreamsOfASandboxIntoRootsBindfsViewAreWritten) {
  if (!have_program("bwrap") || !have_program("setpriv")) GTEST_SKIP() << "bwrap or setpriv not installed";
  const std::string dir = folder("sandbox-bound"), ev = folder("sandbox-bound/ev");
  const std::string real = folder("sandbox-bound/real"), local = folder("sandbox-bound/local");
  open_to_nobody({dir, ev});
  ASSERT_EQ(::chmod(real.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("sample.img", "sandbox-bound/ev/sample.img").empty());
  ASSERT_EQ(::chmod((ev + "/sample.img").c_str(), 0644), 0);
  pass_through view("bindfs", real, dir + "/view", false, "-o allow_other");
  if (!view.ok()) GTEST_SKIP() << view.why();
  for (const stream_form& f : stream_forms())
    expect_written_in_sandbox({"root's bindfs in nobody's sandbox", dir,
                               {"-image", "/evidence/sample.img", "-all", "-csv"}, ""},
                              f, ev, view.at, local);
}

// Root's encfs case folder, open to every user, while another user reads
// the image through root's share of it (sshfs named by its server, a
// WebDAV remote by rclone): the image opens as a volume that holds none of
// the folder's files, and the source is not read through that folder, so
// every stream is written there as onto the local disk.
TEST(LayerSetups, StreamsIntoRootsEncryptedCaseFolderBesideASourceReadThroughAShareAreWritten) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("crypt-share"), cases = folder("crypt-share/cases");
  const std::string local = folder("crypt-share/local");
  open_to_nobody({dir, cases});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("sample.img", "crypt-share/cases/sample.img").empty());
  ASSERT_EQ(::chmod((cases + "/sample.img").c_str(), 0644), 0);
  encrypted_folder encfs("encfs", dir + "/crypt", "", "-o allow_other");
  if (!encfs.ok() || !encfs.step("chmod 0755 " + quote(dir + "/crypt") + " && chmod 0777 " + quote(encfs.at)))
    GTEST_SKIP() << encfs.why();
  std::vector<quor_call> runs;
  std::string skipped;
  ssh_share ssh(dir + "/sshd", cases);
  if (ssh.ok() && share_start_folder(ssh, cases, dir + "/s", "allow_other")) {
    runs.push_back({"read through root's sshfs", dir, {"-image", "s/sample.img", "-all", "-csv"}, "", as_nobody()});
  } else {
    skipped += " sshfs: " + ssh.why();
  }
  rclone_served dav("webdav", dir + "/dav", cases);
  if (dav.mount_webdav(dir + "/rm", "full", "--allow-other")) {
    runs.push_back(
        {"read through root's WebDAV remote", dir, {"-image", "rm/sample.img", "-all", "-csv"}, "", as_nobody()});
  } else {
    skipped += " WebDAV: " + dav.why();
  }
  for (const quor_call& c : runs)
    for (const stream_form& f : stream_forms()) expect_written(c, f, encfs.at, local + "/" + f.name);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// An examiner's case folder on a drive Windows has used holds System Volume
// Information and a recycle bin under the names the exhibit's root holds
// (windows_used_case_drive), seen through root's views open to every user:
// mergerfs, rclone's local remote, sshfs of this machine, fusefat's FAT
// image. The exhibit's root holds those folders alone (sysvol.img), or
// with nothing else (recycle.img): its folders are not the case folder's,
// so every stream of root's run and of nobody's is written there as onto
// the local disk (on fusefat, which appends to nothing, the new files
// alone).
TEST(LayerSetups, StreamsOntoAWindowsUsedCaseDriveAreWritten) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("windows-drive"), local = folder("windows-drive/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  const std::vector<std::string> sources = {"sysvol.img", "recycle.img"};
  for (const std::string& name : sources) {
    ASSERT_FALSE(copy_fixture(name, "windows-drive/" + name).empty()) << name;
    ASSERT_EQ(::chmod((dir + "/" + name).c_str(), 0644), 0) << name;
  }
  const std::string cases = folder("windows-drive/case");
  layer_stack made;
  ASSERT_TRUE(windows_used_case_drive(made, cases) && made.step("chmod -R a+rwX " + quote(cases))) << made.why();
  struct drive {
    std::string how, at;
    bool appends = true;
  };
  std::vector<drive> drives;
  std::string skipped;
  pass_through merged("mergerfs", cases, dir + "/m", false, "-o allow_other");
  if (merged.ok())
    drives.push_back({"root's mergerfs", merged.at});
  else
    skipped += " mergerfs: " + merged.why();
  pass_through rclone("rclone :local:", cases, dir + "/r", false, "--allow-other");
  if (rclone.ok())
    drives.push_back({"root's rclone :local:", rclone.at});
  else
    skipped += " rclone: " + rclone.why();
  ssh_share ssh(dir + "/sshd", cases);
  if (ssh.ok() && ssh.share(cases, dir + "/s", "allow_other"))
    drives.push_back({"root's sshfs", dir + "/s"});
  else
    skipped += " sshfs: " + ssh.why();
  layer_stack fat;
  if (fat_store(fat, dir + "/fat.img", dir + "/f") && windows_used_case_drive(fat, dir + "/f"))
    drives.push_back({"root's fusefat", dir + "/f", false});
  else
    skipped += " fusefat: " + fat.why();
  for (const std::string& name : sources)
    for (const drive& on : drives)
      for (const std::string& who : {std::string(), as_nobody()})
        for (const stream_form& f : stream_forms())
          if (on.appends || f.before.empty())
            expect_written({name + " onto " + on.how + ", " + (who.empty() ? "root" : "nobody"), dir,
                            {"-image", name, "-all", "-csv"}, "", who},
                           f, on.at, local + "/" + f.name);
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// Root's NTFS case drive, ntfs-3g's mount open to every user, its image in
// a folder closed to others: nobody's run cannot reach the file the mount
// is stored in, but what the drive's root shows is not the evidence's (a
// root creation time in whole seconds proves nothing, and no name there
// agrees with the evidence's numbers), so the copy folder is made at the
// drive's root, for nobody as for root, and fls lists the evidence as
// before.
TEST(LayerSetups, CopyFolderOnAnotherUsersNtfsCaseDriveIsMade) {
  if (!have_program("setpriv") || !have_program("fls")) GTEST_SKIP() << "setpriv or fls not installed";
  const std::string dir = folder("drive-copies"), closed = folder("drive-copies/closed");
  open_to_nobody({dir});
  const std::string image = copy_fixture("sample.img", "drive-copies/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string listed = fls_of(image), drive = closed + "/drive.img", at = dir + "/case";
  {
    layer_stack setup;
    if (!ntfs_case_drive(setup, drive, at, false) ||
        !setup.mount("ntfs-3g -o allow_other,noatime " + quote(drive) + " " + quote(at), at, drive))
      GTEST_SKIP() << setup.why();
    std::string ignored;
    ASSERT_NE(run_command(as_nobody() + "test -r " + quote(drive), ignored), 0) << "nobody reads the drive's image";
    for (const std::string& who : {as_nobody(), std::string()}) {
      const std::string how = who.empty() ? "root's copy folder" : "nobody's copy folder";
      std::string said;
      EXPECT_EQ(run_call({how, dir, {"-image", "ev.img", "-all", "-csv", "-action_copy_files", "case/copies"}, "", who},
                         said),
                0)
          << how << ": " << said.substr(0, 300);
      EXPECT_TRUE(exists(at + "/copies")) << how;
      run_command("rm -rf " + quote(at + "/copies"), ignored);
    }
  }
  EXPECT_EQ(fls_of(image), listed);
}

// A case drive formatted in the same second as the evidence, both by
// mkntfs -T as the kit's images are (a copy of default.img; a volume
// formatted now), root's ntfs-3g mount open to every user: their roots'
// creation times agree to the second, which proves nothing, and the drive
// holds none of the evidence's folders, so a listing of links.img sent to
// the drive's root by root's or nobody's run is written as onto the local
// disk.
TEST(LayerSetups, ListingOntoACaseDriveFormattedInTheSameSecondIsWritten) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("same-second"), local = folder("same-second/local");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_FALSE(copy_fixture("links.img", "same-second/links.img").empty());
  ASSERT_EQ(::chmod((dir + "/links.img").c_str(), 0644), 0);
  const std::string copied = copy_fixture("default.img", "same-second/default.img"),
                    formatted = dir + "/formatted.img";
  ASSERT_FALSE(copied.empty());
  layer_stack setup;
  if (!setup.need({"mkntfs", "ntfs-3g"}) ||
      !setup.step("truncate -s 8M " + quote(formatted) + " && mkntfs -q -F -f -T " + quote(formatted)) ||
      !setup.mount("ntfs-3g -o allow_other,noatime " + quote(copied) + " " + quote(dir + "/xd"), dir + "/xd", copied) ||
      !setup.mount("ntfs-3g -o allow_other,noatime " + quote(formatted) + " " + quote(dir + "/xt"), dir + "/xt",
                   formatted))
    GTEST_SKIP() << setup.why();
  const stream_form listing = {"a new listing", ">@", "x.csv", ""};
  for (const std::string& drive : {dir + "/xd", dir + "/xt"})
    for (const std::string& who : {std::string(), as_nobody()})
      expect_written({drive + ", " + (who.empty() ? "root" : "nobody"), dir, {"-image", "links.img", "-all", "-csv"},
                      "", who},
                     listing, drive, local + "/x.csv");
}

}  // namespace
