#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "utils/file_handle.h"

bool CNtfs::source_identities(uni::file_identities& out) const {
  bool any = false;
  if (m_disk) any = m_disk->source_identities(out);
  if (m_mft_file && m_mft_file->is_open() && uni::identities_of_source(m_mft_file->descriptor(), out))
    any = true;
  return any;
}
