#include "time/timeline_record.h"

#include <cinttypes>
#include <cstdio>

timeline_record::timeline_record() { clear(); }

void timeline_record::clear() {
  m_modify_time = m_access_time = m_mft_change_time = m_create_time = 0;
  m_modify_desc.clear();
  m_access_desc.clear();
  m_mft_change_desc.clear();
  m_create_desc.clear();
  m_alt_desc.clear();
  m_time_kind = zq::type_filetime;
  m_event_option = 0;
  m_timezone = "UTC";
  m_source.clear();
  m_sourcetype.clear();
  m_type.clear();
  m_user.clear();
  m_host.clear();
  m_short.clear();
  m_desc.clear();
  m_version = 2;
  m_filename.clear();
  m_inode.clear();
  m_notes.clear();
  m_format = "-csvl2t";
  m_extra.clear();
  m_separator = ",";
  m_replaced_char = ',';
  m_replacement_char = ' ';
  m_lower_case_letters = 0;
  m_blank_before_time = 0;
  m_hex_extended = 0;
  m_omit_cluster_info = m_include_header = m_copy_files = 0;
  m_milliseconds = 1;
  m_extended = 0;
  m_ref_count = 0;
  m_extension.clear();
  m_size_data = 0;
  m_inode_seqnum = 0;
  m_parent_inode = 0;
  m_parent_seqnum = 0;
  m_clusters.clear();
  m_header_bytes.clear();
  m_spare_text.clear();
  m_window_start = 0;
  m_window_end = 0;
}

void timeline_record::set_extended(uint32 ref_count, ulong64 parent_inode, uint32 parent_seqnum,
                                   uint32 inode_seqnum, ulong64 size_data, const char* extension,
                                   const char* clusters) {
  m_extended = 1;
  m_ref_count = ref_count;
  m_parent_inode = parent_inode;
  m_parent_seqnum = parent_seqnum;
  m_inode_seqnum = inode_seqnum;
  m_size_data = size_data;
  if (extension) m_extension = extension;
  if (clusters) m_clusters = clusters;
}

void timeline_record::set_inode(ulong64 entry) {
  char buf[32];
  if (m_hex_extended)
    std::snprintf(buf, sizeof buf, "0x%08" PRIx64, static_cast<uint64_t>(entry));
  else
    std::snprintf(buf, sizeof buf, "%" PRIu64, static_cast<uint64_t>(entry));
  m_inode = buf;
}
