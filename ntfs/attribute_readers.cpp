// Reading an attribute's value out of a record: resident values from the
// record, non-resident data through its runs (holes as zeros, compression
// units decompressed where asked).
#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>
#include <set>
#include <vector>

#include "disk/disk_handle.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/zq_hex_view.h"

namespace {

uint32 record_bound(const CNtfs& ntfs) {
  return ntfs.m_mft_record_alloc_size ? ntfs.m_mft_record_alloc_size : ntfs.m_mft_record_size;
}

bool engine_ready(const CNtfs& ntfs) { return ntfs.m_Validated && ntfs.get_disk_handle() && ntfs.m_cluster_size; }

bool run_is_sparse(const run_record& r) { return r.is_sparse_lcn() || r.lcn_offset == 0; }

ulong64 runs_bytes(const CNtfs& ntfs, const std::vector<run_record>& runs) {
  ulong64 clusters = 0;
  for (const run_record& r : runs) clusters += r.num_clusters;
  return clusters * ntfs.m_cluster_size;
}

// The attribute of `type` at or after the cursor (or the first one).
bool locate(const CNtfs& ntfs, const byte* record, uint32 type, byte*& cursor, const byte*& attr) {
  const uint32 size = record_bound(ntfs);
  if (!record) return false;
  attr = cursor;
  bool found = cursor ? find_attribute_from(record, size, attr, type) : find_attribute(record, size, type, attr);
  if (!found) return false;
  cursor = const_cast<byte*>(attr);
  return true;
}

// [offset, offset + length) of a resident value into `buf`, zeroed for its
// `size` bytes first. From an offset inside the value `size` becomes the
// bytes copied (0 for a length below 1); from one at or past its end
// nothing is copied and `size` stays as passed.
void copy_value_range(const byte* value, ulong64 value_size, uint32 offset, int length, byte* buf, int& size) {
  std::memset(buf, 0, static_cast<size_t>(size));
  if (offset >= value_size) return;
  ulong64 n = length > 0 ? std::min<ulong64>(value_size - offset, static_cast<ulong64>(length)) : 0;
  n = std::min<ulong64>(n, static_cast<ulong64>(size));
  std::memcpy(buf, value + offset, static_cast<size_t>(n));
  size = static_cast<int>(n);
}

bool decode_runs_of(const byte* attr, std::vector<run_record>& runs) {
  byte_view pairs;
  const uint32 length = load_u32(attr, AH_LENGTH);
  return mapping_pairs(attr, length, pairs) &&
         decode_mapping_pairs_bounded(pairs.data, pairs.size, runs, load_u32(attr, AH_TYPE), true);
}

}  // namespace

bool CNtfs::read_attribute_value(const byte* record, uint32 type, void* buf, uint32 capacity, byte*& cursor,
                                 bool) {
  const byte* attr = nullptr;
  if (!buf || !locate(*this, record, type, cursor, attr)) return false;
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (!attr[AH_NON_RESIDENT]) {
    byte_view value;
    if (!resident_value(attr, length, value)) return false;
    if (value.size == 0) return load_u16(attr, AH_VALUE_OFFSET) != 0;
    std::memcpy(buf, value.data, static_cast<size_t>(std::min<ulong64>(value.size, capacity)));
    return true;
  }
  // An empty non-resident value has no runs at all.
  if (length >= AH_NON_RESIDENT_SIZE && load_u64(attr, AH_DATA_SIZE) == 0) return true;
  std::vector<run_record> runs;
  if (!decode_runs_of(attr, runs)) return false;
  return read_run_records_data(runs, static_cast<byte*>(buf), static_cast<int>(std::min<uint32>(
                                                                  capacity, std::numeric_limits<int>::max())));
}

bool CNtfs::read_attribute_range(const byte* record, uint32 type, uint32 offset, int length, void* buf, int& size,
                                 byte*& cursor, bool) {
  const byte* attr = nullptr;
  if (!buf || size <= 0 || !locate(*this, record, type, cursor, attr)) return false;
  const uint32 attr_length = load_u32(attr, AH_LENGTH);
  if (!attr[AH_NON_RESIDENT]) {
    byte_view value;
    if (!resident_value(attr, attr_length, value)) return false;
    if (value.size == 0 && load_u16(attr, AH_VALUE_OFFSET) == 0) return false;
    copy_value_range(value.data, value.size, offset, length, static_cast<byte*>(buf), size);
    return true;
  }
  std::vector<run_record> runs;
  if (!decode_runs_of(attr, runs)) return false;
  return read_run_records_range(runs, offset, length, static_cast<byte*>(buf), size);
}

