#include "utils/sparse_output.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <ostream>

#include "utils/descriptor_stream.h"

namespace {

const uint32 ZERO_BLOCK = 1u << 16;
const byte kZeros[ZERO_BLOCK] = {};

const long long MOST_OFFSET = std::numeric_limits<long long>::max();

// The descriptor a file stream writes to, where the library lets it be
// known; -1 elsewhere.
#if defined(__GLIBCXX__)
struct filebuf_descriptor : std::filebuf {
  static int of(std::filebuf& buf) { return (buf.*&filebuf_descriptor::_M_file).fd(); }
};
#else
struct filebuf_descriptor {
  static int of(std::filebuf&) { return -1; }
};
#endif

// The null and zero devices take every seek and stay at position 0, a
// block device reads back what it held before: only a regular file shows
// zeros where a seek skipped.
bool holds_holes(int fd) {
  struct stat st;
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// The descriptor under a stream that writes to one; -1 for any other.
int descriptor_under(std::streambuf* buf) {
  if (std::filebuf* file = dynamic_cast<std::filebuf*>(buf)) return filebuf_descriptor::of(*file);
  if (uni::descriptor_buf* held = dynamic_cast<uni::descriptor_buf*>(buf)) return held->fd();
  return -1;
}

}  // namespace

sparse_output::sparse_output(std::ostream& out, md5_context* md5) : m_out(out), m_md5(md5) {
  // Only a regular file can hold a hole, and only past its end does skipped
  // space read as zeros: written in the middle, the old bytes would show
  // through. Any other output is judged by its writes alone.
  if (!m_out.good() || !holds_holes(descriptor_under(m_out.rdbuf()))) return;
  const std::streampos at = m_out.tellp();
  if (at == std::streampos(-1)) {
    m_out.clear();
    return;
  }
  m_out.seekp(0, std::ios_base::end);
  const std::streampos end = m_out.tellp();
  m_out.clear();
  m_out.seekp(at);
  if (!m_out.good()) return;
  m_start = static_cast<long long>(at);
  m_holes = end == at;
}

bool sparse_output::write(const byte* data, uint32 length) {
  if (length == 0) return m_out.good();
  if (m_pending && !leave_hole()) return false;
  if (m_md5) md5_update(m_md5, data, length);
  m_out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  m_written += length;
  return m_out.good();
}

bool sparse_output::zeros(ulong64 length) {
  if (length == 0) return m_out.good();
  if (m_holes) {
    // Held until the next bytes or the end, so that neighbouring runs of
    // zeros (sparse runs, empty compression units) make one hole.
    if (length > static_cast<ulong64>(MOST_OFFSET - m_start) - m_written - m_pending) return false;
    m_pending += length;
    return m_out.good();
  }
  for (ulong64 left = length; left > 0;) {
    const uint32 n = static_cast<uint32>(std::min<ulong64>(left, ZERO_BLOCK));
    if (!write(kZeros, n)) return false;
    left -= n;
  }
  return m_out.good();
}

bool sparse_output::leave_hole() {
  ulong64 length = m_pending;
  m_pending = 0;
  // The hole's last byte is written: it gives the file its size, shows a
  // file opened for appending (where a seek moves no write), and a size the
  // file system cannot hold fails here, before any time goes into the
  // digest.
  m_out.seekp(static_cast<std::streamoff>(length - 1), std::ios_base::cur);
  m_out.put('\0');
  m_out.flush();  // the position of a byte still buffered is only a guess
  const std::streampos at = m_out.tellp();
  if (!m_out.good() || at == std::streampos(-1)) return false;
  if (static_cast<ulong64>(static_cast<long long>(at) - m_start) == m_written + length) {
    m_written += length;
    hash_zeros(length);
    return true;
  }
  // Appending: the byte went to the end, as the hole's first; the rest of
  // the hole, and every later one, is written out.
  m_holes = false;
  m_written += 1;
  hash_zeros(1);
  return zeros(length - 1);
}

void sparse_output::hash_zeros(ulong64 length) {
  for (ulong64 left = length; m_md5 && left > 0;) {
    const uint32 n = static_cast<uint32>(std::min<ulong64>(left, ZERO_BLOCK));
    md5_update(m_md5, kZeros, n);
    left -= n;
  }
}

bool sparse_output::finish() {
  if (m_pending && !leave_hole()) return false;
  m_out.flush();
  if (!m_out.good()) return false;
  if (!m_holes) return true;
  const std::streampos at = m_out.tellp();
  return at != std::streampos(-1) && static_cast<ulong64>(static_cast<long long>(at) - m_start) == m_written;
}
