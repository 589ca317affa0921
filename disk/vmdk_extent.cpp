#include "disk/vmdk_extent.h"

#include <unistd.h>

#include <cstring>
#include <deque>
#include <new>

#include "disk/disk_handle.h"
#include "disk/zq_disk_structs.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 sector = 512;
// A descriptor is a few hundred bytes of text; anything past this is not one.
const ulong64 max_descriptor_bytes = 1u << 20;
// The metadata (header, descriptor, directory and every grain table) of the
// largest hosted sparse disk (2 TiB in 64 KiB grains) is about 130 MiB.
const ulong64 max_metadata_bytes = 512u << 20;
// A 2 TiB disk in 64 KiB grains needs 65536 grain tables.
const ulong64 max_tables = 1u << 20;
// Grains are a few KiB to a few MiB; per-grain arithmetic stays in 32 bits.
const ulong64 max_grain_sectors = 1u << 21;

bool starts_with(const std::string& line, const char* key, std::string& rest) {
  const size_t n = std::strlen(key);
  if (line.compare(0, n, key) != 0) return false;
  rest = line.substr(n);
  return true;
}

}  // namespace

vmdk_extent::vmdk_extent()
    : m_child(nullptr),
      m_parent(nullptr),
      m_first_table_offset(0),
      m_mbr_offset(0),
      m_file_size(0),
      m_table_span(0),
      m_grain_bytes(0),
      m_valid(false),
      m_fd(-1),
      m_writable(false),
      m_load_error(VMDK_LOAD_NOT_OPEN) {
  std::memset(m_header, 0, sizeof(m_header));
}

vmdk_extent::~vmdk_extent() {
  if (m_fd != -1) ::close(m_fd);
}

uint32 vmdk_extent::header_u32(uint32 off) const {
  return fits(header_size, off, 4) ? load_u32(m_header, off) : 0;
}

ulong64 vmdk_extent::header_u64(uint32 off) const {
  return fits(header_size, off, 8) ? load_u64(m_header, off) : 0;
}

bool vmdk_extent::open(const char* path, bool writable) {
  if (!path) return fail(VMDK_LOAD_NOT_OPEN);
  m_path = path;
  m_wpath = utf8_to_wstring(m_path);
  m_writable = writable;
  if (m_fd != -1) ::close(m_fd);
  m_fd = uni::open_source_descriptor(m_path, writable, true);
  if (m_fd == -1) return fail(VMDK_LOAD_NOT_OPEN);
  return load(m_fd);
}

bool vmdk_extent::open_w(const wchar_t* path, bool writable) {
  if (!path) return fail(VMDK_LOAD_NOT_OPEN);
  std::wstring wide(path);
  std::string narrow = wstring_to_utf8(wide);
  bool ok = open(narrow.c_str(), writable);
  m_wpath = wide;
  return ok;
}

bool vmdk_extent::fail(vmdk_load_error why) {
  m_valid = false;
  m_load_error = why;
  return false;
}

