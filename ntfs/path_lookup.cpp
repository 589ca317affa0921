#include "ntfs/path_lookup.h"

#include <cstring>
#include <new>
#include <vector>

#include "ntfs/dir_children.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs_structs.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/string_lists.h"
#include "utils/utf_convert.h"

namespace {


// The name part of a component: a colon and what follows name a stream.
std::wstring component_name(const std::wstring& component) {
  const size_t colon = component.find(L':');
  return colon == std::wstring::npos ? component : component.substr(0, colon);
}

bool is_drive_component(const std::wstring& component) { return component.size() >= 2 && component[1] == L':'; }

// One record buffer per lookup, reused for every child.
struct record_buffer {
  std::vector<byte> bytes;
  bool allocate(uint32 size) {
    try {
      bytes.assign(size, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return size != 0;
  }
  bool read(const CNtfs& ntfs, ulong64 entry) {
    byte* p = bytes.data();
    ulong64 pos = 0;
    int size = static_cast<int>(bytes.size());
    if (!ntfs.read_mft_record(entry, p, pos, size, false)) return false;
    clear_cut_record_tail(p, static_cast<uint32>(size), static_cast<uint32>(bytes.size()));
    return true;
  }
};

// The first child of `directory` (in entry order, the directory itself
// skipped) whose names match `name`, through `matches(record)`.
template <typename Match>
bool find_matching_child(const CNtfs& ntfs, ulong64 directory, record_buffer& buf, ulong64& child, Match matches) {
  ulong64_set children;
  if (!ntfs.find_children(directory & 0xFFFFFFFFULL, children)) return false;
  for (ulong64 c : children) {
    if (c == directory || !buf.read(ntfs, c)) continue;
    if (matches(c, buf.bytes.data())) {
      child = c;
      return true;
    }
  }
  return false;
}

// Whether one of the record's POSIX, Win32 or Win32-and-DOS names equals
// `name` without regard to ASCII case. Names that an $ATTRIBUTE_LIST moved
// to extension records count too: a long name often lives there.
bool names_match(const CNtfs& ntfs, ulong64 entry, const byte* record, const std::wstring& name) {
  file_name_map found;
  if (!collect_all_file_names(found, &ntfs, entry, record, false, ~0ULL)) return false;
  for (const auto& n : found)
    if (compare_w(n.second.name.c_str(), name.c_str(), true) == 0) return true;
  return false;
}

std::wstring join_components(const std::vector<std::wstring>& parts, bool absolute) {
  std::wstring out = absolute ? L"\\" : L"";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out.push_back(L'\\');
    out += parts[i];
  }
  return out;
}

}  // namespace

bool record_link_target(const byte* record, uint32 size, std::wstring& target) {
  target.clear();
  if (!record || size < FRH_SIZE) return false;
  const byte* reparse = nullptr;
  uint32 reparse_length = 0;
  const uint32 limit = record_walk_limit(record, size);
  for (uint32 offset = load_u16(record, FRH_FIRST_ATTRIBUTE);;) {
    uint32 type = 0, length = 0;
    if (!attribute_at(record, limit, offset, type, length)) return false;
    if (type == ATTR_REPARSE_POINT) {
      reparse = record + offset;
      reparse_length = length;
      break;
    }
    offset += length;
  }
  byte_view value;
  if (reparse[AH_NON_RESIDENT] != 0 || !resident_value(reparse, reparse_length, value)) return false;
  uint32 tag = 0;
  if (!value.u32(0, tag)) return false;
  // A symbolic link keeps a 4-byte flags word before its path buffer.
  uint64 buffer = 0;
  if (tag == REPARSE_TAG_MOUNT_POINT)
    buffer = 16;
  else if (tag == REPARSE_TAG_SYMLINK)
    buffer = 20;
  else
    return false;
  uint16 sub_off = 0, sub_len = 0, print_off = 0, print_len = 0;
  if (!value.u16(8, sub_off) || !value.u16(10, sub_len) || !value.u16(12, print_off) || !value.u16(14, print_len))
    return false;
  if (sub_len == 0) return false;
  // Zero units where the substitute name begins put both names that many
  // bytes further on, as the attribute report reads them.
  const uint64 shift = zero_units_at(value, buffer + sub_off);
  const uint64 print_at = buffer + print_off + shift;
  const uint64 sub_at = buffer + sub_off + shift;
  if (print_len && value.has(print_at, print_len)) {
    utf16le_name_to_wstring(target, value.data + print_at, print_len / 2u);
  } else if (value.has(sub_at, sub_len)) {
    utf16le_name_to_wstring(target, value.data + sub_at, sub_len / 2u);
    if (target.compare(0, 4, L"\\??\\") == 0) target.erase(0, 4);
  } else {
    return false;
  }
  return true;
}

bool CNtfs::get_inode_from_path(const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                                bool follow_links) {
  inode = 0;
  if (path.empty()) return false;
  const wchar_t separator = path.find(L'/') != std::wstring::npos ? L'/' : L'\\';
  const bool absolute = path[0] == separator;
  std::vector<std::wstring> parts;
  split_w(path, separator, parts);
  if (parts.empty()) {
    inode = ROOT_DIRECTORY_ENTRY;
    resolved_path = L"\\";
    return true;
  }
  inode = ROOT_DIRECTORY_ENTRY;
  resolved_path.clear();
  record_buffer buf;
  if (!buf.allocate(m_mft_record_size)) return false;
  const uint32 size = static_cast<uint32>(buf.bytes.size());

  ulong64 current = ROOT_DIRECTORY_ENTRY;
  size_t i = is_drive_component(parts[0]) ? 1 : 0;
  int substitutions = 0;
  while (i < parts.size()) {
    const std::wstring name = component_name(parts[i]);
    if (name.empty()) return false;
    ulong64 child = 0;
    const bool found = find_matching_child(*this, current, buf, child, [&](ulong64 entry, const byte* record) {
      return size >= 1024 && names_match(*this, entry, record, name);
    });
    if (!found) return false;
    // The matched record is still in the buffer.
    std::wstring target;
    if (follow_links && record_link_target(buf.bytes.data(), size, target)) {
      if (++substitutions > MAX_LINK_SUBSTITUTIONS) return false;
      std::wstring rebuilt = target;
      for (size_t j = i + 1; j < parts.size(); ++j) rebuilt += L"\\" + parts[j];
      parts.clear();
      split_w(rebuilt, L'\\', parts);
      current = ROOT_DIRECTORY_ENTRY;
      i = !parts.empty() && is_drive_component(parts[0]) ? 1 : 0;
      continue;
    }
    current = child;
    inode = child;
    ++i;
  }
  resolved_path = join_components(parts, absolute);
  return true;
}

// `want_name` is passed on to the wide lookup (as its follow_links) and asks
// for the resolved name: a caller that did not ask keeps what its name held,
// as does one whose path was not found.
bool CNtfs::get_inode_from_path(const std::string& path, std::string& resolved_path, ulong64& inode,
                                bool want_name) {
  if (path.empty()) return false;
  std::wstring resolved;
  const bool ok = get_inode_from_path(utf8_to_wstring(path), resolved, inode, want_name);
  if (ok && want_name) resolved_path = wstring_to_utf8(resolved);
  return ok;
}

bool resolve_path_on_volume(ulong64& inode, std::wstring& resolved_path, CNtfs* ntfs, std::wstring path,
                            bool follow_links) {
  inode = 0;
  if (!ntfs) return false;
  return ntfs->get_inode_from_path(path, resolved_path, inode, follow_links);
}

bool CNtfs::find_child_by_name_w(ulong64 directory, const std::wstring& name, ulong64& child) {
  if (name.empty()) return false;
  record_buffer buf;
  if (!buf.allocate(m_mft_record_size)) return false;
  return find_matching_child(*this, directory, buf, child, [&](ulong64 entry, const byte* record) {
    return names_match(*this, entry, record, name);
  });
}

bool CNtfs::find_child_by_name(ulong64 directory, const std::string& name, ulong64& child) {
  return find_child_by_name_w(directory, utf8_to_wstring(name), child);
}

bool find_child_by_utf8_name(ulong64 directory, const std::string& name, ulong64& child, CNtfs* ntfs) {
  if (!ntfs || name.empty()) return false;
  record_buffer buf;
  if (!buf.allocate(ntfs->m_mft_record_size)) return false;
  const std::wstring wide = utf8_to_wstring(name);
  if (wide.empty()) return false;
  return find_matching_child(*ntfs, directory, buf, child, [&](ulong64 entry, const byte* record) {
    return buf.bytes.size() >= 1024 && names_match(*ntfs, entry, record, wide);
  });
}

bool CNtfs::get_inode_from_relative_path_w(ulong64 start_directory, const std::wstring& relative_path,
                                           ulong64& inode, FILE_RECORD_HEADER& header) {
  inode = 0;
  std::vector<std::wstring> parts;
  split_w(relative_path, L'\\', parts);
  record_buffer buf;
  if (parts.empty() || !buf.allocate(m_mft_record_size)) return false;
  const uint32 size = static_cast<uint32>(buf.bytes.size());
  ulong64 current = start_directory;
  for (const std::wstring& part : parts) {
    const std::wstring name = component_name(part);
    ulong64 child = 0;
    if (name.empty() || !find_matching_child(*this, current, buf, child, [&](ulong64 entry, const byte* record) {
          return names_match(*this, entry, record, name);
        })) {
      inode = 0;
      return false;
    }
    // The matching record is still in the buffer.
    header.load(buf.bytes.data(), size);
    current = child;
  }
  inode = current;
  return true;
}

bool CNtfs::get_inode_from_relative_path(ulong64 start_directory, const std::string& relative_path, ulong64& inode,
                                         FILE_RECORD_HEADER& header) {
  return get_inode_from_relative_path_w(start_directory, utf8_to_wstring(relative_path), inode, header);
}

namespace {

bool record_names(const byte* record, std::vector<const file_name_record*>& order, file_name_map& names,
                  ulong64_set& parents) {
  parents.clear();
  order.clear();
  if (!record || !collect_record_file_names(names, record)) return false;
  for (const auto& n : names) {
    order.push_back(&n.second);
    parents.insert(mft_reference_entry(n.second.parent));
  }
  return true;
}

}  // namespace

bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents,
                                  const byte*& first_name_attribute) {
  first_name.clear();
  first_name_attribute = nullptr;
  file_name_map names;
  std::vector<const file_name_record*> order;
  if (!record_names(record, order, names, parents)) return false;
  first_name = order.front()->name;
  first_name_attribute = record + order.front()->attribute_offset;
  return true;
}

bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents) {
  const byte* attribute = nullptr;
  return get_record_names_and_parents(record, first_name, parents, attribute);
}

bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents,
                                  uint32& first_name_offset) {
  const byte* attribute = nullptr;
  first_name_offset = 0;
  if (!get_record_names_and_parents(record, first_name, parents, attribute)) return false;
  first_name_offset = static_cast<uint32>(attribute - record);
  return true;
}

bool get_record_name_set_and_parents(const byte* record, std::set<std::wstring>& names_out, ulong64_set& parents,
                                     const byte*& first_name_attribute) {
  names_out.clear();
  first_name_attribute = nullptr;
  file_name_map names;
  std::vector<const file_name_record*> order;
  if (!record_names(record, order, names, parents)) return false;
  for (const file_name_record* n : order) names_out.insert(n->name);
  first_name_attribute = record + order.front()->attribute_offset;
  return true;
}

bool get_record_name_set_and_parents(const byte* record, std::set<std::wstring>& names, ulong64_set& parents) {
  const byte* attribute = nullptr;
  return get_record_name_set_and_parents(record, names, parents, attribute);
}
