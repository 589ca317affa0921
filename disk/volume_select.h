#pragma once
// Choosing the byte offset of the NTFS volume inside an image, a drive or a
// VMDK chain from its partition table: confirm that the offset asked for
// starts an NTFS partition, or else list the partitions, suggest the last NTFS
// one before it, and put that candidate into `offset`.
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

#include "utils/types.h"

class disk_handle;

// Also declared by the engine; a repeated typedef of one type is allowed.
typedef std::set<ulong64> ulong64_set;

// Each: true only when `offset` starts an NTFS partition. `found` is set when
// the table holds an NTFS partition; when the result is false and one exists,
// `offset` becomes its byte offset. Messages go to `msgs`.
bool select_ntfs_volume_on_drive(std::ostream& msgs, uint32 drive_number, ulong64& offset, bool& found,
                                 bool verbose);
bool select_ntfs_volume_on_image(std::ostream& msgs, const std::wstring& path, ulong64& offset, bool& found);
bool select_ntfs_volume_on_image(std::ostream& msgs, const std::string& path, ulong64& offset, bool& found);
bool select_ntfs_volume_in_snapshots(std::ostream& msgs, const std::vector<std::wstring>& vmdk_files,
                                     ulong64& offset, bool& found);
bool select_ntfs_volume_in_snapshots(std::ostream& msgs, const std::vector<std::string>& vmdk_files,
                                     ulong64& offset, bool& found);
bool select_ntfs_volume_in_buffer(std::ostream& msgs, const byte* data, ulong64 size, ulong64& offset, bool& found);

// The offset of the NTFS volume to open on an open disk when none was asked
// for (0): a partition at 0 when it is NTFS, else the last NTFS partition of
// the table, scanned strictly and then relaxed; false (offset 0) when the disk
// has no NTFS partition. The same rule as the selection above, without
// messages; the VMDK factory uses it.
bool choose_ntfs_volume_offset(disk_handle* disk, ulong64& offset);

// Byte offsets of every NTFS partition, in table order; false when none.
bool list_ntfs_volumes_on_drive(ulong64_set& offsets, uint32 drive_number);
bool list_ntfs_volumes_on_drive(uint32 drive_number, std::vector<ulong64>& offsets);
bool list_ntfs_volumes_on_image(const std::wstring& path, std::vector<ulong64>& offsets);
bool list_ntfs_volumes_on_image(const std::string& path, std::vector<ulong64>& offsets);