bool vmdk_extent::load(int fd) {
  m_valid = false;
  m_descriptor_lines.clear();
  m_cid.clear();
  m_parent_cid.clear();
  m_parent_hint.clear();
  m_grain_directory.clear();
  m_grain_tables.clear();
  m_mbr_sector.clear();
  m_volume_offsets.clear();
  m_mbr_offset = 0;
  m_first_table_offset = 0;
  if (fd == -1) return fail(VMDK_LOAD_NOT_OPEN);
  try {
    // An extent may be a block device (a loop device, a copied disk), whose
    // size only a seek to its end tells.
    m_file_size = open_file_size(fd);

    std::memset(m_header, 0, sizeof(m_header));
    uint32 got = 0;
    if (!read_fully_at(fd, m_header, header_size + 1, 0, got)) return fail(VMDK_LOAD_NOT_OPEN);
    if (got < header_size || load_u32(m_header, 0) != magic) return fail(VMDK_LOAD_NOT_SPARSE);
    // Compressed grains hold deflate streams behind markers, not raw sectors:
    // reading them as sectors would hand the engine garbage as evidence.
    if (flags() & (flag_compressed | flag_markers)) return fail(VMDK_LOAD_COMPRESSED);

    if (!load_descriptor(fd)) return false;

    const ulong64 grain = grain_sectors();
    const uint32 entries = entries_per_table();
    if (grain == 0 || entries == 0 || grain > max_grain_sectors) return fail(VMDK_LOAD_GEOMETRY);
    if (capacity_sectors() > ~ulong64(0) / sector) return fail(VMDK_LOAD_GEOMETRY);
    m_grain_bytes = grain * sector;
    m_table_span = m_grain_bytes * entries;

    if (!load_tables(fd)) return false;
    if (m_grain_tables.empty() || m_grain_tables[0].empty()) return fail(VMDK_LOAD_METADATA);
    if (!load_mbr(fd)) return false;
  } catch (const std::bad_alloc&) {
    return fail(VMDK_LOAD_METADATA);
  }
  m_valid = true;
  m_load_error = VMDK_LOAD_OK;
  return true;
}

bool vmdk_extent::load_descriptor(int fd) {
  const ulong64 off_sectors = descriptor_offset();
  // Only the low 32 bits of the size count, as VMware writes them.
  const ulong64 size = static_cast<ulong64>(static_cast<uint32>(descriptor_sectors())) * sector;
  if (size == 0) return true;
  // A size that runs past the end of the file is read as far as the file
  // goes: the text is what is there.
  if (off_sectors > m_file_size / sector || size > max_descriptor_bytes) return fail(VMDK_LOAD_DESCRIPTOR);
  std::vector<byte> text(static_cast<size_t>(size));
  uint32 got = 0;
  if (!read_fully_at(fd, text.data(), static_cast<uint32>(size), off_sectors * sector, got))
    return fail(VMDK_LOAD_DESCRIPTOR);

  // The text ends at its first NUL, or at the last byte actually read.
  const byte* end = static_cast<const byte*>(std::memchr(text.data(), 0, static_cast<size_t>(got)));
  const size_t length = end ? static_cast<size_t>(end - text.data()) : static_cast<size_t>(got);
  size_t pos = 0;
  while (pos < length) {
    const byte* nl = static_cast<const byte*>(std::memchr(text.data() + pos, '\n', length - pos));
    const size_t stop = nl ? static_cast<size_t>(nl - text.data()) : length;
    if (stop > pos) {
      std::string line(reinterpret_cast<const char*>(text.data()) + pos, stop - pos);
      m_descriptor_lines.push_back(utf8_to_wstring(line));
      to_lower(line);
      std::string rest;
      if (starts_with(line, "cid=", rest))
        m_cid = rest;
      else if (starts_with(line, "parentcid=", rest))
        m_parent_cid = rest;
      else if (starts_with(line, "parentfilenamehint=", rest))
        m_parent_hint = rest;
    }
    pos = stop + 1;
  }
  return true;
}

