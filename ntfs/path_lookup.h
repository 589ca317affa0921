#pragma once
// Resolving a path on the volume to its MFT entry, from the root (entry 5)
// one component at a time. The CNtfs members (get_inode_from_path,
// find_child_by_name[_w], get_inode_from_relative_path[_w]) are defined in
// path_lookup.cpp; the free functions are declared here.
#include <set>
#include <string>

#include "ntfs/ntfs.h"
#include "ntfs/reparse_names.h"
#include "ntfs/tree_node.h"
#include "utils/types.h"

const ulong64 ROOT_DIRECTORY_ENTRY = 5;
// A link that leads back through itself would restart the walk for ever.
const int MAX_LINK_SUBSTITUTIONS = 32;

bool resolve_path_on_volume(ulong64& inode, std::wstring& resolved_path, CNtfs* ntfs, std::wstring path,
                            bool follow_links);
bool find_child_by_utf8_name(ulong64 directory, const std::string& name, ulong64& child, CNtfs* ntfs);

// The record's POSIX, Win32 and Win32-and-DOS names (its own $FILE_NAME
// attributes) and the 48-bit entry numbers of their parents. False when it
// has none. `first_name_attribute` points into `record`. The record is
// walked within its own size (record_own_size, ntfs/mft_record.h), which the
// buffer must hold.
bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents,
                                  const byte*& first_name_attribute);
bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents);
// `first_name_offset` is the first name's attribute offset within the record.
bool get_record_names_and_parents(const byte* record, std::wstring& first_name, ulong64_set& parents,
                                  uint32& first_name_offset);
bool get_record_name_set_and_parents(const byte* record, std::set<std::wstring>& names, ulong64_set& parents,
                                     const byte*& first_name_attribute);
bool get_record_name_set_and_parents(const byte* record, std::set<std::wstring>& names, ulong64_set& parents);

// The link target of a matched record: true when the record's first
// $REPARSE_POINT is a resident junction or symbolic link with a substitute
// name; `target` receives its print name (or, without one, the substitute
// name less its "\??\" prefix). Reads only inside `size` bytes.
bool record_link_target(const byte* record, uint32 size, std::wstring& target);
