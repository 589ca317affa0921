#include "disk/zq_disk_structs.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <new>
#include <set>

#include "disk/disk_handle.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

const uint32 table_at = 446;       // first of the four 16-byte entries
const uint32 entry_bytes = 16;
const uint32 ebr_bytes = 512;      // EBRs are read as 512 bytes whatever the sector size
const uint32 probe_bytes = 16384;  // the largest sector size looked for
const uint32 gpt_probe_bytes = 32768;
// GPT arrays hold 128 entries of 128 bytes by convention; a count or size far
// beyond that is damage, and would size an allocation from disk bytes.
const uint32 gpt_max_entries = 4096;
const uint32 gpt_max_entry_bytes = 4096;
const ulong64 gpt_max_array_bytes = 1u << 20;
const uint32 gpt_min_entry_bytes = 128;  // the fields read reach byte 128
// The relaxed search for a lone EBR reads this much at a time.
const uint32 relaxed_chunk = 1u << 20;

const uint32 sector_sizes[] = {512, 1024, 2048, 4096, 8192, 16384};

byte entry_type(const byte* e) { return e[4]; }
uint32 entry_first_lba(const byte* e) { return load_u32(e, 8); }
uint32 entry_count(const byte* e) { return load_u32(e, 12); }

bool is_extended_type(uint32 type) { return type == 0x05 || type == 0x0F; }

bool marked_at(const byte* data, ulong64 end) { return data[end - 2] == 0x55 && data[end - 1] == 0xAA; }

// The disk's sector size: the first candidate whose last two bytes carry the
// boot mark. `in_memory` tries sizes above 512 only when the data is longer.
uint32 detect_sector_size(const byte* data, ulong64 size, bool in_memory) {
  for (uint32 s : sector_sizes) {
    if (s > size) break;
    if (in_memory && s > 512 && size <= s) continue;
    if (marked_at(data, s)) return s;
  }
  return 0;
}

bool admitted(const byte* e) {
  const byte type = entry_type(e);
  if (entry_count(e) == 0) return false;
  return type == 0x07 || is_extended_type(type) || is_fat12_partition(e) || is_fat16_partition(e) ||
         is_fat32_partition(e) || is_linux_partition(e);
}

partition_record make_record(ulong64 start, ulong64 count, uint16 type, uint32 sector_size) {
  partition_record r;
  r.m_start = start;
  r.m_num_sectors = count;
  r.m_type = type;
  r.m_sector_size = sector_size;
  return r;
}

// Where a 512-byte EBR comes from: the disk handle, or bytes in memory.
struct ebr_source {
  disk_handle* disk = nullptr;
  const byte* data = nullptr;
  ulong64 size = 0;

  bool read(ulong64 off, byte* sector) const {
    if (disk) {
      std::memset(sector, 0, ebr_bytes);
      uint32 len = ebr_bytes;
      return disk->read(sector, len, off);
    }
    if (!fits(size, off, ebr_bytes)) return false;
    std::memcpy(sector, data + off, ebr_bytes);
    return true;
  }
};

// Follows an extended partition from its first EBR at sector `b`. Logical
// entries count from their own EBR, link entries from `b`. Returns false
// only when the first EBR of a disk handle cannot be read.
bool walk_extended(const ebr_source& src, ulong64 b, uint32 s, std::deque<partition_record>& out) {
  const bool on_disk = src.disk != nullptr;
  byte ebr[ebr_bytes];
  if (b > ~ulong64(0) / s || !src.read(b * s, ebr)) return !on_disk;

  std::set<ulong64> visited;
  visited.insert(b);
  ulong64 link = 0;
  bool linked = false;
  uint16 last = 0;
  for (uint32 i = 0; i < 4; ++i) {
    const byte* e = ebr + table_at + i * entry_bytes;
    if (!admitted(e)) break;
    const ulong64 start = b + entry_first_lba(e);
    out.push_back(make_record(start, entry_count(e), entry_type(e), s));
    if (is_extended_type(entry_type(e))) {
      link = start;
      linked = true;
      break;
    }
    last = entry_type(e);
  }

  // The area between the usual first-partition sector and the extended
  // partition, typed like the logical volume just read. A partition that
  // starts at or below sector 63 leaves no such area.
  if (b > 63) out.push_front(make_record(63, b - 63, static_cast<uint16>(partition_guessed_flag | last), s));

  // A link back to an EBR already read would loop for ever: stop there.
  while (linked && visited.insert(link).second) {
    const ulong64 n = link;
    linked = false;
    if (n > ~ulong64(0) / s || !src.read(n * s, ebr)) break;
    if (on_disk && !marked_at(ebr, ebr_bytes)) break;
    for (uint32 i = 0; i < 4; ++i) {
      const byte* e = ebr + table_at + i * entry_bytes;
      if (!admitted(e)) break;
      if (is_extended_type(entry_type(e))) {
        link = b + entry_first_lba(e);
        out.push_back(make_record(link, entry_count(e), entry_type(e), s));
        linked = true;
        break;
      }
      out.push_back(make_record(n + entry_first_lba(e), entry_count(e), entry_type(e), s));
    }
  }
  return true;
}

