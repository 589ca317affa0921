#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "utils/file_handle.h"

bool CNtfs::source_identities(uni::file_identities& out) const {
  bool any = false;
  const size_t first = out.size();
  if (m_disk) any = m_disk->source_identities(out);
  // The volume read from the disk answers for its own files.
  if (m_Validated)
    for (size_t i = first; i < out.size(); ++i) out[i].volume = const_cast<CNtfs*>(this);
  if (m_mft_file && m_mft_file->is_open() && uni::identities_of_source(m_mft_file->descriptor(), out))
    any = true;
  return any;
}
