#include "examine/file_wipe.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "examine/entry_records.h"
#include "examine/utf8_adapters.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/ntfs.h"

namespace {

bool wipe_runs(CNtfs* ntfs, const entry_record& rec, uint32 chunk) {
  attribute_layout layout;
  if (!layout.set_data_runs(rec.runs)) return false;
  const ulong64 size = entry_used_size(rec);
  layout.data_size = size;
  const std::vector<byte> zeros(chunk, 0);
  for (const data_run& run : rec.runs) {
    if (run.sparse) continue;
    const ulong64 begin = run.vcn * ntfs->m_cluster_size;
    const ulong64 end = std::min<ulong64>(size, (run.vcn + run.num_clusters) * ntfs->m_cluster_size);
    for (ulong64 at = begin; at < end;) {
      const ulong64 n = std::min<ulong64>(chunk, end - at);
      ulong64 written = 0;
      if (pump_write_in_place(*ntfs, layout, at, zeros.data(), n, written) != PUMP_DONE || written != n) return false;
      at += n;
    }
  }
  return true;
}

}  // namespace

bool wipe_entry_data(CNtfs* ntfs, ulong64 entry, uint32 chunk) {
  if (!ntfs || chunk == 0) return false;
  std::vector<entry_record> records;
  if (!collect_entry_records(ntfs, entry, records)) return false;
  for (const entry_record& rec : records) {
    if (rec.item.header.type != 0x80 || !rec.name.empty()) continue;
    if (rec.item.header.word_value & 1) return false;
    if (entry_is_non_resident(rec)) return wipe_runs(ntfs, rec, chunk);
    const uint32 length = entry_value_length(rec);
    if (length == 0) return true;
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
    return ok && ntfs && wipe_entry_data(ntfs.get(), entry);
  } catch (const std::exception&) {
    return false;
  }
}
