#include "ntfs/entry_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "ntfs/dir_children.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/path_lookup.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// Parent chains deeper than any path NTFS can hold are damage.
const size_t MAX_PATH_DEPTH = 16384;

// The record at its whole size, as the walks take it; where the end of the
// image cut it short, what the bytes there do not hold whole reads as zeros.
bool read_file_record(const CNtfs& ntfs, ulong64 inode, std::vector<byte>& record, ulong64& position) {
  position = 0;
  const uint32 whole = std::max(ntfs.m_mft_record_size, ntfs.m_mft_record_alloc_size);
  if (whole < FRH_SIZE || whole > MAX_MFT_RECORD_SIZE) return false;
  try {
    record.assign(whole, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  byte* buf = record.data();
  int size = static_cast<int>(whole);
  if (!ntfs.read_mft_record(inode, buf, position, size, false)) return false;
  clear_cut_record_tail(buf, static_cast<uint32>(size), whole);
  if (!ntfs.m_disk) position = 0;
  return static_cast<uint32>(size) >= FRH_SIZE && std::memcmp(record.data(), "FILE", 4) == 0;
}

bool entry_names(const CNtfs& ntfs, ulong64 inode, file_name_map& names, std::vector<byte>* keep = nullptr) {
  std::vector<byte> record;
  ulong64 position = 0;
  names.clear();
  if (!read_file_record(ntfs, inode, record, position)) return false;
  const bool found = collect_all_file_names(names, &ntfs, inode, record.data(), false, ~0ULL);
  if (keep) keep->swap(record);
  return found;
}

std::wstring path_from(const std::vector<std::wstring>& components) {
  std::wstring path;
  for (auto it = components.rbegin(); it != components.rend(); ++it) {
    if (*it == L".") continue;
    path += *it;
    path += L'\\';
  }
  return path;
}

void print_tree_from(const inode_info_mmap& infos, ulong64 key, std::set<ulong64>& route) {
  if (!route.insert(key).second) return;
  auto range = infos.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) {
    print_inode_info(it->second);
    if (it->second.inode != key) print_tree_from(infos, it->second.inode, route);
  }
  route.erase(key);
}

// What an entry's record tells of it: flags, names (with a note where a
// $FILE_NAME time is 0), named streams, a link target and the four
// $STANDARD_INFORMATION times.
void fill_inode_info(const CNtfs* ntfs, const byte* record, uint32 size, ulong64 inode, inode_info& out,
                     ulong64 parent_filter) {
  const uint16 flags = load_u16(record, FRH_FLAGS);
  out.inode = inode;
  out.is_dir = (flags & FILE_RECORD_DIRECTORY) != 0;
  out.is_deleted = (flags & FILE_RECORD_IN_USE) == 0;

  file_name_map names;
  collect_all_file_names(names, ntfs, inode, record, false, parent_filter);
  for (const auto& kv : names) {
    const file_name_record& n = kv.second;
    file_name_info fi;
    if (n.value.size() > FN_NAMESPACE && n.value[FN_NAMESPACE] < 5)
      std::memcpy(fi.file_name, n.value.data(), std::min<size_t>(FN_FIXED_SIZE, n.value.size()));
    for (uint32 at : {8u, 16u, 24u, 32u})
      if (load_u64(fi.file_name, at) == 0) fi.time_null = true;
    if (fi.time_null) fi.note = "fn:time null";
    fi.name = n.name;
    fi.parent_count = n.parent_count;
    if (out.names.empty()) {
      out.first_name = n.name;
      out.parent = mft_reference_entry(n.parent);
    }
    out.names.push_back(fi);
  }
  ulong64 unused = 0;
  out.has_ads = get_record_ads_names(record, size, out.ads_names, unused);
  std::wstring target;
  if (record_link_target(record, size, target)) {
    out.is_reparse_point = true;
    out.reparse_target = wstring_to_utf8(target);
  }
  const byte* si = nullptr;
  byte_view value;
  if (find_attribute(record, size, ATTR_STANDARD_INFORMATION, si) && !si[AH_NON_RESIDENT] &&
      load_u16(si, AH_VALUE_OFFSET) != 0 && resident_value(si, load_u32(si, AH_LENGTH), value) && value.size >= 32) {
    for (int i = 0; i < 4; ++i) out.si_times[i] = load_u64(value.data, 8u * i);
  }
  out.display_name = out.first_name;
}

}  // namespace

file_name_info::file_name_info() { std::memset(file_name, 0, sizeof file_name); }

inode_info::inode_info() { clear(); }

void inode_info::clear() {
  inode = parent = record_position = 0;
  is_dir = is_deleted = is_reparse_point = has_ads = false;
  reparse_target.clear();
  ads_names.clear();
  for (ulong64& t : si_times) t = 0;
  display_name.clear();
  indent = 0;
  names.clear();
  first_name.clear();
}

bool CNtfs::get_inode_info(ulong64 inode, inode_info& out, ulong64 parent_filter) {
  out.clear();
  std::vector<byte> record;
  ulong64 position = 0;
  if (!read_file_record(*this, inode, record, position)) return false;
  fill_inode_info(this, record.data(), static_cast<uint32>(record.size()), inode, out, parent_filter);
  out.record_position = position;
  return true;
}

