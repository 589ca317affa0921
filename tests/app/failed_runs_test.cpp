// A run whose own volume never opens (its image not there, a disk of two
// volumes named without an offset, an offset where no volume starts, a
// snapshot named without its parent) says why on its streams wherever no
// volume the source holds, and no layer, ties a stream to the source: on an
// NTFS case drive, a mergerfs view of a local folder or an sshfs share each
// stream holds what it holds on the local disk, and the run ends with 255.
// Into a volume of the source's disk, or a mount of a source this account
// cannot even open, nothing is written.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "app/source_open.h"
#include "tests/app/quor_run.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/layer_setups.h"
#include "tests/support/partitioned_disk.h"

namespace {

using namespace quor_test;

const char* who_is(const std::string& who) { return who.empty() ? "root" : "nobody"; }

// The command line `quor <args>`, as main has it.
struct command_line {
  std::vector<std::string> words;
  std::vector<char*> argv;
  explicit command_line(const std::vector<std::string>& args) : words(1, "quor") {
    words.insert(words.end(), args.begin(), args.end());
    for (std::string& w : words) argv.push_back(&w[0]);
  }
  int argc() const { return static_cast<int>(argv.size()); }
};

source_reading reading_of(const std::vector<std::string>& args) {
  command_line line(args);
  source_reading reading = source_reading::disk;
  cmdline_source_files(line.argc(), line.argv.data(), &reading);
  return reading;
}

// `c` with standard output and error into out.txt and err.txt of `folder`
// holds in each what the same run writes into those of `local`, with 255.
void expect_both_written(const quor_call& c, const std::string& folder, const std::string& local) {
  quor_call there = c, here = c;
  for (const std::string& at : {folder, local})
    for (const char* name : {"/out.txt", "/err.txt"}) ::unlink((at + name).c_str());
  there.redirect = ">" + quote(folder + "/out.txt") + " 2>" + quote(folder + "/err.txt");
  here.redirect = ">" + quote(local + "/out.txt") + " 2>" + quote(local + "/err.txt");
  std::string said, said_here;
  EXPECT_EQ(run_call(here, said_here), kFailed) << c.how << ": " << said_here;
  EXPECT_EQ(run_call(there, said), kFailed) << c.how << ": " << said;
  EXPECT_NE(comparable(read_whole(local + "/out.txt")), "") << c.how << ": the local run wrote nothing";
  for (const char* name : {"/out.txt", "/err.txt"})
    EXPECT_EQ(first_difference(comparable(read_whole(folder + name)), comparable(read_whole(local + name))), "")
        << c.how << ", both streams there: " << name;
}

// What a failed run opens again is the source the parser chose, read as the
// parser reads it, its first NTFS volume answering for the files of the disk
// it reads: nothing said, nothing for a source that is not there or not a
// disk, and no answer at all where a descriptor or memory is wanting.
TEST(FailedRuns, TheSourceIsOpenedAgainAsTheParserNamesIt) {
  const std::string dir = folder("reopened"), disk = dir + "/disk.dd", notes = dir + "/notes.img";
  {
    layer_stack make;
    if (!mbr_disk(make, disk, {"sample.img", "links.img"})) GTEST_SKIP() << make.why();
  }
  std::ofstream(notes) << "a text file given as an image\n";
  const std::string bare = fixture("links.img"), child = fixture("vmdk-child.vmdk"), base = fixture("vmdk-base.vmdk");
  const std::string alone = copy_fixture("vmdk-child.vmdk", "reopened/child.vmdk");
  ASSERT_FALSE(bare.empty() || child.empty() || base.empty() || alone.empty());
  const ulong64 none = ~0ULL;
  const struct {
    std::string how;
    std::vector<std::string> args;
    source_reading reading;
    ulong64 volume;  // the offset of the volume that answers
    bool files;      // whether the disk's files are added
  } cases[] = {
      {"a disk of two volumes", {"-image", disk, "-all"}, source_reading::disk, disk_volume_offset(0), true},
      {"an offset where no volume starts",
       {"-image", disk, "-offset", "512"},
       source_reading::disk,
       disk_volume_offset(0),
       true},
      {"a bare volume", {"-image", bare}, source_reading::disk, 0, true},
      {"a text file", {"-image", notes}, source_reading::disk, none, true},
      {"an image not there", {"-image", dir + "/nonexist.img"}, source_reading::disk, none, false},
      {"a VMDK chain", {"-vmdk", child, "-vmdk", base}, source_reading::vmdk_chain, 0x100000, true},
      {"a snapshot without its parent", {"-vmdk", alone}, source_reading::vmdk_chain, none, false},
      {"an extracted $MFT", {"-mftfile", notes}, source_reading::not_a_disk, none, false},
      {"no source", {"-all"}, source_reading::not_a_disk, none, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(reading_of(c.args), c.reading) << c.how;
    reopened_source held;
    uni::file_identities out;
    testing::internal::CaptureStdout();
    command_line line(c.args);
    EXPECT_TRUE(reopen_source(line.argc(), line.argv.data(), held, out)) << c.how;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.how;
    EXPECT_EQ(held.volume ? held.volume->m_volume_offset : none, c.volume) << c.how;
    EXPECT_EQ(!out.empty(), c.files) << c.how;
    for (const uni::file_identity& id : out) EXPECT_EQ(id.volume, held.volume.get()) << c.how;
  }
  // No descriptor to be had.
  struct rlimit limit;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  struct rlimit none_left = limit;
  none_left.rlim_cur = 0;
  reopened_source held;
  uni::file_identities out;
  command_line line({"-image", disk});
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none_left), 0);
  const bool told = reopen_source(line.argc(), line.argv.data(), held, out);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_FALSE(told);
  EXPECT_TRUE(out.empty() && !held.disk && !held.volume);
  // Memory that runs out at any allocation: no answer, or the whole one.
  arm_allocation_failure(1LL << 40);
  ASSERT_TRUE(reopen_source(line.argc(), line.argv.data(), held, out));
  const long64 allocations = allocations_counted();
  arm_allocation_failure(-1);
  int refused = 0;
  for (long64 n = 0; n < allocations; ++n) {
    reopened_source again;
    uni::file_identities found;
    arm_allocation_failure(n);
    const bool answered = reopen_source(line.argc(), line.argv.data(), again, found);
    arm_allocation_failure(-1);
    refused += answered ? 0 : 1;
    if (answered) {
      EXPECT_TRUE(again.volume && again.volume->m_volume_offset == disk_volume_offset(0) && !found.empty()) << n;
    } else {
      EXPECT_TRUE(found.empty() && !again.disk && !again.volume) << n;
    }
  }
  EXPECT_GT(refused, 0);
}

