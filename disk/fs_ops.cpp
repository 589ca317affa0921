#include "disk/fs_ops.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "utils/file_handle.h"
#include "utils/output_file.h"
#include "utils/path_split.h"
#include "utils/utf_convert.h"

namespace {

// Folders get mode 0777 whatever the process's mask. The mask is cleared
// for the one mkdir only and put back at once: left at 0, it would make
// every copy, report and log written after it writable by everyone. (The
// process has one thread: nothing else creates a file meanwhile.)
bool mkdir_one(const std::string& path) {
  const mode_t mask = umask(0);
  const int made = ::mkdir(path.c_str(), 0777);
  const int error = errno;
  umask(mask);
  errno = error;
  return made == 0 || error == EEXIST;
}

}  // namespace

bool make_dir(const std::string& path) {
  if (path.empty()) return false;
  return mkdir_one(path);
}

bool make_dir_w(const std::wstring& path) {
  if (path.empty()) return false;
  const std::string narrow = wstring_to_utf8(path);
  return !narrow.empty() && make_dir(narrow);
}

bool make_dirs(std::string path) {
  if (path.empty()) return false;
  std::string prefix;
  size_t slash = path.find('/', 1);
  while (slash != std::string::npos) {
    const std::string component = path.substr(0, slash);
    prefix += component;
    const bool drive = !component.empty() && component.back() == ':';
    if (!drive && !prefix.empty() && !mkdir_one(prefix)) return false;
    path.erase(0, slash + 1);
    slash = path.find('/');
    prefix += '/';
  }
  prefix += path;
  return mkdir_one(prefix);
}

bool make_dirs_w(const std::wstring& path) {
  const std::string narrow = wstring_to_utf8(path);
  return !narrow.empty() && make_dirs(narrow);
}

bool path_exists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool path_exists_w(const std::wstring& path) {
  if (path.empty()) return false;
  const std::string narrow = wstring_to_utf8(path);
  return !narrow.empty() && path_exists(narrow);
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }
bool rename_file(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
bool remove_file_w(const std::wstring& path) { return remove_file(wstring_to_utf8(path)); }
bool rename_file_w(const std::wstring& from, const std::wstring& to) {
  return rename_file(wstring_to_utf8(from), wstring_to_utf8(to));
}

std::string current_directory() {
  char buf[512];
  if (!getcwd(buf, sizeof buf)) return std::string();
  return std::string(buf);
}

std::wstring current_directory_w() { return utf8_to_wstring(current_directory()); }

std::string own_executable_path() {
  std::vector<char> buf(1024, 0);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), 1023);
  if (n < 0) return std::string();
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::wstring own_executable_path_w() { return utf8_to_wstring(own_executable_path()); }

bool stat_info(const std::string& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
               uint64* accessed) {
  if (path.empty()) return false;
  std::string p = path;
  if (p.back() == '/' || p.back() == '\\') p.pop_back();
  struct stat st;
  if (p.empty() || ::stat(p.c_str(), &st) != 0) return false;
  if (size) *size = static_cast<uint64>(st.st_size);
  if (mode) *mode = static_cast<uint16>(st.st_mode);
  if (created) *created = static_cast<uint64>(static_cast<int64>(st.st_ctime));
  if (altered) *altered = static_cast<uint64>(static_cast<int64>(st.st_mtime));
  if (accessed) *accessed = static_cast<uint64>(static_cast<int64>(st.st_atime));
  return true;
}

bool stat_info_c(const char* path, uint64* size, uint16* mode, uint64* created, uint64* altered, uint64* accessed) {
  if (!path) return false;
  return stat_info(std::string(path), size, mode, created, altered, accessed);
}

bool stat_info_w(const std::wstring& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
                 uint64* accessed) {
  if (path.empty()) return false;
  return stat_info(wstring_to_utf8(path), size, mode, created, altered, accessed);
}

