// Attribute data through runs as the engine's members offer it: a byte range
// read or written in place, and the $DATA locators that gather an entry's
// runs, also from the records its $ATTRIBUTE_LIST names. The transfers
// themselves are the data pump's (ntfs/attribute_pump).
#include "ntfs/attribute_data.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "disk/disk_handle.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// Which $DATA attribute a locator wants.
struct data_selector {
  bool any = false;            // the first one, whatever its name
  std::vector<uint16> name;    // else exactly this name (empty: unnamed)
};

bool name_matches(const byte* name, uint32 units, const data_selector& want) {
  if (units != want.name.size()) return false;
  for (uint32 i = 0; i < units; ++i)
    if (load_u16(name, 2ULL * i) != want.name[i]) return false;
  return true;
}

bool attribute_selected(const byte* attr, uint32 length, const data_selector& want) {
  byte_view name;
  if (!attribute_name(attr, length, name)) return attr[AH_NAME_LENGTH] == 0 && (want.any || want.name.empty());
  return want.any || name_matches(name.data, static_cast<uint32>(name.size / 2), want);
}

// The $DATA attribute of `record` with this instance number.
bool attribute_by_instance(const std::vector<byte>& record, uint16 instance, std::vector<byte>& out) {
  const uint32 size = static_cast<uint32>(record.size());
  const byte* a = nullptr;
  for (bool have = find_attribute(record.data(), size, ATTR_DATA, a); have;
       have = find_next_attribute(record.data(), size, a, ATTR_DATA)) {
    if (load_u16(a, AH_INSTANCE) == instance) {
      out.assign(a, a + load_u32(a, AH_LENGTH));
      return true;
    }
  }
  return false;
}

// Copies of the $DATA attribute pieces an entry's selected stream is made
// of, in list order (one piece when the record has no list).
bool gather_data_pieces(const CNtfs& ntfs, ulong64 entry, data_selector want, std::vector<std::vector<byte>>& pieces) {
  pieces.clear();
  std::vector<byte> base;
  bool torn = false;
  if (!ntfs.read_mft_record_to_vector(base, torn, entry)) return false;
  const uint32 size = static_cast<uint32>(base.size());
  const byte* list_attr = nullptr;
  std::vector<byte> list;
  if (find_attribute(base.data(), size, ATTR_ATTRIBUTE_LIST, list_attr) &&
      ntfs.read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list)) {
    const uint32 list_len = static_cast<uint32>(list.size());
    for (uint32 at = 0; find_attribute_list_entry(list.data(), list_len, ATTR_DATA, at);
         at += load_u16(list.data(), at + ALE_LENGTH)) {
      const byte* e = list.data() + at;
      const uint32 units = e[ALE_NAME_LENGTH];
      const uint32 name_at = e[ALE_NAME_OFFSET];
      if (!fits(load_u16(e, ALE_LENGTH), name_at, 2ULL * units)) continue;
      if (!want.any && !name_matches(e + name_at, units, want)) continue;
      // The first stream met decides what "any" means for the rest.
      if (want.any) {
        want.any = false;
        want.name.clear();
        for (uint32 i = 0; i < units; ++i) want.name.push_back(load_u16(e, name_at + 2ULL * i));
      }
      const ulong64 holder = mft_reference_entry(load_u64(e, ALE_REFERENCE));
      std::vector<byte> other;
      const std::vector<byte>* rec = &base;
      if (holder != entry) {
        if (!ntfs.read_mft_record_to_vector(other, torn, holder)) return false;
        rec = &other;
      }
      std::vector<byte> piece;
      if (!attribute_by_instance(*rec, load_u16(e, ALE_INSTANCE), piece)) return false;
      pieces.push_back(std::move(piece));
    }
    if (!pieces.empty()) return true;
  }
  const byte* a = nullptr;
  for (bool have = find_attribute(base.data(), size, ATTR_DATA, a); have;
       have = find_next_attribute(base.data(), size, a, ATTR_DATA)) {
    const uint32 length = load_u32(a, AH_LENGTH);
    if (attribute_selected(a, length, want)) {
      pieces.emplace_back(a, a + length);
      return true;
    }
  }
  return false;
}

// The runs of the pieces, each at its own VCN; a resident piece is handed
// back as its value.
bool pieces_to_runs(const std::vector<std::vector<byte>>& pieces, std::vector<data_run>& runs,
                    std::vector<byte>* resident) {
  for (const std::vector<byte>& p : pieces) {
    const uint32 length = static_cast<uint32>(p.size());
    if (p[AH_NON_RESIDENT] == 0) {
      byte_view value;
      if (!resident || !resident_value(p.data(), length, value)) return false;
      resident->assign(value.data, value.data + value.size);
      return true;
    }
    attribute_layout layout;
    if (!layout.set_attribute(p.data(), length)) return false;
    runs.insert(runs.end(), layout.runs.begin(), layout.runs.end());
  }
  return true;
}