bool get_record_inode_info(const CNtfs* ntfs, const byte* record, ulong64 entry, inode_info& out,
                           ulong64 parent_filter) {
  out.clear();
  if (!record || std::memcmp(record, "FILE", 4) != 0) return false;
  // A bare record carries no length: it is as long as the engine's records,
  // or, with no engine, as long as the record itself bears out.
  const uint32 size = ntfs ? ntfs->m_mft_record_alloc_size : record_own_size(record);
  if (size < FRH_SIZE || size > MAX_MFT_RECORD_SIZE) return false;
  fill_inode_info(ntfs, record, size, entry, out, parent_filter);
  return true;
}

bool CNtfs::get_inode_info(ulong64 inode, inode_info& out, ulong64 parent_filter, ulong64) {
  return get_inode_info(inode, out, parent_filter);
}

void print_inode_info(const inode_info& info) {
  for (int32 i = 0; i < info.indent; ++i) std::fputc(' ', stdout);
  std::wstring text = L"[";
  text += info.has_ads ? L"A" : L".";
  text += L".";
  text += info.is_dir ? L"D" : L".";
  text += info.is_deleted ? L"X" : L".";
  text += L"] " + info.display_name;
  if (info.has_ads) {
    text += L" ads=[ ";
    for (const std::wstring& n : info.ads_names) text += n + L" ";
    text += L"]";
  }
  std::printf("[%8llu] [%8llu] %s\n", static_cast<unsigned long long>(info.parent),
              static_cast<unsigned long long>(info.inode), wstring_to_utf8(text).c_str());
}

void print_inode_info_map(const inode_info_mmap& infos) {
  for (const auto& kv : infos) print_inode_info(kv.second);
}

void print_inode_info_tree(const inode_info_mmap& infos, ulong64 key) {
  std::set<ulong64> route;
  print_tree_from(infos, key, route);
}

bool CNtfs::get_path_list_w(ulong64 inode, std::vector<std::wstring> components, std::vector<std::wstring>& paths) {
  // Depth first with an explicit stack: a long chain of parents must not
  // exhaust the call stack, and a chain that comes back to an entry already
  // on its route is dropped.
  struct step {
    ulong64 entry;
    std::vector<std::wstring> components;
    std::vector<ulong64> route;
  };
  file_name_map names;
  if (!entry_names(*this, inode, names)) return false;
  std::vector<step> stack;
  auto push_names = [&](const file_name_map& of, const step& from) {
    std::vector<step> next;
    for (const auto& kv : of) {
      step s{mft_reference_entry(kv.second.parent), from.components, from.route};
      s.components.push_back(kv.second.name);
      next.push_back(std::move(s));
    }
    for (auto it = next.rbegin(); it != next.rend(); ++it) stack.push_back(std::move(*it));
  };
  push_names(names, step{inode, std::move(components), {inode}});
  while (!stack.empty()) {
    step s = std::move(stack.back());
    stack.pop_back();
    if (s.entry == ROOT_DIRECTORY_ENTRY) {
      paths.push_back(path_from(s.components));
      continue;
    }
    bool looped = s.route.size() > MAX_PATH_DEPTH;
    for (ulong64 e : s.route) looped = looped || e == s.entry;
    if (looped || !entry_names(*this, s.entry, names)) continue;
    s.route.push_back(s.entry);
    push_names(names, s);
  }
  return true;
}

bool CNtfs::get_path_list(ulong64 inode, const std::vector<std::string>& components, std::vector<std::string>& paths) {
  paths.clear();
  std::vector<std::wstring> wide;
  utf8_to_wstrings(wide, components);
  std::vector<std::wstring> found;
  if (!get_path_list_w(inode, wide, found)) return false;
  wstrings_to_utf8(paths, found);
  return true;
}

bool CNtfs::get_inode_and_parent_names(ulong64 inode, std::wstring& name, std::wstring& parent_name) {
  name.clear();
  parent_name.clear();
  file_name_map names;
  if (!entry_names(*this, inode, names)) return false;
  name = names.begin()->second.name;
  file_name_map parents;
  if (entry_names(*this, mft_reference_entry(names.begin()->second.parent), parents))
    parent_name = parents.begin()->second.name;
  return true;
}

bool CNtfs::get_inode_name_and_header(ulong64 inode, std::wstring& name, ulong64& parent,
                                      FILE_RECORD_HEADER& header) {
  name.clear();
  parent = 0;
  file_name_map names;
  std::vector<byte> record;
  if (!entry_names(*this, inode, names, &record)) return false;
  name = names.begin()->second.name;
  parent = mft_reference_entry(names.begin()->first);
  header.load(record.data(), record.size());
  return true;
}

bool CNtfs::get_inode_and_parent_names(ulong64 inode, std::string& name, std::string& parent_name) {
  name.clear();
  parent_name.clear();
  std::wstring wide_name, wide_parent;
  if (!get_inode_and_parent_names(inode, wide_name, wide_parent)) return false;
  name = wstring_to_utf8(wide_name);
  parent_name = wstring_to_utf8(wide_parent);
  return true;
}

bool CNtfs::get_inode_name_and_header(ulong64 inode, std::string& name, ulong64& parent,
                                      FILE_RECORD_HEADER& header) {
  name.clear();
  std::wstring wide;
  if (!get_inode_name_and_header(inode, wide, parent, header)) return false;
  name = wstring_to_utf8(wide);
  return true;
}
