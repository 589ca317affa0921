#include "utils/file_streams.h"

#include <sys/stat.h>

#include "utils/output_file.h"
#include "utils/utf_convert.h"

namespace uni {

namespace {

template <class Unit>
size_t length_without_terminators(const std::vector<Unit>& v) {
  size_t n = v.size();
  while (n > 0 && v[n - 1] == 0) --n;
  return n;
}

// Opens the buffer only with a whole path; anything else sets failbit.
template <class Stream, class Path>
void open_stream(Stream& s, const Path& path, std::ios_base::openmode mode) {
  std::string narrow;
  if (path_to_utf8(narrow, path) && s.rdbuf()->open(narrow, mode)) s.clear();
  else s.setstate(std::ios_base::failbit);
}

// Opens an output stream through the guarded opener, so that a FIFO nobody
// reads is refused at once instead of holding the open for ever, keeping
// what the standard stream makes of the mode: out or trunc empties the
// file, app writes at its end, in and out without trunc write over it from
// its start (and, like the standard stream, need it to be there). As with
// the standard stream, an open stream is not opened again.
template <class Path>
void open_output_stream(ofstream& s, const Path& path, std::ios_base::openmode mode) {
  std::string narrow;
  const bool app = (mode & std::ios_base::app) != 0, trunc = (mode & std::ios_base::trunc) != 0;
  const bool over = (mode & std::ios_base::in) != 0 && !trunc && !app;
  struct stat st;
  if (s.is_open() || !path_to_utf8(narrow, path) || (app && trunc) || (over && ::stat(narrow.c_str(), &st) != 0)) {
    s.setstate(std::ios_base::failbit);
    return;
  }
  const output_open how = app || over ? output_open::extend : output_open::rewrite;
  if (open_output(s, narrow, file_identities(), how) != output_result::opened) return;
  // A FIFO has no start to go back to: tellp cannot tell a place in it.
  if (over && (mode & std::ios_base::ate) == 0 && s.tellp() > 0) s.seekp(0);
}

}  // namespace

bool path_to_utf8(std::string& out, const std::wstring& path) {
  out.clear();
  if (path.find(L'\0') != std::wstring::npos) return false;
  return wstring_to_utf8_into(out, path);
}

bool path_to_utf8(std::string& out, const std::string& path) {
  out.clear();
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  out = path;
  return true;
}

bool path_to_utf8(std::string& out, const std::vector<byte>& path) {
  return path_to_utf8(out, std::string(path.begin(), path.begin() + length_without_terminators(path)));
}

bool path_to_utf8(std::string& out, const std::vector<uint16>& path) {
  // A pair is one character, as the system that wrote the units meant it;
  // a surrogate without its partner stands for itself.
  const size_t n = length_without_terminators(path);
  std::wstring wide;
  wide.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32 u = path[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      wide.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (path[i + 1] - 0xDC00)));
      ++i;
    } else {
      wide.push_back(static_cast<wchar_t>(u));
    }
  }
  return path_to_utf8(out, wide);
}

ifstream::ifstream(const std::wstring& path, std::ios_base::openmode mode) { open(path, mode); }
ifstream::ifstream(const std::vector<byte>& path, std::ios_base::openmode mode) { open(path, mode); }
ifstream::ifstream(const std::vector<uint16>& path, std::ios_base::openmode mode) { open(path, mode); }

void ifstream::open(const std::string& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::in);
}
void ifstream::open(const std::wstring& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::in);
}
void ifstream::open(const std::vector<byte>& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::in);
}
void ifstream::open(const std::vector<uint16>& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::in);
}

ofstream::ofstream(const std::wstring& path, std::ios_base::openmode mode) {
  open_output_stream(*this, path, mode | std::ios_base::out);
}
ofstream::ofstream(const std::string& path, std::ios_base::openmode mode) { open(path, mode); }
ofstream::ofstream(const std::vector<byte>& path, std::ios_base::openmode mode) { open(path, mode); }
ofstream::ofstream(const std::vector<uint16>& path, std::ios_base::openmode mode) {
  open_output_stream(*this, path, mode | std::ios_base::out);
}

void ofstream::open(const std::string& path, std::ios_base::openmode mode) {
  open_output_stream(*this, path, mode | std::ios_base::out);
}
void ofstream::open(const std::vector<byte>& path, std::ios_base::openmode mode) {
  open_output_stream(*this, path, mode | std::ios_base::out);
}
void ofstream::open(const std::wstring& path) {
  open_output_stream(*this, path, std::ios_base::out | std::ios_base::trunc);
}
void ofstream::open(const std::vector<uint16>& path) {
  open_output_stream(*this, path, std::ios_base::out | std::ios_base::trunc);
}

}  // namespace uni
