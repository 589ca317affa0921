// The second check of quor's outputs, made once the source is open: standard
// output or error on a file the run holds open is refused by that file's
// identity, whatever name led to it (the image, a VMDK extent, an extracted
// $MFT, an index-record file). Each check runs in a child whose standard
// output and error are set up for it. And the copy folder a run would make:
// refused before it is made when the evidence would take it. And standard
// output or error that already holds a volume, whatever the command line
// names: known by the signature at its head.
#include "app/evidence_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/indx_file.h"
#include "app/run_sequence.h"
#include "app/source_open.h"
#include "app/standard_output.h"
#include "app/user_ctx.h"
#include "tests/app/quor_run.h"
#include "tests/support/child_process.h"
#include "tests/support/layer_setups.h"
#include "tests/support/loop_device.h"
#include "utils/binary_head.h"
#include "utils/byte_order.h"
#include "utils/output_file.h"
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
    std::string held;
  } sources[] = {
      {"image", [&](user_ctx& c) { c.image = utf8_to_wstring(image); }, image},
      {"VMDK extent",
       [&](user_ctx& c) {
         c.vmdk_files = {utf8_to_wstring(child), utf8_to_wstring(base)};
       },
       base},
      {"extracted $MFT", [&](user_ctx& c) { c.mftfile = utf8_to_wstring(image); }, image},
  };
  // Each is named as the system names the file the run holds.
  auto refused = [](const std::string& file) {
    return "refused to write: " + file + ": it is the evidence " + file + "\n";
  };
  for (const auto& s : sources) {
    user_ctx ctx;
    s.set(ctx);
    ASSERT_TRUE(initialize_mft(ctx)) << s.how;
    struct stat held_st;
    ASSERT_EQ(::stat(s.held.c_str(), &held_st), 0);
    uni::file_identity held_id;
    held_id.device = static_cast<uint64>(held_st.st_dev);
    held_id.inode = static_cast<uint64>(held_st.st_ino);
    EXPECT_TRUE(uni::is_one_of(held_id, open_source_ids(ctx))) << s.how;
    const std::string before = read_whole(s.held);
    // Standard output on the file held, then both outputs: refused each
    // time, the refusal said where it can be.
    EXPECT_EQ(with_outputs(s.held, err, false, [&] { return outputs_on_opened_evidence(open_source_ids(ctx)) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(err), refused(s.held)) << s.how;
    EXPECT_EQ(with_outputs(s.held, err, true, [&] { return outputs_on_opened_evidence(open_source_ids(ctx)) ? 1 : 0; }), 1) << s.how;
    EXPECT_EQ(read_whole(s.held), before) << s.how;
    // Any other file takes the run, silently.
    EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_on_opened_evidence(open_source_ids(ctx)) ? 1 : 0; }), 0) << s.how;
    EXPECT_EQ(read_whole(err), "") << s.how;
  }

  // Before anything is open, the same by the name the parser makes of the
  // image's, blanks and all: refused as the evidence, whatever it holds.
  std::string arg0 = "quor", arg1 = "-image", arg2 = image + " ";
  char* argv[] = {&arg0[0], &arg1[0], &arg2[0]};
  bool cleared = false;
  EXPECT_EQ(with_outputs(image, err, false, [&] { return outputs_hold_evidence(3, argv, cleared) ? 1 : 0; }), 1);
  EXPECT_EQ(read_whole(err), refused(image));
  EXPECT_EQ(with_outputs(other, err, false, [&] { return outputs_hold_evidence(3, argv, cleared) ? 1 : 0; }), 0);

  // The index-record file is checked once open, before it is read.
  user_ctx ctx;
  ctx.indxfile = image;
  const std::string before = read_whole(image);
  EXPECT_EQ(with_outputs(image, err, false, [&] { return static_cast<int>(analyze_indx_file(ctx)); }),
            static_cast<int>(indx_file_refused));
  EXPECT_EQ(read_whole(err), refused(image));
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
      EXPECT_EQ(r.err, "refused to write: " + folder + ": it is stored in the evidence " + image +
                           " through the FUSE mount at " + at + " (fuse)\n");
      // Nothing was listed either: the run stopped at its options.
      EXPECT_EQ(r.out.find("small.txt"), std::string::npos) << folder;
    }
    // The folder it would have made in the mount, and the one it would
    // have made on the way there.
    struct stat st;
    EXPECT_NE(::stat((at + "/newdir").c_str(), &st), 0);
    EXPECT_NE(::stat(climbing.c_str(), &st), 0);
    // The folder asked for directly, against what stands for the image.
    uni::file_identities named;
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    const bool told = uni::identities_of_source(fd, named);
    ::close(fd);
    ASSERT_TRUE(told);
    EXPECT_TRUE(uni::folder_writes_source(at + "/newdir", named));
    EXPECT_FALSE(uni::folder_writes_source(scratch_dir() + "/guard-beside/newdir", named));
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

