#pragma once
// The bodyfile form: one line of eleven "|"-joined fields per entry, the
// input of timeline tools that read the body format (mactime and its kin).
#include <ostream>
#include <string>

#include "app/user_ctx.h"
#include "ntfs/index_node.h"
#include "utils/types.h"

struct bodyfile_record {
  std::string m_md5;  // written as "0" when empty
  std::string m_name;
  ulong64 m_inode;
  std::string m_mode;
  ulong64 m_uid;
  ulong64 m_gid;
  ulong64 m_size;
  // Unix seconds; 0 for a time that has none.
  ulong64 m_modify_time;
  ulong64 m_access_time;
  ulong64 m_mft_change_time;
  ulong64 m_create_time;
  // Not written; kept for the walker's callers.
  std::string m_spare[5];
  uint32 m_time_kind;
  uint32 m_spare_number;
  std::string m_timezone;

  bodyfile_record();
  void clear();
};

// Writes the header first when *first is set (and clears it), then the
// record's line: a '|', a CR or LF in its texts, and a '"' that begins one,
// is written as a blank. Always true.
bool write_bodyfile(bool* first, std::ostream& out, const bodyfile_record& rec);
// The same, appended to `out`.
bool append_bodyfile(bool* first, std::string& out, const bodyfile_record& rec);

// Fills `rec` (cleared first) with one index entry as the tool writes it.
void fill_bodyfile_record(bodyfile_record& rec, const INDX_ENTRY_INFO& e, const user_ctx& ctx);
