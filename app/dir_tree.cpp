#include "app/dir_tree.h"

#include <set>
#include <vector>

#include "app/record_names.h"
#include "app/record_reader.h"
#include "disk/disk_handle.h"
#include "app/source_open.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/file_handle.h"
#include "utils/status_line.h"
#include "utils/string_lists.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 kRootEntry = 5;
// A pre-scan that fails to read this many records in a row, each placed past
// the end of the image, reads no further.
const ulong64 kMostFailedPastEnd = 64;
const uint32 kDataAttribute = 0x80;

bool usable_source(user_ctx& ctx) {
  if (ctx.mft_reader != nullptr && ctx.mft_reader->is_open()) return true;
  return ctx.ntfs != nullptr && ctx.ntfs->initialise(ctx.mft_pos);
}

// Size of $MFT's data as its own record states it, or 0.
ulong64 mft_data_size(const inode_attributes& mft) {
  for (const auto& kv : mft.attributes) {
    const std::vector<byte>& raw = kv.second.raw;
    if (raw.empty() || !fits(raw.size(), 0, 4) || load_u32(raw.data(), 0) != kDataAttribute) continue;
    if (!fits(raw.size(), 8, 1)) return 0;
    if (raw[8] == 0) return fits(raw.size(), 16, 4) ? load_u32(raw.data(), 16) : 0;
    return fits(raw.size(), 40, 8) ? load_u64(raw.data(), 40) : 0;
  }
  return 0;
}

// Whether the record of `entry` lies wholly or partly past the end of the
// image.
bool past_image_end(user_ctx& ctx, ulong64 entry) {
  if (ctx.ntfs == nullptr || !ctx.ntfs->is_valid() || (ctx.mft_reader != nullptr && ctx.mft_reader->is_open()))
    return false;
  disk_handle* disk = ctx.ntfs->get_disk_handle();
  if (disk == nullptr) return false;
  const ulong64 position = ctx.ntfs->get_inode_file_pos(entry);
  if (position == 0) return false;
  const ulong64 size = disk->get_size();
  const ulong64 offset = ctx.ntfs->m_volume_offset;
  const ulong64 record = ctx.ntfs->m_mft_record_size;
  return size != 0 && (offset > size || position > size - offset || record > size - offset - position);
}

std::wstring lower_copy(std::wstring text) {
  to_lower_w(text);
  return text;
}

// Among a node's children, the first one in `pool` whose name matches.
const dir_tree_node* find_child(const dir_tree_node& parent, const dir_tree_map& pool,
                                const std::wstring& lowered) {
  for (ulong64 child : parent.children) {
    auto it = pool.find(child);
    if (it != pool.end() && lower_copy(it->second.name_w) == lowered) return &it->second;
  }
  return nullptr;
}

bool resolve_in_mft_file(ulong64& entry, const std::wstring& path, user_ctx& ctx) {
  ctx.path_w = path;
  ctx.path = wstring_to_utf8(path);
  std::vector<std::wstring> parts;
  split_w(path, L'/', parts);
  if (parts.empty()) return false;
  entry = kRootEntry;
  if (parts.size() == 1 && parts[0] == L".") return true;
  size_t first = 0;
  if (parts[0].size() >= 2 && parts[0][1] == L':') first = 1;
  // A drive prefix alone names the root.
  if (first == parts.size()) return true;

  dir_tree_map files;
  dir_tree_map dirs;
  if (!scan_dir_inodes(files, dirs, ctx, false) || !build_dir_tree(dirs, files, ctx)) return false;
  auto root = dirs.find(kRootEntry);
  if (root == dirs.end()) return false;
  const dir_tree_node* current = &root->second;
  for (size_t i = first; i + 1 < parts.size(); ++i) {
    current = find_child(*current, dirs, lower_copy(parts[i]));
    if (current == nullptr) return false;
  }
  const dir_tree_node* file = find_child(*current, files, lower_copy(parts.back()));
  if (file == nullptr) return false;
  entry = file->entry;
  return true;
}

}  // namespace

dir_tree_node::dir_tree_node(ulong64 e, const ulong64_set& p, const std::wstring& n, bool d) {
  assign(e, p, n, d);
}

dir_tree_node::dir_tree_node(ulong64 e, const ulong64_set& p, const std::string& n, bool d) {
  std::wstring wide;
  utf8_to_wstring_into(wide, n);
  assign(e, p, wide, d);
}

void dir_tree_node::clear() {
  entry = 0;
  parents.clear();
  children.clear();
  name.clear();
  name_w.clear();
  is_dir = false;
}

bool dir_tree_node::assign(ulong64 e, const ulong64_set& p, const std::wstring& n, bool d) {
  clear();
  entry = e;
  parents = p;
  if (parents.empty()) parents.insert(0);
  name_w = n;
  wstring_to_utf8_into(name, n);
  is_dir = d;
  return true;
}

ulong64 dir_tree_node::first_parent() const {
  return parents.empty() ? 0 : mft_reference_entry(*parents.begin());
}

