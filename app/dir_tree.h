#pragma once
// The application's picture of a volume's directory tree, built from the
// $FILE_NAME parent references of the MFT entries: full paths of entries,
// the list of every directory, and path-to-entry lookup.
#include <map>
#include <string>

#include "app/user_ctx.h"
#include "ntfs/tree_node.h"
#include "utils/types.h"

struct dir_tree_node {
  ulong64 entry = 0;
  // Parent references as stored (entry in the low 48 bits, sequence above);
  // never empty: {0} when none is known.
  ulong64_set parents;
  std::string name;
  std::wstring name_w;
  bool is_dir = false;
  // Entry numbers of the entries whose parent this node is (build_dir_tree).
  ulong64_set children;

  dir_tree_node() { parents.insert(0); }
  dir_tree_node(ulong64 entry, const ulong64_set& parents, const std::wstring& name, bool is_dir);
  dir_tree_node(ulong64 entry, const ulong64_set& parents, const std::string& name, bool is_dir);
  void clear();
  bool assign(ulong64 entry, const ulong64_set& parents, const std::wstring& name, bool is_dir);
  // Entry number of the smallest parent reference.
  ulong64 first_parent() const;
};

typedef std::map<ulong64, dir_tree_node> dir_tree_map;

// Every MFT entry of the source: directories into `dirs`, the others into
// `files` unless dirs_only. False when $MFT's own record or size is unusable.
bool scan_dir_inodes(dir_tree_map& files, dir_tree_map& dirs, user_ctx& ctx, bool dirs_only);
// Links each directory and file to its parent directories' children.
bool build_dir_tree(dir_tree_map& dirs, dir_tree_map& files, user_ctx& ctx);
// "[root]\name\...\" for the entry; a parent chain that loops ends with
// "<path corrupted>". False (out untouched) without a usable source.
bool build_inode_path(std::wstring& out, ulong64 entry, user_ctx& ctx, dir_tree_map& cache);
// Resolves a path from the root to its MFT entry; opens the source when
// needed and, with close_after, closes it again.
bool find_inode_by_path(ulong64& entry, const std::wstring& path, user_ctx& ctx, bool close_after);
