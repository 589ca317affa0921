#pragma once
// UTF-8 forms of the engine's wide-string operations that the examination
// code needs: each converts its texts, calls the wide operation and converts
// text results back.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ntfs/tree_node.h"
#include "utils/types.h"

class CNtfs;

// A null name gives false without a call. The forms without a size walk the
// record within its own size (record_own_size, ntfs/mft_record.h), which the
// buffer must hold.
bool record_has_file_name(std::map<ulong64, std::wstring>& names, const byte* record, int size, const char* name);
bool get_record_names_and_parents(const byte* record, std::string& name, ulong64_set& parents, uint32& value);
bool get_record_names_and_parents(const byte* record, std::string& name, ulong64_set& parents);
// True when the wide call succeeded and at least one name came out.
bool get_record_ads_names(const byte* record, std::set<std::string>& names, ulong64& parent);

bool open_ntfs_by_drive_number_resolve_path(uint32 drive_number, ulong64 volume_offset, const std::string& path,
                                            std::string& name, ulong64& entry, CNtfs*& ntfs, bool want_name,
                                            bool writable, bool as_device);
bool open_ntfs_by_drive_letter_resolve_path(const std::string& path, std::string& name, ulong64& entry, CNtfs*& ntfs,
                                            bool want_name, bool writable, bool as_device);
bool open_ntfs_by_drive_letter_resolve_path(const std::string& path, ulong64& entry, CNtfs*& ntfs, bool writable,
                                            bool as_device);
bool open_ntfs_image_resolve_path(const std::string& image, ulong64 volume_offset, const std::string& path,
                                  std::string& name, ulong64& entry, CNtfs*& ntfs, bool want_name, bool writable,
                                  bool as_device);
bool open_ntfs_image_resolve_path(const std::string& image, const std::string& path, ulong64& entry, CNtfs*& ntfs,
                                  bool writable, bool as_device);
bool open_ntfs_image_resolve_path(const std::string& image, ulong64 volume_offset, const std::string& path,
                                  ulong64& entry, CNtfs*& ntfs, bool writable, bool as_device);
bool open_ntfs_vmdk_chain_resolve_path(const std::vector<std::string>& vmdk_files, ulong64 volume_offset,
                                       const std::string& path, std::string& name, ulong64& entry, CNtfs*& ntfs,
                                       bool want_name, bool writable, bool as_device);
