#pragma once
// What a file's head says it holds, for the writers that must not add to or
// replace evidence by a slip in a name: quor writes text, so a file holding
// a volume, disk image, container or other binary data in its first 8 KiB
// is no earlier listing, log or report of ours, whatever it is stored on: a
// backstop that knows no layers and holds where identity checks find nothing.
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "utils/types.h"

namespace uni {

// How much of a head is judged: enough for the farthest, a GPT header at 4096.
const size_t HEAD_BYTES = 8192;

// True when `head`, a file's first `size` bytes, begins a volume, a disk or
// a disk image: an NTFS, FAT or exFAT boot sector, an MBR's boot mark, a GPT
// header (after 512- or 4096-byte sectors), an ext2/3/4 superblock, a VMDK
// sparse header or descriptor, an NTFS FILE or INDX record; never text.
bool head_holds_volume(const byte* head, size_t size);

// True when `head` begins what quor could read as a source: an NTFS boot
// sector, a boot mark (an MBR), a GPT header, a VMDK, a disk image container
// (E01, AFF, QCOW, VHD, VHDX, VDI); no other kept file system (ext4, LUKS).
bool head_may_be_source(const byte* head, size_t size);

// True when `head` holds no text: a volume's signature (head_holds_volume),
// a container's or archive's (E01, AFF, QCOW, VHDX, squashfs, zip, tar, ...)
// or a NUL. `what` names the first found as an examiner reads it ("an E01
// header", "a NUL byte at 0x1F4"); empty for text.
bool binary_head(const byte* head, size_t size, std::string& what);

// Up to `size` bytes from the start of the file at `fd` into `head`, its
// offset unmoved, read again where a signal cuts it short: pread's answer.
ssize_t read_head(int fd, void* head, size_t size);

enum class head_content { text, binary, unreadable };

// What the regular file open at `fd` holds in its first HEAD_BYTES (`what`
// as binary_head says), read through a descriptor of its own, as `fd` may be
// write-only, else through `fd` where readable. Anything else is text, and
// so is an empty file (a pipe or terminal holds nothing to judge; a disk is
// the caller's to refuse or not). `unreadable`: not empty, head unreadable.
head_content content_of(int fd, std::string& what);

// Text refusing `path`, its binary head (`what`) maybe evidence: asks another.
std::string binary_refusal(const std::string& path, const std::string& what);

}  // namespace uni