// Relaxed mode: no boot mark at any sector size, so look for the first
// 512-byte sector from offset 512 on that carries one, and take it as the
// first EBR of an extended partition.
bool find_lone_ebr(disk_handle* disk, ulong64& b) {
  std::vector<byte> chunk(relaxed_chunk);
  for (ulong64 off = 512;; off += relaxed_chunk) {
    std::fill(chunk.begin(), chunk.end(), 0);
    uint32 len = relaxed_chunk;
    if (!disk->read(chunk.data(), len, off)) return false;
    for (uint32 at = 0; at + ebr_bytes <= len; at += ebr_bytes) {
      if (marked_at(chunk.data() + at, ebr_bytes)) {
        b = (off + at) / 512;
        return true;
      }
    }
    if (len < relaxed_chunk) return false;
  }
}

void write_hex(std::ostream& os, ulong64 value, int width) { os << std::setw(width) << value; }

std::string short_type_name(const partition_record& p) {
  switch (p.m_type) {
    case 0x01: return "fat12";
    case 0x04: return "fat16";
    case 0x05:
    case 0x0F: return "exten";
    case 0x07: {
      if (!p.m_is_gpt) return "ntfs";
      std::string s = "ntfs";
      if (!p.m_name.empty()) s += "; " + p.m_name;
      return s + " (GPT)";
    }
    case 0x0B:
    case 0x0C: return "fat32";
    case 0x82: return "lswap";
    case 0x83: return "linux";
    case 0xEE: return p.m_name.empty() ? std::string("(GPT)") : p.m_name + " (GPT)";
    default: return "unkn ";
  }
}

std::string type_name(uint16 type, bool entry_form) {
  switch (type) {
    case 0x00: return "empty";
    case 0x01: case 0x8D: return "fat12";
    case 0x02: return "xenix root";
    case 0x03: return "xenix /usr";
    case 0x04: return "dos 3.0+ fat16";
    case 0x05: return entry_form ? "dos 3.3+ extended" : "extended";
    case 0x06: return "dos 3.31+ fat16";
    case 0x07: return "ntfs";
    case 0x08: return "aix boot";
    case 0x09: return "aix data";
    case 0x0A: return "os/2 boot";
    case 0x0B: case 0x0C: return "fat32";
    case 0x0E: return "dos fat16 LBA mapped";
    case 0x0F: return "microsoft extended";
    case 0x11: case 0x14: case 0x16: case 0x1E: return "Hidden dos fat16";
    case 0x1B: case 0x1C: return "Hidden fat32";
    case 0x82: return "linux swap";
    case 0x83: return "linux native";
    case 0x86: return "fat16 volume set";
    case 0x87: return "ntfs volume set";
    case 0x88: return "linux partition table";
    case 0x8B: case 0x8C: return "fat32 fault tolerant";
    case 0x8E: return "linux Logical Volume Mgr";
    case 0x90: case 0x91: case 0x92: return "hidden dos fat16";
    case 0x93: return "hidden linux native";
    case 0x97: case 0x98: return "hidden dos fat32";
    case 0xA0: case 0xA1: return "laptop hibernation partition";
    case 0xA6: return "openbsd";
    default: return "unk";
  }
}

}  // namespace

bool is_fat12_partition(const byte* entry) {
  const byte t = entry_type(entry);
  return t == 0x01 || t == 0x8D;
}

bool is_fat16_partition(const byte* entry) {
  switch (entry_type(entry)) {
    case 0x04: case 0x05: case 0x06: case 0x11: case 0x14: case 0x16:
    case 0x1E: case 0x86: case 0x90: case 0x91: case 0x92:
      return true;
    default:
      return false;
  }
}

bool is_fat32_partition(const byte* entry) {
  switch (entry_type(entry)) {
    case 0x0B: case 0x0C: case 0x1B: case 0x1C: case 0x8B: case 0x8C: case 0x97: case 0x98:
      return true;
    default:
      return false;
  }
}

