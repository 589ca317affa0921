#include "disk/file_info.h"

#include <cwchar>
#include <iomanip>
#include <sstream>

#include "disk/fs_ops.h"
#include "time/time_format.h"
#include "time/zq_time.h"
#include "utils/case_text.h"
#include "utils/path_split.h"
#include "utils/utf_convert.h"

namespace {

const uint16 type_mask = 0xF000;
const uint16 type_directory = 0x4000;

uint64 value_or_zero(const uint64* p) { return p ? *p : 0; }

// Copies at most capacity - 1 characters and terminates.
void copy_cut(wchar_t* to, const std::wstring& from) {
  const size_t n = from.size() < file_info_w::text_capacity - 1 ? from.size() : file_info_w::text_capacity - 1;
  from.copy(to, n);
  to[n] = L'\0';
}

void set_times(uint64& created, uint64& altered, uint64& mft_changed, uint64& accessed, const uint64* c,
               const uint64* a, const uint64* m, const uint64* x) {
  created = value_or_zero(c);
  altered = value_or_zero(a);
  mft_changed = value_or_zero(m);
  accessed = value_or_zero(x);
}

// The wide record from a status read and a split of the wide path; a
// directory's extension goes back into its name when asked.
bool fill_wide(const std::wstring& wide, bool status_ok, uint64 size, uint16 mode, uint64 created, uint64 altered,
               uint64 accessed, bool fold_directory_ext, file_info_w& info) {
  if (!status_ok) return false;
  info.size = size;
  info.mode = mode;
  info.created = created;
  info.altered = altered;
  info.accessed = accessed;
  std::wstring dir, name, ext;
  if (split_path_ext_w(wide, dir, name, ext)) {
    copy_cut(info.path, dir);
    if (fold_directory_ext && info.is_directory()) {
      name += L'.';
      name += ext;
      ext.clear();
    }
    copy_cut(info.filename, name);
    info.ext = ext;
  } else {
    copy_cut(info.path, L".");
    copy_cut(info.filename, wide);
  }
  return true;
}

void time_line(std::ostream& os, const char* label, uint64 seconds) {
  os << label << std::setw(16) << seconds << " [";
  zq::write_time_secs(os, zq::time(seconds, zq::type_unix));
  os << "]" << std::endl;
}

const char* type_name(uint16 mode) {
  switch (mode & type_mask) {
    case 0x4000: return "directory";
    case 0x2000: return "char special";
    case 0x8000: return "regular";
    default: return "";
  }
}

}  // namespace

file_info::file_info() { clear(); }

file_info::file_info(const std::string& full, uint32 size_, const uint64* value64_, uint16 value16_, uint16 mode_,
                     const uint64* created_, const uint64* altered_, const uint64* mft_changed_,
                     const uint64* accessed_, uint32 permissions_) {
  clear();
  full_path = full;
  if (split_path_ext(full.c_str(), path, filename, ext)) {
    filename += '.';
    filename += ext;
  }
  value64 = value_or_zero(value64_);
  value16 = value16_;
  size = size_;
  mode = mode_;
  set_times(created, altered, mft_changed, accessed, created_, altered_, mft_changed_, accessed_);
  permissions = permissions_;
}

// Separators and dots are ASCII, so splitting the UTF-8 form splits the wide
// path at the same places.
file_info::file_info(const std::wstring& full, uint32 size_, const uint64* value64_, uint16 value16_, uint16 mode_,
                     const uint64* created_, const uint64* altered_, const uint64* mft_changed_,
                     const uint64* accessed_, uint32 permissions_)
    : file_info(wstring_to_utf8(full), size_, value64_, value16_, mode_, created_, altered_, mft_changed_, accessed_,
                permissions_) {}

file_info::file_info(const file_info_w& wide) { assign_from_wide(wide); }

void file_info::assign_from_wide(const file_info_w& wide) {
  path = wstring_to_utf8(wide.path);
  filename = wstring_to_utf8(wide.filename);
  ext = wstring_to_utf8(wide.ext);
  full_path = path + "\\" + filename + "." + ext;
  value64 = wide.value64;
  value16 = 0;
  size = wide.size;
  mode = wide.mode;
  created = wide.created;
  altered = wide.altered;
  mft_changed = wide.mft_changed;
  accessed = wide.accessed;
  permissions = wide.permissions;
}