bool scan_dir_inodes(dir_tree_map& files, dir_tree_map& dirs, user_ctx& ctx, bool dirs_only) {
  files.clear();
  dirs.clear();
  ulong64 count = 0;
  {
    inode_attributes mft;
    if (!read_inode(mft, ctx, 0)) return false;
    const ulong64 size = mft_data_size(mft);
    if (size == 0) return false;
    // Reading record 0 has taught the context its record size.
    count = size / ctx.record_size;
  }
  if (ctx.mft_reader != nullptr) {
    const long64 file_size = ctx.mft_reader->current_size();
    const ulong64 in_file = file_size > 0 ? static_cast<ulong64>(file_size) / ctx.record_size : 0;
    if (in_file < count) count = in_file;
  }
  // Entries past the $MFT's runs cannot be read; a corrupt size must not
  // turn into billions of failed reads.
  if (ctx.ntfs != nullptr && ctx.ntfs->is_valid()) {
    const ulong64 in_volume = ctx.ntfs->get_inode_count();
    if (in_volume < count) count = in_volume;
  }

  std::wstring name;
  ulong64_set parents;
  record_names_reader reader;
  status_pacer pacer;
  ulong64 failed_past_end = 0;
  for (ulong64 i = 0; i < count; ++i) {
    bool is_dir = false;
    if (ctx.verbose && pacer.due())
      print_status("analyzing entry %lld of %lld", static_cast<long long>(i), static_cast<long long>(count));
    if (!reader.read(name, parents, is_dir, i, ctx, dirs_only)) {
      // Records the evidence cannot hold: a damaged run list may claim far
      // more of them than the image has room for. (A file passed over for
      // dirs_only was read, so it lies inside the image.)
      failed_past_end = past_image_end(ctx, i) ? failed_past_end + 1 : 0;
      if (failed_past_end >= kMostFailedPastEnd) break;
      continue;
    }
    failed_past_end = 0;
    if (is_dir)
      dirs.emplace(i, dir_tree_node(i, parents, name, true));
    else if (!dirs_only)
      files.emplace(i, dir_tree_node(i, parents, name, false));
  }
  print_status("%s", "");
  return true;
}

bool build_dir_tree(dir_tree_map& dirs, dir_tree_map& files, user_ctx& ctx) {
  if (dirs.empty()) return false;
  int i = 0;
  for (auto& kv : dirs) {
    for (ulong64 parent : kv.second.parents) {
      auto it = dirs.find(mft_reference_entry(parent));
      if (it != dirs.end()) it->second.children.insert(kv.first);
    }
    if (ctx.verbose && i % 37 == 0)
      print_status("building dir tree %d of %d", i, static_cast<int>(dirs.size()));
    ++i;
  }
  print_status("%s", "");
  int j = 0;
  for (auto& kv : files) {
    for (ulong64 parent : kv.second.parents) {
      auto it = dirs.find(mft_reference_entry(parent));
      if (it != dirs.end()) it->second.children.insert(kv.first);
    }
    if (ctx.verbose && j % 37 == 0)
      print_status("adding files to tree %d of %d", j, static_cast<int>(files.size()));
    ++j;
  }
  print_status("%s", "");
  return true;
}

bool build_inode_path(std::wstring& out, ulong64 entry, user_ctx& ctx, dir_tree_map& cache) {
  if (!usable_source(ctx)) return false;
  out.clear();
  std::vector<std::wstring> names;
  // Entries already on this walk: a chain that comes back to one of them,
  // in one step or many, is a corrupted path, not an endless one.
  std::set<ulong64> seen;
  ulong64 current = entry;
  std::wstring name;
  ulong64_set parents;
  while (current != kRootEntry) {
    seen.insert(current);
    ulong64 parent = 0;
    auto it = cache.find(current);
    if (it != cache.end()) {
      names.push_back(it->second.name_w);
      parent = it->second.first_parent();
    } else {
      bool is_dir = false;
      if (!get_inode_parents(name, parents, is_dir, current, ctx)) break;
      auto added = cache.emplace(current, dir_tree_node(current, parents, name, is_dir)).first;
      names.push_back(added->second.name_w);
      parent = added->second.first_parent();
    }
    if (seen.count(parent) != 0) {
      names.push_back(L"<path corrupted>");
      break;
    }
    current = parent;
  }
  names.push_back(L"[root]");
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it->empty() || *it == L".") continue;
    out += *it;
    out += L'\\';
  }
  return true;
}

bool find_inode_by_path(ulong64& entry, const std::wstring& path, user_ctx& ctx, bool close_after) {
  bool found = false;
  if (initialize_mft(ctx) && usable_source(ctx)) {
    if (ctx.ntfs != nullptr) {
      std::wstring resolved;
      if (ctx.ntfs->get_inode_from_path(path, resolved, entry, true)) {
        ctx.path_w = resolved + L"\\";
        ctx.path = wstring_to_utf8(ctx.path_w);
        found = true;
      }
    } else {
      found = resolve_in_mft_file(entry, path, ctx);
    }
  }
  if (close_after && ctx.is_open) ctx.close_source();
  return found;
}
