#pragma once
// A folder's $I30 index read a node at a time, down its tree as the volume
// orders names or across it a few records deep: for the questions a whole
// index read answers too slowly (a folder of a million names).
#include <deque>
#include <string>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/index_node.h"
#include "utils/byte_order.h"
#include "utils/types.h"

class CNtfs;

// The VCN of no index record: the root's node, or no node below an entry.
const ulong64 NO_INDEX_RECORD = ~0ULL;

// Calls `each(entry, below)` for the entries of the index node at `node` in their order (`below`:
// the VCN of the node under the entry, or NO_INDEX_RECORD); an entry that holds no name, as the
// last, comes as null. Stops where `each` says false, or the node's own bounds end.
template <class Each>
void each_index_entry(const byte* node, uint32 length, Each each) {
  if (node == nullptr || length < 16) return;
  const ulong64 end = load_u32(node, 4) < length ? load_u32(node, 4) : length;
  for (ulong64 at = load_u32(node, 0); at + 16 <= end;) {
    const byte* e = node + at;
    const uint32 size = load_u16(e, k_ie_entry_length), flags = load_u16(e, k_ie_flags);
    if (size < 16 || at + size > end) return;
    const bool down = (flags & 1) != 0 && size >= 24;
    const bool named = (flags & 2) == 0 && size > k_ie_name &&
                       k_ie_name + 2u * e[k_ie_name_length] + (down ? 8u : 0u) <= size;
    if (!each(named ? e : nullptr, down ? load_u64(e, size - 8) : NO_INDEX_RECORD) || (flags & 2) != 0) return;
    at += size;
  }
}

// A folder's index, read a node at a time: never whole.
struct index_tree {
  directory_index dir;
  std::vector<byte> record;

  bool read(const CNtfs& volume, ulong64 folder) { return read_directory_index(volume, folder, dir); }
  // The root's node (`vcn` NO_INDEX_RECORD) or that of the index record at `vcn`, `length` bytes;
  // null for what is no record of this index in use (the bitmap's word: a freed record keeps old
  // names), or no record at all.
  const byte* node(const CNtfs& volume, ulong64 vcn, uint32& length);
};

// Calls `visit` with the named live entries of the folder's index, its root node's first, then
// those of the records below, level by level, at most `most_records` records, till `visit` says
// false.
template <class Visit>
void each_indexed_name(const CNtfs& volume, ulong64 folder, int most_records, Visit visit) {
  index_tree tree;
  std::deque<ulong64> below(1, NO_INDEX_RECORD);
  bool more = tree.read(volume, folder);
  for (int read = 0; more && !below.empty() && read <= most_records; ++read) {
    uint32 length = 0;
    const byte* node = tree.node(volume, below.front(), length);
    below.pop_front();
    each_index_entry(node, length, [&](const byte* e, ulong64 child) {
      if (child != NO_INDEX_RECORD) below.push_back(child);
      return more = e == nullptr || visit(e);
    });
  }
}

// The volume's $UpCase, one upper-case unit for each UTF-16 unit; empty where it cannot be read.
std::vector<uint16> read_upcase_table(CNtfs& volume);

// The record the folder's index gives `name` (that name, else one that differs only by case as
// `upcase` folds it, ASCII's alone where it is empty), found down its tree as the index orders
// names; NO_INDEX_RECORD where it holds none.
ulong64 index_child_named(CNtfs& volume, const std::vector<uint16>& upcase, ulong64 folder, const std::string& name);
