// quor's standard output must not land on the evidence it reads: a run whose
// standard output or standard error is the image (written in place or
// appended to, by its name or a hard link, through a loop device in either
// direction, in a mount of it, or an extent of a VMDK chain), any file an
// argument names, or any file that already holds a volume, is refused
// before anything is read or written, with status 255; any other standard
// output takes the run as before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"

namespace {

using namespace quor_test;

std::string md5_of(const std::string& path) {
  std::string out;
  return run_command("md5sum < " + quote(path), out) == 0 ? out.substr(0, 32) : "";
}

// The name the system gives the file `path` leads to.
std::string real_name(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

// The file a shell redirection ("1<>'f'", ">>f") sends a stream to, as the
// system names it; a relative name is taken from the scratch folder.
std::string redirected_file(const std::string& redirect) {
  std::string file = redirect.substr(redirect.find_first_not_of("0123456789<>&"));
  if (file.size() > 1 && file.front() == '\'') file = file.substr(1, file.size() - 2);
  return real_name(file[0] == '/' ? file : scratch_dir() + "/" + file);
}

// Why a stream onto the evidence named `named` is refused.
std::string evidence(const std::string& named) { return "it is the evidence " + named; }

// Why a stream onto a file that holds `what` is refused.
std::string holds(const std::string& what) {
  return "it holds binary data (" + what + ") and may be evidence; name another file";
}

// A name of `target` longer than the system takes: a link at the end of
// folders whose path alone is longer than PATH_MAX, relative to `top`.
std::string overlong_name(const std::string& top, const std::string& target) {
  const std::string part(250, 'd');
  int at = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  std::string name;
  for (int depth = 0; at >= 0 && depth < 20; ++depth) {
    ::mkdirat(at, part.c_str(), 0700);
    const int next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(at);
    at = next;
    name += part + "/";
  }
  if (at < 0 || ::symlinkat(target.c_str(), at, "ev") != 0) name.clear();
  if (at >= 0) ::close(at);
  return name.empty() ? "" : name + "ev";
}

// quor with `args` under the shell redirections `redirect`, started in the
// scratch folder (where relative names in `args` are taken from); what the
// shell's own standard output received goes to `shown`.
int run_in_shell(const std::vector<std::string>& args, const std::string& redirect, std::string& shown) {
  std::string cmd = "cd " + quote(scratch_dir()) + " && timeout 120 " + quote(QUOR_EXE);
  for (const std::string& a : args) cmd += " " + quote(a);
  return run_command(cmd + " " + redirect + " </dev/null", shown);
}

// The same with standard error into `err`.
int run_redirected(const std::vector<std::string>& args, const std::string& redirect, std::string& err) {
  const std::string err_path = scratch_dir() + "/stdout-evidence.err";
  std::string ignored;
  const int status = run_in_shell(args, redirect + " 2>" + quote(err_path), ignored);
  err = read_whole(err_path);
  return status;
}

TEST(StdoutEvidence, StandardOutputOnTheEvidenceIsRefused) {
  const std::string image = copy_fixture("default.img", "stdout-evidence.img");
  const std::string base = copy_fixture("vmdk-base.vmdk", "vmdk-base.vmdk");
  const std::string child = copy_fixture("vmdk-child.vmdk", "vmdk-child.vmdk");
  ASSERT_FALSE(image.empty() || base.empty() || child.empty());
  const std::string hard = scratch_dir() + "/stdout-evidence.hard";
  ::unlink(hard.c_str());
  ASSERT_EQ(::link(image.c_str(), hard.c_str()), 0);
  const std::string sum = md5_of(image), base_sum = md5_of(base), child_sum = md5_of(child);
  ASSERT_EQ(sum.size(), 32u);
  // A file that holds no volume (an image whose first sectors were wiped):
  // only what the command line names can tell it is evidence.
  const std::string plain = copy_fixture("default.img", "stdout-plain.img");
  ASSERT_FALSE(plain.empty());
  {
    std::fstream wipe(plain, std::ios::in | std::ios::out | std::ios::binary);
    wipe << std::string(16384, '\0');
  }
  const std::string plain_sum = md5_of(plain);

  struct refusal {
    std::string how;
    std::vector<std::string> args;
    std::string redirect, why;
    // What standard error takes after the refusal: the words of a command
    // line the run would end at, as a run onto another output says them.
    std::string then = std::string();
  };
  // The image by a name the run cleans before it opens it: through the
  // symbolic link, "sub/.." leads the system elsewhere, while the run takes
  // it as text and opens the image.
  const std::string elsewhere = scratch_dir() + "/stdout-elsewhere";
  ::mkdir(elsewhere.c_str(), 0700);
  ::mkdir((elsewhere + "/inner").c_str(), 0700);
  ::unlink((scratch_dir() + "/sub").c_str());
  ASSERT_EQ(::symlink((elsewhere + "/inner").c_str(), (scratch_dir() + "/sub").c_str()), 0);
  const std::string appended = ">>" + quote(image);
  // The image by 46 links, more than the system follows.
  std::string link = image;
  for (int n = 1; n <= 46; ++n) {
    const std::string next = scratch_dir() + "/stdout-link" + std::to_string(n);
    ::unlink(next.c_str());
    ASSERT_EQ(::symlink(link.c_str(), next.c_str()), 0);
    link = next;
  }
  const std::string overlong = overlong_name(scratch_dir(), image);
  ASSERT_FALSE(overlong.empty());
  // The image the user meant, by a climb out of a linked folder: the system
  // climbs out of the folder linked to, the run out of the link's own.
  const std::string other = scratch_dir() + "/stdout-other";
  ::mkdir(other.c_str(), 0700);
  ::mkdir((other + "/deep").c_str(), 0700);
  const std::string meant = other + "/d2.img";
  ::unlink(meant.c_str());
  ASSERT_EQ(::link(image.c_str(), meant.c_str()), 0);
  ::unlink((scratch_dir() + "/stdout-ln").c_str());
  ASSERT_EQ(::symlink((other + "/deep").c_str(), (scratch_dir() + "/stdout-ln").c_str()), 0);
  const std::string volume = holds("an NTFS boot sector");
  const std::string no_source =
      "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, -vmdk]\n";
  const std::string child_alone =
      "vmdk-child.vmdk  is invalid\n\nsuggested array: -vmdk \"vmdk-child.vmdk \" \n";
  std::vector<refusal> cases = {
      {"written in place", {"-image", image, "-all"}, "1<>" + quote(image), evidence(image)},
      {"appended", {"-image", image, "-all"}, appended, evidence(image)},
      {"appended to a hard link", {"-image", image, "-all", "-csv"}, ">>" + quote(hard), evidence(image)},
      {"the help text appended", {"-image", image, "-h"}, appended, evidence(image)},
      {"an index-record file appended", {"-indxfile", image}, appended, evidence(image)},
      {"a VMDK extent appended", {"-vmdk", child, "-vmdk", base, "-all"}, ">>" + quote(base), evidence(base)},
      // The parser follows a chain given in part to the parents its extents
      // name, and opens them: those are evidence too.
      {"the parent of a VMDK extent named alone",
       {"-vmdk", child, "-all"},
       ">>" + quote(base),
       evidence(base),
       "=> vmdk file: " + child + "\n depends on parent vmdk \"vmdk-base.vmdk\"\n\nsuggested array: -vmdk \"" + child +
           "\" -vmdk \"" + base + "\" \n"},
      {"named with a trailing blank", {"-image", image + " ", "-all"}, appended, evidence(image)},
      {"named with a leading blank", {"-image", " " + image, "-all"}, appended, evidence(image)},
      {"named in double quotes", {"-image", "\"" + image + "\"", "-all"}, appended, evidence(image)},
      {"named with a trailing tab", {"-image", image + "\t", "-all", "-csv"}, appended, evidence(image)},
      {"named through a symbolic link and ..",
       {"-image", "sub/../stdout-evidence.img", "-all"},
       appended,
       evidence(image)},
      // A flag between an option and its value is taken first, and the
      // option takes the argument after it.
      {"an image after a flag", {"-image", "-csv", image, "-all"}, appended, evidence(image)},
      {"a VMDK extent after a flag",
       {"-vmdk", child, "-vmdk", "-csv", base, "-all"},
       ">>" + quote(base),
       evidence(base)},
      {"an index-record file after a flag", {"-indxfile", "-csv", image}, appended, evidence(image)},
      {"an extracted $MFT after a flag", {"-mftfile", "-base10", image}, appended, evidence(image)},
      // A source the parser passes over, named last.
      {"an index-record file named last, after the image read",
       {"-image", fixture("default.img"), "-all", "-indxfile", image},
       appended,
       evidence(image)},
      // The other source options' values cleaned as an image's is: the run
      // cannot open them as typed, and would write before it says so.
      {"a VMDK chain named with blanks",
       {"-vmdk", "vmdk-child.vmdk ", "-vmdk", " vmdk-base.vmdk", "-all"},
       ">>" + quote(base),
       evidence(base),
       "vmdk-child.vmdk  is invalid\n\nsuggested array: -vmdk \"vmdk-child.vmdk \" -vmdk \" vmdk-base.vmdk\" \n"},
      {"the parent of a VMDK extent named alone with a blank",
       {"-vmdk", "vmdk-child.vmdk ", "-all"},
       ">>" + quote(base),
       evidence(base),
       child_alone},
      {"an index-record file named with a blank", {"-indxfile", "stdout-evidence.img "}, appended, evidence(image)},
      {"an extracted $MFT named in quotes", {"-mftfile", "'stdout-evidence.img'", "-all"}, appended, evidence(image)},
      {"a VMDK extent named with a blank after a flag",
       {"-vmdk", "-csv", "vmdk-child.vmdk ", "-all"},
       ">>" + quote(base),
       evidence(base),
       child_alone},
      {"an index-record file named with a blank after a flag",
       {"-indxfile", "-csv", " stdout-evidence.img"},
       appended,
       evidence(image)},
      {"an index-record file the parser passes over, named with a blank",
       {"-image", fixture("default.img"), "-all", "-indxfile", "stdout-plain.img "},
       ">>" + quote(plain),
       evidence(real_name(plain))},
      // Any argument that names a file: an image named with a slip in its
      // option, or after an option that takes it as no value.
      {"the image named without its option",
       {"stdout-evidence.img", "-all"},
       appended,
       evidence("stdout-evidence.img"),
       no_source},
      {"the image after a misspelt option",
       {"-imgae", "stdout-evidence.img", "-all"},
       appended,
       evidence("stdout-evidence.img"),
       no_source},
      {"the image after a doubled dash",
       {"--image", "stdout-evidence.img", "-all"},
       appended,
       evidence("stdout-evidence.img"),
       no_source},
      {"the image after an option that is no parser's",
       {"-image", "-level", "stdout-evidence.img"},
       appended,
       evidence("stdout-evidence.img")},
      {"a stray file that holds no volume",
       {"-image", "stdout-evidence.im", "stdout-plain.img", "-all"},
       ">>" + quote(plain),
       evidence("stdout-plain.img")},
      {"a stray file that holds no volume, with a blank",
       {"-image", "stdout-evidence.im", " stdout-plain.img", "-all"},
       ">>" + quote(plain),
       evidence(real_name(plain))},
      // With only its blank cut, the name leads the system where the user
      // meant, out of the folder linked to.
      {"a stray blank after a climb out of a linked folder",
       {"-image", "stdout-ln/../d2.img ", "-all"},
       ">>" + quote(meant),
       evidence("stdout-ln/../d2.img")},
      // Names that lead nowhere the check can follow: the output is refused
      // for the volume it holds, and named as the system names it.
      {"a slip in the image's name", {"-image", "stdout-evidence.im", "-all"}, appended, volume},
      {"the image joined to its option", {"-image=stdout-evidence.img", "-all"}, appended, volume, no_source},
      {"the image through 46 links", {"-image", link, "-all"}, appended, volume},
      {"the image by a name longer than the system takes", {"-image", overlong, "-all"}, appended, volume},
      {"the help text appended to a volume the command line does not name", {"-h"}, appended, volume},
      {"no argument at all", {}, appended, volume},
  };
  const loop_device read_only(image, true);
  const loop_device writable(image, false);
  if (!read_only.path().empty() && !writable.path().empty()) {
    cases.push_back({"read through a loop device, appended to the file behind it",
                     {"-image", read_only.path(), "-all"},
                     ">>" + quote(image),
                     "it is what the evidence " + read_only.path() + " reads through the loop device " +
                         read_only.path()});
    cases.push_back({"written to a loop device over the image",
                     {"-image", image, "-all"},
                     ">" + quote(writable.path()),
                     evidence(image + " through the loop device " + writable.path())});
  }
  for (const refusal& c : cases) {
    std::string err;
    EXPECT_EQ(run_redirected(c.args, c.redirect, err), kFailed) << c.how;
    EXPECT_EQ(err, "refused to write: " + redirected_file(c.redirect) + ": " + c.why + "\n" + c.then) << c.how;
    ASSERT_EQ(md5_of(image), sum) << c.how;
    ASSERT_EQ(md5_of(base), base_sum) << c.how;
    ASSERT_EQ(md5_of(child), child_sum) << c.how;
    ASSERT_EQ(md5_of(plain), plain_sum) << c.how;
  }

  // Standard error is quor's output too (status lines, messages): on the
  // evidence it is refused the same way, the refusal then said on standard
  // output, or nowhere when both are the evidence.
  const std::string said = scratch_dir() + "/stdout-evidence.said";
  // Standard error that is no file (the null device, a pipe) cannot be
  // the evidence and takes the refusal of standard output.
  const std::string refused = "refused to write: " + image + ": " + evidence(image) + "\n";
  const struct {
    std::string how;
    std::vector<std::string> args;
    std::string redirect, want_out;
  } on_error[] = {
      {"standard error appended", {"-image", image, "-all"}, ">" + quote(said) + " 2>>" + quote(image), refused},
      {"standard error appended, the image named with a blank",
       {"-image", image + " ", "-all"},
       ">" + quote(said) + " 2>>" + quote(image),
       refused},
      {"both appended", {"-image", image, "-all"}, appended + " 2>&1", ""},
      {"standard error on the null device", {"-image", image, "-all"}, appended + " 2>/dev/null", ""},
      {"standard error on the null device, the image named with a blank",
       {"-image", " " + image, "-all"},
       appended + " 2>/dev/null",
       ""},
      {"standard error appended to a VMDK extent named with a blank",
       {"-vmdk", "vmdk-child.vmdk ", "-vmdk", "vmdk-base.vmdk ", "-all"},
       ">" + quote(said) + " 2>>" + quote(base),
       "refused to write: " + base + ": " + evidence(base) + "\n"},
      {"standard error appended to a volume the command line does not name",
       {"-image", "stdout-evidence.im", "-all"},
       ">" + quote(said) + " 2>>" + quote(image),
       "refused to write: " + image + ": " + volume + "\n"},
      {"both appended to a volume the command line does not name",
       {"-image", "stdout-evidence.im", "-all"},
       ">" + quote(said) + " 2>>" + quote(image) + " 1>&2",
       ""},
  };
  for (const auto& c : on_error) {
    std::string ignored;
    ::unlink(said.c_str());
    EXPECT_EQ(run_in_shell(c.args, c.redirect, ignored), kFailed) << c.how;
    const std::string out = read_whole(said);
    EXPECT_TRUE(out == c.want_out) << c.how << ": " << out.substr(0, 200);
    ASSERT_EQ(md5_of(image), sum) << c.how;
    ASSERT_EQ(md5_of(base), base_sum) << c.how;
  }
  // Standard error on a pipe: the refusal comes through it, and the status
  // is quor's own.
  for (const std::string& named : {image, image + "\t"}) {
    std::string piped;
    std::string cmd = "cd " + quote(scratch_dir()) + " && { " + quote(QUOR_EXE) + " -image " + quote(named) +
                      " -all 2>&1 " + appended + " </dev/null; echo \"status $?\"; } | cat";
    EXPECT_EQ(run_command(cmd, piped), 0);
    EXPECT_EQ(piped, refused + "status 255\n") << named;
    ASSERT_EQ(md5_of(image), sum) << named;
  }

  // Any other file takes the run, also one beside the image.
  const std::string listing = scratch_dir() + "/stdout-evidence.out";
  std::string err;
  EXPECT_EQ(run_redirected({"-image", image, "-all", "-csv"}, ">" + quote(listing), err), 0) << err;
  const std::string text = read_whole(listing);
  EXPECT_EQ(text.compare(0, 5, "quor "), 0) << text.substr(0, 80);
  EXPECT_NE(text.find("small.txt"), std::string::npos);
  EXPECT_EQ(md5_of(image), sum);
  // A file that holds text, an earlier listing among it, takes a listing
  // appended.
  EXPECT_EQ(run_redirected({"-image", image, "-all", "-csv"}, ">>" + quote(listing), err), 0) << err;
  const std::string twice = read_whole(listing);
  EXPECT_EQ(twice.compare(0, text.size(), text), 0);
  EXPECT_NE(twice.find("small.txt", text.size()), std::string::npos) << "appended once more";
  EXPECT_EQ(md5_of(image), sum);
  if (read_only.path().empty() || writable.path().empty()) GTEST_SKIP() << "loop devices not tried: "
                                                                         << read_only.why() << writable.why();
}

// Standard output on `report`, a file in a mount of the image, is refused
// for each of the names the image is given by, saying why, and the report
// stays empty.
void expect_report_refused(const std::string& report, const std::vector<std::pair<std::string, std::string>>& names) {
  { std::ofstream(report) << ""; }
  for (const auto& named : names)
    for (const char* redirect : {">>", ">"}) {
      std::string err;
      EXPECT_EQ(run_redirected({"-image", named.first, "-all"}, redirect + quote(report), err), kFailed) << named.first;
      EXPECT_EQ(err, "refused to write: " + report + ": " + named.second + "\n");
      EXPECT_EQ(read_whole(report), "") << named.first;
    }
}

// An image mounted read-write through a loop device takes what is written
// to a file in the mount: standard output appended to such a file is
// refused, whether the image is named as a file or as the loop device.
TEST(StdoutEvidence, FileOnTheMountedImageIsRefused) {
  if (!have_program("mkfs.ext2")) GTEST_SKIP() << "mkfs.ext2 not installed";
  const std::string image = scratch_dir() + "/stdout-mounted.img";
  std::string ignored;
  ASSERT_EQ(run_command("truncate -s 4M " + quote(image) + " && mkfs.ext2 -q -F " + quote(image), ignored), 0);
  const loop_device loop(image, false);
  if (loop.path().empty()) GTEST_SKIP() << loop.why();
  const ext2_mount mount(loop.path(), scratch_dir() + "/stdout-mount");
  if (mount.dir().empty()) GTEST_SKIP() << "ext2 could not be mounted";
  expect_report_refused(
      mount.dir() + "/report",
      {{image, "it is stored in the evidence " + image + " through the loop device " + loop.path()},
       {loop.path(), "it is stored in the evidence " + loop.path() + " through the disk " + loop.path()}});
}

// The same for an NTFS image mounted read-write by ntfs-3g: a FUSE file
// system, with no disk of its own, that writes into the image file.
TEST(StdoutEvidence, FileOnAFuseMountOfTheImageIsRefused) {
  const std::string image = copy_fixture("default.img", "stdout-fuse.img");
  ASSERT_FALSE(image.empty());
  const ntfs3g_mount mount(image, scratch_dir() + "/stdout-fuse");
  if (mount.dir().empty()) GTEST_SKIP() << mount.why();
  expect_report_refused(
      mount.dir() + "/report",
      {{image, "it is stored in the evidence " + image + " through the FUSE mount at " + mount.dir() + " (fuse)"}});
}

}  // namespace

namespace {

// Standard output that takes nothing, or stops taking the listing part way,
// fails the run with a message on standard error: a listing that never
// arrived whole is no success. Closed or full from the start, the run stops
// before any work (no status line is shown).
TEST(StdoutEvidence, StandardOutputThatCannotBeWrittenFailsTheRun) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  const std::string lost = "prob writing standard output, aborting\n";
  const std::string out = scratch_dir() + "/unwritten.out", err = scratch_dir() + "/unwritten.err";
  const struct {
    std::string how, limit, redirect;
    std::vector<std::string> args;
    bool at_once;
  } cases[] = {
      {"closed", "", ">&-", {"-image", image, "-all", "-csv"}, true},
      {"the full device", "", ">/dev/full", {"-image", image, "-all"}, true},
      {"an index-record file to the full device", "", ">/dev/full", {"-indxfile", image, "-all"}, true},
      // A file that may grow to 16 blocks, with the signal for passing
      // that ignored: the listing's writes fail from there on.
      {"a file that stops growing", "ulimit -f 16; trap '' XFSZ; ", ">" + quote(out), {"-image", image, "-all"},
       false},
      // The same limit with the signal as the shell leaves it: quor's
      // writes fail all the same, and it says so.
      {"a file-size limit", "ulimit -f 16; ", ">" + quote(out), {"-image", image, "-all"}, false},
  };
  for (const auto& c : cases) {
    std::string cmd = "cd " + quote(scratch_dir()) + " && " + c.limit + "timeout 120 " + quote(QUOR_EXE);
    for (const std::string& a : c.args) cmd += " " + quote(a);
    std::string ignored;
    EXPECT_EQ(run_command(cmd + " " + c.redirect + " 2>" + quote(err) + " </dev/null", ignored), kFailed) << c.how;
    const std::string said = read_whole(err);
    if (c.at_once) {
      EXPECT_EQ(said, lost) << c.how;
    } else {
      EXPECT_TRUE(ends_with(said, lost)) << c.how << ": " << said.substr(0, 200);
      // The shell counts the limit in blocks of 512 or 1024 bytes.
      const size_t kept = read_whole(out).size();
      EXPECT_TRUE(kept == 8192 || kept == 16384) << c.how << ": " << kept;
    }
  }
}

}  // namespace

