#pragma once
// uni::file_handle: one file on a POSIX descriptor, opened by a narrow or a
// wide path, with its size cached as a 64-bit value when it is opened.
// Reads are positioned by 64-bit offsets and clamped to the cached size, so
// a caller may ask for a fixed record length anywhere and receive what the
// file holds there.
#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

class file_handle;

// Called by scan for each chunk; the result is not used.
typedef bool (*file_scan_callback)(file_handle* handle, uint32 user, const byte* buffer, uint32 length,
                                   uint32 overlap, uint64 offset);

class file_handle {
 public:
  file_handle();
  // The third argument has no effect.
  file_handle(const std::string& path, bool write, bool flag);
  file_handle(const std::wstring& path, bool write, bool flag);
  ~file_handle();
  // The handle owns its descriptor: a copy would close it twice.
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;

  // Reading: read-only, a regular file or a block device only. Writing and
  // appending: through the guarded opener, read-write (a FIFO write-only),
  // a new file made 0600 less the process's mask, an existing one emptied
  // (or, appending, written at its end) only once it is known to be no
  // FIFO nobody reads. A path that cannot be encoded, or that holds a NUL,
  // does not open.
  bool open(const std::string& path, bool write);
  bool open(const std::wstring& path, bool write);
  bool open_append(const std::string& path);
  bool open_append(const std::wstring& path);
  void close();
  // Forgets the descriptor without closing it.
  void reset();

  bool is_open() const;
  uint64 cached_size() const;
  long64 current_size() const;

  // False when not open, offset > cached size, or the seek fails; length is
  // cut to what lies before the cached size and receives the count read.
  bool read_at(void* buffer, uint32& length, uint64 offset);
  // out holds the bytes read; false when nothing could be read.
  bool read_bytes_at(std::vector<byte>& out, uint32 length, uint64 offset);
  bool read(void* buffer, uint32& length);

  bool append(const void* buffer, uint32 length);
  bool append(const std::vector<byte>& data);
  bool write_at(const void* buffer, uint32 length, uint64 offset);
  bool append_format(const char* format, ...) __attribute__((format(printf, 2, 3)));

  int64 seek_cur(int64 offset);
  int64 seek_set(int64 offset);
  int64 seek_end(int64 offset);

  bool scan(file_scan_callback callback, uint32 user, uint32 chunk, uint32 overlap);

  const std::wstring& path() const { return m_path; }
  int descriptor() const { return m_fd; }

 private:
  bool open_utf8(const std::string& utf8_path, bool write, bool append);
  bool write_all(const void* buffer, uint32 length);
  // One read of up to length bytes at the current position, resumed after
  // interruptions and partial reads; -1 on error.
  int64 read_some(void* buffer, uint32 length);
  void measure();

  int m_fd;
  uint64 m_size;
  bool m_write;
  std::wstring m_path;
  bool m_open;
};

// Opens a file of evidence without blocking and keeps it only when it is a
// regular file (or, with `block_device_ok`, a block device): a FIFO, a
// character device or a folder is refused with errno EINVAL. The descriptor
// is blocking again when returned; -1 on failure.
int open_source_descriptor(const std::string& path, bool writable, bool block_device_ok);

// False when `path` names something that exists and is not a regular file
// (or a block device, with `block_device_ok`). It never opens the path.
bool is_source_kind(const std::string& path, bool block_device_ok);

}  // namespace uni
