// The library's writers read the evidence through the same layers quor's
// runs do (a view of an E01, an encrypted folder, a share of this machine
// over ssh, a read-only view of the case folder, a disk in a file in a disk,
// a mount of another namespace): a cluster copy onto what holds the source
// returns false and leaves it as it was, and the walker makes no copy
// folder in a mount of the image it walks.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "examine/cluster_copy.h"
#include "examine/entry_report.h"
#include "examine/walk_engine.h"
#include "utils/output_folder.h"
#include "tests/examine/walk_run.h"
#include "tests/support/child_process.h"
#include "tests/support/layer_setups.h"
#include "tests/support/listing.h"

namespace {

using namespace quor_test;

// A copy of the first 16 clusters (64 KiB) of the volume `source` onto each
// of `targets`, as the copy and as its log, is refused; each of `kept` keeps
// its digest. The same copy elsewhere is made, so the refusal is the guard's.
void expect_copies_refused(const std::string& how, const std::string& source, const std::vector<std::string>& targets,
                           const std::vector<std::string>& kept, ulong64 offset = 0) {
  // Made anew each time: a source read through a share that cannot be told
  // keeps an existing file from being replaced.
  const std::string elsewhere = scratch_dir() + "/layer-writers.out";
  ::unlink(elsewhere.c_str());
  ASSERT_TRUE(copy_image_clusters({}, source, offset, 0, 16, elsewhere, "")) << how << ": " << source;
  std::vector<std::string> sums;
  for (const std::string& k : kept) {
    sums.push_back(md5_of_file(k));
    ASSERT_EQ(sums.back().size(), 32u) << k;
  }
  for (const std::string& target : targets) {
    EXPECT_FALSE(copy_image_clusters({}, source, offset, 0, 16, target, "")) << how << ": onto " << target;
    ::unlink(elsewhere.c_str());
    EXPECT_FALSE(copy_image_clusters({}, source, offset, 0, 16, elsewhere, target)) << how << ": log onto " << target;
    for (size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(md5_of_file(kept[i]), sums[i]) << how << ": " << kept[i];
  }
}

// The copies of expect_copies_refused made by nobody, without groups, in a
// child process: the status has bit 0 set when the copy into `folder` was
// made, bit 1 when the copy onto `target` was, bit 2 when the log onto it
// was; 64 when the child could not become nobody.
int copies_as_nobody(const std::string& source, ulong64 offset, const std::string& folder, const std::string& target) {
  return exit_status_in_child(
      [&] {
        const struct passwd* pw = ::getpwnam("nobody");
        if (pw == nullptr || ::setgroups(0, nullptr) != 0 || ::setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0 ||
            ::setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0)
          return 64;
        const std::string elsewhere = folder + "/copy.bin";
        int made = copy_image_clusters({}, source, offset, 0, 16, elsewhere, "") ? 1 : 0;
        if (copy_image_clusters({}, source, offset, 0, 16, target, "")) made |= 2;
        ::unlink(elsewhere.c_str());
        if (copy_image_clusters({}, source, offset, 0, 16, elsewhere, target)) made |= 4;
        return made;
      },
      scratch_dir() + "/layer-writers-nobody.err");
}

TEST(LayerSetupsWriters, ClusterCopyOntoTheContainerOfAnEwfViewIsRefused) {
  ewf_view ewf(folder("w-ewf"), fixture("sample.img"));
  if (!ewf.ok()) GTEST_SKIP() << ewf.why();
  expect_copies_refused("ewfmount", ewf.view, {ewf.e01}, {ewf.e01});
  ewf.undo_all();
  std::string ignored;
  EXPECT_EQ(run_command("ewfverify -q " + shell_word(ewf.e01) + " >/dev/null 2>&1", ignored), 0);
}

// The view of an encrypted folder (gocryptfs or encfs) holds the image;
// the cipher file is what is stored.
void expect_cipher_copies_refused(const std::string& kind) {
  encrypted_folder crypt(kind, folder("w-" + kind), fixture("sample.img"));
  if (!crypt.ok()) GTEST_SKIP() << crypt.why();
  expect_copies_refused(kind, crypt.view, {crypt.cipher}, {crypt.cipher});
  // The view still reads the image: its cipher file was not cut.
  EXPECT_EQ(md5_of_file(crypt.view), md5_of_file(fixture("sample.img"))) << kind;
}

TEST(LayerSetupsWriters, ClusterCopyOntoTheCipherFileOfAnEncfsViewIsRefused) { expect_cipher_copies_refused("encfs"); }

TEST(LayerSetupsWriters, ClusterCopyOntoTheCipherFileOfAGocryptfsViewIsRefused) {
  expect_cipher_copies_refused("gocryptfs");
}

// Each view of its own copy of the image: a copy that cut one would leave
// the next nothing to read.
TEST(LayerSetupsWriters, ClusterCopyOntoTheFileBehindAShareOrAViewIsRefused) {
  std::string skipped;
  for (const std::string kind : {"bindfs", "mergerfs", "rclone"}) {
    const std::string ev = folder("w-view-" + kind);
    const std::string image = copy_fixture("sample.img", "w-view-" + kind + "/sample.img");
    ASSERT_FALSE(image.empty());
    pass_through view(kind, ev, ev + "-r", true);
    if (view.ok()) {
      expect_copies_refused(kind, view.at + "/sample.img", {image}, {image});
    } else {
      skipped += " " + kind + ": " + view.why();
    }
  }
  {
    const std::string ev = folder("w-share");
    const std::string image = copy_fixture("sample.img", "w-share/sample.img");
    ASSERT_FALSE(image.empty());
    ssh_share ssh(scratch_dir() + "/w-sshd", ev);
    if (ssh.ok() && ssh.share(ev, scratch_dir() + "/w-share-s")) {
      expect_copies_refused("sshfs", scratch_dir() + "/w-share-s/sample.img", {image}, {image});
    } else {
      skipped += " sshfs: " + ssh.why();
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

TEST(LayerSetupsWriters, ClusterCopyOntoTheOuterDiskIsRefused) {
  const std::string dir = folder("w-nested");
  nested_disk disk(dir, fixture("sample.img"));
  if (!disk.ok()) GTEST_SKIP() << disk.why();
  struct stat st;
  ASSERT_EQ(::stat(disk.outer_device.c_str(), &st), 0);
  const std::string node = dir + "/outer-node";
  ASSERT_EQ(::mknod(node.c_str(), S_IFBLK | 0600, st.st_rdev), 0);
  ASSERT_EQ(::stat(disk.outer.c_str(), &st), 0);
  const auto size = st.st_size;
  expect_copies_refused("a disk in a file in a disk", disk.view, {disk.outer, node, disk.inner}, {disk.view});
  ASSERT_EQ(::stat(disk.outer.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, size) << "the outer file was cut";
  disk.undo_all();
  std::string ignored;
  if (have_program("xfs_repair")) {
    EXPECT_EQ(run_command("xfs_repair -n " + shell_word(disk.outer) + " 2>&1", ignored), 0) << ignored;
  }
}

// The walker's copy folder in a mount of the image that only another mount
// namespace has, reached through a process's root there.
TEST(LayerSetupsWriters, WalkerCopyFolderInAnotherNamespacesMountIsNotMade) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("w-otherns");
  const std::string image = copy_fixture("links.img", "w-otherns/links.img");
  ASSERT_FALSE(image.empty());
  std::string before, after;
  ASSERT_EQ(run_command("fls -r -p " + shell_word(image), before), 0);
  {
    namespace_mount other(image, dir + "/pn");
    if (!other.ok()) GTEST_SKIP() << other.why();
    const std::string copies = other.through + "/copies";
    user_ctx ctx;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(parse_walk_options(ctx, {"-image", image, "-csv", "-action_copy_files", copies}));
    std::ostringstream text;
    const bool walked = walk_engine_run(text, ctx);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(walked);
    EXPECT_NE(said.find("refused to write"), std::string::npos) << said;
    EXPECT_FALSE(exists(copies));
  }
  ASSERT_TRUE(wait_until_unheld(image));
  ASSERT_EQ(run_command("fls -r -p " + shell_word(image), after), 0);
  EXPECT_EQ(after, before);
}

// Root's loop device over the NTFS partition of a disk (at sector 63),
// mounted for every user: a copy onto a file of the volume by another
// user, who cannot open the device, is refused as root's is, and fls of the
// disk shows the volume as it was.
TEST(LayerSetupsWriters, ClusterCopyIntoALoopDeviceAnotherUserAttachedIsRefused) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string dir = folder("w-loop-part");
  partition_on_loop part(dir, fixture("links.img"));
  if (!part.ok()) GTEST_SKIP() << part.why();
  const std::string local = folder("w-loop-part/local");
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(part.disk.c_str(), 0644), 0);
  const std::string fls = "fls -r -p -o 63 " + shell_word(part.disk);
  std::string before, after;
  ASSERT_EQ(run_command(fls, before), 0);
  const std::string target = part.at + "/clusters.bin";
  expect_copies_refused("root", part.disk, {target}, {}, partition_on_loop::kStart);
  EXPECT_EQ(copies_as_nobody(part.disk, partition_on_loop::kStart, local, target), 1)
      << read_file_text(scratch_dir() + "/layer-writers-nobody.err");
  EXPECT_FALSE(exists(target));
  part.undo_all();
  ASSERT_EQ(run_command(fls, after), 0);
  EXPECT_EQ(after, before);
}

// archivemount started in the archive's folder, or in one above it, holds
// that folder open: the archive below it is still what the mount is
// stored on, for copies into the view and into a second mount of it.
TEST(LayerSetupsWriters, ClusterCopyIntoAnArchiveMountedFromItsFolderIsRefused) {
  const std::string skipped =
      with_archive_mounted_from_its_folder("w-from", [](const std::string& from, archive_from_folder& archive) {
        const std::string m2 = archive.at + "2";
        const std::vector<std::string> targets = {archive.at + "/copy.bin", m2 + "/copy.bin", m2 + "/notes.txt"};
        expect_copies_refused("archivemount from the " + from + " folder", archive.view, targets, {archive.notes});
        for (const std::string& t : {archive.at + "/copy.bin", m2 + "/copy.bin"}) EXPECT_FALSE(exists(t)) << t;
      });
  if (!skipped.empty()) GTEST_SKIP() << "not tried:" << skipped;
}

// A remote's name holds a ':' (sshfs's host:/path, rclone's :backend:): it
// names no folder of this machine, though the remote is this machine's
// own folder served by rclone over sftp. Its store cannot be told, so the
// copy is refused either way round.
TEST(LayerSetupsWriters, ClusterCopyBetweenAFolderAndItsSftpShareIsRefused) {
  const std::string ev = folder("w-sftp"), share = scratch_dir() + "/w-sftp-s4";
  const std::string image = copy_fixture("sample.img", "w-sftp/sample.img");
  ASSERT_FALSE(image.empty());
  rclone_served served("sftp", scratch_dir() + "/w-sftp-serve", ev);
  if (!served.ok() || !served.mount_sftp(share)) GTEST_SKIP() << served.why();
  expect_copies_refused("read over sftp", share + "/sample.img", {image}, {image});
  expect_copies_refused("written over sftp", image, {share + "/sample.img"}, {image});
}

// An rclone mount of a remote (this machine's folder over WebDAV) whose
// full file cache holds the source while it is read: the cache is no store,
// so the mount's store cannot be told, and the file the remote serves is
// kept, with the cache and without.
TEST(LayerSetupsWriters, ClusterCopyFromACachingRemoteMountOntoTheRemoteFileIsRefused) {
  const std::string ev = folder("w-dav");
  const std::string image = copy_fixture("sample.img", "w-dav/sample.img");
  ASSERT_FALSE(image.empty());
  rclone_served served("webdav", scratch_dir() + "/w-dav-serve", ev);
  for (const bool cache : {false, true}) {
    const std::string at = scratch_dir() + (cache ? "/w-dav-cached" : "/w-dav-plain");
    if (!served.mount_webdav(at, cache ? "full" : "off")) GTEST_SKIP() << served.why();
    expect_copies_refused(cache ? "cached" : "uncached", at + "/sample.img", {image}, {image});
  }
}

// vmdkmount holds the extent of a split VMDK; its descriptor, read and
// closed, is refused for the text it does not hold, and the VMDK still
// opens.
TEST(LayerSetupsWriters, ClusterCopyOntoTheDescriptorOfASplitVmdkIsRefused) {
  const std::string dir = folder("w-vmdk");
  vmdk_split_view vmdk(dir, fixture("sample.img"));
  if (!vmdk.ok()) GTEST_SKIP() << vmdk.why();
  expect_copies_refused("vmdkmount", vmdk.view, {vmdk.descriptor, vmdk.extent}, {vmdk.descriptor, vmdk.extent});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(copy_image_clusters({}, vmdk.view, 0, 0, 16, vmdk.descriptor, ""));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + vmdk.descriptor +
                                                        ": it holds binary data (a VMDK descriptor) and may be "
                                                        "evidence; name another file\n");
  vmdk.undo_all();
  std::string ignored;
  EXPECT_EQ(run_command("vmdkinfo " + shell_word(vmdk.descriptor) + " 2>&1", ignored), 0) << ignored;
  EXPECT_EQ(run_command("qemu-img info " + shell_word(vmdk.descriptor) + " 2>&1", ignored), 0) << ignored;
}

// A unionfs view (copy on write) of a folder that holds no evidence is
// stored in that folder, which its server holds open and its table entry
// does not name: copies and folders are made there.
TEST(LayerSetupsWriters, CopiesIntoAUnionfsViewOfAFolderWithoutEvidenceAreMade) {
  const std::string under = folder("w-union");
  pass_through view("unionfs", under, scratch_dir() + "/w-union-v");
  if (!view.ok()) GTEST_SKIP() << view.why();
  const std::string image = fixture("sample.img");
  ASSERT_TRUE(copy_image_clusters({}, image, 0, 0, 16, view.at + "/copy.bin", view.at + "/copy.log"));
  EXPECT_EQ(md5_of_file(under + "/copy.bin"), [&] {
    std::string sum;
    run_command("head -c 65536 " + shell_word(image) + " | md5sum", sum);
    return sum.substr(0, 32);
  }());
  uni::file_identities sources;
  const int fd = ::open(image.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(uni::identities_of_source(fd, sources));
  int copies = -1;
  EXPECT_EQ(uni::make_output_folder(view.at + "/copies/deeper", sources, copies), uni::folder_result::made);
  ::close(copies);
  ::close(fd);
  struct stat st;
  EXPECT_EQ(::stat((under + "/copies/deeper").c_str(), &st), 0);
}

// The files of `dir` by name, each with the MD5 digest of what it holds.
std::map<std::string, std::string> files_held(const std::string& dir) {
  std::map<std::string, std::string> held;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') held[e->d_name] = md5_of_file(dir + "/" + e->d_name);
    ::closedir(d);
  }
  return held;
}

// The copy each report row names (its last column), by file name.
std::vector<std::string> copies_named(const std::string& report, const std::string& copies) {
  std::vector<std::string> named;
  for (const std::string& line : split_lines(report)) {
    if (line.compare(0, 2, "0x") != 0) continue;
    const std::string copy = line.substr(line.rfind(',') + 1);
    named.push_back(copy.compare(0, copies.size() + 1, copies + "/") == 0 ? copy.substr(copies.size() + 1) : copy);
  }
  return named;
}

// The walk `args` with its copies made in the folder `name` on this
// machine's disk: its report, the copies by name with their digests, and
// the copy each row names.
struct plain_walk {
  std::string report;
  std::map<std::string, std::string> held;
  std::vector<std::string> named;
};
plain_walk walk_into_plain_folder(std::vector<std::string> args, const std::string& name) {
  args.push_back(folder(name) + "/copies");
  user_ctx ctx;
  plain_walk walk;
  walk.report = walk_text(ctx, args);
  walk.held = files_held(args.back());
  walk.named = copies_named(walk.report, args.back());
  return walk;
}

// rclone's mount of a local folder, with a cache that keeps the files
// written, renames neither without replacing nor by a second link: the
// walker's copies into it are still made, each under its name with the
// data a copy into a plain folder has, and each report names its copy
// (without such a cache, see the test after this one). So are they in a
// mergerfs pool named by a word of its own whose branches carry their
// modes: the folders it is stored in are its branches without them.
TEST(LayerSetupsWriters, WalkerCopiesIntoRcloneViewsAndAMergerfsPoolAreMade) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  ulong64 first = 0;
  for (const auto& e : read_listing("default"))
    if (e.path == "/small.txt") first = e.inode;
  ASSERT_NE(first, 0u);
  const std::vector<std::string> args = {"-image", image, "-csv", "-mftstart", std::to_string(first), "-mftrange", "2",
                                         "-action_copy_files"};
  const plain_walk plain = walk_into_plain_folder(args, "w-rclone-plain");
  const std::map<std::string, std::string>& want = plain.held;
  const std::vector<std::string>& want_named = plain.named;
  ASSERT_EQ(want.size(), 2u) << plain.report;
  for (const std::string way : {"rclone writes", "rclone full", "mergerfs modes"}) {
    SCOPED_TRACE(way);
    const std::string kind = way.substr(0, way.find(' ')), mode = way.substr(way.find(' ') + 1);
    const std::string dir = folder("w-" + kind + "-" + mode), under = folder("w-" + kind + "-" + mode + "/under");
    const bool rclone = kind == "rclone";
    pass_through view(rclone ? kind : way, under, dir + "/v", false,
                      rclone ? "--vfs-cache-mode " + mode + " --cache-dir " + shell_word(dir + "/cache") : "");
    if (!view.ok()) GTEST_SKIP() << view.why();
    std::vector<std::string> copied_args = args;
    copied_args.push_back(view.at + "/copies");
    user_ctx ctx;
    const std::string report = walk_text(ctx, copied_args);
    const std::map<std::string, std::string> held = files_held(copied_args.back());
    const std::vector<std::string> named = copies_named(report, copied_args.back());
    ASSERT_EQ(named.size(), want_named.size()) << report;
    for (size_t i = 0; i < named.size(); ++i) {
      EXPECT_EQ(named[i], want_named[i]) << report;
      EXPECT_EQ(held.count(named[i]) ? held.at(named[i]) : "missing", want.at(want_named[i])) << named[i];
    }
    for (const auto& h : held) EXPECT_TRUE(want.count(h.first) && want.at(h.first) == h.second) << h.first;
    if (!rclone) {
      EXPECT_EQ(files_held(under + "/copies"), held) << "the copies are not in the branch to be written";
    }
  }
}

// Without a cache, and with one that keeps only files opened to read and
// write, rclone uploads a file as it is written through one handle: each
// copy of a walk of a stretch of the volume into such a view that its row names
// is whole in the store once the view is gone (unmounted right after the
// walk), with the digest a copy into a plain folder has. rclone may fail a
// file for its own reasons (a hole it cannot seek over): that row names no
// copy and leaves no file, but copies are made.
TEST(LayerSetupsWriters, WalkerCopiesNamedInAnUncachedRcloneViewAreWhole) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  // A stretch of the volume that makes a hundred copies and more: enough
  // that rclone, as it was written to before, lost some in every walk.
  const std::vector<std::string> args = {"-image",   image, "-csv", "-mftstart", "1000", "-mftrange", "160",
                                         "-action_copy_files"};
  const plain_walk plain = walk_into_plain_folder(args, "w-rclone-whole-plain");
  const std::map<std::string, std::string>& want = plain.held;
  const std::vector<std::string>& want_named = plain.named;
  ASSERT_GT(want.size(), 90u) << plain.report;
  for (const std::string mode : {"off", "minimal"}) {
    SCOPED_TRACE(mode);
    const std::string dir = folder("w-rclone-whole-" + mode), under = folder("w-rclone-whole-" + mode + "/under");
    std::string report, copies;
    {
      pass_through view("rclone", under, dir + "/v", false,
                        "--vfs-cache-mode " + mode + " --cache-dir " + shell_word(dir + "/cache"));
      if (!view.ok()) GTEST_SKIP() << view.why();
      copies = view.at + "/copies";
      std::vector<std::string> copied_args = args;
      copied_args.push_back(copies);
      user_ctx ctx;
      report = walk_text(ctx, copied_args);
    }
    const std::map<std::string, std::string> stored = files_held(under + "/copies");
    const std::vector<std::string> named = copies_named(report, copies);
    ASSERT_EQ(named.size(), want_named.size()) << report;
    size_t made = 0;
    for (size_t i = 0; i < named.size(); ++i) {
      if (named[i].empty()) continue;
      ++made;
      EXPECT_EQ(named[i], want_named[i]);
      EXPECT_EQ(stored.count(named[i]) ? stored.at(named[i]) : "missing", want.at(want_named[i])) << named[i];
    }
    EXPECT_GT(made, want.size() / 2) << "of " << want.size();
    for (const auto& h : stored) EXPECT_TRUE(want.count(h.first) && want.at(h.first) == h.second) << h.first;
  }
}

