// The second check of quor's outputs, made once the source is open: standard
// output or error on a file the run holds open is refused by that file's
// identity, whatever name led to it (the image, a VMDK extent, an extracted
// $MFT, an index-record file). Each check runs in a child whose standard
// output and error are set up for it. And the copy folder a run would make:
// refused before it is made when the evidence would take it.
#include "app/evidence_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/indx_file.h"
#include "app/source_open.h"
#include "app/user_ctx.h"
#include "tests/app/quor_run.h"
#include "tests/support/child_process.h"
#include "tests/support/loop_device.h"
#include "utils/utf_convert.h"

namespace {

using namespace quor_test;

// `body`'s result in a child whose standard output appends to `out` and
// whose standard error goes to `err` (or to `out` too, with `both`).
int with_outputs(const std::string& out, const std::string& err, bool both, const std::function<int()>& body) {
  return exit_status_in_child(
      [&]() {
        const int fd = ::open(out.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0) return 9;
        ::dup2(fd, STDOUT_FILENO);
        if (both) ::dup2(fd, STDERR_FILENO);
        return body();
      },
      err);
}

TEST(EvidenceGuard, OutputsOnTheOpenSourceAreRefused) {
  const std::string image = copy_fixture("default.img", "guard.img");
  const std::string base = copy_fixture("vmdk-base.vmdk", "guard-base.vmdk");
  const std::string child = copy_fixture("vmdk-child.vmdk", "guard-child.vmdk");
  ASSERT_FALSE(image.empty() || base.empty() || child.empty());
  const std::string other = scratch_dir() + "/guard.out", err = scratch_dir() + "/guard.err";
  std::ofstream(other).flush();
  const struct {
    std::string how;
    std::function<void(user_ctx&)> set;
    std::string held, named;
  } sources[] = {
      {"image", [&](user_ctx& c) { c.image = utf8_to_wstring(image); }, image, image},
      {"VMDK extent", [&](user_ctx& c) { c.vmdk_files = {utf8_to_wstring(child), utf8_to_wstring(base)}; }, base,
       "vmdk files: '" + child + "'; '" + base + "'"},
      {"extracted $MFT", [&](user_ctx& c) { c.mftfile = utf8_to_wstring(image); }, image, image},
  };
  for (const auto& s : sources) {
    user_ctx ctx;
    s.set(ctx);
    ASSERT_TRUE(initialize_mft(ctx)) << s.how;
    const std::string before = read_whole(s.held);
    // Standard output on the file held, then both outputs: refused each
    // time, the refusal said where it can be.
    EXPECT_EQ(with_outputs(s.held, err, false, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + s.named + "\n") << s.how;
    EXPECT_EQ(with_outputs(s.held, err, true, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(s.held), before) << s.how;
    // Any other file takes the run, silently.
    EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_on_open_source(ctx) ? 1 : 0; }), 0) << s.how;
    EXPECT_EQ(read_whole(err), "") << s.how;
  }

  // Before anything is open, the same by the name the parser makes of the
  // image's, blanks and all.
  std::string arg0 = "quor", arg1 = "-image", arg2 = image + " ";
  char* argv[] = {&arg0[0], &arg1[0], &arg2[0]};
  EXPECT_EQ(with_outputs(image, err, false, [&] { return outputs_on_named_evidence(3, argv) ? 1 : 0; }), 1);
  EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + image + "\n");
  EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_on_named_evidence(3, argv) ? 1 : 0; }), 0);

  // The index-record file is checked once open, before it is read.
  user_ctx ctx;
  ctx.indxfile = image;
  const std::string before = read_whole(image);
  EXPECT_EQ(with_outputs(image, err, false, [&] { return static_cast<int>(analyze_indx_file(ctx)); }),
            static_cast<int>(indx_file_refused));
  EXPECT_EQ(read_whole(err), "refused to write to the evidence: " + image + "\n");
  EXPECT_EQ(read_whole(image), before);
}

// A copy folder in a mount of the evidence (ntfs-3g's, here) is not made:
// quor refuses before it makes anything, with the folder named by its own
// path or by one that climbs out of a folder it would make first, and fls
// lists the image as before. The same folder elsewhere is made.
TEST(EvidenceGuard, CopyFolderOnAMountOfTheEvidenceIsNotMade) {
  const std::string image = copy_fixture("default.img", "guard-folder.img");
  ASSERT_FALSE(image.empty());
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  std::string listed_before, listed_after;
  ASSERT_EQ(run_command("fls -r -p " + quote(image), listed_before), 0);
  const std::string at = scratch_dir() + "/guard-folder";
  const std::string climbing = scratch_dir() + "/guard-not-yet";
  {
    const ntfs3g_mount mount(image, at);
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    const std::string folders[] = {at + "/newdir", at + "/newdir/deeper", at, climbing + "/../guard-folder/newdir"};
    for (const std::string& folder : folders) {
      const run_result r = run_quor({"-image", image, "-action_copy_files", folder, "-all"});
      EXPECT_EQ(r.status, kFailed) << folder;
      EXPECT_EQ(r.err, "refused to write to the evidence: " + folder + "\n");
      // Nothing was listed either: the run stopped at its options.
      EXPECT_EQ(r.out.find("small.txt"), std::string::npos) << folder;
    }
    // The folder it would have made in the mount, and the one it would
    // have made on the way there.
    struct stat st;
    EXPECT_NE(::stat((at + "/newdir").c_str(), &st), 0);
    EXPECT_NE(::stat(climbing.c_str(), &st), 0);
    // Named by its extracted $MFT and the folder asked for directly.
    std::string arg0 = "quor", arg1 = "-mftfile", arg2 = image + " ";
    char* argv[] = {&arg0[0], &arg1[0], &arg2[0]};
    EXPECT_TRUE(folder_on_named_evidence(3, argv, at + "/newdir"));
    EXPECT_FALSE(folder_on_named_evidence(3, argv, scratch_dir() + "/guard-beside/newdir"));
  }
  ASSERT_EQ(run_command("fls -r -p " + quote(image), listed_after), 0);
  EXPECT_EQ(listed_after, listed_before);
  EXPECT_EQ(listed_after.find("newdir"), std::string::npos);

  const std::string beside = scratch_dir() + "/guard-beside/copies";
  const run_result r = run_quor({"-image", image, "-action_copy_files", beside, "-all"});
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st;
  EXPECT_EQ(::stat(beside.c_str(), &st), 0);
}

}  // namespace
