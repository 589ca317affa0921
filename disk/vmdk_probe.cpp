// Probes of VMDK sparse data in memory or in a stream. The data may be carved
// or damaged: every position read from it is checked against the bytes that
// are really there before anything is read or allocated.
#include "disk/vmdk_probe.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iostream>
#include <new>

#include "disk/fs_ops.h"
#include "disk/vmdk_dump.h"
#include "disk/vmdk_extent.h"
#include "disk/zq_disk_structs.h"
#include "utils/byte_order.h"

namespace {

const ulong64 sector = 512;
// The stream probe reads the directory and one grain table in pieces of this size.
const uint32 probe_piece = 16384;
// The metadata of the largest hosted sparse disk is about 130 MiB; a carved
// header claiming more is not read whole.
const ulong64 max_metadata_bytes = 512u << 20;

// The header's fields are read through vmdk_extent's own accessors, so the
// sparse layout is written down in one place; the extent is only a holder
// for the 512 header bytes here.
bool load_header(const byte* data, ulong64 size, vmdk_extent& header) {
  if (!data || size < vmdk_extent::header_size) return false;
  std::memcpy(header.m_header, data, vmdk_extent::header_size);
  return header.header_u32(0) == vmdk_extent::magic;
}

// A count of sectors as bytes, when that stays within `limit`.
bool sectors_within(ulong64 sectors, ulong64 limit, ulong64& bytes) {
  if (sectors > limit / sector) return false;
  bytes = sectors * sector;
  return true;
}

bool directory_from_image(const byte* image, ulong64 size, std::vector<uint32>& out) {
  out.clear();
  vmdk_extent header;
  if (!load_header(image, size, header)) return false;
  ulong64 dir_start = 0;
  ulong64 overhead = 0;
  if (!sectors_within(header.directory_offset(), size, dir_start) ||
      !sectors_within(header.overhead_sectors(), size, overhead) || !fits(size, dir_start, 4))
    return false;
  const ulong64 first_table = static_cast<ulong64>(load_u32(image, dir_start)) * sector;
  if (first_table > size || first_table <= dir_start) return false;
  // The directory runs up to where the first table begins, unused slots in
  // its last sector included.
  const ulong64 count = (first_table - dir_start) / 4;
  out.resize(static_cast<size_t>(count));
  for (ulong64 i = 0; i < count; ++i) out[static_cast<size_t>(i)] = load_u32(image, dir_start + 4 * i);
  return true;
}

// Partition starts in the sector (or sectors) at `data`, strict scan first.
void scan_volumes(const byte* data, ulong64 size, ulong64 base, std::vector<ulong64>& volumes) {
  std::deque<partition_record> parts;
  if (!scan_partitions(data, size, parts, false)) scan_partitions(data, size, parts, true);
  for (const partition_record& p : parts) volumes.push_back(p.m_start * sector + base);
}

// Up to `length` bytes at `offset`; the count actually read. The stream's
// state is cleared again so that a short read does not end the probe.
ulong64 read_stream(std::istream& is, ulong64 offset, byte* buf, uint32 length) {
  is.clear();
  is.seekg(static_cast<std::streamoff>(offset));
  if (!is) {
    is.clear();
    return 0;
  }
  is.read(reinterpret_cast<char*>(buf), length);
  const std::streamsize got = is.gcount();
  is.clear();
  return got > 0 ? static_cast<ulong64>(got) : 0;
}

// The first non-zero entry among the first 512 of a piece.
uint32 first_used_entry(const byte* piece, ulong64 length) {
  for (ulong64 at = 0; at < 512 * 4 && fits(length, at, 4); at += 4) {
    const uint32 v = load_u32(piece, at);
    if (v != 0) return v;
  }
  return 0;
}

}  // namespace