bool is_linux_partition(const byte* entry) {
  switch (entry_type(entry)) {
    case 0x82: case 0x83: case 0x88: case 0x8E: case 0x93:
      return true;
    default:
      return false;
  }
}

std::string partition_type_name(uint16 type) {
  if (type & partition_guessed_flag) return type_name(type & 0xFF, false) + " [guess]";
  return type_name(type, false);
}

std::string partition_entry_type_name(const byte* entry) { return type_name(entry_type(entry), true); }

bool scan_partitions(disk_handle* disk, std::deque<partition_record>& out, bool relaxed) {
  out.clear();
  if (!disk || !disk->m_is_open) return false;
  std::vector<byte> head(probe_bytes, 0);
  uint32 len = probe_bytes;
  if (!disk->read(head.data(), len, 0)) return false;
  ebr_source src;
  src.disk = disk;

  const uint32 s = detect_sector_size(head.data(), probe_bytes, false);
  if (s == 0) {
    if (!relaxed) return false;
    ulong64 b = 0;
    if (!find_lone_ebr(disk, b)) return false;
    if (!walk_extended(src, b, 512, out)) return false;
    return !out.empty();
  }

  for (uint32 i = 0; i < 4; ++i) {
    const byte* e = head.data() + table_at + i * entry_bytes;
    if (entry_type(e) == 0xEE) return scan_gpt_partitions(disk, out);
    if (!admitted(e)) continue;
    out.push_back(make_record(entry_first_lba(e), entry_count(e), entry_type(e), s));
    if (is_extended_type(entry_type(e))) {
      if (entry_first_lba(e) != 0 && !walk_extended(src, entry_first_lba(e), s, out)) return false;
      break;
    }
  }
  return !out.empty();
}

