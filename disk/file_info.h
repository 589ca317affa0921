#pragma once
// File-information records of the host file system: the narrow file_info
// (UTF-8 texts) and the wide file_info_w (fixed wide arrays), filled from a
// path's status, converted into each other, ordered, and written as a
// labelled text block. Times from a status read are Unix seconds.
#include <cstddef>
#include <string>

#include "utils/types.h"

struct file_info_w;

struct file_info {
  std::string full_path;
  std::string path;      // directory part
  std::string filename;  // see the builders for how the extension is treated
  std::string ext;
  uint64 value64;  // carried for the caller; never printed or compared
  uint16 value16;
  uint64 size;
  uint16 mode;  // low 16 bits of st_mode
  uint64 created;
  uint64 altered;
  uint64 mft_changed;  // not filled from a status read
  uint64 accessed;
  uint32 permissions;  // set only by the constructors that take it

  file_info();
  // The path is split at the leaf's first '.', and "." and the extension are
  // appended to `filename`. Null time or value pointers count as 0.
  file_info(const std::string& full, uint32 size, const uint64* value64, uint16 value16, uint16 mode,
            const uint64* created, const uint64* altered, const uint64* mft_changed, const uint64* accessed,
            uint32 permissions);
  file_info(const std::wstring& full, uint32 size, const uint64* value64, uint16 value16, uint16 mode,
            const uint64* created, const uint64* altered, const uint64* mft_changed, const uint64* accessed,
            uint32 permissions);
  explicit file_info(const file_info_w& wide);

  // full_path becomes path + backslash + filename + "." + ext; value16 is 0.
  void assign_from_wide(const file_info_w& wide);
  void clear();
  bool is_directory() const;
};

struct file_info_w {
  static const size_t text_capacity = 512;  // characters, NUL included

  wchar_t path[text_capacity];
  wchar_t filename[text_capacity];
  std::wstring ext;
  uint64 value64;
  uint16 mode;
  uint64 size;
  uint64 created;
  uint64 altered;
  uint64 mft_changed;
  uint64 accessed;
  uint32 permissions;

  file_info_w();
  // From a bare file name: `path` empty, `ext` the text after the name's
  // last '.'; a name of 512 or more characters leaves `filename` empty (and
  // `ext` set).
  file_info_w(const wchar_t* name, uint32 size, uint16 mode, const uint64* created, const uint64* altered,
              const uint64* mft_changed, const uint64* accessed, uint32 permissions);
  file_info_w(const wchar_t* name, const uint64* value64, uint32 size, uint16 mode, const uint64* created,
              const uint64* altered, const uint64* mft_changed, const uint64* accessed, uint32 permissions);

  // Empties `ext` and `filename` and zeroes the numbers; `path` keeps its text.
  void clear();
  bool is_directory() const;
};

// Status and names of a path. A directory's extension is folded back into
// its file name (logs.old stays logs.old, logs becomes "logs.") by both
// builders from a narrow path; the wide-path builder leaves it in `ext`.
bool get_file_info(const char* path, file_info& info);
bool get_file_info_w(const char* path, file_info_w& info);
bool get_file_info_w(const wchar_t* path, file_info_w& info);

bool created_before_w(const file_info_w& a, const file_info_w& b);
// File names compared without regard to ASCII case.
bool name_less_w(const file_info_w& a, const file_info_w& b);
bool name_equal_w(const file_info_w& a, const file_info_w& b);

// Appends the labelled block: path, filename, ext, size, mode with its type,
// the four times with their dates, permissions.
void dump_file_info(const file_info& info, std::string& out);