// A missing image onto an NTFS case drive (mounted by ntfs-3g, or over a
// block export whose server nobody cannot see), a disk of two volumes named
// without an offset onto a mergerfs view of a local folder: root's and
// nobody's streams there, alone and together, hold the banner, the reason
// and the partition list a local run writes.
TEST(FailedRuns, TheReasonReachesAStreamNoVolumeOfTheSourceHolds) {
  if (!have_program("setpriv")) GTEST_SKIP() << "setpriv not installed";
  const std::string dir = folder("failed"), local = folder("failed/local"), branch = folder("failed/branch");
  open_to_nobody({dir});
  ASSERT_EQ(::chmod(local.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(branch.c_str(), 0777), 0);
  layer_stack setup;
  if (!mbr_disk(setup, dir + "/disk.dd", {"sample.img", "links.img"}) ||
      !ntfs_case_drive(setup, dir + "/drive.img", dir + "/xd", false) ||
      !setup.mount("ntfs-3g -o allow_other,noatime " + quote(dir + "/drive.img") + " " + quote(dir + "/xd"),
                   dir + "/xd", dir + "/drive.img") ||
      !setup.step("chmod 0777 " + quote(dir + "/xd")))
    GTEST_SKIP() << setup.why();
  pass_through view("mergerfs", branch, dir + "/mf", false, "-o allow_other");
  if (!view.ok()) GTEST_SKIP() << view.why();
  if (!ntfs_case_drive(setup, dir + "/exported.img", dir + "/xe", false)) GTEST_SKIP() << setup.why();
  block_export exported(folder("failed/export"),
                        "--blockdev " + quote("driver=file,filename=" + dir + "/exported.img,node-name=r"), "r");
  if (!exported.ok() || !exported.step("chmod 0777 " + quote(exported.at))) GTEST_SKIP() << exported.why();
  ASSERT_EQ(::chmod((dir + "/export").c_str(), 0755), 0);
  const struct {
    std::string how;
    std::vector<std::string> args;
    std::string at;
    std::vector<stream_form> forms;
  } runs[] = {
      {"an image that is not there, onto an NTFS case drive",
       {"-image", "nonexist.img", "-all", "-csv"},
       dir + "/xd",
       {{"the listing", ">@", "f.csv", ""}, {"the listing and its log", ">@ 2>&1", "fe.txt", ""}}},
      {"an image that is not there, onto an NTFS volume exported by a server out of nobody's sight",
       {"-image", "nonexist.img", "-all", "-csv"},
       exported.at,
       {{"the listing", ">@", "f.csv", ""}}},
      {"a disk of two volumes without an offset, onto a mergerfs view",
       {"-image", "disk.dd", "-all", "-csv"},
       view.at,
       {{"the log", "2>@", "e.txt", ""}, {"the listing and its log", ">@ 2>&1", "fe.txt", ""}}},
  };
  for (const auto& r : runs)
    for (const std::string& who : {std::string(), as_nobody()}) {
      const quor_call c = {std::string(who_is(who)) + ", " + r.how, dir, r.args, "", who};
      for (const stream_form& f : r.forms) expect_written(c, f, r.at, local + "/" + f.name, kFailed);
      expect_both_written(c, r.at, local);
    }
  EXPECT_NE(read_whole(view.at + "/e.txt").find("use option [-image \"" + dir + "/disk.dd\" -offset 0x"),
            std::string::npos);
  // An image only root reads, exported by a server out of nobody's sight: no volume of it opens for nobody to
  // ask, yet it is there, so what nobody cannot tell under the export is refused, not taken for a missing one's.
  const std::string root_only = copy_fixture("sample.img", "failed/root-only.img");
  ASSERT_FALSE(root_only.empty());
  ASSERT_EQ(::chmod(root_only.c_str(), 0600), 0);
  block_export own(folder("failed/own"), "--blockdev " + quote("driver=file,filename=" + root_only + ",node-name=o"),
                   "o");
  if (!own.ok() || !own.step("chmod 0777 " + quote(own.at) + " && echo kept > " + quote(own.at + "/r.csv")))
    GTEST_SKIP() << own.why();
  expect_refused({{"nobody: an image only root reads, appended to a file of its export", dir,
                   {"-image", "root-only.img", "-all"}, ">>" + quote(own.at + "/r.csv"), as_nobody()}},
                 {own.at + "/r.csv"}, {}, "refused to write: " + own.at + "/r.csv");
}

// An sshfs share, which never refuses a listing, takes a failed run's
// streams as the local disk does: a snapshot named without its parent, a
// disk read at an offset where no volume starts.
TEST(FailedRuns, AShareTakesAFailedRunsStreams) {
  const std::string dir = folder("failed-share"), local = folder("failed-share/local"),
                    served = folder("failed-share/served");
  ASSERT_FALSE(copy_fixture("vmdk-child.vmdk", "failed-share/child.vmdk").empty());
  {
    layer_stack make;
    if (!mbr_disk(make, dir + "/disk.dd", {"sample.img", "links.img"})) GTEST_SKIP() << make.why();
  }
  ssh_share ssh(dir + "/sshd", served);
  if (!ssh.ok() || !ssh.share(served, dir + "/s")) GTEST_SKIP() << ssh.why();
  const quor_call runs[] = {
      {"a snapshot without its parent", dir, {"-vmdk", "child.vmdk", "-all", "-csv"}, ""},
      {"an offset where no volume starts", dir, {"-image", "disk.dd", "-offset", "512", "-all", "-csv"}, ""},
  };
  for (const quor_call& c : runs) {
    for (const stream_form& f :
         {stream_form{"the log", "2>@", "e.txt", ""}, stream_form{"the listing and its log", ">@ 2>&1", "fe.txt", ""}})
      expect_written(c, f, dir + "/s", local + "/" + f.name, kFailed);
    expect_both_written(c, dir + "/s", local);
  }
}

// Root's ntfs-3g mount, open to every user, of the second volume of a disk,
// exported writable by qemu-storage-daemon (whose server nobody cannot see),
// and of a loop device only root reads: nobody's run of the disk named
// without an offset, and of the device, writes nothing there; the volumes
// are as they were.
TEST(FailedRuns, NothingReachesAVolumeOfASourceThatNeverOpened) {
  if (!have_program("setpriv") || !have_program("icat") || !have_program("ifind"))
    GTEST_SKIP() << "setpriv, icat or ifind not installed";
  const std::string dir = folder("failed-own"), disk = dir + "/disk.dd", image = dir + "/lo.img";
  open_to_nobody({dir, folder("failed-own/second")});
  ASSERT_FALSE(copy_fixture("sample.img", "failed-own/lo.img").empty());
  {
    layer_stack make;
    if (!mbr_disk(make, disk, {"sample.img", "links.img"})) GTEST_SKIP() << make.why();
  }
  {
    block_export second(dir + "/second",
                        "--blockdev " + quote("driver=file,filename=" + disk + ",node-name=f,locking=off") +
                            " --blockdev " +
                            quote("driver=raw,file=f,offset=" + std::to_string(disk_volume_offset(1)) +
                                  ",size=" + std::to_string(kDiskVolume * 512) + ",node-name=p"),
                        "p");
    if (!second.ok() || !second.step("echo two > " + quote(second.at + "/existing.txt"))) GTEST_SKIP() << second.why();
    layer_stack loop;
    const std::string device = loop.loop(image);
    if (!loop.mount("ntfs-3g -o allow_other,noatime " + device + " " + quote(dir + "/m"), dir + "/m") ||
        !loop.step("chmod 0777 " + quote(dir + "/m") + " && echo one > " + quote(dir + "/m/existing.txt")))
      GTEST_SKIP() << loop.why();
    std::string readable;
    if (run_command(as_nobody() + "head -c 1 " + device + " >/dev/null 2>&1 && echo yes", readable) == 0 &&
        readable.find("yes") != std::string::npos)
      GTEST_SKIP() << "nobody reads " << device;
    const std::vector<std::string> of_disk = {"-image", "disk.dd", "-all", "-csv"},
                                   of_device = {"-image", device, "-all", "-csv"};
    expect_refused(
        {{"nobody: the disk without an offset, appended to the second volume's file", dir, of_disk,
          ">>" + quote(second.at + "/existing.txt"), as_nobody()},
         {"nobody: its log appended there", dir, of_disk, "2>>" + quote(second.at + "/existing.txt"), as_nobody()}},
        {second.at + "/existing.txt"}, {},
        "it is \\existing.txt of the volume at offset " + std::to_string(disk_volume_offset(1)));
    expect_refused(
        {{"nobody: a device only root reads, appended to its file", dir, of_device,
          ">>" + quote(dir + "/m/existing.txt"), as_nobody()},
         {"nobody: its log appended there", dir, of_device, "2>>" + quote(dir + "/m/existing.txt"), as_nobody()}},
        {dir + "/m/existing.txt"}, {}, "it is stored in the evidence " + device);
    for (const auto& made :
         {std::make_pair(second.at + "/new.csv", of_disk), std::make_pair(dir + "/m/new.csv", of_device)}) {
      std::string said;
      EXPECT_EQ(run_call({"nobody: a new listing", dir, made.second, ">" + quote(made.first), as_nobody()}, said),
                kFailed)
          << made.first;
      EXPECT_NE(said.find("refused to write: " + made.first), std::string::npos) << said;
      EXPECT_EQ(read_whole(made.first), "") << made.first;
    }
  }
  ASSERT_TRUE(wait_until_unheld(disk) && wait_until_unheld(image));
  ASSERT_TRUE(copy_disk_volume(disk, 1, dir + "/second.raw"));
  for (const auto& kept : {std::make_pair(dir + "/second.raw", "two\n"), std::make_pair(image, "one\n")}) {
    EXPECT_EQ(volume_file_text(kept.first, "/existing.txt"), kept.second) << kept.first;
    EXPECT_EQ(volume_file_text(kept.first, "/new.csv"), "") << kept.first;
  }
}

}  // namespace
