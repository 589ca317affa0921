#pragma once
// The engine's in-memory entry tree: one node per MFT entry.
#include <map>
#include <set>

#include "utils/types.h"

typedef std::set<ulong64> ulong64_set;
struct file_name_record;

struct mft_tree_node {
  ulong64 inode = 0;
  std::set<ulong64> parents;  // full parent references; {0} for an entry without a name
  bool is_dir = false;
  bool is_deleted = false;
  ulong64_set children;

  mft_tree_node() = default;
  // Parents are the stored parent references of the collected names (the
  // name records' own copies); an entry without names gets the single 0.
  mft_tree_node(ulong64 inode, const std::map<ulong64, file_name_record>& names, bool is_dir, bool is_deleted);
};

typedef std::map<ulong64, mft_tree_node> tree_node_map;
typedef std::multimap<ulong64, mft_tree_node> tree_node_mmap;
