#include "examine/index_listing.h"

#include <ostream>
#include <vector>

#include "examine/entry_records.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/indx_record_dump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

namespace {

const uint32 INDEX_RECORD_SIZE = 4096;

// Index records keep 4 KiB whatever the cluster size: with 8-64 KiB
// clusters one cluster holds several, with 512-byte clusters one record
// spans several. So step by record over the bytes the runs map.
void list_records(CNtfs* ntfs, const entry_record& rec, std::vector<byte>& record, std::ostream& out) {
  attribute_layout layout;
  if (!layout.set_data_runs(rec.runs)) return;
  const ulong64 total = get_data_runs_size(rec.runs, ntfs->m_cluster_size, false);
  layout.data_size = total;
  for (ulong64 offset = 0; offset + INDEX_RECORD_SIZE <= total; offset += INDEX_RECORD_SIZE) {
    ulong64 got = 0;
    // A record that cannot be read is passed over; the next may be fine.
    if (pump_attribute_to_buffer(*ntfs, layout, offset, INDEX_RECORD_SIZE, record.data(), got) != PUMP_DONE)
      continue;
    dump_indx_record(rec.name.c_str(), record.data(), INDEX_RECORD_SIZE, UPDATE_SEQUENCE_STRIDE, out,
                     static_cast<uint32>(offset));
  }
}

}  // namespace

bool list_index_allocations(CNtfs* ntfs, ulong64 entry, std::ostream& out) {
  if (!ntfs || ntfs->m_cluster_size == 0) return false;
  bool listed = false;
  // Gathering the records, reading and dumping all allocate: a damaged or
  // huge entry that runs out of memory ends the listing, not the caller.
  try {
    std::vector<byte> record(INDEX_RECORD_SIZE);
    std::vector<entry_record> records;
    if (!collect_entry_records(ntfs, entry, records)) return false;
    for (const entry_record& rec : records) {
      if (rec.item.header.type != 0xA0) continue;
      if (rec.runs.empty()) {
        if (!rec.resident.empty()) break;
        continue;
      }
      out << "indx name: " << rec.name << "\n";
      list_records(ntfs, rec, record, out);
      listed = true;
    }
  } catch (...) {
  }
  return listed;
}
