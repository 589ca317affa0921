// The engine over a VMDK snapshot chain: the chain is joined into one virtual
// disk by a disk_handle of the VMDK kind, and the NTFS volume is found in it.
#include <new>
#include <string>
#include <vector>

#include "disk/disk_handle.h"
#include "disk/vmdk_disk.h"
#include "disk/volume_select.h"
#include "ntfs/ntfs.h"
#include "utils/utf_convert.h"

bool open_ntfs_vmdk_chain(std::vector<std::wstring> vmdk_files, ulong64 volume_offset, CNtfs*& out,
                          bool writable) {
  out = nullptr;
  if (vmdk_files.empty()) return false;
  CNtfs* ntfs = nullptr;
  try {
    ntfs = new CNtfs();
    ntfs->close();
    out = ntfs;
    try {
      ntfs->m_disk = new disk_handle(vmdk_files, writable, false);
    } catch (...) {
      ntfs->m_disk = nullptr;
    }
    if (!ntfs->m_disk || !ntfs->m_disk->m_is_open) {
      delete ntfs;
      out = nullptr;
      return false;
    }

    // With no offset given, the volume is the first partition the virtual
    // disk's first sector names. A GPT disk names none there (its protective
    // entry is no partition): its NTFS partition is chosen as for an image,
    // which also takes a bare volume at 0.
    ulong64 offset = 0;
    const vmdk_disk* vmdk = ntfs->m_disk->m_vmdk;
    if (static_cast<long64>(volume_offset) > 0)
      offset = volume_offset;
    else if (vmdk && vmdk->is_open() && vmdk->m_base && !vmdk->m_base->m_volume_offsets.empty())
      offset = vmdk->m_base->m_volume_offsets.front();
    else
      choose_ntfs_volume_offset(ntfs->m_disk, offset);
    ntfs->m_volume_offset = offset;
    // Kept whole: a volume at or beyond 256 MiB must report its true start.
    ntfs->m_disk->set_start_offset(offset);

    ulong64 mft_pos = 0;
    if (ntfs->initialise(mft_pos)) return true;
  } catch (...) {
  }
  delete ntfs;
  out = nullptr;
  return false;
}

bool open_ntfs_vmdk_chain(const std::vector<std::string>& vmdk_files, ulong64 volume_offset, CNtfs*& out,
                          bool writable, bool) {
  out = nullptr;
  std::vector<std::wstring> wide;
  if (!utf8_to_wstrings(vmdk_files, wide)) return false;
  return open_ntfs_vmdk_chain(wide, volume_offset, out, writable);
}
