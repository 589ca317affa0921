#include "disk/volume_select.h"

#include <deque>
#include <functional>
#include <ostream>

#include "disk/disk_handle.h"
#include "disk/zq_disk_structs.h"
#include "utils/utf_convert.h"

namespace {

typedef std::deque<partition_record> partition_list;
typedef std::function<bool(partition_list&, bool)> scanner;

enum member { DRIVE, IMAGE, SNAPSHOTS, BUFFER };

// The byte offset of a record; one that would not fit in 64 bits matches no
// offset anyone can ask for.
ulong64 byte_offset(const partition_record& p) {
  if (p.m_sector_size != 0 && p.m_start > ~ulong64(0) / p.m_sector_size) return ~ulong64(0);
  return p.m_start * p.m_sector_size;
}

bool is_ntfs(const partition_record& p) { return partition_type_name(p.m_type) == "ntfs"; }

// Strict scan, then relaxed; `relaxed_used` tells which one found the table.
bool scan_both(const scanner& scan, partition_list& parts, bool& relaxed_used) {
  relaxed_used = false;
  if (scan(parts, false)) return true;
  relaxed_used = true;
  return scan(parts, true);
}

// Walks the records: stops at the one starting at `requested`; before that,
// each NTFS record sets `found` and becomes the candidate.
const partition_record* walk(const partition_list& parts, ulong64 requested, ulong64& candidate, bool& found) {
  candidate = 0;
  for (const partition_record& p : parts) {
    if (byte_offset(p) == requested) return &p;
    if (is_ntfs(p)) {
      found = true;
      candidate = byte_offset(p);
    }
  }
  return nullptr;
}

bool select_volume(std::ostream& msgs, member m, const std::string& label, const scanner& scan, ulong64& offset,
                   bool& found, bool verbose) {
  partition_list parts;
  bool relaxed = false;
  if (!scan_both(scan, parts, relaxed)) {
    switch (m) {
      case DRIVE: msgs << "couldn't find any partitions on disk: " << label << '\n'; break;
      case IMAGE: msgs << "couldn't find any partitions on disk: " << label << '\n'; break;
      case SNAPSHOTS: msgs << "couldn't find any partitions on disk" << '\n'; break;
      case BUFFER: msgs << "couldn't find any partitions on disk " << '\n'; break;
    }
    return false;
  }
  if (relaxed) {
    switch (m) {
      case DRIVE: msgs << "disk " << label << " corrupted, partition info questionable\n"; break;
      case IMAGE: msgs << "disk " << label << " corrupted, partition info questionable\n"; break;
      case SNAPSHOTS: msgs << "disk is corrupted, partition info questionable\n"; break;
      case BUFFER: msgs << "disk corrupted, partition info questionable\n"; break;
    }
  }

  ulong64 candidate = 0;
  const partition_record* stop = walk(parts, offset, candidate, found);
  if (stop) {
    if (is_ntfs(*stop)) {
      found = true;
      return true;
    }
    msgs << "volume offset selected 0x" << std::hex << offset << " is not a NTFS partition, but a "
         << partition_type_name(stop->m_type) << '\n';
  }

  if (m != BUFFER) msgs << '\n';
  for (const partition_record& p : parts)
    msgs << "volume offset [ 0x" << std::hex << byte_offset(p) << " ] : " << partition_type_name(p.m_type) << '\n';
  if (m == IMAGE || m == SNAPSHOTS) msgs << '\n';

  if (candidate != 0) {
    if (m == DRIVE && verbose)
      msgs << "\nuse option [-drivenum \"" << label << "\" -offset 0x" << std::hex << candidate << "]\n";
    else if (m == IMAGE)
      msgs << "use option [-image \"" << label << "\" -offset 0x" << std::hex << candidate << "]\n";
    offset = candidate;
  } else {
    if (m == DRIVE && verbose)
      msgs << "\ndrive " << label << " has no ntfs partition\n";
    else if (m == IMAGE)
      msgs << "drive " << label << " has no ntfs partition\n";
    else if (m == SNAPSHOTS || m == BUFFER)
      msgs << "drive as no ntfs partition\n";
  }
  return false;
}

scanner handle_scanner(disk_handle& disk) {
  return [&disk](partition_list& parts, bool relaxed) { return scan_partitions(&disk, parts, relaxed); };
}

bool list_volumes(disk_handle& disk, bool relaxed_too, std::vector<ulong64>& offsets) {
  offsets.clear();
  if (!disk.m_is_open) return false;
  partition_list parts;
  bool ok = scan_partitions(&disk, parts, false);
  if (!ok && relaxed_too) ok = scan_partitions(&disk, parts, true);
  if (!ok) return false;
  for (const partition_record& p : parts)
    if (is_ntfs(p)) offsets.push_back(byte_offset(p));
  return !offsets.empty();
}

}  // namespace

