// Feeds arbitrary bytes to the mapping-pairs decoders and the run lookups.
#include <vector>

#include "ntfs/data_runs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<run_record> runs;
  decode_mapping_pairs_bounded(data, size, runs, ATTR_DATA, true);
  std::vector<data_run> compact;
  run_records_to_data_runs(runs, compact);
  uint32 index = 0;
  ulong64 lcn = 0;
  find_lcn_for_vcn(compact, 7, index, lcn);
  compact_data_runs(compact);

  // The same bytes as a whole non-resident attribute header.
  if (size >= AH_NON_RESIDENT_SIZE) {
    std::vector<byte> attr(data, data + size);
    std::vector<run_record> attr_runs;
    decode_attribute_runs(attr.data(), attr.size(), attr_runs);
    if (load_u32(attr.data(), AH_LENGTH) <= attr.size()) {
      ulong64 left = 0;
      lookup_vcn_in_mapping_pairs(attr.data(), load_u64(attr.data(), AH_FIRST_VCN) + 3, lcn, left);
    }
    // Per-cluster lists only for modest run totals.
    ulong64 clusters = 0;
    for (const run_record& r : attr_runs) clusters += r.num_clusters;
    if (clusters < (1u << 16)) {
      lcn_run_list list;
      run_records_to_lcn_run_list(attr_runs, list);
    }
  }
  return 0;
}