bool scan_partitions(const byte* data, ulong64 size, std::deque<partition_record>& out, bool relaxed) {
  out.clear();
  if (!data || size < 512) return false;
  try {
    ebr_source src;
    src.data = data;
    src.size = size;

    const uint32 s = detect_sector_size(data, size, true);
    if (s == 0) {
      if (!relaxed) return false;
      for (ulong64 off = 512; fits(size, off, ebr_bytes); off += ebr_bytes) {
        if (marked_at(data + off, ebr_bytes)) {
          walk_extended(src, off / 512, 512, out);
          return !out.empty();
        }
      }
      return false;
    }

    for (uint32 i = 0; i < 4; ++i) {
      const byte* e = data + table_at + i * entry_bytes;
      if (!admitted(e)) break;
      out.push_back(make_record(entry_first_lba(e), entry_count(e), entry_type(e), s));
      if (is_extended_type(entry_type(e))) {
        if (entry_first_lba(e) != 0) walk_extended(src, entry_first_lba(e), s, out);
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return !out.empty();
}

bool scan_gpt_partitions(disk_handle* disk, std::deque<partition_record>& out) {
  out.clear();
  if (!disk || !disk->m_is_open) return false;
  std::vector<byte> buf(gpt_probe_bytes, 0);
  uint32 len = gpt_probe_bytes;
  if (!disk->read(buf.data(), len, 0)) return false;
  const uint32 s = detect_sector_size(buf.data(), gpt_probe_bytes, false);
  if (s == 0) return false;

  std::fill(buf.begin(), buf.end(), 0);
  len = gpt_probe_bytes;
  if (!disk->read(buf.data(), len, s)) return false;
  if (load_u64(buf.data(), 24) != 1) return false;
  const ulong64 array_lba = load_u64(buf.data(), 72);
  const uint32 count = load_u32(buf.data(), 80);
  const uint32 size = load_u32(buf.data(), 84);
  if (count == 0 || count > gpt_max_entries || size < gpt_min_entry_bytes || size > gpt_max_entry_bytes)
    return false;
  const ulong64 array_bytes = static_cast<ulong64>(count) * size;
  if (array_bytes > gpt_max_array_bytes || array_lba > disk->get_size() / s) return false;

  // The whole array in one read; a disk that ends inside it keeps the
  // entries that arrived whole.
  std::vector<byte> array(static_cast<size_t>(array_bytes), 0);
  uint32 got = static_cast<uint32>(array_bytes);
  if (!disk->read(array.data(), got, array_lba * s)) return false;
  const uint32 whole = std::min<uint32>(count, got / size);

  static const byte zero_guid[16] = {};
  for (uint32 i = 0; i < whole; ++i) {
    const byte* e = array.data() + static_cast<size_t>(i) * size;
    if (std::memcmp(e, zero_guid, 16) == 0) continue;
    const ulong64 first = load_u64(e, 32);
    const ulong64 last = load_u64(e, 40);
    // An entry ending before it starts is damage: its size would wrap.
    if (last < first || last - first == ~ulong64(0)) continue;
    partition_record r = make_record(first, last + 1 - first, 0, s);
    r.m_is_gpt = true;
    std::memcpy(r.m_gpt_guids, e, 32);
    uint16 units[36];
    for (int u = 0; u < 36; ++u) units[u] = load_u16(e, 56 + 2 * u);
    std::wstring wide;
    unicode16_to_wstring(units, wide, 72);
    r.m_name = wstring_to_utf8(wide);
    out.push_back(r);
  }
  if (out.empty()) return false;

  std::vector<byte> first_sector(s);
  for (partition_record& r : out) {
    std::fill(first_sector.begin(), first_sector.end(), 0);
    uint32 n = s;
    if (r.m_start > ~ulong64(0) / s || !disk->read(first_sector.data(), n, r.m_start * s)) return false;
    std::string oem(reinterpret_cast<const char*>(first_sector.data()) + 3, 8);
    to_lower(oem);
    r.m_type = oem == "ntfs    " ? 0x07 : 0xEE;
  }
  return true;
}

bool scan_drives(drive_stats_array& drives, bool relaxed) {
  drives.clear();
  std::vector<byte> sector(512);
  for (uint32 n = 0; n < 20; ++n) {
    disk_handle disk(n, false, false, DISK_KIND_PHYSICAL_DRIVE);
    if (!disk.m_is_open) continue;
    drive_stats d;
    d.m_drive_type = "disk";
    d.m_drive_number = static_cast<uint16>(n);
    d.m_size = disk.get_size();
    d.m_media_type = disk.m_geometry.media_type;
    d.m_bytes_per_sector = disk.m_geometry.bytes_per_sector;
    scan_partitions(&disk, d.m_partitions, relaxed);
    // A table whose sector size disagrees with the drive's cannot be placed
    // on it; the drive is kept with no partitions.
    if (!d.m_partitions.empty() && d.m_partitions.front().m_sector_size != d.m_bytes_per_sector)
      d.m_partitions.clear();
    for (const partition_record& p : d.m_partitions)
      if (p.m_sector_size > sector.size()) sector.resize(p.m_sector_size);
    std::fill(sector.begin(), sector.end(), 0xCC);
    uint32 len = static_cast<uint32>(sector.size());
    disk.read(sector.data(), len, 0);
    d.m_mbr = sector;
    d.m_disk_signature = load_u32(sector.data(), 440);
    d.m_mbr_present = marked_at(sector.data(), sector.size());
    for (partition_record& p : d.m_partitions) {
      p.m_first_sector.assign(p.m_sector_size, 0);
      uint32 got = p.m_sector_size;
      if (p.m_start <= ~ulong64(0) / p.m_sector_size)
        disk.read(p.m_first_sector.data(), got, p.m_start * p.m_sector_size);
      if (p.m_first_sector.size() >= 76) p.m_serial = load_u32(p.m_first_sector.data(), 72);
    }
    drives.push_back(d);
  }
  return !drives.empty();
}

bool scan_cdrom_drives(drive_stats_array& drives) {
  drives.clear();
  for (uint32 n = 0; n < 20; ++n) {
    disk_handle disk(n, false, false, DISK_KIND_CDROM);
    if (!disk.m_is_open) continue;
    drive_stats d;
    d.m_drive_type = "cdrom";
    d.m_drive_number = static_cast<uint16>(n);
    d.m_size = disk.get_size();
    d.m_media_type = disk.m_geometry.media_type;
    d.m_bytes_per_sector = disk.m_geometry.bytes_per_sector;
    d.m_mbr.assign(512, 0xCC);
    uint32 len = 512;
    disk.read(d.m_mbr.data(), len, 0);
    d.m_mbr_present = marked_at(d.m_mbr.data(), 512);
    drives.push_back(d);
  }
  return !drives.empty();
}

void hex_zero_fill(std::ostream& os) { os << std::hex << std::setfill('0'); }
void hex_zero_fill() { hex_zero_fill(std::cout); }

namespace {

void dump_entry_fields(std::ostream& os, const byte* e, uint32 base) {
  auto prefix = [&](uint32 off) -> std::ostream& {
    write_hex(os, base + off, 4);
    return os << " : ";
  };
  auto chs = [&](const byte* p) {
    write_hex(os, p[0], 2);
    os << ' ';
    write_hex(os, p[1], 2);
    os << ' ';
    write_hex(os, p[2], 2);
  };
  prefix(0) << "status:            ";
  write_hex(os, e[0], 2);
  os << (e[0] ? " [active]" : " [not active]") << '\n';
  prefix(1) << "chs first sector:  ";
  chs(e + 1);
  os << '\n';
  prefix(4) << "partition type:    ";
  write_hex(os, e[4], 2);
  os << " [" << partition_entry_type_name(e) << "]\n";
  prefix(5) << "chs last sector:   ";
  chs(e + 5);
  os << '\n';
  prefix(8) << "LBA first sector:  ";
  write_hex(os, load_u32(e, 8), 8);
  os << '\n';
  prefix(12) << "num sectors:       ";
  write_hex(os, load_u32(e, 12), 8);
  os << '\n';
}

}  // namespace

std::ostream& dump_mbr(std::ostream& os, const byte* sector) {
  hex_zero_fill(os);
  write_hex(os, 440, 4);
  os << " : disk signature:    ";
  write_hex(os, load_u32(sector, 440), 8);
  os << '\n';
  for (uint32 i = 0; i < 4; ++i) {
    const uint32 e = table_at + i * entry_bytes;
    os << "\npartition record   " << i << '\n';
    dump_entry_fields(os, sector + e, e);
  }
  os << '\n';
  write_hex(os, 510, 4);
  os << " : MBR signature:     ";
  write_hex(os, load_u16(sector, 510), 4);
  return os << '\n';
}

std::ostream& dump_partition_entry(std::ostream& os, const byte* entry) {
  hex_zero_fill(os);
  dump_entry_fields(os, entry, 0);
  return os;
}

std::ostream& dump_boot_sector(std::ostream& os, const byte* bpb) {
  hex_zero_fill(os);
  os << "boot_loader_routine:        0x" << unsigned(bpb[0]) << unsigned(bpb[1]) << unsigned(bpb[2]) << '\n';
  os << "keyword:                    '" << std::string(reinterpret_cast<const char*>(bpb) + 3, 8) << "'\n";
  os << "bytes_per_sector:           0x" << load_u16(bpb, 11) << '\n';
  os << "sectors_per_cluster:        0x" << unsigned(bpb[13]) << '\n';
  os << "reserved_sectors:           0x" << load_u16(bpb, 14) << '\n';
  os << "num_copies_of_fat (fat):    0x" << unsigned(bpb[16]) << '\n';
  os << "max_root_dir_entries (fat): 0x" << load_u16(bpb, 17) << '\n';
  os << "num_sectors_in_partition_smaller_than_32M (fat): 0x" << load_u16(bpb, 19) << '\n';
  os << "media_descriptor:           0x" << unsigned(bpb[21]) << '\n';
  os << "sectors_per_fat:            0x" << load_u16(bpb, 22) << '\n';
  os << "sectors_per_track:          0x" << load_u16(bpb, 24) << '\n';
  os << "number_of_heads:            0x" << load_u16(bpb, 26) << '\n';
  os << "hidden_sectors_in_partition: 0x" << load_u32(bpb, 28) << '\n';
  os << "num_sectors_in_partition:   0x" << load_u32(bpb, 32) << '\n';
  return os;
}

std::ostream& dump_drive_stats(const drive_stats& d, std::ostream& os) {
  hex_zero_fill(os);
  os << "drive type:           " << d.m_drive_type << '\n';
  os << "drive num:            " << d.m_drive_number << '\n';
  os << "drive size:           0x";
  write_hex(os, d.m_size, 16);
  os << ", [" << std::dec << d.m_size << std::hex << "]\n";
  os << "disk signature:       " << (d.m_disk_signature >> 16) << '-' << (d.m_disk_signature & 0xFFFF) << '\n';
  os << "media type:           ";
  print_media_type(os, static_cast<int>(d.m_media_type));
  os << '\n';
  if (!d.m_partitions.empty()) {
    os << "Available partitions: " << std::dec << d.m_partitions.size() << std::hex << '\n';
    for (const partition_record& p : d.m_partitions) {
      const ulong64 offset = p.m_start * d.m_bytes_per_sector;
      const ulong64 size = p.m_num_sectors * d.m_bytes_per_sector;
      os << " - offset/size/type   0x";
      write_hex(os, offset, 12);
      os << " / 0x";
      write_hex(os, size, 12);
      os << " / 0x";
      write_hex(os, p.m_type, 4);
      os << ", [" << std::dec << offset << " / " << size << std::hex << " / " << short_type_name(p) << "] - "
         << "sig: " << (p.m_serial >> 16) << '-' << (p.m_serial & 0xFFFF) << '\n';
    }
  }
  os << "MBR present           " << (d.m_mbr_present ? "true" : "false") << '\n';
  return os;
}