// What a file's head must hold to count as a volume, written from the
// structures' layouts: each signature alone (a boot sector whose boot mark
// is gone is still a volume), and the near misses around each, which are
// text, zeros or a signature one byte out of place.
TEST(EvidenceGuard, HeadsThatHoldAVolume) {
  typedef std::vector<byte> bytes;
  auto with = [](size_t size, size_t at, const std::string& text) {
    bytes b(size, 0);
    for (size_t i = 0; i < text.size(); ++i) b.at(at + i) = static_cast<byte>(text[i]);
    return b;
  };
  auto record = [&](const char* magic, uint16 usa_offset, uint16 usa_count) {
    bytes b = with(1024, 0, magic);
    store_u16(b.data() + 4, usa_offset);
    store_u16(b.data() + 6, usa_count);
    return b;
  };
  bytes boot_mark(512, 0);
  boot_mark[510] = 0x55;
  boot_mark[511] = 0xAA;
  bytes ext(2048, 0);
  store_u16(ext.data() + 1080, 0xEF53);
  store_u32(ext.data() + 1048, 2);  // 4 KiB blocks
  bytes ext_huge_blocks = ext;
  store_u32(ext_huge_blocks.data() + 1048, 40);
  bytes kdmv = with(512, 0, "KDMV");
  store_u32(kdmv.data() + 4, 1);
  bytes kdmv_version_9 = kdmv;
  store_u32(kdmv_version_9.data() + 4, 9);
  bytes mark_one_late(512, 0);
  mark_one_late[511] = 0x55;
  const std::string listing =
      "quor v1 (NTFS index records)\nrun time: 2024-01-02 03:04:05 [GMT]\n\ncmdline: quor -image a.img -csv\n"
      "inode,parent,name\n0x40,0x05,FILE list.txt\n";
  std::string long_text;
  while (long_text.size() < 8192) long_text += "INDX of the case, FAT32 notes, NTFS volume, EFI PART list\n";
  const struct {
    const char* what;
    bytes head;
    bool volume;
  } heads[] = {
      {"NTFS boot sector", with(512, 3, "NTFS    "), true},
      {"exFAT boot sector", with(512, 3, "EXFAT   "), true},
      {"FAT12 boot sector", with(512, 54, "FAT12   "), true},
      {"FAT16 boot sector", with(512, 54, "FAT16   "), true},
      {"FAT32 boot sector", with(512, 82, "FAT32   "), true},
      {"MBR boot mark", boot_mark, true},
      {"GPT after 512-byte sectors", with(1024, 512, "EFI PART"), true},
      {"GPT after 4096-byte sectors", with(8192, 4096, "EFI PART"), true},
      {"ext superblock", ext, true},
      {"VMDK sparse header", kdmv, true},
      {"VMDK descriptor", with(64, 0, "# Disk DescriptorFile\nversion=1\n"), true},
      {"FILE record", record("FILE", 0x30, 3), true},
      {"FILE record of 4 KiB", record("FILE", 0x30, 9), true},
      {"INDX record", record("INDX", 0x28, 9), true},
      {"a listing quor wrote", bytes(listing.begin(), listing.end()), false},
      {"text with the signatures' words", bytes(long_text.begin(), long_text.end()), false},
      {"a line that begins with FILE", with(64, 0, "FILE list: a.txt, b.txt\n"), false},
      {"INDX with an update sequence past the first sector", record("INDX", 0x28, 300), false},
      {"FILE with an odd update sequence offset", record("FILE", 0x31, 3), false},
      {"zeros", bytes(8192, 0), false},
      {"nothing", bytes(), false},
      {"NTFS at the start", with(512, 0, "NTFS    "), false},
      {"NTFS cut short", with(6, 3, "NTF"), false},
      {"FAT32 where FAT12 stands", with(512, 54, "FAT32   "), false},
      {"boot mark one byte late", mark_one_late, false},
      {"GPT one sector further", with(2048, 1024, "EFI PART"), false},
      {"ext magic with 2^40 KiB blocks", ext_huge_blocks, false},
      {"ext superblock cut before its magic", bytes(ext.begin(), ext.begin() + 1080), false},
      {"KDMV of an unknown version", kdmv_version_9, false},
      {"a descriptor's words later in a text", with(64, 2, "# Disk DescriptorFile"), false},
  };
  for (const auto& h : heads) EXPECT_EQ(uni::head_holds_volume(h.head.data(), h.head.size()), h.volume) << h.what;
  EXPECT_FALSE(uni::head_holds_volume(nullptr, 512));
}