namespace {

// A reader that leaves the pipe early ends quor quietly by SIGPIPE (status
// 141), as any program of the pipe: no word of writing standard output.
TEST(StdoutEvidence, ReaderLeavingThePipeEndsTheRunQuietly) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  const std::string err = scratch_dir() + "/left-pipe.err", status = scratch_dir() + "/left-pipe.status";
  std::string head;
  ASSERT_EQ(run_command("{ " + quote(QUOR_EXE) + " -image " + quote(image) + " -all 2>" + quote(err) +
                            " </dev/null; echo $? >" + quote(status) + "; } | head -c 5",
                        head),
            0);
  EXPECT_EQ(head, "quor ");
  EXPECT_EQ(read_whole(status), "141\n");
  EXPECT_EQ(read_whole(err).find("prob writing"), std::string::npos);
}

// Closed standard input or error takes no file of the run: the image is
// not opened on their numbers and then taken for an output, and the listing
// is the one the run writes with both open.
TEST(StdoutEvidence, ClosedStandardInputOrErrorTakesNoFile) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  const std::string out = scratch_dir() + "/closed-streams.out";
  // The listing without the banner's run time.
  auto listing = [&](const std::string& closing) {
    std::string ignored;
    const int status = run_command("cd " + quote(scratch_dir()) + " && timeout 120 " + quote(QUOR_EXE) + " -image " +
                                       quote(image) + " -all >" + quote(out) + " " + closing,
                                   ignored);
    std::vector<std::string> lines = lines_of(read_whole(out));
    if (lines.size() > 1) lines.erase(lines.begin() + 1);
    return std::make_pair(status, lines);
  };
  const auto open = listing("2>/dev/null </dev/null");
  ASSERT_EQ(open.first, 0);
  ASSERT_GT(open.second.size(), 1000u);
  for (const char* closing : {"2>&-", "<&- 2>&-", "<&- 2>/dev/null"}) {
    const auto closed = listing(closing);
    EXPECT_EQ(closed.first, 0) << closing;
    EXPECT_TRUE(closed.second == open.second) << closing << ": " << read_whole(out).substr(0, 300);
  }
}

}  // namespace

