#pragma once
// One row of the log2timeline output with the writer's options. The
// application's writers own and fill it; the time library only reads its
// head (the four times, their labels, the base label, the time kind and the
// word after it) to group the times into MACB events.
#include <string>
#include <vector>

#include "time/type_time.h"
#include "utils/types.h"

struct timeline_record {
  // The four times, in MACB order; FILETIMEs for time kind 1.
  ulong64 m_modify_time;
  ulong64 m_access_time;
  ulong64 m_mft_change_time;
  ulong64 m_create_time;
  std::string m_modify_desc;
  std::string m_access_desc;
  std::string m_mft_change_desc;
  std::string m_create_desc;
  // The base label ("$SI:", "$FN:", "$FN8.3:") of the walker's rows.
  std::string m_alt_desc;
  zq::type_time m_time_kind;
  uint32 m_event_option;
  std::string m_timezone;
  std::string m_source;
  std::string m_sourcetype;
  std::string m_type;
  std::string m_user;
  std::string m_host;
  std::string m_short;
  std::string m_desc;
  uint32 m_version;
  std::string m_filename;
  std::string m_inode;
  std::string m_notes;
  std::string m_format;
  std::string m_extra;
  std::string m_separator;
  // In short, desc, filename and notes the first character is replaced by
  // the second (when both are non-zero).
  uint8 m_replaced_char;
  uint8 m_replacement_char;
  uint8 m_lower_case_letters;
  uint8 m_blank_before_time;
  uint8 m_hex_extended;
  // Read only by the walker's timeline writers.
  uint8 m_omit_cluster_info;
  uint8 m_include_header;
  uint8 m_copy_files;
  uint8 m_milliseconds;
  uint8 m_extended;
  uint32 m_ref_count;
  std::string m_extension;
  ulong64 m_size_data;
  uint32 m_inode_seqnum;
  ulong64 m_parent_inode;
  uint32 m_parent_seqnum;
  std::string m_clusters;
  std::vector<byte> m_header_bytes;
  std::string m_spare_text;
  // Rows are written only for times in [start, end] when start is not 0.
  ulong64 m_window_start;
  ulong64 m_window_end;

  timeline_record();
  void clear();
  // Sets `m_extended` and the seven values; a null text leaves its field.
  void set_extended(uint32 ref_count, ulong64 parent_inode, uint32 parent_seqnum,
                    uint32 inode_seqnum, ulong64 size_data, const char* extension,
                    const char* clusters);
  // "0x" and 8 or more lowercase hex digits with `m_hex_extended`, else decimal.
  void set_inode(ulong64 entry);
};