bool vmdk_grain_directory_from_image(const byte* image, ulong64 size, std::vector<uint32>& out) {
  try {
    return directory_from_image(image, size, out);
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

bool dump_vmdk_grain_directory_image(const byte* image, ulong64 size, std::ostream& os) {
  std::vector<uint32> directory;
  if (!vmdk_grain_directory_from_image(image, size, directory)) return false;
  os << "---- Grain Directory [offsets in sectors] ----\n";
  write_vmdk_rows(os, directory.data(), directory.size(), 0, 8);
  return true;
}

bool dump_vmdk_grain_directory_stream(std::istream& is, std::ostream& os) {
  is.clear();
  const int64 size = istream_size(is);
  if (!is.good() || size <= static_cast<int64>(sector)) return false;
  byte head[vmdk_extent::header_size + 1] = {};
  if (read_stream(is, 0, head, sizeof(head)) < vmdk_extent::header_size) return false;
  vmdk_extent header;
  if (!load_header(head, vmdk_extent::header_size, header)) return false;
  ulong64 overhead = 0;
  const ulong64 limit = static_cast<ulong64>(size) < max_metadata_bytes ? static_cast<ulong64>(size) : max_metadata_bytes;
  if (!sectors_within(header.overhead_sectors(), limit, overhead)) return false;
  try {
    std::vector<byte> meta(static_cast<size_t>(overhead));
    const ulong64 got = read_stream(is, 0, meta.data(), static_cast<uint32>(overhead));
    return dump_vmdk_grain_directory_image(meta.data(), got, os);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool vmdk_volumes_from_image(const byte* image, ulong64 size, ulong64& mbr_offset, std::vector<ulong64>& volumes,
                             bool verbose) {
  mbr_offset = 0;
  vmdk_extent header;
  if (size <= sector || !load_header(image, size, header)) return false;
  if (verbose) header.dump_header(std::cout);
  if (!sectors_within(header.overhead_sectors(), size, mbr_offset) || mbr_offset == 0 ||
      !fits(size, mbr_offset, sector))
    return false;
  try {
    scan_volumes(image + mbr_offset, size - mbr_offset, 0, volumes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool vmdk_volumes_from_stream(std::istream& is, ulong64& mbr_offset, std::vector<ulong64>& volumes, bool verbose) {
  mbr_offset = 0;
  is.clear();
  if (is.bad()) return false;
  const int64 signed_size = istream_size(is);
  if (signed_size <= static_cast<int64>(sector)) return false;
  const ulong64 size = static_cast<ulong64>(signed_size);
  try {
    std::vector<byte> piece(probe_piece, 0);
    if (read_stream(is, 0, piece.data(), vmdk_extent::header_size + 1) < vmdk_extent::header_size) return false;
    vmdk_extent header;
    if (!load_header(piece.data(), vmdk_extent::header_size, header)) return false;
    if (verbose) header.dump_header(std::cout);
    ulong64 overhead = 0;
    if (!sectors_within(header.overhead_sectors(), size, overhead) || overhead == 0 || !fits(size, overhead, sector))
      return false;
    ulong64 dir_start = 0;
    if (!sectors_within(header.directory_offset(), size, dir_start) || !fits(size, dir_start, probe_piece))
      return false;

    ulong64 got = read_stream(is, dir_start, piece.data(), probe_piece);
    const ulong64 table = static_cast<ulong64>(first_used_entry(piece.data(), got)) * sector;
    if (table == 0 || table >= size) return false;

    std::fill(piece.begin(), piece.end(), 0);
    got = read_stream(is, table, piece.data(), probe_piece);
    const ulong64 grain = static_cast<ulong64>(first_used_entry(piece.data(), got)) * sector;
    if (grain == 0 || !fits(size, grain, sector)) return false;

    mbr_offset = grain;
    std::fill(piece.begin(), piece.end(), 0);
    if (read_stream(is, grain, piece.data(), sector) < sector) return false;
    scan_volumes(piece.data(), sector, mbr_offset, volumes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
