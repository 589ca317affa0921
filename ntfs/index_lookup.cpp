#include "ntfs/index_lookup.h"

#include "ntfs/index_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/utf_convert.h"

namespace {

// The nodes a lookup reads at most: an index whose records point back up is damaged.
const int MOST_NODES_READ = 256;

// A name's order against an entry's (`units` UTF-16 units at `name`) as the volume's index orders
// them: by their upper-case forms.
int collate(const std::vector<uint16>& up, const std::vector<uint16>& want, const byte* name, uint32 units) {
  const auto fold = [&up](uint16 u) { return u < up.size() ? up[u] : u >= 'a' && u <= 'z' ? uint16(u - 32) : u; };
  for (size_t i = 0; i < want.size() && i < units; ++i) {
    const uint16 a = fold(want[i]), b = fold(load_u16(name, 2 * i));
    if (a != b) return a < b ? -1 : 1;
  }
  return want.size() < units ? -1 : want.size() > units ? 1 : 0;
}

bool same_units(const std::vector<uint16>& want, const byte* name, uint32 units) {
  for (size_t i = 0; i < want.size() && i < units; ++i)
    if (want[i] != load_u16(name, 2 * i)) return false;
  return want.size() == units;
}

}  // namespace

const byte* index_tree::node(const CNtfs& volume, ulong64 vcn, uint32& length) {
  length = static_cast<uint32>(dir.root_node.size());
  if (vcn == NO_INDEX_RECORD) return dir.root_node.data();
  // Records smaller than a cluster are counted in 512-byte blocks.
  const uint32 size = dir.record_size, unit = size >= volume.m_cluster_size ? volume.m_cluster_size : 512;
  const ulong64 at = vcn * unit;
  ulong64 total = 0;
  if (!is_valid_index_record_size(size) || unit == 0 || vcn > ~0ULL / unit || at % size != 0 ||
      !index_record_in_use(dir, at / size) ||
      !volume.read_index_allocation_piece(record, dir.runs, size, dir.allocation_size, at, size, total) ||
      record.size() < size || load_u32(record.data(), 0) != 0x58444E49 || load_u64(record.data(), 16) != vcn)
    return nullptr;
  length = size - INDX_NODE_OFFSET;
  return record.data() + INDX_NODE_OFFSET;
}

std::vector<uint16> read_upcase_table(CNtfs& volume) {
  std::vector<data_run> runs;
  byte* resident = nullptr;
  uint32 resident_size = 0;
  std::vector<byte> table(131072);  // 65,536 units
  std::vector<uint16> up;
  int size = static_cast<int>(table.size());
  if (volume.find_data_runs(10, runs, resident, resident_size, true) && resident == nullptr &&
      volume.read_attribute_data(runs, 0, table.data(), size) && size == static_cast<int>(table.size()))
    for (size_t i = 0; i < table.size(); i += 2) up.push_back(load_u16(table.data(), i));
  delete[] resident;
  return up;
}

ulong64 index_child_named(CNtfs& volume, const std::vector<uint16>& upcase, ulong64 folder, const std::string& name) {
  std::vector<uint16> want;
  index_tree tree;
  if (!utf8_to_utf16(want, name) || want.empty() || !tree.read(volume, folder)) return NO_INDEX_RECORD;
  ulong64 exact = NO_INDEX_RECORD, folded = NO_INDEX_RECORD;
  // Names that differ only by case lie side by side in the order of their units, so the exact one
  // may lie under any of them as well as after them: each of those subtrees is read.
  std::vector<ulong64> to_read(1, NO_INDEX_RECORD);
  for (int read = 0; read < MOST_NODES_READ && !to_read.empty() && exact == NO_INDEX_RECORD; ++read) {
    uint32 length = 0;
    const byte* node = tree.node(volume, to_read.back(), length);
    to_read.pop_back();
    each_index_entry(node, length, [&](const byte* e, ulong64 below) {
      const int order = e == nullptr ? -1 : collate(upcase, want, e + k_ie_name, e[k_ie_name_length]);
      if (order <= 0 && below != NO_INDEX_RECORD) to_read.push_back(below);
      if (order != 0) return order > 0;
      (same_units(want, e + k_ie_name, e[k_ie_name_length]) ? exact : folded) =
          mft_reference_entry(load_u64(e, k_ie_file_reference));
      return exact == NO_INDEX_RECORD;
    });
  }
  return exact != NO_INDEX_RECORD ? exact : folded;
}