void file_info::clear() {
  full_path.clear();
  path.clear();
  filename.clear();
  ext.clear();
  value64 = 0;
  value16 = 0;
  size = 0;
  mode = 0;
  created = altered = mft_changed = accessed = 0;
  permissions = 0;
}

bool file_info::is_directory() const { return (mode & type_mask) == type_directory; }

file_info_w::file_info_w() {
  path[0] = L'\0';
  clear();
}

file_info_w::file_info_w(const wchar_t* name, uint32 size_, uint16 mode_, const uint64* created_,
                         const uint64* altered_, const uint64* mft_changed_, const uint64* accessed_,
                         uint32 permissions_)
    : file_info_w(name, nullptr, size_, mode_, created_, altered_, mft_changed_, accessed_, permissions_) {}

file_info_w::file_info_w(const wchar_t* name, const uint64* value64_, uint32 size_, uint16 mode_,
                         const uint64* created_, const uint64* altered_, const uint64* mft_changed_,
                         const uint64* accessed_, uint32 permissions_) {
  path[0] = L'\0';
  clear();
  if (name) {
    // A name the array cannot hold is left out whole rather than cut; its
    // extension still says what kind of file it is.
    if (std::wcslen(name) < text_capacity) copy_cut(filename, name);
    const wchar_t* dot = std::wcsrchr(name, L'.');
    if (dot) ext = dot + 1;
  }
  value64 = value_or_zero(value64_);
  size = size_;
  mode = mode_;
  set_times(created, altered, mft_changed, accessed, created_, altered_, mft_changed_, accessed_);
  permissions = permissions_;
}

void file_info_w::clear() {
  filename[0] = L'\0';
  ext.clear();
  value64 = 0;
  mode = 0;
  size = 0;
  created = altered = mft_changed = accessed = 0;
  permissions = 0;
}

bool file_info_w::is_directory() const { return (mode & type_mask) == type_directory; }

bool get_file_info(const char* path, file_info& info) {
  info.clear();
  if (!path) return false;
  info.full_path = path;
  if (!stat_info_c(path, &info.size, &info.mode, &info.created, &info.altered, &info.accessed)) return false;
  if (!split_path_ext(path, info.path, info.filename, info.ext)) {
    info.path = ".";
    info.filename = path;
  }
  if (info.is_directory()) {
    info.filename += '.';
    info.filename += info.ext;
    info.ext.clear();
  }
  return true;
}

bool get_file_info_w(const char* path, file_info_w& info) {
  info.clear();
  if (!path) return false;
  uint64 size = 0, created = 0, altered = 0, accessed = 0;
  uint16 mode = 0;
  const bool ok = stat_info_c(path, &size, &mode, &created, &altered, &accessed);
  return fill_wide(utf8_to_wstring(path), ok, size, mode, created, altered, accessed, true, info);
}

bool get_file_info_w(const wchar_t* path, file_info_w& info) {
  info.clear();
  if (!path) return false;
  const std::wstring wide(path);
  uint64 size = 0, created = 0, altered = 0, accessed = 0;
  uint16 mode = 0;
  const bool ok = stat_info_w(wide, &size, &mode, &created, &altered, &accessed);
  return fill_wide(wide, ok, size, mode, created, altered, accessed, false, info);
}

bool created_before_w(const file_info_w& a, const file_info_w& b) { return a.created < b.created; }

bool name_less_w(const file_info_w& a, const file_info_w& b) { return compare_w(a.filename, b.filename, true) < 0; }

bool name_equal_w(const file_info_w& a, const file_info_w& b) {
  return compare_w(a.filename, b.filename, true) == 0;
}

void dump_file_info(const file_info& info, std::string& out) {
  std::ostringstream os;
  os << std::setfill('0') << std::right << std::hex << std::nouppercase;
  os << "path:         " << info.path << std::endl;
  os << "filename:     " << info.filename << std::endl;
  os << "ext:          " << info.ext << std::endl;
  os << "file size     " << std::setw(8) << info.size << std::endl;
  os << "flags:        " << std::setw(4) << info.mode << " [" << type_name(info.mode) << "]" << std::endl;
  time_line(os, "created:      ", info.created);
  time_line(os, "altered:      ", info.altered);
  time_line(os, "mft changed:  ", info.mft_changed);
  time_line(os, "accessed:     ", info.accessed);
  os << "permissions:  " << std::setw(8) << info.permissions << std::endl;
  out += os.str();
}