// An entry's data extracted into rclone's view without a cache, or with
// the minimal one, is written through one handle: the plain extract and
// the digest-named one are each whole in the store once the view is gone.
TEST(LayerSetupsWriters, ExtractsIntoAnUncachedRcloneViewAreWhole) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::wstring wide_image(image.begin(), image.end());
  const auto extract = [&wide_image](const std::string& path, bool hashed) {
    entry_report_request r;
    r.image_path = wide_image;
    r.path = L"/nonres.bin";
    r.extract_path = std::wstring(path.begin(), path.end());
    r.hash_and_rename = hashed;
    return report_entry_by_path(r);
  };
  // Each run in folders of its own: an extract does not empty a file that
  // holds binary data.
  static int run = 0;
  const std::string tag = std::to_string(++run);
  const std::string plain = folder("x-rclone-plain-" + tag);
  ASSERT_TRUE(extract(plain + "/data.bin", false));
  const std::string want = md5_of_file(plain + "/data.bin");
  ASSERT_EQ(want.size(), 32u);
  for (const std::string mode : {"off", "minimal"}) {
    SCOPED_TRACE(mode);
    const std::string name = "x-rclone-" + mode + "-" + tag;
    const std::string dir = folder(name), under = folder(name + "/under");
    folder(name + "/under/hashed");
    {
      pass_through view("rclone", under, dir + "/v", false,
                        "--vfs-cache-mode " + mode + " --cache-dir " + shell_word(dir + "/cache"));
      if (!view.ok()) GTEST_SKIP() << view.why();
      EXPECT_TRUE(extract(view.at + "/data.bin", false));
      EXPECT_TRUE(extract(view.at + "/hashed/data.bin", true));
    }
    EXPECT_EQ(md5_of_file(under + "/data.bin"), want);
    const std::map<std::string, std::string> hashed = files_held(under + "/hashed");
    ASSERT_EQ(hashed.size(), 1u);
    EXPECT_EQ(hashed.begin()->first.substr(16), "_data.bin_" + want);
    EXPECT_EQ(hashed.begin()->second, want);
  }
}

}  // namespace