ulong64 unix_seconds_to_filetime(long64 seconds) {
  return static_cast<ulong64>(seconds) * 10000000ULL + 116444736000000000ULL;
}

bool stat_times(const std::string& path, uint64* size, uint16* mode, uint64* created, uint64* altered,
                uint64* accessed) {
  uint64 c = 0;
  uint64 a = 0;
  uint64 m = 0;
  if (!stat_info(path, size, mode, &c, &m, &a)) return false;
  if (created) *created = unix_seconds_to_filetime(static_cast<long64>(c));
  if (altered) *altered = unix_seconds_to_filetime(static_cast<long64>(m));
  if (accessed) *accessed = unix_seconds_to_filetime(static_cast<long64>(a));
  return true;
}

bool read_file(std::vector<byte>& out, const std::string& path, uint32 max) {
  out.clear();
  if (path.empty()) return false;
  uni::file_handle file(path, false, false);
  if (!file.is_open()) return false;
  const uint64 size = file.cached_size();
  const uint32 want = size > max ? max : static_cast<uint32>(size);
  if (want == 0) return true;
  // A read that comes up short or fails is a failure, not a shorter file.
  if (!file.read_bytes_at(out, want, 0) || out.size() != want) {
    out.clear();
    return false;
  }
  return true;
}

bool read_file_w(std::vector<byte>& out, const std::wstring& path, uint32 max) {
  out.clear();
  if (path.empty()) return false;
  return read_file(out, wstring_to_utf8(path), max);
}

bool write_file(const char* path, const char* data, int length) {
  if (!path || !path[0]) return false;
  std::string dir;
  std::string leaf;
  if (!split_path(path, dir, leaf)) return false;
  if (dir != "." && !make_dirs(dir)) return false;
  std::ofstream out;
  if (uni::open_output(out, std::string(path), uni::file_identities(), uni::output_open::rewrite) !=
      uni::output_result::opened)
    return false;
  if (data && length > 0) out.write(data, length);
  out.close();
  return !out.fail();
}

bool write_file_w(const wchar_t* path, const char* data, int length) {
  if (!path) return false;
  const std::string narrow = wstring_to_utf8(std::wstring(path));
  return write_file(narrow.c_str(), data, length);
}

bool open_file_w(FILE*& out, const std::wstring& path, bool write, bool, bool write_too, bool binary) {
  out = nullptr;
  std::vector<byte> bytes;
  if (!wstring_to_utf8_bytes(bytes, path) || bytes.empty()) return false;
  const std::string narrow(bytes.begin(), bytes.end());
  // "w+": read-write, emptied, but only once the guarded opener has checked
  // the file (a FIFO nobody reads is refused at once, not waited on).
  if (write || write_too)
    return uni::open_output(out, narrow, uni::file_identities(), uni::output_open::rewrite) ==
           uni::output_result::opened;
  out = std::fopen(narrow.c_str(), binary ? "rb" : "r");
  return out != nullptr;
}

bool open_file_for_write_w(FILE*& out, const std::wstring& path, bool binary) {
  return open_file_w(out, path, true, false, true, binary);
}

bool open_file_for_read_w(FILE*& out, const std::wstring& path, bool binary) {
  return open_file_w(out, path, false, false, false, binary);
}

int64 ostream_size(std::ostream& os) {
  os.clear();
  const std::streampos here = os.tellp();
  os.seekp(0, std::ios::end);
  const std::streampos end = os.tellp();
  os.seekp(here);
  os.clear();
  return end < 0 ? -1 : static_cast<int64>(end);
}

int64 istream_size(std::istream& is) {
  is.clear();
  const std::streampos here = is.tellg();
  is.seekg(0, std::ios::end);
  const std::streampos end = is.tellg();
  is.seekg(here);
  is.clear();
  return end < 0 ? -1 : static_cast<int64>(end);
}

bool string_less(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0;
  return a.size() < b.size();
}

bool string_equal(const std::string& a, const std::string& b) { return a == b; }