namespace {

// The $ATTRIBUTE_LIST value of a base record, when it has one.
bool record_list(const CNtfs& ntfs, const byte* record, std::vector<byte>& list) {
  const byte* list_attr = nullptr;
  return ntfs.m_Validated && find_attribute(record, record_bound(ntfs), ATTR_ATTRIBUTE_LIST, list_attr) &&
         ntfs.read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list);
}

// Copies the attribute a list entry names out of its record; false when the
// record does not read or holds no attribute of that type and instance.
bool listed_attribute(const CNtfs& ntfs, const byte* entry, std::vector<byte>& attr) {
  std::vector<byte> rec;
  bool torn = false;
  if (!ntfs.read_mft_record_to_vector(rec, torn, mft_reference_entry(load_u64(entry, ALE_REFERENCE)))) return false;
  const uint32 type = load_u32(entry, ALE_TYPE);
  const uint16 instance = load_u16(entry, ALE_INSTANCE);
  const uint32 size = static_cast<uint32>(rec.size());
  const byte* a = nullptr;
  for (bool have = find_attribute(rec.data(), size, type, a); have; have = find_next_attribute(rec.data(), size, a, type)) {
    if (load_u16(a, AH_INSTANCE) == instance) {
      attr.assign(a, a + load_u32(a, AH_LENGTH));
      return true;
    }
  }
  return false;
}

// Appends the runs of the later pieces of an unnamed non-resident attribute,
// in VCN order, from the records its list names.
bool append_listed_pieces(const CNtfs& ntfs, const std::vector<byte>& list, uint32 type,
                          std::vector<run_record>& runs) {
  ulong64 next_vcn = 0;
  for (const run_record& r : runs) next_vcn += r.num_clusters;
  const uint32 list_len = static_cast<uint32>(list.size());
  for (uint32 at = 0; find_attribute_list_entry(list.data(), list_len, type, at); at += load_u16(list.data(), at + ALE_LENGTH)) {
    const byte* entry = list.data() + at;
    if (entry[ALE_NAME_LENGTH] != 0 || load_u64(entry, ALE_FIRST_VCN) != next_vcn || next_vcn == 0) continue;
    std::vector<byte> piece;
    std::vector<run_record> more;
    if (!listed_attribute(ntfs, entry, piece) || !piece[AH_NON_RESIDENT] || !decode_runs_of(piece.data(), more))
      return false;
    for (const run_record& r : more) {
      runs.push_back(r);
      next_vcn += r.num_clusters;
    }
  }
  return true;
}

}  // namespace

bool CNtfs::write_attribute_value(const byte* record, uint32 type, std::ostream& out, byte*& cursor, bool raw) {
  const byte* attr = nullptr;
  std::vector<byte> moved;  // the attribute, when the list put it in an extension record
  std::vector<byte> list;
  const bool from_start = cursor == nullptr;
  if (!locate(*this, record, type, cursor, attr)) {
    // Not in the base record: its list names the record holding the first
    // piece of the unnamed attribute.
    if (!from_start || !record_list(*this, record, list)) return false;
    const uint32 list_len = static_cast<uint32>(list.size());
    uint32 at = 0;
    while (find_attribute_list_entry(list.data(), list_len, type, at)) {
      const byte* entry = list.data() + at;
      if (entry[ALE_NAME_LENGTH] == 0 && load_u64(entry, ALE_FIRST_VCN) == 0 && listed_attribute(*this, entry, moved))
        break;
      moved.clear();
      at += load_u16(entry, ALE_LENGTH);
    }
    if (moved.empty()) return false;
    attr = moved.data();
  }
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (!attr[AH_NON_RESIDENT]) {
    byte_view value;
    if (!resident_value(attr, length, value)) return false;
    if (value.size == 0) return load_u16(attr, AH_VALUE_OFFSET) != 0;
    out.write(reinterpret_cast<const char*>(value.data), static_cast<std::streamsize>(value.size));
    return static_cast<bool>(out);
  }
  if (!engine_ready(*this) || length < AH_NON_RESIDENT_SIZE) return false;
  if (load_u64(attr, AH_DATA_SIZE) == 0 && (raw || load_u64(attr, AH_ALLOCATED_SIZE) == 0)) return true;
  std::vector<run_record> runs;
  if (!decode_runs_of(attr, runs)) return false;
  // A fragmented attribute continues in the records its list names.
  const ulong64 last_vcn = load_u64(attr, AH_LAST_VCN);
  if (attr[AH_NAME_LENGTH] == 0 && load_u64(attr, AH_FIRST_VCN) == 0 &&
      load_u64(attr, AH_ALLOCATED_SIZE) / m_cluster_size > last_vcn + 1) {
    if (list.empty()) record_list(*this, record, list);
    if (!list.empty() && !append_listed_pieces(*this, list, type, runs)) return false;
  }
  attribute_layout layout;
  if (!layout.set_run_records(runs)) return false;
  ulong64 written = 0;
  if (raw) return pump_attribute_to_stream(*this, layout, 0, PUMP_UNBOUNDED, out, written) == PUMP_END_OF_RUNS;
  const uint8 unit = attr[AH_COMPRESSION_UNIT];
  layout.data_size = load_u64(attr, AH_DATA_SIZE);
  layout.initialized_size = std::min(load_u64(attr, AH_INITIALIZED_SIZE), layout.data_size);
  layout.unit_clusters = (load_u16(attr, AH_FLAGS) & 1) && unit != 0 && unit < 16 ? 1u << unit : 0;
  return pump_ok(pump_attribute_to_stream(*this, layout, 0, PUMP_UNBOUNDED, out, written));
}