namespace {

// quor with `args` in the scratch folder, its standard output and error
// into files there unless `redirect` sends one elsewhere; `said` takes what
// those files received. Every file the run writes is bounded: a run that
// writes into a mount of the image it reads could otherwise go on reading
// what it wrote.
int run_bounded(const std::vector<std::string>& args, const std::string& redirect, std::string& said) {
  const std::string out = scratch_dir() + "/bounded.out", err = scratch_dir() + "/bounded.err";
  std::string cmd = "cd " + quote(scratch_dir()) + " && ulimit -f 20000 && timeout 120 " + quote(QUOR_EXE);
  for (const std::string& a : args) cmd += " " + quote(a);
  std::string ignored;
  const int status = run_command(cmd + " >" + quote(out) + " 2>" + quote(err) + " " + redirect + " </dev/null", ignored);
  said = read_whole(out) + read_whole(err);
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return status;
}

// Each run of `args` under `redirect` is refused, the file it redirects to
// named with `why`, with `kept` (a file the run would have written) as it
// was.
void expect_runs_refused(const std::vector<std::pair<std::vector<std::string>, std::string>>& runs,
                         const std::string& why, const std::string& kept) {
  const std::string before = read_whole(kept);
  for (const auto& run : runs) {
    std::string said;
    EXPECT_EQ(run_bounded(run.first, run.second, said), kFailed) << run.second;
    EXPECT_EQ(said, "refused to write: " + redirected_file(run.second) + ": " + why + "\n") << run.second;
    EXPECT_EQ(read_whole(kept), before) << run.second;
  }
}

// ntfs-3g over `image` at `at`, without the access times that reads
// through it would write into the image.
std::string ntfs3g_command(const std::string& image, const std::string& at) {
  return "ntfs-3g -o noatime " + quote(image) + " " + quote(at);
}

// ntfs-3g hands FUSE an image's name cut at its first comma, and an image
// renamed after its mount keeps its old name in the mount table; the
// process serving the mount holds the image all the same. Standard output
// or error into a file of the mount and a copy folder there are refused,
// the image's digest stays while it is mounted, and fls lists it as before
// once unmounted.
TEST(StdoutEvidence, FuseMountWhoseEntryDoesNotNameTheImageIsRefused) {
  if (!have_program("fls") || !have_program("ntfs-3g")) GTEST_SKIP() << "fls or ntfs-3g not installed";
  const std::string comma = copy_fixture("default.img", "case12,disk2.dd");
  const std::string moved = copy_fixture("default.img", "stdout-mounted-then-moved.img");
  ASSERT_FALSE(comma.empty() || moved.empty());
  const std::string at_comma = scratch_dir() + "/m-comma", at_moved = scratch_dir() + "/m-moved";
  // The files the runs would write, made in a mount of their own.
  for (const auto& image : {std::make_pair(comma, at_comma), std::make_pair(moved, at_moved)}) {
    const mount_guard setup(ntfs3g_command(image.first, image.second), image.second);
    if (setup.dir().empty()) GTEST_SKIP() << setup.why();
    std::ofstream(setup.dir() + "/existing.txt") << "already there\n";
    std::ofstream(setup.dir() + "/err.txt") << "";
  }
  ASSERT_TRUE(wait_until_unheld(comma) && wait_until_unheld(moved));
  std::string listed;
  ASSERT_EQ(run_command("fls -r -p " + quote(comma), listed), 0);
  const std::string renamed = scratch_dir() + "/stdout-moved.img";
  {
    const mount_guard by_comma(ntfs3g_command(comma, at_comma), at_comma);
    const mount_guard by_moved(ntfs3g_command(moved, at_moved), at_moved);
    ASSERT_FALSE(by_comma.dir().empty() || by_moved.dir().empty()) << by_comma.why();
    ASSERT_EQ(::rename(moved.c_str(), renamed.c_str()), 0);
    for (const auto& mounted : {std::make_pair(comma, at_comma), std::make_pair(renamed, at_moved)}) {
      const std::string image = mounted.first, existing = mounted.second + "/existing.txt";
      const std::string sum = md5_of(image);
      const std::string through = " through the FUSE mount at " + mounted.second + " (fuse)";
      expect_runs_refused(
          {{{"-image", image, "-csv"}, ">>" + quote(existing)}, {{"-image", image, "-all"}, "1<>" + quote(existing)}},
          "it is stored in the evidence " + image + through, existing);
      if (image == renamed) {
        expect_runs_refused({{{"-image", "stdout-moved.img", "-csv"}, ">>" + quote(existing)}},
                            "it is stored in the evidence stdout-moved.img" + through, existing);
      }
      expect_runs_refused({{{"-image", image, "-all"}, "2>>" + quote(mounted.second + "/err.txt")}},
                          "it is stored in the evidence " + image + through, mounted.second + "/err.txt");
      // The copy folder is refused by its own name, whatever went before.
      const std::string folder = mounted.second + "/newdir";
      std::string said;
      EXPECT_EQ(run_bounded({"-image", image, "-csv", "-action_copy_files", folder}, "", said), kFailed);
      EXPECT_TRUE(ends_with(said, "refused to write: " + folder + ": it is stored in the evidence " + image +
                                      " through the FUSE mount at " + mounted.second + " (fuse)\n"))
          << said;
      struct stat st;
      EXPECT_NE(::stat(folder.c_str(), &st), 0);
      EXPECT_EQ(md5_of(image), sum);
    }
    // A listing beside the mounts takes the run.
    std::string said;
    EXPECT_EQ(run_bounded({"-image", comma, "-csv"}, ">" + quote(scratch_dir() + "/comma.csv"), said), 0) << said;
  }
  ASSERT_TRUE(wait_until_unheld(comma) && wait_until_unheld(renamed));
  for (const std::string& image : {comma, renamed}) {
    std::string after;
    ASSERT_EQ(run_command("fls -r -p " + quote(image), after), 0);
    EXPECT_TRUE(after == listed) << image;
  }
}

// The same image under two names, two device numbers: its file in an
// overlay's upper or lower layer, and the overlay's file. Either read, the
// other is refused as standard output, and so is a file in an ntfs-3g mount
// of the overlay's name of the image; the layers' images keep their digest.
TEST(StdoutEvidence, OverlayNameOfTheImageIsRefused) {
  const std::string top = scratch_dir() + "/ov";
  for (const char* folder : {"", "/L", "/U", "/W"}) ::mkdir((top + folder).c_str(), 0700);
  std::string ignored;
  ASSERT_EQ(run_command("cp " + quote(fixture("default.img")) + " " + quote(top + "/U/up.img") + " && cp " +
                            quote(fixture("default.img")) + " " + quote(top + "/L/low.img"),
                        ignored),
            0);
  const std::string sum = md5_of(top + "/U/up.img");
  const mount_guard overlay("cd " + quote(top) + " && mount -t overlay overlay -o lowerdir=L,upperdir=U,workdir=W M",
                            top + "/M");
  if (overlay.dir().empty()) GTEST_SKIP() << overlay.why();
  const struct {
    std::string source, output;
  } cases[] = {{"ov/U/up.img", "ov/M/up.img"}, {"ov/M/up.img", "ov/U/up.img"}, {"ov/M/low.img", "ov/L/low.img"}};
  for (const auto& c : cases)
    expect_runs_refused({{{"-image", c.source, "-csv"}, ">>" + c.output}},
                        // Read through the overlay, the source's layer is named; its
                        // layer's file read, the output's.
                        (c.source.compare(0, 5, "ov/M/") == 0 ? "it is what the evidence " + c.source + " reads"
                                                               : "it is the evidence " + c.source) +
                            " through the overlay at " + top + "/M (overlay)",
                        scratch_dir() + "/" + c.output);
  std::string said;
  EXPECT_EQ(run_bounded({"-image", "ov/M/low.img", "-csv"}, ">ov/listing.csv", said), 0) << said;
  {
    const mount_guard by_overlay(ntfs3g_command(top + "/M/up.img", scratch_dir() + "/m-overlay"),
                                 scratch_dir() + "/m-overlay");
    if (by_overlay.dir().empty()) GTEST_SKIP() << by_overlay.why();
    std::ofstream(by_overlay.dir() + "/existing.txt") << "already there\n";
    const std::string mounted_sum = md5_of(top + "/U/up.img");
    expect_runs_refused({{{"-image", "ov/U/up.img", "-csv"}, ">>" + quote(by_overlay.dir() + "/existing.txt")}},
                        "it is stored in the evidence ov/U/up.img through the overlay at " + top + "/M (overlay)",
                        by_overlay.dir() + "/existing.txt");
    EXPECT_EQ(md5_of(top + "/U/up.img"), mounted_sum);
  }
  ASSERT_TRUE(wait_until_unheld(top + "/U/up.img"));
  EXPECT_EQ(md5_of(top + "/L/low.img"), sum);
}

// The disk that holds the image's file system: an ext4 on a loop device
// over a file, and an NTFS disk that ntfs-3g mounts through a loop device.
// Standard output onto the loop device (by a node of its own) or onto the
// file behind it is refused; a listing into the mount beside the image, on
// that same disk, is written. The images keep their digest and e2fsck finds
// the ext4 clean.
TEST(StdoutEvidence, DiskUnderTheImageIsRefused) {
  if (!have_program("mkfs.ext4") || !have_program("mkntfs") || !have_program("e2fsck"))
    GTEST_SKIP() << "mkfs.ext4, mkntfs or e2fsck not installed";
  const std::string hold = scratch_dir() + "/hold.ext4", ntfs = scratch_dir() + "/hold.ntfs";
  std::string ignored;
  ASSERT_EQ(run_command("truncate -s 64M " + quote(hold) + " " + quote(ntfs) + " && mkfs.ext4 -q -F " + quote(hold) +
                            " && mkntfs -q -F -Q " + quote(ntfs) + " >/dev/null",
                        ignored),
            0);
  {
    const loop_device ext4_loop(hold, false), ntfs_loop(ntfs, false);
    if (ext4_loop.path().empty() || ntfs_loop.path().empty()) GTEST_SKIP() << ext4_loop.why();
    const mount_guard m5("mount " + quote(ext4_loop.path()) + " " + quote(scratch_dir() + "/m5"), scratch_dir() + "/m5");
    const ntfs3g_mount mn(ntfs_loop.path(), scratch_dir() + "/mn");
    ASSERT_FALSE(m5.dir().empty() || mn.dir().empty()) << m5.why() << mn.why();
    struct stat loop_st;
    ASSERT_EQ(::stat(ext4_loop.path().c_str(), &loop_st), 0);
    const std::string node = scratch_dir() + "/m5-disk-node";
    ASSERT_EQ(::mknod(node.c_str(), S_IFBLK | 0600, loop_st.st_rdev), 0);
    const struct {
      std::string image, disk, file_behind, beside, loop;
    } disks[] = {{"m5/ev.img", node, hold, "m5/listing.txt", ext4_loop.path()},
                 {"mn/ev.img", ntfs_loop.path(), ntfs, "mn/listing.txt", ntfs_loop.path()}};
    for (const auto& d : disks) {
      ASSERT_EQ(run_command("cp " + quote(fixture("default.img")) + " " + quote(scratch_dir() + "/" + d.image) +
                                " && sync",
                            ignored),
                0);
      const std::string sum = md5_of(scratch_dir() + "/" + d.image);
      const std::string stored = "it is what the evidence " + d.image + " is stored on through the ";
      expect_runs_refused({{{"-image", d.image, "-all"}, ">" + quote(d.disk)}}, stored + "disk " + d.loop,
                          scratch_dir() + "/" + d.image);
      expect_runs_refused({{{"-image", d.image, "-all"}, "1<>" + quote(d.file_behind)}},
                          stored + "loop device " + d.loop, scratch_dir() + "/" + d.image);
      std::string said;
      EXPECT_EQ(run_bounded({"-image", d.image, "-all"}, ">" + d.beside, said), 0) << said;
      EXPECT_NE(read_whole(scratch_dir() + "/" + d.beside).find("small.txt"), std::string::npos) << d.beside;
      EXPECT_EQ(md5_of(scratch_dir() + "/" + d.image), sum) << d.image;
    }
  }
  ASSERT_TRUE(wait_until_unheld(ntfs));
  EXPECT_EQ(run_command("e2fsck -n -f " + quote(hold) + " >/dev/null 2>&1", ignored), 0) << "the ext4 was written";
}

}  // namespace