// The clusters a stream's runs may claim by what its non-resident pieces
// state: the larger of the allocated and data sizes of the piece at VCN 0
// (the later pieces state none), or without that piece (an extension
// record asked for alone) the end of the VCNs the pieces say they map.
ulong64 stated_clusters(const std::vector<std::vector<byte>>& pieces, ulong64 cluster_size) {
  ulong64 vcn_end = 0;
  for (const std::vector<byte>& p : pieces) {
    if (load_u64(p.data(), AH_FIRST_VCN) == 0) {
      const ulong64 bytes = std::max(load_u64(p.data(), AH_ALLOCATED_SIZE), load_u64(p.data(), AH_DATA_SIZE));
      return bytes / cluster_size + (bytes % cluster_size != 0);
    }
    const ulong64 last = load_u64(p.data(), AH_LAST_VCN);
    vcn_end = std::max(vcn_end, last == ~0ULL ? last : last + 1);
  }
  return vcn_end;
}

// One entry per cluster the runs claim, holes included. The clusters they
// allocate must lie in the volume, so a run list that allocates more than
// the volume holds is damaged (one run may claim four billion) and is
// refused before anything is allocated for it. Holes take no room on the
// volume and may pass its size (a journal whose size is the next update
// number, long since cleared): the `stated` clusters bound them. A list
// too large to hold leaves `list` as it was.
bool runs_to_cluster_list(const CNtfs& ntfs, const std::vector<data_run>& runs, ulong64 stated,
                          lcn_run_list& list) {
  ulong64 claimed = 0;
  ulong64 allocated = 0;
  for (const data_run& r : runs) {
    claimed += r.num_clusters;
    if (!r.sparse) allocated += r.num_clusters;
  }
  const size_t kept = list.size();
  if (allocated > ntfs.held_clusters() || claimed > stated || claimed > list.max_size() - kept) return false;
  try {
    list.reserve(kept + static_cast<size_t>(claimed));
    for (const data_run& r : runs)
      for (uint32 c = 0; c < r.num_clusters; ++c)
        list.push_back(lcn_run_entry(r.sparse ? 0 : r.lcn + c, r.vcn + c, r.sparse != 0));
  } catch (const std::exception&) {
    list.resize(kept);
    return false;
  }
  return true;
}

// The cluster list of the selected stream of an entry.
bool cluster_list_of(const CNtfs& ntfs, ulong64 entry, const data_selector& want, lcn_run_list& list) {
  std::vector<std::vector<byte>> pieces;
  std::vector<data_run> runs;
  if (ntfs.m_cluster_size == 0 || !gather_data_pieces(ntfs, entry, want, pieces) ||
      !pieces_to_runs(pieces, runs, nullptr))
    return false;
  return runs_to_cluster_list(ntfs, runs, stated_clusters(pieces, ntfs.m_cluster_size), list);
}

bool write_through(const CNtfs* ntfs, attribute_layout& layout, const byte* data, int& size, uint32 offset) {
  if (!ntfs || !data || size <= 0) return false;
  ulong64 written = 0;
  if (pump_write_in_place(*ntfs, layout, offset, data, static_cast<ulong64>(size), written) != PUMP_DONE) return false;
  size = static_cast<int>(written);
  return true;
}

}  // namespace

bool CNtfs::read_attribute_data(const std::vector<data_run>& runs, ulong64 offset, byte* out, int& size) {
  if (!m_Validated || !out || size < 1) return false;
  attribute_layout layout;
  if (!layout.set_data_runs(runs)) return false;
  ulong64 copied = 0;
  const pump_status s = pump_attribute_to_buffer(*this, layout, offset, static_cast<ulong64>(size), out, copied);
  // The runs ending inside the range is no failure; a failed or short read
  // is, even when some bytes came before it.
  if (copied > 0) size = static_cast<int>(copied);
  return (s == PUMP_DONE || s == PUMP_END_OF_RUNS) && copied > 0;
}

bool write_runs_data(const CNtfs* ntfs, std::vector<run_record>& runs, const byte* data, int& size, uint32 offset) {
  attribute_layout layout;
  if (runs.empty() || !layout.set_run_records(runs)) return false;
  return write_through(ntfs, layout, data, size, offset);
}

bool write_data_runs_data(const CNtfs* ntfs, std::vector<data_run>& runs, const byte* data, int& size,
                          uint32 offset) {
  attribute_layout layout;
  if (runs.empty() || !layout.set_data_runs(runs)) return false;
  return write_through(ntfs, layout, data, size, offset);
}

