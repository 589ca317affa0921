#pragma once
// An output stream over a file descriptor the caller opened (through the
// guarded opener), so that a file made new is written through that one
// handle: no second open of it, whose own view of the file a layer (a FUSE
// server, a cache) may keep apart from the first. Seeks go to the
// descriptor, so a copy can leave holes in a regular file
// (utils/sparse_output). Every write and the close are checked; a failed
// one sets badbit.
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "utils/types.h"

namespace uni {

class descriptor_buf : public std::streambuf {
 public:
  // Takes `fd` over: it is closed by close() or the destructor.
  explicit descriptor_buf(int fd);
  ~descriptor_buf() override;
  descriptor_buf(const descriptor_buf&) = delete;
  descriptor_buf& operator=(const descriptor_buf&) = delete;

  int fd() const { return m_fd; }
  // Writes what is held and closes the descriptor; false when a write or
  // the close failed (a file system may report a failed store only then).
  bool close();
  // Closes a file that failed and is to be removed, whatever it holds. A
  // layer that stores a file when its last handle is let go, after close
  // has returned (rclone without a cache, for a file nothing reached),
  // would store it again once its name was removed: one byte written at the
  // start first, which reaches any file in order, makes its close store it
  // there and then, so that the removal after it holds.
  void close_to_remove();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize n) override;
  int sync() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  int m_fd;
  std::unique_ptr<char[]> m_buffer;
  bool m_reached = false;  // a write reached the file

  bool drain();
  bool write_all(const char* data, size_t n);
};

class descriptor_ostream : public std::ostream {
 public:
  explicit descriptor_ostream(int fd);

  int fd() const { return m_buf.fd(); }
  // Flushes and closes; false, with badbit set, when anything failed.
  bool close();
  // As descriptor_buf::close_to_remove; badbit is set.
  void close_to_remove();

 private:
  descriptor_buf m_buf;
};

// True when the file open at `fd` is a regular file of exactly `size`
// bytes, as the system answers now: a copy is named only when it is whole
// in place, whatever the writes answered.
bool descriptor_holds(int fd, ulong64 size);

// A file as it was when the stream that wrote it closed.
struct closed_file {
  uint64 device = 0;
  uint64 inode = 0;
  ulong64 size = 0;
  bool regular = false;
};

// Closes `out`, which wrote a file from its start, `written` saying whether
// its writer succeeded: true only when that, every write and the close
// succeeded and, for a regular file, the file holds, as the system answers,
// every byte written. `made` says what was closed. A file that failed is
// closed to be removed where it was made for this (`made_here`).
bool close_whole(descriptor_ostream& out, bool written, bool made_here, closed_file& made);

// True when the name `path` leads to a regular file of `made`'s size on its
// file system: what a layer shows once the name is given. The file's number
// is not asked: a layer may number a file anew under a new name (rclone's
// mounts do).
bool names_whole(const std::string& path, const closed_file& made);

}  // namespace uni