namespace {

// An extracted $INDEX_ALLOCATION whose first record was wiped: INDX records
// of the image after 4 KiB of zeros, so that no volume signature stands in
// its head. Empty when the image holds no INDX record.
std::string indx_file_without_head(const std::string& as) {
  const std::string image = read_whole(fixture("default.img"));
  std::string records;
  for (size_t at = 0; at + 4096 <= image.size() && records.size() < 3 * 4096; at += 512)
    if (image.compare(at, 4, "INDX") == 0) records += image.substr(at, 4096);
  if (records.empty()) return "";
  const std::string path = scratch_dir() + "/" + as;
  std::ofstream(path, std::ios::binary) << std::string(4096, '\0') << records;
  return path;
}

// Standard output or error onto a file that holds no text (a disk image's
// container, an extracted record file, any file with a NUL in its head) or
// onto a disk is refused whatever the command line names, and nothing at
// all lands in it: not the banner, not a message of a source that cannot
// be opened. Text files, earlier listings and logs, still take the run.
TEST(StdoutEvidence, OutputsThatHoldNoTextAreRefused) {
  const std::string raw = copy_fixture("default.img", "notext-raw.raw");
  const std::string indx = indx_file_without_head("notext-case.indx");
  ASSERT_FALSE(raw.empty() || indx.empty());
  // Slips that name the record file where the run cannot follow them: it
  // holds no volume signature, only binary data.
  const std::string other = scratch_dir() + "/notext-other";
  ::mkdir(other.c_str(), 0700);
  ::mkdir((other + "/deep").c_str(), 0700);
  std::string ignored;
  ASSERT_EQ(run_command("cp " + quote(indx) + " " + quote(other + "/c2.indx"), ignored), 0);
  ::unlink((scratch_dir() + "/notext-L").c_str());
  ASSERT_EQ(::symlink((other + "/deep").c_str(), (scratch_dir() + "/notext-L").c_str()), 0);
  std::string link = indx;
  for (int n = 1; n <= 46; ++n) {
    const std::string next = scratch_dir() + "/notext-link" + std::to_string(n);
    ::unlink(next.c_str());
    ASSERT_EQ(::symlink(link.c_str(), next.c_str()), 0);
    link = next;
  }
  struct refusal {
    std::string how;
    std::vector<std::string> args;
    std::string redirect, file, why;
    std::string then = std::string();  // standard error's words after the refusal
  };
  const std::string to_indx = ">>" + quote(indx), zeros = holds("a NUL byte at 0x0");
  const std::string no_source =
      "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, -vmdk]\n";
  std::vector<refusal> cases = {
      {"a climb out of a linked folder, with a blank",
       {"-indxfile", "notext-L/../c2.indx ", "-all"},
       ">>" + quote(other + "/c2.indx"),
       other + "/c2.indx",
       evidence("notext-L/../c2.indx")},
      {"joined with =", {"-indxfile=notext-case.indx", "-all"}, to_indx, indx, zeros, no_source},
      {"two dashes, joined with =", {"--image=notext-case.indx", "-all"}, to_indx, indx, zeros, no_source},
      {"joined with :", {"-image:notext-case.indx", "-all"}, to_indx, indx, zeros, no_source},
      {"a trailing slash", {"-indxfile", "notext-case.indx/", "-all"}, to_indx, indx, zeros},
      {"46 links", {"-indxfile", link, "-all"}, to_indx, indx, zeros},
      {"a letter too many", {"-indxfile", "notext-case.indxx", "-all"}, to_indx, indx, zeros},
      {"written in place, the source absent",
       {"-image", "notext-absent.img", "-all"},
       "1<>" + quote(indx),
       indx,
       zeros},
  };
  // Containers of the image that nothing mounts, appended to, written in
  // place and taking standard error.
  const struct {
    std::string tool, command, file, what;
  } containers[] = {
      {"ewfacquire", "ewfacquire -u -q -t notext-case notext-raw.raw", "notext-case.E01", "an E01 header"},
      {"affconvert", "affconvert -o notext-case.aff notext-raw.raw", "notext-case.aff", "an AFF header"},
      {"qemu-img", "qemu-img convert -O qcow2 notext-raw.raw notext-case.qcow2", "notext-case.qcow2", "a QCOW header"},
      {"qemu-img", "qemu-img convert -O vhdx notext-raw.raw notext-case.vhdx", "notext-case.vhdx", "a VHDX header"},
      {"mksquashfs",
       "mkdir -p notext-sq && cp notext-case.indx notext-sq/ && mksquashfs notext-sq notext-case.sqfs "
       "-noappend -quiet",
       "notext-case.sqfs", "a squashfs superblock"},
  };
  std::string missing;
  for (const auto& c : containers) {
    if (!have_program(c.tool)) {
      missing += " " + c.tool;
      continue;
    }
    ASSERT_EQ(run_command("cd " + quote(scratch_dir()) + " && " + c.command + " >/dev/null 2>&1", ignored), 0)
        << c.command;
    const std::string file = scratch_dir() + "/" + c.file;
    for (const char* redirect : {">>", "1<>", "2>>"})
      cases.push_back(
          {c.file + " " + redirect, {"-image", "notext-raw.raw", "-all"}, redirect + quote(file), file, holds(c.what)});
  }
  // Any disk, also one that holds only text.
  const std::string text = scratch_dir() + "/notext-text.txt";
  std::ofstream(text) << std::string(65536, 't');
  const loop_device disk(text, false);
  if (!disk.path().empty())
    cases.push_back({"a loop device",
                     {"-image", "notext-raw.raw", "-all"},
                     ">" + quote(disk.path()),
                     disk.path(),
                     "it is a block device and may be evidence; name another file"});
  // The cipher file behind an image in an encrypted folder, written in
  // place: its header gone, the image could never be read again.
  const std::string cipher = scratch_dir() + "/notext-cipher", plain = scratch_dir() + "/notext-plain";
  ::mkdir(cipher.c_str(), 0700);
  const bool init = have_program("gocryptfs") &&
                    run_command("gocryptfs -q -init -extpass 'echo pw' " + quote(cipher) + " >/dev/null 2>&1", ignored) == 0;
  const mount_guard encrypted(init ? "gocryptfs -q -extpass 'echo pw' " + quote(cipher) + " " + quote(plain) : "", plain,
                              "gocryptfs not installed or not set up");
  if (!encrypted.dir().empty()) {
    ASSERT_EQ(run_command("cp " + quote(raw) + " " + quote(plain + "/ev.img") + " && sync && ls " + quote(cipher) +
                              " | grep -v '^gocryptfs\\.'",
                          ignored),
              0);
    const std::string file = cipher + "/" + lines_of(ignored).at(0);
    cases.push_back({"the cipher file of an encrypted folder",
                     {"-image", plain + "/ev.img", "-all"},
                     "1<>" + quote(file),
                     file,
                     "it is what the evidence " + plain + "/ev.img is stored on through the FUSE mount at " + plain +
                         " (fuse.gocryptfs)"});
  } else {
    missing += " gocryptfs";
  }
  for (const refusal& c : cases) {
    const std::string sum = md5_of(c.file);
    ASSERT_EQ(sum.size(), 32u) << c.how;
    std::string said;
    EXPECT_EQ(run_bounded(c.args, c.redirect, said), kFailed) << c.how;
    EXPECT_EQ(said, "refused to write: " + c.file + ": " + c.why + "\n" + c.then) << c.how;
    EXPECT_EQ(md5_of(c.file), sum) << c.how;
  }

  // Text of any kind takes the listing appended.
  const std::string csv = scratch_dir() + "/notext-earlier.csv", log = scratch_dir() + "/notext-case.log";
  std::string said;
  ASSERT_EQ(run_bounded({"-image", "notext-raw.raw", "-csv"}, ">" + quote(csv), said), 0) << said;
  std::ofstream(log) << "Fall 7 \xE2\x80\x94 Pr\xC3\xBC" "fung des Ordners \xC2\xAB" "Dokumente\xC2\xBB\n";
  for (const std::string& file : {csv, log}) {
    const std::string before = read_whole(file);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(run_bounded({"-image", "notext-raw.raw", "-all"}, ">>" + quote(file), said), 0) << file << said;
    const std::string after = read_whole(file);
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << file;
    EXPECT_NE(after.find("small.txt", before.size()), std::string::npos) << file;
  }
  if (!missing.empty() || disk.path().empty()) GTEST_SKIP() << "not tried:" << missing << " " << disk.why();
}

// quor run by a user who is not root. A file the examiner may write but
// not read (mode 0622, another owner's) cannot be told apart from evidence:
// it is refused, and the refusal says why rather than blaming evidence that
// is not there; an empty one takes the run. A text file in a FUSE mount
// whose server is another user's (whose open files cannot be read) takes
// the run too, and a binary file there is refused; one whose status is kept
// from the run is refused, whatever standard error is.
TEST(StdoutEvidence, OutputsOfAnotherUserAreJudgedByWhatTheyHold) {
  if (::geteuid() != 0 || !have_program("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as nobody";
  // nobody must reach the image and the files in the scratch folder.
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  const std::string folder = scratch_dir() + "/unread";
  ::mkdir(folder.c_str(), 0755);
  ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
  const std::string image = copy_fixture("default.img", "unread/ev.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::chmod(image.c_str(), 0644), 0);
  const std::string kept = folder + "/log.txt", empty = folder + "/empty.txt";
  std::ofstream(kept) << "earlier log\n";
  std::ofstream(empty) << "";
  ASSERT_EQ(::chmod(kept.c_str(), 0622), 0);
  ASSERT_EQ(::chmod(empty.c_str(), 0622), 0);
  if (::access(QUOR_EXE, X_OK) != 0) GTEST_SKIP() << "quor not executable";
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + quote(QUOR_EXE) +
                                " -image unread/ev.img -csv </dev/null";
  const std::string err = folder + "/run.err";
  std::string ignored;
  const int status =
      run_command("cd " + quote(scratch_dir()) + " && " + as_nobody + " >>" + quote(kept) + " 2>" + quote(err), ignored);
  if (read_whole(err).find("Permission denied") != std::string::npos) GTEST_SKIP() << "nobody cannot run quor here";
  EXPECT_EQ(status, kFailed);
  EXPECT_EQ(read_whole(err), "refused to write: " + real_name(kept) + ": it cannot be read to tell what it holds\n");
  EXPECT_EQ(read_whole(kept), "earlier log\n");
  EXPECT_EQ(run_command("cd " + quote(scratch_dir()) + " && " + as_nobody + " >>" + quote(empty) + " 2>/dev/null",
                        ignored),
            0);
  EXPECT_NE(read_whole(empty).find("small.txt"), std::string::npos);

  if (!have_program("bindfs")) GTEST_SKIP() << "bindfs not installed";
  const std::string behind = folder + "/behind";
  ::mkdir(behind.c_str(), 0755);
  std::ofstream(behind + "/log.txt") << "earlier log\n";
  std::ofstream(behind + "/data.bin", std::ios::binary) << std::string("bin\0ary", 7);
  const mount_guard view("bindfs -o allow_other " + quote(behind) + " " + quote(folder + "/view"), folder + "/view");
  if (view.dir().empty()) GTEST_SKIP() << view.why();
  EXPECT_EQ(run_command("cd " + quote(scratch_dir()) + " && " + as_nobody + " >>" + quote(view.dir() + "/log.txt") +
                            " 2>" + quote(err),
                        ignored),
            0)
      << read_whole(err);
  const std::string appended = read_whole(view.dir() + "/log.txt");
  EXPECT_EQ(appended.compare(0, 12, "earlier log\n"), 0);
  EXPECT_NE(appended.find("small.txt"), std::string::npos);
  EXPECT_EQ(run_command("cd " + quote(scratch_dir()) + " && " + as_nobody + " >>" + quote(view.dir() + "/data.bin") +
                            " 2>" + quote(err),
                        ignored),
            kFailed);
  EXPECT_EQ(read_whole(err), "refused to write: " + view.dir() + "/data.bin: " + holds("a NUL byte at 0x3") + "\n");
  EXPECT_EQ(read_whole(behind + "/data.bin"), std::string("bin\0ary", 7));

  // Root's view without allow_other keeps even a file's status from
  // nobody, yet takes nobody's writes through the descriptor root opened:
  // what cannot be looked at cannot be told from the evidence.
  const mount_guard own("bindfs --no-allow-other " + quote(behind) + " " + quote(folder + "/own"), folder + "/own");
  if (own.dir().empty()) GTEST_SKIP() << own.why();
  EXPECT_EQ(run_command("cd " + quote(scratch_dir()) + " && " + as_nobody + " >>" + quote(own.dir() + "/log.txt") +
                            " 2>" + quote(err),
                        ignored),
            kFailed);
  const std::string unreadable = "refused to write: " + own.dir() +
                                 "/log.txt: what it is cannot be read (Permission denied), so it cannot be told "
                                 "from the evidence; write the listing elsewhere\n";
  EXPECT_EQ(read_whole(err), unreadable);
  EXPECT_EQ(read_whole(behind + "/log.txt"), appended);
  // Standard error a pipe, which can be no evidence, does not let the
  // stream beside it pass unjudged: whether the source opens or never does
  // (no volume at the offset), not a byte reaches the file in the view.
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups " + quote(QUOR_EXE);
  const std::string status_file = folder + "/run.status";
  for (const std::string args : {" -image unread/ev.img -csv", " -image unread/ev.img -offset 0x100000 -csv"}) {
    ::unlink(status_file.c_str());
    const std::string piped = "cd " + quote(scratch_dir()) + " && { " + nobody + args + " </dev/null >>" +
                              quote(own.dir() + "/log.txt") + " 2>&3; echo $? >" + quote(status_file) +
                              "; } 3>&1 | cat >" + quote(err);
    EXPECT_EQ(run_command(piped, ignored), 0);
    EXPECT_EQ(read_whole(status_file), std::to_string(kFailed) + "\n") << args;
    // What tells how to run again (the offset of a volume) may follow.
    EXPECT_EQ(read_whole(err).compare(0, unreadable.size(), unreadable), 0) << args << ": " << read_whole(err);
    EXPECT_EQ(read_whole(behind + "/log.txt"), appended) << args;
  }
}

}  // namespace

namespace {

// The status of the shell command `cmd` run where memfd_create fails as on
// a system without it (a seccomp filter every process it starts inherits);
// -2 when no such filter can be set here.
int run_without_memfd(const std::string& cmd) {
#if defined(__x86_64__)
  const unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__i386__)
  const unsigned arch = AUDIT_ARCH_I386;
#elif defined(__aarch64__)
  const unsigned arch = AUDIT_ARCH_AARCH64;
#else
  return -2;
#endif
  struct sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_memfd_create, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog filter = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
      ::_exit(99);
    // The filter takes hold here, as it will in every program started.
    if (::syscall(__NR_memfd_create, "probe", 0) != -1 || errno != ENOSYS) ::_exit(99);
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 99 ? -2 : WEXITSTATUS(status);
}

// The lines of a listing as another run's compares with them: without the
// run time and the time the command line is echoed with.
std::vector<std::string> listing_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (const std::string& line : lines_of(text))
    if (line.rfind("run time: ", 0) != 0 && line.rfind("[", 0) != 0) lines.push_back(line);
  return lines;
}

// What a run writes before its source is checked waits in the process's
// own memory, in no file: a run into a pipe under a file-size limit of 0,
// and a run where no memory file can be made, list as any other run.
TEST(StdoutEvidence, HeldOutputNeedsNoFile) {
  const std::string image = fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "sample.img fixture absent";
  const std::string run = quote(QUOR_EXE) + " -image " + quote(image) + " -all -csv 2>/dev/null </dev/null";
  const std::string out = scratch_dir() + "/no-file.out", status = scratch_dir() + "/no-file.status";
  std::string ignored;
  ASSERT_EQ(run_command(run + " >" + quote(out), ignored), 0);
  const std::vector<std::string> plain = listing_lines(read_whole(out));
  ASSERT_GT(plain.size(), 100u);
  const struct {
    std::string how, cmd;
    bool without_memfd;
  } cases[] = {
      {"into a pipe under a file-size limit of 0",
       "{ (ulimit -f 0; exec " + run + "); echo $? >" + quote(status) + "; } | cat >" + quote(out), false},
      {"into a file, no memory file to be made", run + " >" + quote(out) + "; echo $? >" + quote(status), true},
      {"into a pipe, no memory file to be made",
       "{ " + run + "; echo $? >" + quote(status) + "; } | cat >" + quote(out), true},
  };
  for (const auto& c : cases) {
    ::unlink(out.c_str());
    ::unlink(status.c_str());
    const int shell = c.without_memfd ? run_without_memfd(c.cmd) : run_command(c.cmd, ignored);
    if (shell == -2) {
      std::printf("not tried: %s (no seccomp filter here)\n", c.how.c_str());
      continue;
    }
    EXPECT_EQ(shell, 0) << c.how;
    EXPECT_EQ(read_whole(status), "0\n") << c.how;
    EXPECT_TRUE(listing_lines(read_whole(out)) == plain) << c.how << ": " << read_whole(out).substr(0, 200);
  }
}

}  // namespace

namespace {

// The head judged is a file's first 8 KiB: a NUL byte or a signature
// anywhere in it refuses the file, however much text comes first, while
// what comes after it is never read. The run's listing is appended to the
// file only where nothing in its head was binary.
TEST(StdoutEvidence, TheFirst8KiBOfAFileAreJudged) {
  const std::string image = fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "sample.img fixture absent";
  auto text = [](size_t size) {
    std::string t;
    while (t.size() < size) t += std::string(63, 'x') + "\n";
    return t.substr(0, size);
  };
  const std::string nuls(4096, '\0'), gpt = "EFI PART" + std::string(92, 'y');
  const struct {
    std::string how, head, what;  // `what` empty: written
  } heads[] = {
      {"a NUL after 1,000 bytes of text", text(1000) + nuls, "a NUL byte at 0x3E8"},
      {"a NUL after 5,000 bytes of text", text(5000) + nuls, "a NUL byte at 0x1388"},
      {"a NUL in the last byte of the head", text(8191) + nuls, "a NUL byte at 0x1FFF"},
      {"a GPT header after a 512-byte sector of text", text(512) + gpt + text(8000), "a GPT header"},
      {"a GPT header after a 4096-byte sector of text", text(4096) + gpt + text(8000), "a GPT header"},
      {"a NUL just past the head", text(8192) + nuls, ""},
      {"a GPT header past the head", text(8192) + gpt + nuls, ""},
  };
  const std::string file = scratch_dir() + "/head-window.txt";
  for (const auto& h : heads) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << h.head;
    std::string err;
    const int status = run_redirected({"-image", image, "-all", "-csv"}, ">>" + quote(file), err);
    const std::string now = read_whole(file);
    if (h.what.empty()) {
      EXPECT_EQ(status, 0) << h.how << ": " << err.substr(0, 200);
      EXPECT_EQ(now.compare(0, h.head.size(), h.head), 0) << h.how;
      EXPECT_NE(now.find("[root]\\Documents", h.head.size()), std::string::npos) << h.how;
    } else {
      EXPECT_EQ(status, kFailed) << h.how;
      EXPECT_EQ(err, "refused to write: " + real_name(file) + ": " + holds(h.what) + "\n") << h.how;
      EXPECT_TRUE(now == h.head) << h.how << ": written";
    }
  }
}

// Standard output refused for what it holds, standard error a plain file:
// what the command line tells of how to run again (the -vmdk list to give
// for a snapshot named without its parent, the -offset of the volume on a
// disk) still reaches standard error after the refusal, as a run onto
// another output gives it, and not a byte reaches the refused file.
TEST(StdoutEvidence, RefusedOutputLeavesStandardErrorHowToRunAgain) {
  ::mkdir((scratch_dir() + "/help-chain").c_str(), 0700);
  const std::string child = copy_fixture("vmdk-child.vmdk", "help-chain/child.vmdk");
  const std::string disk = copy_fixture("mbr-far.img", "help-far.img");
  const std::string volume = copy_fixture("sample.img", "help-volume.img");
  ASSERT_FALSE(child.empty() || disk.empty() || volume.empty());
  const std::string notes = scratch_dir() + "/help-notes.txt";
  std::ofstream(notes, std::ios::binary) << std::string("case notes\0", 11) << "more";
  const struct {
    std::vector<std::string> args;
    std::string shows;
  } runs[] = {
      {{"-vmdk", "help-chain/child.vmdk", "-all", "-csv"}, "suggested array: -vmdk \"help-chain/child.vmdk\" -vmdk"},
      {{"-image", "help-far.img", "-all"}, "-offset 0x10100000]"},
  };
  const struct {
    std::string file, what;
  } refused[] = {{notes, "a NUL byte at 0xA"}, {volume, "an NTFS boot sector"}};
  for (const auto& r : runs) {
    std::string plain;
    EXPECT_EQ(run_redirected(r.args, ">/dev/null", plain), kFailed) << r.shows;
    ASSERT_NE(plain.find(r.shows), std::string::npos) << plain;
    for (const auto& f : refused) {
      const std::string sum = md5_of(f.file);
      std::string err;
      EXPECT_EQ(run_redirected(r.args, ">>" + quote(f.file), err), kFailed) << r.shows << " onto " << f.file;
      EXPECT_EQ(err, "refused to write: " + real_name(f.file) + ": " + holds(f.what) + "\n" + plain)
          << r.shows << " onto " << f.file;
      EXPECT_EQ(md5_of(f.file), sum) << r.shows << " onto " << f.file;
    }
  }
}

}  // namespace