bool vmdk_extent::load_tables(int fd) {
  const ulong64 overhead = overhead_sectors();
  // An overhead of 0 would leave no room for the directory; one larger than
  // the file cannot be the file's metadata.
  if (overhead == 0 || overhead > m_file_size / sector) return fail(VMDK_LOAD_METADATA);
  const ulong64 meta_size = overhead * sector;
  if (meta_size > 0xFFFFFFFFull || meta_size > max_metadata_bytes) return fail(VMDK_LOAD_METADATA);
  const ulong64 dir_sectors = directory_offset();
  if (dir_sectors > 0xFFFFFFFFull / sector) return fail(VMDK_LOAD_METADATA);
  const ulong64 dir_start = dir_sectors * sector;
  if (!fits(meta_size, dir_start, 4)) return fail(VMDK_LOAD_METADATA);

  std::vector<byte> meta(static_cast<size_t>(meta_size));
  uint32 got = 0;
  if (!read_fully_at(fd, meta.data(), static_cast<uint32>(meta_size), 0, got) || got != meta_size)
    return fail(VMDK_LOAD_METADATA);
  if (load_u32(meta.data(), 0) != magic) return fail(VMDK_LOAD_METADATA);

  m_first_table_offset = static_cast<ulong64>(load_u32(meta.data(), dir_start)) * sector;
  if (m_first_table_offset <= dir_start || m_first_table_offset > meta_size) return fail(VMDK_LOAD_METADATA);

  // Slots past the capacity are never asked for; keeping them would let a
  // huge directory cost far more memory than the file holds.
  ulong64 count = (m_first_table_offset - dir_start) / 4;
  const ulong64 capacity = capacity_sectors() * sector;
  const ulong64 needed = capacity / m_table_span + (capacity % m_table_span != 0);
  const ulong64 per_sector = sector / 4;
  if (count > (needed + per_sector - 1) / per_sector * per_sector)
    count = (needed + per_sector - 1) / per_sector * per_sector;
  if (count > max_tables) return fail(VMDK_LOAD_METADATA);
  m_grain_directory.resize(static_cast<size_t>(count));
  for (ulong64 i = 0; i < count; ++i) m_grain_directory[i] = load_u32(meta.data(), dir_start + 4 * i);

  // Tables of a sound file do not overlap, so together they fit in the
  // metadata; a directory whose entries repeat one table cannot make us
  // hold more than that.
  const uint32 entries = entries_per_table();
  const ulong64 table_bytes = static_cast<ulong64>(entries) * 4;
  ulong64 total = 0;
  m_grain_tables.resize(static_cast<size_t>(count));
  for (ulong64 i = 0; i < count; ++i) {
    const uint32 d = m_grain_directory[i];
    // Unused directory slots (0) stand for tables that hold no grain.
    if (d == 0 && i > 0) continue;
    const ulong64 at = static_cast<ulong64>(d) * sector;
    if (!fits(meta_size, at, table_bytes)) return fail(VMDK_LOAD_METADATA);
    total += table_bytes;
    if (total > meta_size) return fail(VMDK_LOAD_METADATA);
    std::vector<uint32>& table = m_grain_tables[i];
    table.resize(entries);
    for (uint32 e = 0; e < entries; ++e) table[e] = load_u32(meta.data(), at + 4ull * e);
  }
  return true;
}

bool vmdk_extent::load_mbr(int fd) {
  m_mbr_sector.assign(sector, 0);
  const uint32 first = m_grain_tables[0][0];
  // Grain 0 recorded as zeros holds no partition table; a grain this file
  // does not hold leaves the header's bytes to be scanned, as VMware tools do.
  if (first != 1) {
    m_mbr_offset = static_cast<ulong64>(first) * sector;
    uint32 got = 0;
    if (!read_fully_at(fd, m_mbr_sector.data(), static_cast<uint32>(sector), m_mbr_offset, got) || got == 0)
      return fail(VMDK_LOAD_MBR);
  }
  std::deque<partition_record> parts;
  if (!scan_partitions(m_mbr_sector.data(), sector, parts, false)) scan_partitions(m_mbr_sector.data(), sector, parts, true);
  for (const partition_record& p : parts) m_volume_offsets.push_back(p.m_start * sector);
  return true;
}

