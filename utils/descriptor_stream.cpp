#include "utils/descriptor_stream.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace uni {

namespace {

const size_t BUFFER_BYTES = 1u << 16;

}  // namespace

// The buffer is left as it comes: every byte of it is written before it is
// read, and clearing 64 KiB for each copy of a walk costs more than the copy.
descriptor_buf::descriptor_buf(int fd) : m_fd(fd), m_buffer(new char[BUFFER_BYTES]) {
  setp(m_buffer.get(), m_buffer.get() + BUFFER_BYTES);
}

descriptor_buf::~descriptor_buf() { close(); }

bool descriptor_buf::write_all(const char* data, size_t n) {
  if (m_fd < 0) return n == 0;
  while (n > 0) {
    const ssize_t put = ::write(m_fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    // A write of nothing would be tried for ever: the store is full.
    if (put <= 0) return false;
    m_reached = true;
    data += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool descriptor_buf::drain() {
  const size_t held = static_cast<size_t>(pptr() - pbase());
  const bool ok = write_all(pbase(), held);
  setp(m_buffer.get(), m_buffer.get() + BUFFER_BYTES);
  return ok;
}

descriptor_buf::int_type descriptor_buf::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize descriptor_buf::xsputn(const char* data, std::streamsize n) {
  if (n <= 0) return 0;
  const std::streamsize room = epptr() - pptr();
  if (n <= room) {
    traits_type::copy(pptr(), data, static_cast<size_t>(n));
    pbump(static_cast<int>(n));
    return n;
  }
  // Larger than the buffer holds: what is held goes first, then the piece
  // itself, unbuffered.
  if (!drain() || !write_all(data, static_cast<size_t>(n))) return 0;
  return n;
}

int descriptor_buf::sync() { return drain() ? 0 : -1; }

descriptor_buf::pos_type descriptor_buf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                 std::ios_base::openmode which) {
  if (m_fd < 0 || !(which & std::ios_base::out) || !drain()) return pos_type(off_type(-1));
  const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  const off_t at = ::lseek(m_fd, static_cast<off_t>(off), whence);
  return at < 0 ? pos_type(off_type(-1)) : pos_type(static_cast<off_type>(at));
}

descriptor_buf::pos_type descriptor_buf::seekpos(pos_type pos, std::ios_base::openmode which) {
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

bool descriptor_buf::close() {
  if (m_fd < 0) return false;
  const bool drained = drain();
  // The descriptor is gone after close() whatever it answers, EINTR too.
  const bool closed = ::close(m_fd) == 0;
  m_fd = -1;
  return drained && closed;
}

void descriptor_buf::close_to_remove() {
  if (m_fd < 0) return;
  setp(m_buffer.get(), m_buffer.get() + BUFFER_BYTES);
  const char zero = 0;
  struct stat st;
  // Only a regular file is removed; nothing else is written here.
  if (!m_reached && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) {
    while (::pwrite(m_fd, &zero, 1, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(m_fd);
  m_fd = -1;
}

descriptor_ostream::descriptor_ostream(int fd) : std::ostream(nullptr), m_buf(fd) {
  rdbuf(&m_buf);
  if (fd < 0) setstate(std::ios_base::badbit);
}

bool descriptor_ostream::close() {
  const bool ok = m_buf.close();
  if (!ok) setstate(std::ios_base::badbit);
  return ok && !fail();
}

void descriptor_ostream::close_to_remove() {
  m_buf.close_to_remove();
  setstate(std::ios_base::badbit);
}

bool descriptor_holds(int fd, ulong64 size) {
  struct stat st;
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
         static_cast<ulong64>(st.st_size) == size;
}

bool close_whole(descriptor_ostream& out, bool written, bool made_here, closed_file& made) {
  made = closed_file();
  struct stat st;
  // Known whatever the writer answered: a file that failed is found by it.
  const bool known = ::fstat(out.fd(), &st) == 0;
  if (known) {
    made.device = static_cast<uint64>(st.st_dev);
    made.inode = static_cast<uint64>(st.st_ino);
    made.regular = S_ISREG(st.st_mode);
  }
  bool ok = known && written;
  if (ok && made.regular) {
    // Written from the start: where the stream stands is what it holds.
    const std::streampos end = out.tellp();
    ok = end != std::streampos(-1) && descriptor_holds(out.fd(), static_cast<ulong64>(end));
    if (ok) made.size = static_cast<ulong64>(end);
  }
  if (ok) return out.close();
  if (made_here) {
    out.close_to_remove();
  } else {
    out.close();
  }
  return false;
}

bool names_whole(const std::string& path, const closed_file& made) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64>(st.st_dev) == made.device &&
         st.st_size >= 0 && static_cast<ulong64>(st.st_size) == made.size;
}

}  // namespace uni