// Standard output or error on a file that holds a volume is refused though
// the command line names none (a slip in the name): standard output open
// for appending only, the refusal naming the file, or said on standard
// output when standard error is the volume. A text file, an empty file and
// a file quor's listing went to take the run.
TEST(EvidenceGuard, OutputsThatHoldAVolumeAreRefused) {
  const std::string image = copy_fixture("default.img", "guard-held.img");
  ASSERT_FALSE(image.empty());
  char real[PATH_MAX];
  ASSERT_NE(::realpath(image.c_str(), real), nullptr);
  const std::string err = scratch_dir() + "/guard-held.err", text = scratch_dir() + "/guard-held.txt";
  const std::string empty = scratch_dir() + "/guard-held.empty";
  { std::ofstream(text) << "inode,parent,name\n0x40,0x05,a.txt\n"; }
  { std::ofstream(empty).flush(); }
  std::string arg0 = "quor", arg1 = "-image", arg2 = scratch_dir() + "/guard-held.im";
  char* argv[] = {&arg0[0], &arg1[0], &arg2[0]};
  const std::string before = read_whole(image);
  // 1: refused, standard error cleared; 2: refused, standard error too.
  auto check = [&] {
    bool cleared = false;
    return outputs_hold_evidence(3, argv, cleared) ? (cleared ? 1 : 2) : 0;
  };
  const std::string refused = "refused to write: " + std::string(real) +
                              ": it holds binary data (an NTFS boot sector) and may be evidence; name another file\n";
  EXPECT_EQ(with_outputs(image, err, false, check), 1);
  EXPECT_EQ(read_whole(err), refused);
  EXPECT_EQ(with_outputs(image, err, true, check), 2);
  EXPECT_EQ(read_whole(err), "");
  // Standard error appended to the image, standard output on the text.
  const std::string text_before = read_whole(text);
  EXPECT_EQ(with_outputs(text, err, false,
                         [&] {
                           const int fd = ::open(image.c_str(), O_WRONLY | O_APPEND);
                           ::dup2(fd, STDERR_FILENO);
                           return check();
                         }),
            2);
  EXPECT_EQ(read_whole(text), text_before + refused);
  EXPECT_EQ(read_whole(image), before);
  for (const std::string& fine : {text, empty}) {
    EXPECT_EQ(with_outputs(fine, err, false, check), 0) << fine;
    EXPECT_EQ(read_whole(err), "") << fine;
  }
  // A block device holding the volume: a loop device over the image.
  const loop_device loop(image, false);
  if (loop.path().empty()) GTEST_SKIP() << loop.why();
  EXPECT_EQ(with_outputs(loop.path(), err, false, check), 1);
  EXPECT_EQ(read_whole(err),
            "refused to write: " + loop.path() + ": it is a block device and may be evidence; name another file\n");
  EXPECT_EQ(read_whole(image), before);
}

