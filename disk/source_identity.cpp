#include "disk/disk_handle.h"
#include "disk/vmdk_disk.h"
#include "disk/vmdk_extent.h"

bool disk_handle::source_identities(uni::file_identities& out) const {
  bool any = false;
  uni::file_identity id;
  if (m_kind == DISK_KIND_VMDK) {
    // Every extent loaded, not only those of the chain: none may be written.
    if (m_vmdk)
      for (const auto& kv : m_vmdk->m_extents)
        if (kv.second && uni::identity_of_descriptor(kv.second->m_fd, id)) {
          out.push_back(id);
          any = true;
        }
    return any;
  }
  if (m_fd >= 0 && uni::identity_of_descriptor(m_fd, id)) {
    out.push_back(id);
    any = true;
  }
  return any;
}
