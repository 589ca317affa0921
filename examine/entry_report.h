#pragma once
// One call that examines one file or folder of a volume: open the source
// (VMDK chain, image or device, physical drive, or drive letter), find the
// entry by number or by path (its last component may end in ":" and a
// stream name), optionally write a text report of it, and then deliver the
// selected attribute's data to standard output, to a caller's stream, or
// to a file (optionally named after its MD5).
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

const uint32 NO_DRIVE_NUMBER = 0xFFFFFFFFu;
const ulong64 ENTRY_FROM_PATH = ~0ULL;

struct entry_report_request {
  uint32 drive_number = NO_DRIVE_NUMBER;
  ulong64 volume_offset = 0;
  std::wstring path;
  std::vector<std::wstring> vmdk_files;
  std::wstring image_path;
  std::wstring drive_letter;
  ulong64 entry = ENTRY_FROM_PATH;
  std::ostream* data_out = nullptr;
  std::wstring extract_path;
  std::wstring report_path;  // empty: no report
  bool raw = false;
  bool hash_and_rename = false;
  bool compact_runs = false;
  bool to_stdout = false;
  bool to_stream = false;
  bool show_progress = false;
};

// False when the source cannot be opened, the entry is not found (no path,
// no record, no attributes), the stream asked for data is missing, or the
// action fails; also when the report or the extract would be a file the
// volume is read from. A call that asks for the report alone (no data to
// standard output, a stream or a file) is true when the report was written.
bool report_entry(const entry_report_request& request);
// The same, the entry always resolved from the path.
bool report_entry_by_path(const entry_report_request& request);
