#include "utils/file_streams.h"

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
  open_stream(*this, path, mode | std::ios_base::out);
}
ofstream::ofstream(const std::string& path, std::ios_base::openmode mode) { open(path, mode); }
ofstream::ofstream(const std::vector<byte>& path, std::ios_base::openmode mode) { open(path, mode); }
ofstream::ofstream(const std::vector<uint16>& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::out);
}

void ofstream::open(const std::string& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::out);
}
void ofstream::open(const std::vector<byte>& path, std::ios_base::openmode mode) {
  open_stream(*this, path, mode | std::ios_base::out);
}
void ofstream::open(const std::wstring& path) {
  open_stream(*this, path, std::ios_base::out | std::ios_base::trunc);
}
void ofstream::open(const std::vector<uint16>& path) {
  open_stream(*this, path, std::ios_base::out | std::ios_base::trunc);
}

}  // namespace uni