bool CNtfs::write_attribute_data(ulong64 entry, const byte* data, int& size, uint32 offset) {
  if (!data || size <= 0 || !is_disk_writable() || !m_Validated) return false;
  std::vector<byte> record;
  bool torn = false;
  if (!read_mft_record_to_vector(record, torn, entry)) return false;
  const uint32 rec_size = static_cast<uint32>(record.size());
  const byte* attr = nullptr;
  if (!find_attribute(record.data(), rec_size, ATTR_DATA, attr)) return false;
  const uint32 length = load_u32(attr, AH_LENGTH);
  if (attr[AH_NON_RESIDENT]) {
    attribute_layout layout;
    if (!layout.set_attribute(attr, length)) return false;
    return write_through(this, layout, data, size, offset);
  }
  byte_view value;
  if (!resident_value(attr, length, value) || value.size == 0 || offset >= value.size) return false;
  const ulong64 n = std::min<ulong64>(static_cast<ulong64>(size), value.size - offset);
  std::memcpy(record.data() + (value.data - record.data()) + offset, data, static_cast<size_t>(n));
  int written = static_cast<int>(rec_size);
  if (!write_mft_record(entry, record.data(), written)) return false;
  size = static_cast<int>(n);
  return true;
}

bool CNtfs::write_attribute_data(ulong64 entry, const byte* data, uint32& size, uint32 offset) {
  if (size > static_cast<uint32>(std::numeric_limits<int>::max())) return false;
  int n = static_cast<int>(size);
  if (!write_attribute_data(entry, data, n, offset)) return false;
  size = static_cast<uint32>(n);
  return true;
}

bool CNtfs::find_data_runs(ulong64 entry, std::vector<data_run>& runs, byte*& resident_data, uint32& resident_size,
                           bool unnamed_only) {
  resident_data = nullptr;
  resident_size = 0;
  data_selector want;
  want.any = !unnamed_only;
  std::vector<std::vector<byte>> pieces;
  std::vector<byte> resident;
  if (!gather_data_pieces(*this, entry, want, pieces) || !pieces_to_runs(pieces, runs, &resident)) return false;
  if (!resident.empty()) {
    resident_data = new (std::nothrow) byte[resident.size()];
    if (!resident_data) return false;
    std::memcpy(resident_data, resident.data(), resident.size());
    resident_size = static_cast<uint32>(resident.size());
  }
  return true;
}

bool CNtfs::find_data_cluster_list(ulong64 entry, lcn_run_list& list, bool unnamed_only) {
  data_selector want;
  want.any = !unnamed_only;
  return cluster_list_of(*this, entry, want, list);
}

bool CNtfs::find_named_data_runs(ulong64 entry, const std::string& stream_name, std::vector<data_run>& runs) {
  data_selector want;
  if (!utf8_to_utf16(want.name, stream_name)) return false;
  std::vector<std::vector<byte>> pieces;
  return gather_data_pieces(*this, entry, want, pieces) && pieces_to_runs(pieces, runs, nullptr);
}

bool CNtfs::find_named_data_cluster_list(ulong64 entry, const std::string& stream_name, lcn_run_list& list) {
  data_selector want;
  return utf8_to_utf16(want.name, stream_name) && cluster_list_of(*this, entry, want, list);
}

bool find_attribute_list_entry(const CNtfs* ntfs, const byte* list_attr, uint32 list_attr_length, uint32 type,
                               const byte*& entry, uint32& remaining, const std::vector<uint16>& name,
                               std::vector<byte>& list) {
  entry = nullptr;
  remaining = 0;
  if (!ntfs || !list_attr || !ntfs->read_attribute_list_value(list_attr, list_attr_length, list)) return false;
  const uint32 length = static_cast<uint32>(list.size());
  data_selector want;
  want.name = name;
  while (!want.name.empty() && want.name.back() == 0) want.name.pop_back();
  for (uint32 at = 0; find_attribute_list_entry(list.data(), length, type, at);
       at += load_u16(list.data(), at + ALE_LENGTH)) {
    const byte* e = list.data() + at;
    const uint32 units = e[ALE_NAME_LENGTH];
    if (!fits(load_u16(e, ALE_LENGTH), e[ALE_NAME_OFFSET], 2ULL * units)) continue;
    if (name_matches(e + e[ALE_NAME_OFFSET], units, want)) {
      entry = e;
      remaining = length - at;
      return true;
    }
  }
  return false;
}

bool find_attribute_list_entry(const CNtfs* ntfs, const byte* list_attr, uint32 type, const byte*& entry,
                               uint32& remaining, const std::vector<uint16>& name, std::vector<byte>& list,
                               bool) {
  if (!list_attr) {
    entry = nullptr;
    remaining = 0;
    return false;
  }
  // No attribute is longer than the largest record that holds it.
  const uint32 length = std::min(load_u32(list_attr, AH_LENGTH), MAX_MFT_RECORD_SIZE);
  return find_attribute_list_entry(ntfs, list_attr, length, type, entry, remaining, name, list);
}
