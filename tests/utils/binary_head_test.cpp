#include "utils/binary_head.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

namespace {

// The first HEAD_BYTES of a file, as the guard reads them.
std::vector<byte> head_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<byte> head(uni::HEAD_BYTES);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

// A head made by the tool that makes such files, and what the guard must
// make of it: whether quor could read it as a source, and the name
// binary_head gives it ("" for text).
struct made_head {
  const char* name;
  std::vector<std::string> tools;
  const char* make;  // run in a folder of its own
  const char* file;  // what it made there
  bool source;
  const char* what;
};

const std::vector<made_head> kHeads = {
    {"NTFS", {"mkntfs"}, "truncate -s 8M v && mkntfs -F -Q -q v", "v", true, "an NTFS boot sector"},
    {"MBR", {"sfdisk"}, "truncate -s 4M d && printf 'label: dos\\n,,7\\n' | sfdisk -q d", "d", true,
     "a boot mark (an MBR or a boot sector)"},
    // The protective MBR is found first; with it blanked, the GPT header.
    {"GPT, protective MBR", {"sgdisk"}, "truncate -s 4M d && sgdisk -n 1:0:0 d", "d", true,
     "a boot mark (an MBR or a boot sector)"},
    {"GPT, 512-byte sectors", {"sgdisk"},
     "truncate -s 4M d && sgdisk -n 1:0:0 d && dd if=/dev/zero of=d bs=512 count=1 conv=notrunc", "d", true,
     "a GPT header"},
    // A file has 512-byte sectors to sgdisk: a loop device of 4096-byte
    // sectors gives the other size.
    {"GPT, 4096-byte sectors", {"sgdisk", "losetup"},
     "truncate -s 8M gpt && d=$(losetup -f --show -b 4096 gpt) && "
     "( sgdisk -n 1:0:0 \"$d\"; r=$?; losetup -d \"$d\"; exit $r ) && "
     "dd if=/dev/zero of=gpt bs=4096 count=1 conv=notrunc",
     "gpt", true, "a GPT header"},
    {"VMDK monolithicSparse", {"qemu-img"}, "qemu-img create -q -f vmdk -o subformat=monolithicSparse d.vmdk 64M",
     "d.vmdk", true, "a VMDK sparse header"},
    {"VMDK twoGbMaxExtentSparse descriptor", {"qemu-img"},
     "qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse d.vmdk 64M", "d.vmdk", true,
     "a VMDK descriptor"},
    {"VMDK twoGbMaxExtentSparse extent", {"qemu-img"},
     "qemu-img create -q -f vmdk -o subformat=twoGbMaxExtentSparse d.vmdk 64M", "d-s001.vmdk", true,
     "a VMDK sparse header"},
    {"QCOW2", {"qemu-img"}, "qemu-img create -q -f qcow2 d.qcow2 64M", "d.qcow2", true, "a QCOW header"},
    {"VHD (dynamic)", {"qemu-img"}, "qemu-img create -q -f vpc d.vhd 64M", "d.vhd", true, "a VHD footer"},
    {"VHDX", {"qemu-img"}, "qemu-img create -q -f vhdx d.vhdx 64M", "d.vhdx", true, "a VHDX header"},
    {"VDI", {"qemu-img"}, "qemu-img create -q -f vdi d.vdi 64M", "d.vdi", true, "a VDI header"},
    {"E01", {"ewfacquire"},
     "head -c 1048576 /dev/urandom > disk.raw && ewfacquire -u -t \"$PWD/e\" \"$PWD/disk.raw\" </dev/null", "e.E01",
     true, "an E01 header"},
    {"AFF", {"affconvert"}, "head -c 1048576 /dev/urandom > disk.raw && affconvert -o d.aff disk.raw", "d.aff", true,
     "an AFF header"},
    // Stores a case may be kept in: binary, never a source.
    {"ext4", {"mkfs.ext4"}, "truncate -s 8M s && mkfs.ext4 -q -F s", "s", false, "an ext2/3/4 superblock"},
    {"zip", {"zip"}, "printf 'listing\\n' > t.txt && zip -q d.zip t.txt", "d.zip", false, "a zip header"},
    {"squashfs", {"mksquashfs"},
     "mkdir in && printf 'listing\\n' > in/t.txt && mksquashfs in d.sqsh -quiet -noappend >/dev/null", "d.sqsh", false,
     "a squashfs superblock"},
    {"text", {}, "printf 'a listing that names KDMV, conectix and EFI PART\\n' > t.txt", "t.txt", false, ""},
};

TEST(BinaryHead, HeadsMadeByTheirToolsAreJudgedByWhatTheyHold) {
  std::vector<std::string> skipped;
  int judged = 0;
  int row = 0;
  for (const made_head& h : kHeads) {
    ++row;
    std::string missing;
    for (const std::string& tool : h.tools)
      if (!quor_test::have_program(tool)) missing += (missing.empty() ? "" : ", ") + tool;
    if (!missing.empty()) {
      skipped.push_back(std::string(h.name) + " (" + missing + " not installed)");
      continue;
    }
    const std::string dir = quor_test::scratch_dir() + "/head" + std::to_string(row);
    std::string out;
    const std::string make = h.make;
    if (::mkdir(dir.c_str(), 0700) != 0 ||
        quor_test::run_command("cd '" + dir + "' && { " + make + "; } >/dev/null 2>&1", out) != 0) {
      // Only a loop device may be refused for want of a kernel feature; a
      // tool that is there and fails is a fault of the table.
      if (std::string(h.name).find("4096") != std::string::npos) {
        skipped.push_back(std::string(h.name) + " (no loop device of 4096-byte sectors)");
        continue;
      }
      ADD_FAILURE() << h.name << ": could not be made: " << make;
      continue;
    }
    const std::string path = dir + "/" + h.file;
    const std::vector<byte> head = head_of(path);
    ASSERT_FALSE(head.empty()) << h.name;
    ++judged;
    EXPECT_EQ(uni::head_may_be_source(head.data(), head.size()), h.source) << h.name;
    std::string what = "left over";
    EXPECT_EQ(uni::binary_head(head.data(), head.size(), what), *h.what != 0) << h.name;
    EXPECT_EQ(what, h.what) << h.name;
    // The same judgement through a descriptor open for writing only, as an
    // output is opened.
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << h.name;
    std::string through_fd = "left over";
    const uni::head_content content = uni::content_of(fd, through_fd);
    ::close(fd);
    EXPECT_EQ(content, *h.what != 0 ? uni::head_content::binary : uni::head_content::text) << h.name;
    EXPECT_EQ(through_fd, h.what) << h.name;
  }
  for (const std::string& s : skipped) std::cout << "skipped: " << s << "\n";
  // Only the text row needs no tool.
  if (judged <= 1) GTEST_SKIP() << "no tool that makes a volume or a disk image is installed";
}

}  // namespace
