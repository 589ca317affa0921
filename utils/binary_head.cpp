#include "utils/binary_head.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "utils/byte_order.h"

namespace uni {

namespace {

bool bytes_at(const byte* head, size_t size, size_t offset, const char* text, size_t length) {
  return offset <= size && size - offset >= length && std::memcmp(head + offset, text, length) == 0;
}

bool text_at(const byte* head, size_t size, size_t offset, const char* text) {
  return bytes_at(head, size, offset, text, std::strlen(text));
}

// An NTFS multi-sector record ("FILE", "INDX"): its magic and an update
// sequence array inside its first sector, as every such record has; text
// with the same four letters has letters where its offset and length stand.
bool ntfs_record_at_start(const byte* head, size_t size) {
  if (size < 8 || !(text_at(head, size, 0, "FILE") || text_at(head, size, 0, "INDX"))) return false;
  const uint16 offset = load_u16(head, 4), count = load_u16(head, 6);
  return offset >= 0x28 && offset % 2 == 0 && count >= 2 && offset + 2u * count <= 512;
}

// The volume or disk whose signature the head begins; null for none.
const char* volume_signature(const byte* head, size_t size) {
  // Boot sectors by their file system's name, known even without a boot mark.
  if (text_at(head, size, 3, "NTFS    ")) return "an NTFS boot sector";
  if (text_at(head, size, 3, "EXFAT   ")) return "an exFAT boot sector";
  for (const char* fat : {"FAT12   ", "FAT16   ", "FAT     "})
    if (text_at(head, size, 54, fat)) return "a FAT boot sector";
  if (text_at(head, size, 82, "FAT32   ")) return "a FAT boot sector";
  // The boot mark ends an MBR and every boot sector.
  if (size >= 512 && head[510] == 0x55 && head[511] == 0xAA) return "a boot mark (an MBR or a boot sector)";
  if (text_at(head, size, 512, "EFI PART") || text_at(head, size, 4096, "EFI PART")) return "a GPT header";
  // ext2/3/4: the superblock 1 KiB in, its magic and a block size up to 64 KiB.
  if (size >= 1084 && load_u16(head, 1080) == 0xEF53 && load_u32(head, 1048) <= 6) return "an ext2/3/4 superblock";
  if (size >= 8 && text_at(head, size, 0, "KDMV") && load_u32(head, 4) >= 1 && load_u32(head, 4) <= 3)
    return "a VMDK sparse header";
  if (text_at(head, size, 0, "# Disk DescriptorFile")) return "a VMDK descriptor";
  if (ntfs_record_at_start(head, size)) return text_at(head, size, 0, "FILE") ? "an NTFS FILE record" : "an NTFS INDX record";
  return nullptr;
}

// Containers and archives an image is kept or carried in, by their magic. A
// magic of letters only counts only where the head holds a NUL too, as every
// such container's soon does: text beginning with those letters stays text.
struct container_magic {
  size_t offset;
  const char* bytes;
  size_t length;
  const char* name;
  bool disk = false;  // a disk image a source could be read from
};
const container_magic kContainers[] = {
    {0, "EVF\x09\x0D\x0A\xFF\x00", 8, "an E01 header", true},
    {0, "EVF2\x0D\x0A\x81\x00", 8, "an Ex01 header", true},
    {0, "LVF\x09\x0D\x0A\xFF\x00", 8, "an L01 header"},
    {0, "AFF10\x0D\x0A", 7, "an AFF header", true},
    {0, "QFI\xFB", 4, "a QCOW header", true},
    {0, "vhdxfile", 8, "a VHDX header", true},
    {0, "conectix", 8, "a VHD footer", true},
    {0x40, "\x7F\x10\xDA\xBE", 4, "a VDI header", true},
    {0, "hsqs", 4, "a squashfs superblock"},
    {0, "LUKS\xBA\xBE", 6, "a LUKS header"},
    {0, "PK\x03\x04", 4, "a zip header"},
    {257, "ustar", 5, "a tar header"},
    {0, "\x1F\x8B\x08", 3, "a gzip header"},
    {0, "\xFD" "7zXZ", 5, "an xz header"},
    {0, "7z\xBC\xAF\x27\x1C", 6, "a 7z header"},
};

bool letters_only(const container_magic& c) {
  return std::all_of(c.bytes, c.bytes + c.length, [](char ch) {
    const unsigned char b = static_cast<unsigned char>(ch);
    return b == '\r' || b == '\n' || (b >= 0x20 && b < 0x7F);
  });
}

}  // namespace

bool head_holds_volume(const byte* head, size_t size) { return head != nullptr && volume_signature(head, size); }

bool head_may_be_source(const byte* head, size_t size) {
  if (head == nullptr) return false;
  if (text_at(head, size, 3, "NTFS    ") || (size >= 512 && head[510] == 0x55 && head[511] == 0xAA) ||
      text_at(head, size, 512, "EFI PART") || text_at(head, size, 4096, "EFI PART") ||
      text_at(head, size, 0, "KDMV") || text_at(head, size, 0, "# Disk DescriptorFile"))
    return true;
  for (const container_magic& c : kContainers)
    if (c.disk && bytes_at(head, size, c.offset, c.bytes, c.length)) return true;
  return false;
}

bool binary_head(const byte* head, size_t size, std::string& what) {
  what.clear();
  if (head == nullptr || size == 0) return false;
  if (const char* volume = volume_signature(head, size)) {
    what = volume;
    return true;
  }
  const void* nul = std::memchr(head, 0, size);
  for (const container_magic& c : kContainers)
    if (bytes_at(head, size, c.offset, c.bytes, c.length) && (nul != nullptr || !letters_only(c))) {
      what = c.name;
      return true;
    }
  if (nul == nullptr) return false;
  char hex[2 * sizeof(size_t) + 1];
  std::snprintf(hex, sizeof hex, "%zX", static_cast<size_t>(static_cast<const byte*>(nul) - head));
  what = std::string("a NUL byte at 0x") + hex;
  return true;
}

ssize_t read_head(int fd, void* head, size_t size) {
  ssize_t got;
  do {
    got = ::pread(fd, head, size, 0);
  } while (got < 0 && errno == EINTR);
  return got;
}

head_content content_of(int fd, std::string& what) {
  what.clear();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return head_content::text;
  // Had before the descriptor opens: memory running out would leave it open.
  std::vector<byte> head(HEAD_BYTES);
  const int own = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  const bool readable = (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY;
  if (own < 0 && !readable) return head_content::unreadable;
  const ssize_t got = read_head(own >= 0 ? own : fd, head.data(), head.size());
  if (own >= 0) ::close(own);
  if (got <= 0) return head_content::unreadable;
  return binary_head(head.data(), static_cast<size_t>(got), what) ? head_content::binary : head_content::text;
}

std::string binary_refusal(const std::string& path, const std::string& what) {
  return "refused to write: " + path + ": it holds binary data (" + what +
         ") and may be evidence; name another file\n";
}

}  // namespace uni
