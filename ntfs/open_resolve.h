#pragma once
// One-call entry points: open a volume and resolve a path on it to its MFT
// entry. A failed open leaves `out` null; once the volume is open it stays in
// `out` whether the lookup succeeds or not, and the caller deletes it.
#include <string>
#include <vector>

#include "utils/types.h"

class CNtfs;

bool open_ntfs_by_drive_number_resolve_path(uint32 drive_number, ulong64 volume_offset, const std::wstring& path,
                                            std::wstring& resolved_path, ulong64& inode, CNtfs*& out,
                                            bool follow_links, bool writable, bool as_device);
bool open_ntfs_by_drive_letter_resolve_path(const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                                            CNtfs*& out, bool follow_links, bool writable, bool as_device);
bool open_ntfs_image_resolve_path(const std::wstring& image, ulong64 volume_offset, const std::wstring& path,
                                  std::wstring& resolved_path, ulong64& inode, CNtfs*& out, bool follow_links,
                                  bool writable, bool as_device);
bool open_ntfs_image_resolve_path_on_volume(ulong64& inode, CNtfs*& out, std::wstring& resolved_path, uint32,
                                            const std::wstring& image, ulong64 volume_offset,
                                            const std::wstring& path, bool follow_links, bool writable,
                                            bool as_device);
bool open_ntfs_vmdk_chain_resolve_path(const std::vector<std::wstring>& vmdk_files, ulong64 volume_offset,
                                       const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                                       CNtfs*& out, bool follow_links, bool writable, bool as_device);