// The copy folder is made by make_copy_folder, once the source is open: a
// run whose source cannot be opened makes none, even one the parser used to
// make in a mount of the image the user meant (named with a stray blank
// after a climb out of a linked folder, which the run cleans as text). The
// folder is checked against the files the run holds (also a file handed in
// by the caller, as the index-record road does) and the files the command
// line names; made, it is held open. fls lists the image as before.
TEST(EvidenceGuard, CopyFolderIsMadeOnlyBesideAnOpenSource) {
  if (!have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string real = scratch_dir() + "/guard-meant", at = scratch_dir() + "/guard-meant-mount";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((real + "/deep").c_str(), 0700), 0);
  const std::string image = copy_fixture("default.img", "guard-meant/m3.img");
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(::symlink((real + "/deep").c_str(), (scratch_dir() + "/guard-ls").c_str()), 0);
  std::string listed_before, listed_after;
  ASSERT_EQ(run_command("fls -r -p " + quote(image), listed_before), 0);
  {
    const ntfs3g_mount mount(image, at);
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    // Run from the scratch folder, where the run takes the name as text.
    for (const char* option : {"-image", "-indxfile"}) {
      std::string shown;
      EXPECT_EQ(run_command("cd " + quote(scratch_dir()) + " && timeout 120 " + quote(QUOR_EXE) + " " + option +
                                " 'guard-ls/../m3.img ' -action_copy_files " + quote(at + "/nd") +
                                " -all 2>&1 </dev/null",
                            shown),
                kFailed)
          << option;
      EXPECT_EQ(shown.find("refused"), std::string::npos) << shown;
    }
    struct stat st;
    EXPECT_NE(::stat((at + "/nd").c_str(), &st), 0);

    // Asked directly: refused for the file held, for a file the command
    // line names (here a stray argument), and for the source open.
    user_ctx held;
    held.copy_files = true;
    held.copy_dir = utf8_to_wstring(at + "/nd");
    uni::file_identities ids;
    const int fd = ::open(image.c_str(), O_RDONLY);
    ASSERT_TRUE(uni::identities_of_source(fd, ids));
    ::close(fd);
    testing::internal::CaptureStderr();
    EXPECT_EQ(make_copy_folder(held, ids), -1);
    held.arguments = {"quor", "-image", fixture("default.img"), image};
    EXPECT_EQ(make_copy_folder(held), -1);
    user_ctx opened;
    opened.image = utf8_to_wstring(image);
    ASSERT_TRUE(initialize_mft(opened));
    opened.copy_files = true;
    opened.copy_dir = utf8_to_wstring(at + "/nd");
    EXPECT_EQ(make_copy_folder(opened), -1);
    const std::string refused =
        "refused to write: " + at + "/nd: it is stored in the evidence " + image + " through the FUSE mount at " + at +
        " (fuse)\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refused + refused + refused);
    EXPECT_EQ(opened.copy_dir_fd, -1);
    EXPECT_NE(::stat((at + "/nd").c_str(), &st), 0);
  }
  ASSERT_EQ(run_command("fls -r -p " + quote(image), listed_after), 0);
  EXPECT_TRUE(listed_after == listed_before) << "fls lists the image otherwise";
  EXPECT_EQ(listed_after.find("\tnd\n"), std::string::npos);

  // Elsewhere the folder is made and held; asked again, it is not made
  // twice. Without copies asked for, nothing is made. A folder that cannot
  // be made says so.
  // Every folder made is open to every user, whatever mask the run began
  // with, as the results folder always was; the mask is the run's again
  // after, so a copy or report made later is the examiner's alone.
  user_ctx ctx;
  ctx.copy_files = true;
  ctx.copy_dir = utf8_to_wstring(scratch_dir() + "/guard-made/a/b");
  const mode_t mask_before = ::umask(077);
  ASSERT_EQ(make_copy_folder(ctx), 0);
  const int later = ::openat(ctx.copy_dir_fd, "later", O_WRONLY | O_CREAT | O_EXCL, 0666);
  const mode_t mask_after = ::umask(mask_before);
  EXPECT_EQ(mask_after, 077u);
  struct stat later_st;
  ASSERT_GE(later, 0);
  ASSERT_EQ(::fstat(later, &later_st), 0);
  ::close(later);
  EXPECT_EQ(later_st.st_mode & 07777, 0600u);
  struct stat made, held;
  ASSERT_EQ(::stat((scratch_dir() + "/guard-made/a/b").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 0777u);
  ASSERT_EQ(::stat((scratch_dir() + "/guard-made/a").c_str(), &held), 0);
  EXPECT_EQ(held.st_mode & 07777, 0777u);
  ASSERT_EQ(::fstat(ctx.copy_dir_fd, &held), 0);
  EXPECT_TRUE(made.st_ino == held.st_ino && made.st_dev == held.st_dev);
  const int first = ctx.copy_dir_fd;
  EXPECT_EQ(make_copy_folder(ctx), 0);
  EXPECT_EQ(ctx.copy_dir_fd, first);
  user_ctx not_asked;
  not_asked.copy_dir = utf8_to_wstring(scratch_dir() + "/guard-not-asked");
  EXPECT_EQ(make_copy_folder(not_asked), 0);
  EXPECT_NE(::stat((scratch_dir() + "/guard-not-asked").c_str(), &made), 0);
  user_ctx blocked;
  blocked.copy_files = true;
  blocked.copy_dir = utf8_to_wstring(image + "/copies");
  testing::internal::CaptureStderr();
  EXPECT_EQ(make_copy_folder(blocked), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "prob creating results directory, " + image + "/copies\n");
}

// The check made once the source is open, of the streams the run really
// has: run_quor, its streams held as main holds them and the check made
// before that left out, with one stream on the file it opens as evidence
// and the other on a file of the examiner's. The one on the evidence takes
// not a byte (not the banner held before the check, not a status line
// after it); the other takes what was held for it, then the refusal; the
// run ends with -1. A volume's road and an index-record file's.
TEST(EvidenceGuard, StreamsOnTheSourceAreRefusedOnceItIsOpen) {
  const std::string image = copy_fixture("default.img", "guard-opened.img");
  ASSERT_FALSE(image.empty());
  const std::string mine = scratch_dir() + "/guard-opened.txt", err = scratch_dir() + "/guard-opened.err";
  const std::string before = read_whole(image);
  const std::string refused = "refused to write: " + image + ": it is the evidence " + image + "\n";
  for (const std::vector<std::string>& road : {std::vector<std::string>{"quor", "-image", image, "-all"},
                                               std::vector<std::string>{"quor", "-indxfile", image, "-all"}})
    for (const int on_evidence : {STDOUT_FILENO, STDERR_FILENO}) {
      const std::string how = road[1] + (on_evidence == STDOUT_FILENO ? ", standard output" : ", standard error");
      const int status = exit_status_in_child(
          [&] {
            const int evidence = ::open(image.c_str(), O_WRONLY | O_APPEND);
            const int other = ::open(mine.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (evidence < 0 || other < 0) return 9;
            ::dup2(evidence, on_evidence);
            ::dup2(other, on_evidence == STDOUT_FILENO ? STDERR_FILENO : STDOUT_FILENO);
            if (!hold_standard_streams()) return 9;
            std::vector<std::string> args = road;
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(&a[0]);
            const int ran = run_quor(static_cast<int>(argv.size()), argv.data());
            release_standard_streams();
            standard_output_flushed();
            return ran & 0xFF;
          },
          err);
      EXPECT_EQ(status, 255) << how;
      EXPECT_TRUE(read_whole(image) == before) << how << ": the evidence was written";
      const std::string said = read_whole(mine);
      if (on_evidence == STDOUT_FILENO) {
        EXPECT_EQ(said, refused) << how;
      } else {
        EXPECT_EQ(said.compare(0, 9, "quor ver:"), 0) << how << ": " << said.substr(0, 200);
        EXPECT_TRUE(ends_with(said, "[GMT]\n\n" + refused)) << how << ": " << said.substr(0, 200);
      }
    }
}

}  // namespace

namespace {

// Standard error on a layer nothing tells (root's unionfs case store, for a
// run by nobody, who cannot see its server) is put off until a volume
// answers for it, and until then it is no stream that may be written. A
// run whose source never opens as a volume (a text file given as an image)
// has none to answer: it is refused at the run's end, and memory that runs
// out anywhere before then, from the first allocation on (a preload makes
// every one fail from a given one), leaves that file as it was too: not
// even the word that memory ran out reaches it.
TEST(EvidenceGuard, APutOffStandardErrorTakesNothingWhenMemoryRunsOut) {
  if (!allocation_failures_throw()) GTEST_SKIP() << "a preload cannot come before the sanitizers' runtime";
  if (::geteuid() != 0 || !have_program("setpriv")) GTEST_SKIP() << "needs root and setpriv to run as nobody";
  ASSERT_EQ(::chmod(scratch_dir().c_str(), 0711), 0);
  const std::string dir = scratch_dir() + "/put-off", branch = dir + "/branch";
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(branch.c_str(), 0755), 0);
  {
    std::ofstream notes(dir + "/notes.img");
    for (int i = 1; i <= 20000; ++i) notes << i << "\n";
  }
  ASSERT_EQ(::chmod((dir + "/notes.img").c_str(), 0644), 0);
  pass_through store("unionfs", branch, dir + "/store", false, "-o allow_other");
  if (!store.ok()) GTEST_SKIP() << store.why();
  const std::string log = store.at + "/case.log", out = dir + "/run.out", kept = "earlier log\n";
  // The run's status with every allocation failing from number `from` on
  // (none with -1), its standard output into `said`.
  const std::string preload = open_to_all(QUOR_MEMORY_EXHAUSTION_PRELOAD, "memory-exhaustion.so");
  auto run = [&](long long from, std::string& said) {
    std::ofstream(log, std::ios::trunc) << kept;
    std::string ignored;
    const int status = run_command(
        "cd " + quote(dir) + " && " + as_nobody() + "env QUOR_NEW_FAILS_FROM=" + std::to_string(from) +
            " LD_PRELOAD=" + quote(preload) + " " + quote(quor_exe()) +
            " -image notes.img -all -csv </dev/null >" + quote(out) + " 2>>" + quote(log),
        ignored);
    said = read_whole(out);
    return status;
  };
  const std::string refused = "refused to write: " + log + ": cannot tell what the FUSE mount at " + store.at;
  std::string said;
  ASSERT_EQ(run(-1, said), kFailed);
  ASSERT_NE(said.find(refused), std::string::npos) << said;
  ASSERT_EQ(read_whole(log), kept);
  // Each point of the run, in steps of a sixteenth, up to one from which
  // it runs to its end as without the preload.
  int ran_out = 0;
  long long from = 0;
  for (; from < 10000000; from += std::max(1LL, from / 16)) {
    const int status = run(from, said);
    EXPECT_EQ(read_whole(log), kept) << "memory gone from allocation " << from;
    if (said.find(refused) != std::string::npos) break;
    EXPECT_EQ(status, kFailed) << from;
    ++ran_out;
  }
  EXPECT_LT(from, 10000000) << "no run reached its end";
  EXPECT_GT(ran_out, 0) << "the preload did not take hold";
}

}  // namespace