bool select_ntfs_volume_on_drive(std::ostream& msgs, uint32 drive_number, ulong64& offset, bool& found,
                                 bool verbose) {
  found = false;
  const std::string label = std::to_string(drive_number);
  disk_handle disk(drive_number, false, false, DISK_KIND_PHYSICAL_DRIVE);
  if (!disk.m_is_open) {
    msgs << "problems accessing physical disk #" << label << ", aborting " << '\n';
    return false;
  }
  return select_volume(msgs, DRIVE, label, handle_scanner(disk), offset, found, verbose);
}

bool select_ntfs_volume_on_image(std::ostream& msgs, const std::string& path, ulong64& offset, bool& found) {
  found = false;
  if (path.empty()) return false;
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  if (!disk.m_is_open) {
    msgs << "invalid disk: " << path << '\n';
    return false;
  }
  return select_volume(msgs, IMAGE, path, handle_scanner(disk), offset, found, false);
}

bool select_ntfs_volume_on_image(std::ostream& msgs, const std::wstring& path, ulong64& offset, bool& found) {
  found = false;
  if (path.empty()) return false;
  return select_ntfs_volume_on_image(msgs, wstring_to_utf8(path), offset, found);
}

bool select_ntfs_volume_in_snapshots(std::ostream& msgs, const std::vector<std::wstring>& vmdk_files,
                                     ulong64& offset, bool& found) {
  found = false;
  if (vmdk_files.empty()) return false;
  disk_handle disk(vmdk_files, false, false);
  if (!disk.m_is_open) {
    msgs << "invalid disk collection of snaps " << '\n';
    return false;
  }
  return select_volume(msgs, SNAPSHOTS, "", handle_scanner(disk), offset, found, false);
}

bool select_ntfs_volume_in_snapshots(std::ostream& msgs, const std::vector<std::string>& vmdk_files,
                                     ulong64& offset, bool& found) {
  std::vector<std::wstring> wide;
  for (const std::string& f : vmdk_files) wide.push_back(utf8_to_wstring(f));
  return select_ntfs_volume_in_snapshots(msgs, wide, offset, found);
}

bool select_ntfs_volume_in_buffer(std::ostream& msgs, const byte* data, ulong64 size, ulong64& offset,
                                  bool& found) {
  found = false;
  if (!data || size == 0) return false;
  scanner scan = [data, size](partition_list& parts, bool relaxed) {
    return scan_partitions(data, size, parts, relaxed);
  };
  return select_volume(msgs, BUFFER, "", scan, offset, found, false);
}

bool choose_ntfs_volume_offset(disk_handle* disk, ulong64& offset) {
  offset = 0;
  if (!disk || !disk->m_is_open) return false;
  partition_list parts;
  bool relaxed = false;
  if (!scan_both(handle_scanner(*disk), parts, relaxed)) return false;
  ulong64 candidate = 0;
  bool found = false;
  const partition_record* stop = walk(parts, 0, candidate, found);
  if (stop && is_ntfs(*stop)) return true;
  offset = candidate;
  return candidate != 0;
}

bool list_ntfs_volumes_on_drive(ulong64_set& offsets, uint32 drive_number) {
  offsets.clear();
  disk_handle disk(drive_number, false, false, DISK_KIND_PHYSICAL_DRIVE);
  std::vector<ulong64> found;
  if (!list_volumes(disk, true, found)) return false;
  offsets.insert(found.begin(), found.end());
  return true;
}

bool list_ntfs_volumes_on_drive(uint32 drive_number, std::vector<ulong64>& offsets) {
  disk_handle disk(drive_number, false, false, DISK_KIND_PHYSICAL_DRIVE);
  return list_volumes(disk, false, offsets);
}

bool list_ntfs_volumes_on_image(const std::string& path, std::vector<ulong64>& offsets) {
  offsets.clear();
  if (path.empty()) return false;
  disk_handle disk(path.c_str(), false, false, DISK_KIND_FILE);
  return list_volumes(disk, false, offsets);
}

bool list_ntfs_volumes_on_image(const std::wstring& path, std::vector<ulong64>& offsets) {
  return list_ntfs_volumes_on_image(wstring_to_utf8(path), offsets);
}
