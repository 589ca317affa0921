#include "examine/file_wipe.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "examine/entry_records.h"
#include "examine/utf8_adapters.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

namespace {

// Whether the runs can be taken for the file's own clusters: one after the
// other they map exactly the VCNs of the attribute's allocated size, and
// each that lies on disk lies inside the volume and off its boot sector. A
// damaged run list may point anywhere, also at other files' data, and runs
// that stop short leave a piece lost: neither is written at all.
bool runs_are_the_files(const CNtfs& ntfs, const attribute_layout& layout, ulong64 allocated) {
  const ulong64 cs = ntfs.m_cluster_size, total = ntfs.m_total_clusters;
  const ulong64 allocated_clusters = allocated / cs + (allocated % cs != 0);
  ulong64 vcn = 0;
  for (const data_run& run : layout.runs) {
    if (run.vcn != vcn || run.num_clusters > allocated_clusters - vcn) return false;
    if (!run.sparse && (run.lcn == 0 || run.lcn >= total || run.num_clusters > total - run.lcn)) return false;
    vcn += run.num_clusters;
  }
  return vcn == allocated_clusters;
}

// Whether each extension record that the entry's attribute list names for
// a piece of its data says it belongs to the entry: a list naming another
// file's record is damaged, and the runs found there may be that file's.
bool data_records_are_the_entrys(CNtfs* ntfs, ulong64 entry) {
  std::vector<byte> record, list, extension;
  if (!read_entry_file_record(ntfs, entry, record)) return false;
  const byte* list_attr = nullptr;
  if (!find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_ATTRIBUTE_LIST, list_attr)) return true;
  if (!ntfs->read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list)) return false;
  const uint32 length = static_cast<uint32>(list.size());
  for (uint32 at = 0; find_attribute_list_entry(list.data(), length, ATTR_DATA, at);
       at += load_u16(list.data(), at + ALE_LENGTH)) {
    const ulong64 holder = mft_reference_entry(load_u64(list.data(), at + ALE_REFERENCE));
    if (holder == mft_reference_entry(entry)) continue;
    if (!read_entry_file_record(ntfs, holder, extension) ||
        mft_reference_entry(load_u64(extension.data(), FRH_BASE_RECORD)) != mft_reference_entry(entry))
      return false;
  }
  return true;
}

// Every cluster of the runs that lies on disk is zeroed whole: past the data
// size the last cluster still holds bytes of the file. Holes stay holes.
// Compressed data is zeroed as it is stored: a compression unit of zeros
// reads back as zeros.
// False when a write fails or falls short, when no cluster lies on disk, and
// for runs that are not wholly the file's, which are left unwritten.
bool wipe_runs(CNtfs* ntfs, const entry_record& rec, uint32 chunk) {
  attribute_layout layout;
  if (!layout.set_data_runs(rec.runs)) return false;
  const ulong64 cs = ntfs->m_cluster_size;
  if (cs == 0 || !runs_are_the_files(*ntfs, layout, entry_allocated_size(rec))) return false;
  layout.data_size = layout.mapped_bytes(static_cast<uint32>(cs));
  const std::vector<byte> zeros(chunk, 0);
  bool wiped = false;
  for (const data_run& run : rec.runs) {
    if (run.sparse) continue;
    const ulong64 end = (run.vcn + run.num_clusters) * cs;
    for (ulong64 at = run.vcn * cs; at < end;) {
      const ulong64 n = std::min<ulong64>(chunk, end - at);
      ulong64 written = 0;
      if (pump_write_in_place(*ntfs, layout, at, zeros.data(), n, written) != PUMP_DONE || written != n) return false;
      at += n;
      wiped = true;
    }
  }
  return wiped;
}

}  // namespace

bool wipe_entry_data(CNtfs* ntfs, ulong64 entry, uint32 chunk) {
  if (!ntfs || chunk == 0) return false;
  std::vector<entry_record> records;
  if (!collect_entry_records(ntfs, entry, records)) return false;
  for (const entry_record& rec : records) {
    if (rec.item.header.type != 0x80 || !rec.name.empty()) continue;
    if (entry_is_non_resident(rec)) return data_records_are_the_entrys(ntfs, entry) && wipe_runs(ntfs, rec, chunk);
    // An empty value has nothing to overwrite.
    const uint32 length = entry_value_length(rec);
    if (length == 0) return false;
    const std::vector<byte> zeros(length, 0);
    uint32 written = length;
    return ntfs->write_attribute_data(entry, zeros.data(), written, 0) && written == length;
  }
  return false;
}

bool get_file_data_size(const std::string& path, ulong64& size) {
  size = 0;
  CNtfs* opened = nullptr;
  ulong64 entry = 0;
  const bool ok = open_ntfs_by_drive_letter_resolve_path(path, entry, opened, false, false);
  std::unique_ptr<CNtfs> ntfs(opened);
  return ok && ntfs && ntfs->get_data_size_incl_attribute_list(entry, size);
}

bool wipe_file_data(const std::string& path) {
  try {
    CNtfs* opened = nullptr;
    ulong64 entry = 0;
    const bool ok = open_ntfs_by_drive_letter_resolve_path(path, entry, opened, true, true);
    std::unique_ptr<CNtfs> ntfs(opened);
    // A size that cannot be had (an attribute list that does not read) or
    // is 0 leaves nothing known to overwrite.
    ulong64 size = 0;
    return ok && ntfs && ntfs->get_data_size_incl_attribute_list(entry, size) && size != 0 &&
           wipe_entry_data(ntfs.get(), entry);
  } catch (const std::exception&) {
    return false;
  }
}
