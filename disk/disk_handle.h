#pragma once
// disk_handle: the one object through which quor reads the evidence, an
// image file or a device, at absolute 64-bit byte offsets. The VMDK kind
// reads a chain of sparse extents through its vmdk_disk.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/output_file.h"
#include "utils/types.h"

enum disk_kind {
  DISK_KIND_FILE = 0,
  DISK_KIND_DEVICE = 1,
  DISK_KIND_PHYSICAL_DRIVE = 2,
  DISK_KIND_VMDK = 3,
  DISK_KIND_CDROM = 4,
  DISK_KIND_NONE = 5,
};

struct disk_geometry {
  ulong64 cylinders = 0;
  uint32 media_type = 0;
  uint32 tracks_per_cylinder = 0;
  uint32 sectors_per_track = 0;
  uint32 bytes_per_sector = 0;
};

void print_media_type(std::ostream& os, int media_type);

class vmdk_disk;

// Marks the constructor of a handle that reads through another's open disk.
enum disk_borrowing { DISK_BORROWED };

class disk_handle {
 public:
  vmdk_disk* m_vmdk;
  disk_kind m_kind;
  bool m_is_open;
  bool m_writable;
  bool m_is_device;
  int32 m_fd;
  std::string m_name;
  std::wstring m_wname;
  ulong64 m_size;
  disk_geometry m_geometry;
  uint32 m_start_offset_high;
  uint32 m_start_offset_low;
  bool m_borrowed;  // reads through another handle's disk: closes nothing

  disk_handle(uint32 drive_number, bool writable, bool as_device, disk_kind kind);
  disk_handle(const char* name, bool writable, bool as_device, disk_kind kind);
  disk_handle(const char* name, bool writable, bool as_device, bool unused, disk_kind kind);
  disk_handle(const wchar_t* name, bool writable, bool as_device, disk_kind kind);
  disk_handle(const std::vector<std::wstring>& vmdk_files, bool writable, bool no_open);
  disk_handle(const std::vector<std::string>& vmdk_files, bool writable, bool no_open);
  // Reads through what `owner` has open (its descriptor, or its VMDK chain) without a descriptor of
  // its own: never written through, nothing closed when it goes, so `owner` must outlive it.
  disk_handle(const disk_handle& owner, disk_borrowing);
  // Reads the image or device open at `fd` (named `name`), closed when it goes: the caller opened
  // it, so nothing is said here of an open that failed.
  disk_handle(int fd, const std::string& name);
  ~disk_handle();
  disk_handle(const disk_handle&) = delete;
  disk_handle& operator=(const disk_handle&) = delete;

  // Reads len bytes at the absolute offset. A read that starts inside and
  // runs past the end is shortened (len reduced); a read the system cannot
  // complete fails, never reporting bytes it did not deliver.
  bool read(void* buf, uint32& len, ulong64 offset);
  bool read(void* buf, uint32& len, ulong64 offset, bool ignore_size);
  bool write(const void* buf, uint32& len, ulong64 offset);
  ulong64 get_size() const;
  bool get_size_parts(uint32& high, uint32& low) const;
  ulong64 get_start_offset() const;
  void set_start_offset(ulong64 offset);
  void reset();
  bool open_drive_letter(char letter);

  // The constructors' one body for narrow and wide names.
  template <class Char>
  void open_named(const Char* name, bool writable, bool as_device, disk_kind kind);
  bool open_file(const char* name, bool writable, disk_kind kind);
  bool open_file(const wchar_t* name, bool writable, disk_kind kind);
  bool open_device(const char* name, bool writable);
  bool open_device(const wchar_t* name, bool writable);
  bool read_aligned(void* buf, uint32& len, ulong64 offset);
  // The files this disk reads (every extent's file, for a VMDK chain),
  // added to `out`, so that nothing written can land on them; false when no
  // file is open.
  bool source_identities(uni::file_identities& out) const;

 private:
  bool open_vmdk_chain_w(const std::vector<std::wstring>& vmdk_files);
  bool open_vmdk_chain(const std::vector<std::string>& vmdk_files);
  bool read_vmdk(void* buf, uint32& len, ulong64 offset);
  bool write_vmdk(const void* buf, uint32& len, ulong64 offset);
  void release_vmdk();
};

// The size of an open file or block device: its end, found by seeking (a
// device's size is not in fstat's answer). The position is left where it was.
ulong64 open_file_size(int fd);
// Reads exactly len bytes at `offset` from a descriptor, looping over short
// reads and interrupted calls; false when the system reports an error.
// `got` receives what was read (short only at the end of the file).
bool read_fully_at(int fd, void* buf, uint32 len, ulong64 offset, uint32& got);
// The same for writing; `put` receives what was written.
bool write_fully_at(int fd, const void* buf, uint32 len, ulong64 offset, uint32& put);
