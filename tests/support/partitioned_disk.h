#pragma once
// Disks of several NTFS volumes, made in the scratch folder from kit
// volumes: each volume 8 MiB (16384 sectors), the first at sector 2048 and
// each next one right after it.
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/layer_setups.h"

namespace quor_test {

const unsigned long long kDiskFirst = 2048, kDiskVolume = 16384;

// The byte offset of the `n`th volume (from 0) of such a disk.
inline unsigned long long disk_volume_offset(size_t n) { return (kDiskFirst + n * kDiskVolume) * 512; }

// Writes the kit volumes `volumes` into the disk `path` at their offsets,
// behind `stack`.
inline bool place_volumes(layer_stack& stack, const std::string& path, const std::vector<std::string>& volumes) {
  for (size_t n = 0; n < volumes.size(); ++n) {
    const std::string image = fixture(volumes[n]);
    if (image.empty()) return stack.fail("no kit volume " + volumes[n]);
    if (!stack.step("dd if=" + shell_word(image) + " of=" + shell_word(path) +
                    " bs=512 seek=" + std::to_string(disk_volume_offset(n) / 512) + " conv=notrunc,sparse status=none"))
      return false;
  }
  return stack.step("chmod 0644 " + shell_word(path));
}

// The `n`th volume of such a disk `path`, copied out to `out`, where a
// volume's own tools read it; false where it could not be.
inline bool copy_disk_volume(const std::string& path, size_t n, const std::string& out) {
  std::string ignored;
  return run_command("dd if=" + shell_word(path) + " of=" + shell_word(out) + " bs=512 skip=" +
                         std::to_string(disk_volume_offset(n) / 512) + " count=" + std::to_string(kDiskVolume) +
                         " status=none",
                     ignored) == 0;
}

// A GPT disk of three kit volumes whose table of `slots` entries names the
// first in slot 1, the second in every slot from 2 to slots - 1 (one start
// named over and over), the third in the last: sgdisk makes the three, and
// the second's entry is copied into the slots between (no tool makes
// partitions that overlap; quor reads the table as a disk shows it).
inline bool repeating_gpt_disk(layer_stack& stack, const std::string& path, const std::vector<std::string>& volumes,
                               unsigned slots) {
  if (!have_program("sgdisk")) return stack.fail("sgdisk not installed");
  if (volumes.size() != 3 || slots < 3) return stack.fail("three volumes in three slots or more");
  const auto range = [](size_t n) {
    return std::to_string(disk_volume_offset(n) / 512) + ":" + std::to_string(disk_volume_offset(n + 1) / 512 - 1);
  };
  const std::string last = std::to_string(slots), disk = shell_word(path), entry = shell_word(path + ".entry");
  // Entries are 128 bytes from sector 2; slot 2 is the 10th entry-sized piece of the disk.
  return stack.step("truncate -s " + std::to_string(disk_volume_offset(3) + kDiskFirst * 512) + " " + disk +
                    " && sgdisk -o -a 1 --resize-table=" + std::to_string((slots + 3) / 4 * 4) + " -n 1:" + range(0) +
                    " -n 2:" + range(1) + " -n " + last + ":" + range(2) + " -t 1:0700 -t 2:0700 -t " + last +
                    ":0700 " + disk + " && dd if=" + disk + " of=" + entry + " bs=128 skip=9 count=1 status=none" +
                    " && for i in $(seq 3 " + std::to_string(slots - 1) + "); do cat " + entry +
                    "; done | dd of=" + disk + " bs=128 seek=10 conv=notrunc status=none && rm " + entry) &&
         place_volumes(stack, path, volumes);
}

// An MBR disk whose table names the kit volumes `volumes`, NTFS-typed.
inline bool mbr_disk(layer_stack& stack, const std::string& path, const std::vector<std::string>& volumes) {
  if (!have_program("sfdisk")) return stack.fail("sfdisk not installed");
  std::string table = "label: dos\\n";
  for (size_t n = 0; n < volumes.size(); ++n)
    table += "start=" + std::to_string(disk_volume_offset(n) / 512) + ", size=" + std::to_string(kDiskVolume) +
             ", type=7\\n";
  return stack.step("truncate -s " + std::to_string(disk_volume_offset(volumes.size()) + kDiskFirst * 512) + " " +
                    shell_word(path) + " && printf '" + table + "' | sfdisk -q " + shell_word(path)) &&
         place_volumes(stack, path, volumes);
}

}  // namespace quor_test