bool CNtfs::read_run_records_data(const std::vector<run_record>& runs, byte* buf, int capacity) {
  if (runs.empty() || !buf || capacity <= 0) return false;
  if (runs[0].resident) {
    ulong64 done = 0;
    for (const run_record& r : runs) {
      if (r.resident_data.size() > static_cast<ulong64>(capacity) - done) return false;
      std::memcpy(buf + done, r.resident_data.data(), r.resident_data.size());
      done += r.resident_data.size();
    }
    return true;
  }
  if (!engine_ready(*this)) return false;
  attribute_layout layout;
  if (!layout.set_run_records(runs)) return false;
  // Data cut to fit would pass for the whole value: it does not fit, or it fails.
  const ulong64 want = layout.mapped_bytes(m_cluster_size);
  if (want > static_cast<ulong64>(capacity)) return false;
  ulong64 copied = 0;
  return pump_ok(pump_attribute_to_buffer(*this, layout, 0, want, buf, copied));
}

bool CNtfs::read_run_records_range(const std::vector<run_record>& runs, uint32 offset, int length, byte* buf,
                                   int& size) {
  if (runs.empty() || !buf || size <= 0 || size < length) return false;
  if (runs[0].resident) {
    const run_record& r = runs[0];
    copy_value_range(r.resident_data.data(), r.resident_data.size(), offset, length, buf, size);
    return true;
  }
  if (!engine_ready(*this)) return false;
  if (length < 1) {
    size = 0;
    return true;
  }
  attribute_layout layout;
  if (!layout.set_run_records(runs)) return false;
  // The runs ending inside the range is no failure: `size` tells how far they went.
  ulong64 copied = 0;
  const pump_status s = pump_attribute_to_buffer(*this, layout, offset, static_cast<ulong64>(length), buf, copied);
  if (s != PUMP_DONE && s != PUMP_END_OF_RUNS) return false;
  size = static_cast<int>(copied);
  return true;
}

void CNtfs::write_run_records_data(const std::vector<run_record>& runs, std::ostream& out, bool decompress) {
  if (runs.empty()) return;
  if (runs[0].resident) {
    for (const run_record& r : runs)
      out.write(reinterpret_cast<const char*>(r.resident_data.data()),
                static_cast<std::streamsize>(r.resident_data.size()));
    return;
  }
  if (!engine_ready(*this)) return;
  attribute_layout layout;
  if (!layout.set_run_records(runs)) return;
  // Decompression here assumes the 16-cluster unit every NTFS volume uses.
  if (decompress) layout.unit_clusters = 16;
  ulong64 written = 0;
  pump_attribute_to_stream(*this, layout, 0, PUMP_UNBOUNDED, out, written);
}

bool CNtfs::read_range_by_lcn_list(const lcn_run_list& list, ulong64 offset, byte* buf, int& size) {
  if (!engine_ready(*this) || !buf || size <= 0) return false;
  attribute_layout layout;
  if (!layout.set_cluster_list(list)) return false;
  ulong64 copied = 0;
  return pump_ok(pump_attribute_to_buffer(*this, layout, offset, static_cast<ulong64>(size), buf, copied));
}

