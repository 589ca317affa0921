#pragma once
// Saving one attribute's data to a file, optionally with a report appended
// to a second file (the attribute's section and, for an $INDEX_ALLOCATION, one
// line per entry of each saved index record). The hashed form names the
// saved copy after a caller's stamp, the given file name and the data's MD5:
// "<16 hex digits of the stamp>_<file name>_<32 hex digits of the MD5>".
#include <string>

#include "ntfs/entry_record.h"
#include "utils/types.h"

class CNtfs;

// Null report paths mean no report. A data or report file that is a file
// the volume is read from (by any name) is refused, untouched, with false.
// The data is written through the one handle that opened its file; a file
// made new for it is removed again when the data cannot be had whole (a
// file already there is written as it is). Data whose runs show it damaged
// (entry_data_damaged) is refused before any file is opened or made.
bool extract_attribute(const wchar_t* path, const wchar_t* report_path, CNtfs* ntfs, const entry_record& rec,
                       bool raw);
bool extract_attribute(const char* path, const char* report_path, CNtfs* ntfs, const entry_record& rec, bool raw);
// The data goes first to a temporary file created beside `path` (never over a
// file that exists), then is renamed to its final name; on any failure no
// file is left under either name.
bool extract_attribute_hashed(const wchar_t* path, const wchar_t* report_path, CNtfs* ntfs, const entry_record& rec,
                              bool raw, ulong64 stamp);
bool extract_attribute_hashed(const char* path, const char* report_path, CNtfs* ntfs, const entry_record& rec,
                              bool raw, ulong64 stamp);
