#include "utils/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "utils/output_file.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace uni {

namespace {

// What the handle writes (extracted records, copies of evidence) is for
// the examiner alone: a file it makes is readable by its owner only.
const uint32 CREATED_PERMISSION = 0600;

}  // namespace

file_handle::file_handle() : m_fd(-1), m_size(0), m_write(false), m_open(false) {}

file_handle::file_handle(const std::string& path, bool write, bool /*flag*/) : file_handle() {
  if (!open(path, write)) {
    close();
    reset();
  }
}

file_handle::file_handle(const std::wstring& path, bool write, bool /*flag*/) : file_handle() {
  if (!open(path, write)) {
    close();
    reset();
  }
}

file_handle::~file_handle() { close(); }

void file_handle::close() {
  if (m_fd != -1) ::close(m_fd);
  m_fd = -1;
}

void file_handle::reset() {
  m_fd = -1;
  m_size = 0;
  m_write = false;
  m_path.clear();
  m_open = false;
}

bool file_handle::open_utf8(const std::string& utf8_path, bool write, bool append) {
  // An empty encoding means the wide path could not be encoded; a NUL
  // inside would make the system open a shorter name. Either is refused.
  if (utf8_path.empty() || utf8_path.find('\0') != std::string::npos) return false;
  int fd = -1;
  if (!write) {
    fd = open_source_descriptor(utf8_path, false, true);
  } else if (open_output(fd, utf8_path, file_identities(), append ? output_open::extend : output_open::rewrite,
                         true, CREATED_PERMISSION) != output_result::opened) {
    fd = -1;
  }
  if (fd == -1) return false;
  m_fd = fd;
  m_open = true;
  measure();
  return true;
}

void file_handle::measure() {
  const off64_t here = ::lseek64(m_fd, 0, SEEK_CUR);
  const off64_t end = ::lseek64(m_fd, 0, SEEK_END);
  if (here != -1) ::lseek64(m_fd, here, SEEK_SET);
  m_size = end < 0 ? 0 : static_cast<uint64>(end);
}

bool file_handle::open(const std::string& path, bool write) {
  if (path.empty()) return false;
  if (m_fd != -1) {
    close();
    reset();
  }
  m_write = write;
  widen_string(path, m_path);
  return open_utf8(path, write, false);
}

bool file_handle::open(const std::wstring& path, bool write) {
  if (path.empty()) return false;
  if (m_fd != -1) {
    close();
    reset();
  }
  m_write = write;
  m_path = path;
  const std::string utf8 = wstring_to_utf8(path);
  return open_utf8(utf8, write, false);
}

bool file_handle::open_append(const std::string& path) {
  if (path.empty()) return false;
  if (m_fd != -1) {
    close();
    reset();
  }
  m_write = true;
  widen_string(path, m_path);
  return open_utf8(path, true, true);
}

bool file_handle::open_append(const std::wstring& path) {
  if (path.empty()) return false;
  if (m_fd != -1) {
    close();
    reset();
  }
  m_write = true;
  m_path = path;
  return open_utf8(wstring_to_utf8(path), true, true);
}

bool file_handle::is_open() const { return m_fd != -1 && m_open; }

uint64 file_handle::cached_size() const { return is_open() ? m_size : 0; }

long64 file_handle::current_size() const {
  if (!is_open()) return 0;
  const off64_t here = ::lseek64(m_fd, 0, SEEK_CUR);
  const off64_t end = ::lseek64(m_fd, 0, SEEK_END);
  if (here != -1) ::lseek64(m_fd, here, SEEK_SET);
  return end < 0 ? 0 : static_cast<long64>(end);
}

int64 file_handle::read_some(void* buffer, uint32 length) {
  byte* p = static_cast<byte*>(buffer);
  uint64 done = 0;
  while (done < length) {
    const ssize_t n = ::read(m_fd, p + done, length - done);
    if (n == -1) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<int64>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<uint64>(n);
  }
  return static_cast<int64>(done);
}

bool file_handle::read_at(void* buffer, uint32& length, uint64 offset) {
  if (!is_open() || !buffer || offset > m_size) return false;
  if (offset > static_cast<uint64>(INT64_MAX)) return false;
  if (::lseek64(m_fd, static_cast<off64_t>(offset), SEEK_SET) == -1) return false;
  if (m_size - offset < length) length = static_cast<uint32>(m_size - offset);
  const int64 n = read_some(buffer, length);
  if (n < 0) return false;
  length = static_cast<uint32>(n);
  return true;
}

bool file_handle::read_bytes_at(std::vector<byte>& out, uint32 length, uint64 offset) {
  out.clear();
  if (!is_open() || offset > m_size) return false;
  if (offset > static_cast<uint64>(INT64_MAX)) return false;
  if (::lseek64(m_fd, static_cast<off64_t>(offset), SEEK_SET) == -1) return false;
  if (m_size - offset < length) length = static_cast<uint32>(m_size - offset);
  if (length == 0) return false;
  out.resize(length);
  const int64 n = read_some(out.data(), length);
  if (n <= 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(n));
  return true;
}

