// The in-memory tree of every MFT entry: directories with their children,
// and the deleted entries grouped under their parents or left as orphans.
#include <algorithm>
#include <new>

#include "ntfs/dir_children.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/tree_node.h"
#include "utils/byte_order.h"

namespace {

bool link_map(const tree_node_map& from, tree_node_map& directories) {
  for (const auto& kv : from) {
    for (ulong64 parent : kv.second.parents) {
      auto dir = directories.find(mft_reference_entry(parent));
      if (dir != directories.end()) dir->second.children.insert(kv.first);
    }
  }
  return true;
}

// Files a deleted node under each parent, or as an orphan when its first
// (lowest) parent reference names entry 0.
void file_deleted(const tree_node_map& nodes, tree_node_mmap* by_parent, tree_node_map& orphans) {
  for (const auto& kv : nodes) {
    const mft_tree_node& node = kv.second;
    if (!node.is_deleted) continue;
    if (node.parents.empty() || mft_reference_entry(*node.parents.begin()) == 0) {
      orphans.emplace(kv.first, node);
    } else if (by_parent) {
      for (ulong64 parent : node.parents) by_parent->emplace(mft_reference_entry(parent), node);
    }
  }
}

}  // namespace

mft_tree_node::mft_tree_node(ulong64 inode_, const std::map<ulong64, file_name_record>& names, bool is_dir_,
                             bool is_deleted_)
    : inode(inode_), is_dir(is_dir_), is_deleted(is_deleted_) {
  for (const auto& kv : names) parents.insert(kv.second.parent);
  if (parents.empty()) parents.insert(0);
}

bool CNtfs::scan_mft_entries(ulong64& progress, ulong64& total, tree_node_map& directories, tree_node_map& files) {
  progress = 0;
  if (total == 0) total = m_num_inodes;
  const uint32 length = std::max(m_mft_record_size, m_mft_record_alloc_size);
  if (!m_Validated || length == 0) return false;
  byte* record = new (std::nothrow) byte[length];
  if (!record) return false;
  file_name_map names;
  for (ulong64 entry = 0; entry < m_num_inodes; ++entry, ++progress) {
    ulong64 pos = 0;
    int size = static_cast<int>(length);
    if (!read_mft_record(entry, record, pos, size, false)) continue;
    clear_cut_record_tail(record, static_cast<uint32>(size), length);
    // Extension records get nodes of their own: the names one holds name
    // its parents, and one holding none is a node with the parent 0.
    collect_all_file_names(names, this, entry, record, false, ~0ULL);
    const uint16 flags = load_u16(record, FRH_FLAGS);
    const bool is_dir = (flags & FILE_RECORD_DIRECTORY) != 0;
    mft_tree_node node(entry, names, is_dir, (flags & FILE_RECORD_IN_USE) == 0);
    (is_dir ? directories : files)[entry] = std::move(node);
  }
  delete[] record;
  return !directories.empty();
}

bool CNtfs::link_tree_children(ulong64& progress, ulong64& total, tree_node_map& directories, tree_node_map& files) {
  if (directories.empty()) return false;
  if (total == 0) total = directories.size() + files.size();
  link_map(directories, directories);
  ++progress;
  link_map(files, directories);
  ++progress;
  return true;
}

bool CNtfs::build_entry_tree(ulong64& progress, ulong64& total) {
  total = m_num_inodes + 2;
  progress = 0;
  m_tree_map_first.clear();
  m_tree_map_second.clear();
  if (!scan_mft_entries(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  if (!link_tree_children(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  m_tree_map_second.clear();
  return true;
}

bool CNtfs::find_deleted_entries(ulong64& progress, ulong64& total, tree_node_mmap& deleted_by_parent,
                                 tree_node_map& orphans) {
  total = m_num_inodes + 4;
  progress = 0;
  m_tree_map_first.clear();
  m_tree_map_second.clear();
  deleted_by_parent.clear();
  orphans.clear();
  if (!scan_mft_entries(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  if (!link_tree_children(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  file_deleted(m_tree_map_first, &deleted_by_parent, orphans);
  ++progress;
  file_deleted(m_tree_map_second, &deleted_by_parent, orphans);
  ++progress;
  return !deleted_by_parent.empty() || !orphans.empty();
}

bool CNtfs::find_orphan_entries(ulong64& progress, ulong64& total, tree_node_map& orphans) {
  total = m_num_inodes + 4;
  progress = 0;
  m_tree_map_first.clear();
  m_tree_map_second.clear();
  orphans.clear();
  if (!scan_mft_entries(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  if (!link_tree_children(progress, total, m_tree_map_first, m_tree_map_second)) return false;
  file_deleted(m_tree_map_first, nullptr, orphans);
  ++progress;
  file_deleted(m_tree_map_second, nullptr, orphans);
  ++progress;
  return !orphans.empty();
}
