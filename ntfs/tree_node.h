#pragma once
// The engine's in-memory entry tree: one node per MFT entry.
#include <map>
#include <set>

#include "utils/types.h"

typedef std::set<ulong64> ulong64_set;

struct mft_tree_node {
  ulong64 inode = 0;
  std::set<ulong64> parents;  // full parent references; {0} for an entry without a name
  bool is_dir = false;
  bool is_deleted = false;
  ulong64_set children;
};

typedef std::map<ulong64, mft_tree_node> tree_node_map;
typedef std::multimap<ulong64, mft_tree_node> tree_node_mmap;