bool file_handle::read(void* buffer, uint32& length) {
  if (!is_open() || !buffer) return false;
  if (m_size < 0x100000000ull && length > m_size) length = static_cast<uint32>(m_size);
  const int64 n = read_some(buffer, length);
  if (n < 0) return false;
  length = static_cast<uint32>(n);
  return true;
}

bool file_handle::write_all(const void* buffer, uint32 length) {
  // A write may take fewer bytes than asked (a file-size limit, a full
  // device, a signal): the rest is written on until it all is, or a call
  // fails and says why.
  const byte* p = static_cast<const byte*>(buffer);
  uint32 done = 0;
  bool ok = true;
  while (done < length) {
    const ssize_t n = ::write(m_fd, p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<uint32>(n);
  }
  const off64_t end = ::lseek64(m_fd, 0, SEEK_END);
  if (end >= 0) m_size = static_cast<uint64>(end);
  return ok;
}

bool file_handle::append(const void* buffer, uint32 length) {
  if (!is_open() || (!buffer && length > 0)) return false;
  // A FIFO has no end to seek to: what is written follows what was.
  if (::lseek64(m_fd, 0, SEEK_END) == -1 && errno != ESPIPE) return false;
  return write_all(buffer, length);
}

bool file_handle::append(const std::vector<byte>& data) {
  if (data.empty()) return false;
  return append(data.data(), static_cast<uint32>(data.size()));
}

bool file_handle::write_at(const void* buffer, uint32 length, uint64 offset) {
  if (!is_open() || (!buffer && length > 0) || offset > static_cast<uint64>(INT64_MAX)) return false;
  if (::lseek64(m_fd, static_cast<off64_t>(offset), SEEK_SET) == -1) return false;
  return write_all(buffer, length);
}

bool file_handle::append_format(const char* format, ...) {
  if (!is_open() || !format) return false;
  va_list args;
  va_start(args, format);
  char probe[1];
  const int n = std::vsnprintf(probe, sizeof probe, format, args);
  va_end(args);
  if (n < 0) return false;
  std::vector<char> text(static_cast<size_t>(n) + 1, 0);
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  return append(text.data(), static_cast<uint32>(n));
}

int64 file_handle::seek_cur(int64 offset) {
  return is_open() ? static_cast<int64>(::lseek64(m_fd, offset, SEEK_CUR)) : -1;
}

int64 file_handle::seek_set(int64 offset) {
  return is_open() ? static_cast<int64>(::lseek64(m_fd, offset, SEEK_SET)) : -1;
}

int64 file_handle::seek_end(int64 offset) {
  return is_open() ? static_cast<int64>(::lseek64(m_fd, offset, SEEK_END)) : -1;
}

bool file_handle::scan(file_scan_callback callback, uint32 user, uint32 chunk, uint32 overlap) {
  if (!is_open() || !callback || chunk == 0) return false;
  const uint64 size = static_cast<uint64>(current_size());
  if (size < 0x100000000ull && chunk > size) {
    chunk = static_cast<uint32>(size);
    overlap = 0;
  }
  // An empty file is still reported once, with length 0 at offset 0; the
  // callback gets a real buffer all the same.
  std::vector<byte> buffer(chunk > 0 ? chunk : 1, 0);
  uint64 offset = 0;
  uint32 length = chunk;
  while (is_open() && offset <= m_size) {
    if (::lseek64(m_fd, static_cast<off64_t>(offset), SEEK_SET) == -1) break;
    if (m_size - offset < length) length = static_cast<uint32>(m_size - offset);
    const int64 n = read_some(buffer.data(), length);
    if (n < 0) break;
    length = static_cast<uint32>(n);
    if (overlap >= length) overlap = 0;
    callback(this, user, buffer.data(), length, overlap, offset);
    // Each later chunk begins with the last overlap bytes of this one.
    offset += length - overlap;
    if (offset >= size || length == 0) break;
    if (offset + length > size) length = static_cast<uint32>(size - offset);
  }
  return true;
}

namespace {

// The kinds of file that can be read as evidence: a regular file and, when
// allowed, a block device.
bool source_mode(mode_t mode, bool block_device_ok) {
  return S_ISREG(mode) || (block_device_ok && S_ISBLK(mode));
}

}  // namespace

int open_source_descriptor(const std::string& path, bool writable, bool block_device_ok) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = ENOENT;
    return -1;
  }
  // Without O_NONBLOCK a FIFO would wait in open() for a writer for ever.
  int fd;
  do {
    fd = ::open64(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) return -1;
  struct stat st;
  const bool fits = ::fstat(fd, &st) == 0 && source_mode(st.st_mode, block_device_ok);
  const int flags = fits ? ::fcntl(fd, F_GETFL) : -1;
  if (!fits || flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool is_source_kind(const std::string& path, bool block_device_ok) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return true;  // absent: the open says so
  return source_mode(st.st_mode, block_device_ok);
}

}  // namespace uni
