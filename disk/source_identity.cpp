#include "disk/disk_handle.h"
#include "disk/vmdk_disk.h"
#include "disk/vmdk_extent.h"

bool disk_handle::source_identities(uni::file_identities& out) const {
  bool any = false;
  if (m_kind == DISK_KIND_VMDK) {
    // Every extent loaded, not only those of the chain: none may be written.
    if (m_vmdk)
      for (const auto& kv : m_vmdk->m_extents)
        if (kv.second && uni::identities_of_source(kv.second->m_fd, out)) any = true;
    return any;
  }
  return m_fd >= 0 && uni::identities_of_source(m_fd, out);
}
