#pragma once
// One-call entry points: open a volume and resolve a path on it to its MFT
// entry. On any failure, the open included, nothing is left allocated and
// `out` is null: the caller owns an engine only when the result is true.
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
