#include "disk/disk_handle.h"

#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>
#include <vector>

#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

const uint32 SECTOR_SIZE = 512;

bool offset_fits_off_t(ulong64 offset, ulong64 len) {
  const ulong64 max = static_cast<ulong64>(std::numeric_limits<off_t>::max());
  return offset <= max && len <= max - offset;
}

}  // namespace

ulong64 open_file_size(int fd) {
  // A descriptor shared with a caller (or duplicated from one) shares its
  // position: it is put back where it was.
  const off_t at = lseek(fd, 0, SEEK_CUR);
  const off_t end = lseek(fd, 0, SEEK_END);
  if (at >= 0) lseek(fd, at, SEEK_SET);
  return end < 0 ? 0 : static_cast<ulong64>(end);
}

bool read_fully_at(int fd, void* buf, uint32 len, ulong64 offset, uint32& got) {
  got = 0;
  if (fd < 0 || !buf) return false;
  byte* p = static_cast<byte*>(buf);
  while (got < len) {
    if (!offset_fits_off_t(offset + got, 0)) return false;
    ssize_t n = pread(fd, p + got, len - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // end of file
    got += static_cast<uint32>(n);
  }
  return true;
}

bool write_fully_at(int fd, const void* buf, uint32 len, ulong64 offset, uint32& put) {
  put = 0;
  const byte* p = static_cast<const byte*>(buf);
  while (put < len) {
    if (!offset_fits_off_t(offset + put, 0)) return false;
    ssize_t n = pwrite(fd, p + put, len - put, static_cast<off_t>(offset + put));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    put += static_cast<uint32>(n);
  }
  return true;
}

void print_media_type(std::ostream& os, int media_type) {
  switch (media_type) {
    case 2: os << "3.5 floppy 1.44MB, 512 bytes/sector"; break;
    case 11: os << "RemovableMedia"; break;
    case 12: os << "FixedMedia"; break;
    default: os << "unknown"; break;
  }
}

void disk_handle::reset() {
  m_vmdk = nullptr;
  m_kind = DISK_KIND_NONE;
  m_is_open = false;
  m_writable = false;
  m_is_device = false;
  m_fd = -1;
  m_name.clear();
  m_wname.clear();
  m_size = 0;
  m_geometry = disk_geometry();
  m_start_offset_high = 0;
  m_start_offset_low = 0;
  m_borrowed = false;
}

disk_handle::disk_handle(uint32, bool, bool, disk_kind) {
  // Drives by number do not exist on this platform: the handle stays closed.
  reset();
}

template <class Char>
void disk_handle::open_named(const Char* name, bool writable, bool as_device, disk_kind kind) {
  reset();
  if (!name) return;
  m_kind = kind;
  if (kind == DISK_KIND_FILE) {
    m_is_open = open_file(name, writable, kind);
  } else if (kind == DISK_KIND_DEVICE || kind == DISK_KIND_PHYSICAL_DRIVE) {
    if (as_device) {
      m_is_open = open_device(name, writable);
      if (m_is_open) m_is_device = true;
    } else {
      m_is_open = open_file(name, writable, kind);
    }
  }
}

disk_handle::disk_handle(const char* name, bool writable, bool as_device, disk_kind kind) {
  open_named(name, writable, as_device, kind);
}

disk_handle::disk_handle(const char* name, bool writable, bool as_device, bool, disk_kind kind)
    : disk_handle(name, writable, as_device, kind) {}

disk_handle::disk_handle(const wchar_t* name, bool writable, bool as_device, disk_kind kind) {
  open_named(name, writable, as_device, kind);
}

disk_handle::disk_handle(const std::vector<std::wstring>& vmdk_files, bool writable, bool no_open) {
  reset();
  if (vmdk_files.empty()) return;
  m_kind = DISK_KIND_VMDK;
  m_writable = writable;
  if (no_open) return;
  m_is_open = open_vmdk_chain_w(vmdk_files);
}

disk_handle::disk_handle(const std::vector<std::string>& vmdk_files, bool writable, bool no_open) {
  reset();
  if (vmdk_files.empty()) return;
  m_kind = DISK_KIND_VMDK;
  m_writable = writable;
  if (no_open) return;
  m_is_open = open_vmdk_chain(vmdk_files);
}

disk_handle::disk_handle(const disk_handle& owner, disk_borrowing) {
  reset();
  m_vmdk = owner.m_vmdk;
  m_kind = owner.m_kind;
  m_is_open = owner.m_is_open;
  m_is_device = owner.m_is_device;
  m_fd = owner.m_fd;
  m_name = owner.m_name;
  m_wname = owner.m_wname;
  m_size = owner.m_size;
  m_geometry = owner.m_geometry;
  m_borrowed = true;
}

disk_handle::disk_handle(int fd, const std::string& name) {
  reset();
  m_kind = DISK_KIND_FILE;
  m_fd = fd;
  m_name = name;
  m_is_open = fd >= 0;
  m_size = m_is_open ? open_file_size(fd) : 0;
  m_geometry.bytes_per_sector = SECTOR_SIZE;
}

disk_handle::~disk_handle() {
  if (m_borrowed) return;  // its owner's to close
  if (m_kind == DISK_KIND_VMDK) {
    release_vmdk();  // the descriptor belongs to the base extent
  } else if (m_fd >= 0) {
    ::close(m_fd);
  }
  m_fd = -1;
  m_is_open = false;
}

bool disk_handle::open_file(const char* name, bool writable, disk_kind kind) {
  if (kind != DISK_KIND_FILE && kind != DISK_KIND_DEVICE && kind != DISK_KIND_PHYSICAL_DRIVE) return false;
  if (!name) return false;
  m_name = name;
  m_writable = writable;
  // Evidence that is not a file or a disk (a FIFO, /dev/zero, a folder)
  // would block or read without end: it is refused before it is opened.
  if (!uni::is_source_kind(m_name, true)) {
    printf("prob opening file %s: not a regular file or block device\n", m_name.c_str());
    return false;
  }
  m_fd = uni::open_source_descriptor(m_name, writable, true);
  if (m_fd < 0) {
    int err = errno;
    printf("prob opening file %s, error %d [%s]\n", m_name.c_str(), err, strerror(err));
    return false;
  }
  m_size = open_file_size(m_fd);
  m_geometry.bytes_per_sector = SECTOR_SIZE;
  return true;
}

bool disk_handle::open_file(const wchar_t* name, bool writable, disk_kind kind) {
  if (!name) return false;
  m_wname = name;
  // Opened, and named in the failure message, by its UTF-8 form: what %S
  // would print of the wide name.
  std::string narrow;
  wstring_to_utf8_into(narrow, m_wname);
  return open_file(narrow.c_str(), writable, kind);
}

bool disk_handle::open_device(const char* name, bool writable) {
  if (!name) return false;
  std::string full(name);
  if (full.find("/dev/") == std::string::npos || full.size() > 32) return false;
  std::string path = full.substr(0, full.find(':'));
  m_writable = writable;
  m_fd = uni::open_source_descriptor(path, writable, true);
  if (m_fd < 0) return false;
  // The size comes from the device itself; CHS geometry is only reported
  // (it cannot describe a modern disk's capacity).
  m_size = open_file_size(m_fd);
  if (m_size == 0) {
    ::close(m_fd);
    reset();
    return false;
  }
  struct hd_geometry geo;
  std::memset(&geo, 0, sizeof geo);
  if (ioctl(m_fd, HDIO_GETGEO, &geo) == 0) {
    m_geometry.cylinders = geo.cylinders;
    m_geometry.tracks_per_cylinder = geo.heads;
    m_geometry.sectors_per_track = geo.sectors;
  }
  m_geometry.media_type = 1;
  m_geometry.bytes_per_sector = SECTOR_SIZE;
  m_name = full;
  return true;
}

bool disk_handle::open_device(const wchar_t* name, bool writable) {
  if (!name) return false;
  std::string narrow;
  wstring_to_utf8_into(narrow, std::wstring(name));
  return open_device(narrow.c_str(), writable);
}

bool disk_handle::read(void* buf, uint32& len, ulong64 offset) { return read(buf, len, offset, false); }

bool disk_handle::read(void* buf, uint32& len, ulong64 offset, bool ignore_size) {
  if (!buf || !m_is_open || m_fd == -1 || len == 0) return false;
  if (!ignore_size && offset >= m_size) return false;
  switch (m_kind) {
    case DISK_KIND_FILE: {
      if (!ignore_size && len > m_size - offset) len = static_cast<uint32>(m_size - offset);
      uint32 got = 0;
      if (!read_fully_at(m_fd, buf, len, offset, got)) return false;
      if (got == 0) return false;
      // Only the bytes delivered count: a file that shrank under us is
      // reported short, never padded with stale bytes.
      len = got;
      return true;
    }
    case DISK_KIND_DEVICE:
    case DISK_KIND_PHYSICAL_DRIVE:
      if (!ignore_size && len > m_size - offset) len = static_cast<uint32>(m_size - offset);
      return read_aligned(buf, len, offset);
    case DISK_KIND_VMDK:
      return read_vmdk(buf, len, offset);
    default:
      return false;
  }
}

bool disk_handle::read_aligned(void* buf, uint32& len, ulong64 offset) {
  if (!buf || !m_is_open || m_fd == -1 || len == 0) return false;
  const uint32 s = m_geometry.bytes_per_sector ? m_geometry.bytes_per_sector : SECTOR_SIZE;
  const uint32 r = static_cast<uint32>(offset % s);
  const ulong64 span64 = (static_cast<ulong64>(r) + len + s - 1) / s * s;
  if (span64 > std::numeric_limits<uint32>::max()) return false;
  const uint32 span = static_cast<uint32>(span64);
  const ulong64 start = offset - r;
  uint32 got = 0;
  if (r == 0 && len % s == 0) {
    if (!read_fully_at(m_fd, buf, span, start, got)) return false;
    if (got == 0) return false;
    len = got;
    return true;
  }
  try {
    std::vector<byte> temp(span);
    if (!read_fully_at(m_fd, temp.data(), span, start, got)) return false;
    if (got <= r) return false;
    uint32 have = got - r;
    if (have < len) len = have;
    std::memcpy(buf, temp.data() + r, len);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool disk_handle::write(const void* buf, uint32& len, ulong64 offset) {
  if (!buf || !m_is_open || m_fd == -1 || len == 0 || offset >= m_size || !m_writable) return false;
  if (m_kind == DISK_KIND_FILE) {
    if (len > m_size - offset) len = static_cast<uint32>(m_size - offset);
    uint32 put = 0;
    if (!write_fully_at(m_fd, buf, len, offset, put)) return false;
    len = put;
    return put > 0;
  }
  if (m_kind == DISK_KIND_VMDK) return write_vmdk(buf, len, offset);
  return false;
}

ulong64 disk_handle::get_size() const { return m_is_open ? m_size : 0; }

bool disk_handle::get_size_parts(uint32& high, uint32& low) const {
  high = 0;
  low = 0;
  if (!m_is_open) return false;
  if (m_kind == DISK_KIND_VMDK && !m_vmdk) return false;
  if (m_size == 0) return false;
  high = static_cast<uint32>(m_size >> 32);
  low = static_cast<uint32>(m_size);
  return true;
}

ulong64 disk_handle::get_start_offset() const {
  return (static_cast<ulong64>(m_start_offset_high) << 32) | m_start_offset_low;
}

void disk_handle::set_start_offset(ulong64 offset) {
  m_start_offset_high = static_cast<uint32>(offset >> 32);
  m_start_offset_low = static_cast<uint32>(offset);
}

bool disk_handle::open_drive_letter(char) {
  if (!m_is_open) reset();
  return false;
}

// ---- VMDK kind (begin) ----
// vmdk kind: open_vmdk_chain_w, open_vmdk_chain, read_vmdk, write_vmdk and
// release_vmdk are defined beside vmdk_disk, in disk/vmdk_disk.cpp.
// ---- VMDK kind (end) ----