void CNtfs::dump_runs_with_sample(const std::vector<run_record>& runs, std::ostream& out) {
  if (!engine_ready(*this) || runs.empty() || runs[0].resident) return;
  const std::ios_base::fmtflags flags = out.flags();
  ulong64 total = 0;
  ulong64 data_bytes = runs_bytes(*this, runs);
  std::vector<byte> cluster(m_cluster_size);
  for (const run_record& r : runs) {
    total += r.num_clusters;
    if (run_is_sparse(r)) {
      out << "\tLCN (start/end): SPARSE ENTRY" << "\n";
      continue;
    }
    const ulong64 last = r.lcn + r.num_clusters - 1;
    out << std::hex << "\tLCN (start): 0x" << r.lcn << " (" << std::dec << r.lcn << ")" << "\n";
    out << std::hex << "\tLCN (stop):  0x" << last << " (" << std::dec << last << ")" << "\n";
    out << std::hex << "\tnum clusters (running total):  0x" << total << " (" << std::dec << total << ")" << "\n";
    const ulong64 pos = r.lcn * m_cluster_size;
    out << std::hex << "will try to read the NTFS_DATA starting at LCN 0x" << r.lcn << " (" << std::dec << r.lcn
        << ")" << "(this LCN translates to file position " << std::hex << pos << ")";
    if (data_bytes > 64)
      out << "(since the size of the NTFS_DATA is 0x" << data_bytes << ", will truncate " << "\n"
          << "output to " << std::dec << 64 << " bytes)";
    out << "\n";
    uint32 got = m_cluster_size;
    if (read_volume(pos, cluster.data(), got) && got > 0) zq::hex_dump_limited(cluster.data(), std::min(got, 64u), out, 0, 0);
  }
  out.flags(flags);
}

namespace {

// Adds the clusters (sparse ones too) or the value length of every $DATA
// attribute of a record to `total`; false when the record holds none.
bool add_data_sizes(const CNtfs& ntfs, const byte* record, uint32 bound, ulong64& total) {
  bool found = false;
  const byte* attr = nullptr;
  bool have = find_attribute(record, bound, ATTR_DATA, attr);
  while (have) {
    found = true;
    const uint32 length = load_u32(attr, AH_LENGTH);
    if (attr[AH_NON_RESIDENT]) {
      std::vector<run_record> runs;
      if (decode_runs_of(attr, runs))
        for (const run_record& r : runs) total += static_cast<ulong64>(ntfs.m_cluster_size) * r.num_clusters;
    } else {
      byte_view value;
      if (resident_value(attr, length, value)) total += value.size;
    }
    have = find_next_attribute(record, bound, attr, ATTR_DATA);
  }
  return found;
}

}  // namespace

bool CNtfs::get_data_size(ulong64 inode, ulong64& total) {
  std::vector<byte> record;
  bool torn = false;
  if (!read_mft_record_to_vector(record, torn, inode)) return false;
  return add_data_sizes(*this, record.data(), static_cast<uint32>(record.size()), total);
}

bool CNtfs::get_data_size_incl_attribute_list(ulong64 inode, ulong64& total) {
  total = 0;
  std::vector<byte> record;
  bool torn = false;
  if (!read_mft_record_to_vector(record, torn, inode)) return false;
  // A base record may hold no $DATA at all: once a file's list has grown
  // out of its record, its data usually lives wholly in extension records.
  add_data_sizes(*this, record.data(), static_cast<uint32>(record.size()), total);
  // A list that has grown out of its record (a large or fragmented file) is
  // read through its runs: the later pieces of the data are named there.
  std::vector<byte> list;
  const byte* list_attr = nullptr;
  if (find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_ATTRIBUTE_LIST, list_attr) &&
      !read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list)) {
    total = 0;
    return false;
  }
  // Each extension record is counted once; the base record already is.
  std::set<ulong64> counted;
  counted.insert(inode);
  uint32 offset = 0;
  const uint32 list_len = static_cast<uint32>(list.size());
  while (find_attribute_list_entry(list.data(), list_len, ATTR_DATA, offset)) {
    const ulong64 ref = mft_reference_entry(load_u64(list.data(), offset + ALE_REFERENCE));
    offset += load_u16(list.data(), offset + ALE_LENGTH);
    if (!counted.insert(ref).second) continue;
    if (!get_data_size(ref, total)) {
      total = 0;
      return false;
    }
  }
  return true;
}