vmdk_grain_state vmdk_extent::locate(ulong64 offset, ulong64& position) const {
  position = 0;
  if (!m_valid) return VMDK_GRAIN_ABSENT;
  const ulong64 t = offset / m_table_span;
  if (t >= m_grain_tables.size()) return VMDK_GRAIN_ABSENT;
  const std::vector<uint32>& table = m_grain_tables[static_cast<size_t>(t)];
  const ulong64 e = (offset % m_table_span) / m_grain_bytes;
  if (e >= entries_per_table() || e >= table.size()) return VMDK_GRAIN_ABSENT;
  const uint32 s = table[static_cast<size_t>(e)];
  if (s == 0) return VMDK_GRAIN_ABSENT;
  if (s == 1) return VMDK_GRAIN_ZEROED;
  position = static_cast<ulong64>(s) * sector + offset % m_grain_bytes;
  return VMDK_GRAIN_STORED;
}

bool vmdk_extent::lookup(ulong64 offset, ulong64& position) const {
  return locate(offset, position) != VMDK_GRAIN_ABSENT;
}

bool vmdk_extent::lookup_in_volume(uint32 volume, ulong64 offset, ulong64& position) const {
  position = 0;
  if (!m_valid || volume >= m_volume_offsets.size()) return false;
  const ulong64 base = m_volume_offsets[volume];
  if (offset > ~ulong64(0) - base) return false;
  return lookup(base + offset, position);
}

bool vmdk_extent::read_at(int fd, byte* buf, ulong64 offset, uint32& len) const {
  if (!m_valid || fd == -1 || !buf || len == 0) return false;
  ulong64 pos = 0;
  vmdk_grain_state state = locate(offset, pos);
  if (state == VMDK_GRAIN_ABSENT) return false;
  if (state == VMDK_GRAIN_STORED) {
    if (pos >= m_file_size) return false;
    if (len > m_file_size - pos) len = static_cast<uint32>(m_file_size - pos);
  }
  uint32 done = 0;
  while (done < len) {
    const ulong64 room = m_grain_bytes - offset % m_grain_bytes;
    const uint32 chunk = static_cast<uint32>(room < len - done ? room : len - done);
    if (state == VMDK_GRAIN_ZEROED) {
      std::memset(buf + done, 0, chunk);
    } else {
      uint32 got = 0;
      if (!read_fully_at(fd, buf + done, chunk, pos, got) || got == 0) return false;
      if (got < chunk) std::memset(buf + done + got, 0, static_cast<size_t>(chunk - got));
    }
    done += chunk;
    offset += chunk;
    if (done < len) {
      state = locate(offset, pos);
      if (state == VMDK_GRAIN_ABSENT) return false;
    }
  }
  len = done;
  return true;
}

bool vmdk_extent::write_at(int fd, const byte* buf, ulong64 offset, uint32& len) const {
  if (!m_valid || fd == -1 || !buf || len == 0 || !m_writable) return false;
  ulong64 pos = 0;
  // Writing never allocates: a zeroed grain has no room in the file.
  if (locate(offset, pos) != VMDK_GRAIN_STORED) return false;
  if (pos >= m_file_size) return false;
  if (len > m_file_size - pos) len = static_cast<uint32>(m_file_size - pos);
  uint32 done = 0;
  while (done < len) {
    const ulong64 room = m_grain_bytes - offset % m_grain_bytes;
    const uint32 chunk = static_cast<uint32>(room < len - done ? room : len - done);
    uint32 put = 0;
    if (!write_fully_at(fd, buf + done, chunk, pos, put) || put == 0) return false;
    done += put;
    offset += put;
    if (done < len && locate(offset, pos) != VMDK_GRAIN_STORED) return false;
  }
  return true;
}

ulong64 vmdk_extent::capacity_bytes() const { return m_valid ? capacity_sectors() * sector : 0; }

uint32 vmdk_extent::grain_remainder(ulong64 offset) const {
  if (!m_valid) return 0;
  return static_cast<uint32>(m_grain_bytes - offset % m_grain_bytes);
}

uint32 vmdk_extent::grain_remainder(uint32 volume, ulong64 offset) const {
  if (!m_valid || volume >= m_volume_offsets.size()) return 0;
  return static_cast<uint32>(m_grain_bytes - (offset + m_volume_offsets[volume]) % m_grain_bytes);
}
