#include "examine/index_listing.h"

#include <algorithm>
#include <limits>
#include <ostream>
#include <vector>

#include "examine/entry_records.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/indx_record_dump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"

namespace {

const uint32 INDEX_RECORD_SIZE = 4096;

// The runs cut to the clusters the volume has, as far as its source holds
// them: a damaged run list may claim far more (one run of four billion
// clusters), and a run that lies past the end is passed over whole. Sparse
// runs hold no clusters and stay.
std::vector<data_run> runs_inside_volume(const CNtfs& ntfs, const std::vector<data_run>& runs) {
  std::vector<data_run> inside;
  const ulong64 total = ntfs.held_clusters();
  for (const data_run& r : runs) {
    data_run kept = r;
    if (!r.sparse) {
      if (r.lcn >= total) continue;
      kept.num_clusters = static_cast<uint32>(std::min<ulong64>(r.num_clusters, total - r.lcn));
    }
    inside.push_back(kept);
  }
  return inside;
}

}  // namespace

ulong64 volume_bytes(const CNtfs& ntfs) {
  const ulong64 cs = ntfs.m_cluster_size;
  const ulong64 clusters = ntfs.held_clusters();
  if (cs != 0 && clusters > std::numeric_limits<ulong64>::max() / cs) return std::numeric_limits<ulong64>::max();
  return clusters * cs;
}

// Index records keep 4 KiB whatever the cluster size: with 8-64 KiB
// clusters one cluster holds several, with 512-byte clusters one record
// spans several. So step by record over the bytes the runs map, never
// further than the volume is long, and leap over stretches no run maps.
void walk_index_allocation(CNtfs& ntfs, const entry_record& rec, ulong64 length, std::vector<byte>& record,
                           const index_record_taker& take) {
  const ulong64 cs = ntfs.m_cluster_size;
  attribute_layout layout;
  if (cs == 0 || !layout.set_data_runs(runs_inside_volume(ntfs, rec.runs))) return;
  record.resize(INDEX_RECORD_SIZE);
  const ulong64 total = std::min({length, get_data_runs_size(rec.runs, ntfs.m_cluster_size, false), volume_bytes(ntfs)});
  layout.data_size = total;
  size_t run = 0;
  for (ulong64 offset = 0; offset <= total && total - offset >= INDEX_RECORD_SIZE; offset += INDEX_RECORD_SIZE) {
    // Compared in clusters: a VCN from disk times the cluster size may wrap.
    const ulong64 cluster = offset / cs;
    while (run < layout.runs.size() && layout.runs[run].vcn <= cluster &&
           cluster - layout.runs[run].vcn >= layout.runs[run].num_clusters)
      ++run;
    if (run == layout.runs.size() || layout.runs[run].vcn > total / cs) break;
    const ulong64 start = layout.runs[run].vcn * cs;
    if (start >= offset + INDEX_RECORD_SIZE) {
      // On to the record that holds the run's first cluster.
      offset = start - start % INDEX_RECORD_SIZE;
      if (total - offset < INDEX_RECORD_SIZE) break;
    }
    ulong64 got = 0;
    // A record that cannot be read is passed over; the next may be fine.
    if (pump_attribute_to_buffer(ntfs, layout, offset, INDEX_RECORD_SIZE, record.data(), got) != PUMP_DONE)
      continue;
    if (!take(record.data(), offset)) return;
  }
}

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
      walk_index_allocation(*ntfs, rec, PUMP_UNBOUNDED, record, [&](const byte* data, ulong64 offset) {
        dump_indx_record(rec.name.c_str(), data, INDEX_RECORD_SIZE, UPDATE_SEQUENCE_STRIDE, out,
                         static_cast<uint32>(offset));
        return true;
      });
      listed = true;
    }
  } catch (...) {
  }
  return listed;
}
