#include "utils/sparse_output.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <ostream>

namespace {

const uint32 ZERO_BLOCK = 1u << 16;
const byte kZeros[ZERO_BLOCK] = {};

const long long MOST_OFFSET = std::numeric_limits<long long>::max();

}  // namespace

sparse_output::sparse_output(std::ostream& out, md5_context* md5) : m_out(out), m_md5(md5) {
  // Only a file can hold a hole, and only past its end does skipped space
  // read as zeros: written in the middle, the old bytes would show through.
  if (!m_out.good() || dynamic_cast<std::filebuf*>(m_out.rdbuf()) == nullptr) return;
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
  if (m_md5) md5_update(m_md5, data, length);
  m_out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  m_written += length;
  m_ends_in_hole = false;
  return m_out.good();
}

bool sparse_output::zeros(ulong64 length) {
  if (length == 0) return m_out.good();
  if (m_holes) {
    // The seek comes first: a size the file system cannot hold fails at
    // once, before any time goes into the digest.
    if (length > static_cast<ulong64>(MOST_OFFSET) - m_written ||
        m_written + length > static_cast<ulong64>(MOST_OFFSET - m_start))
      return false;
    m_out.seekp(static_cast<std::streamoff>(length), std::ios_base::cur);
    if (!m_out.good()) return false;
    m_written += length;
    m_ends_in_hole = true;
    for (ulong64 left = length; m_md5 && left > 0;) {
      const uint32 n = static_cast<uint32>(std::min<ulong64>(left, ZERO_BLOCK));
      md5_update(m_md5, kZeros, n);
      left -= n;
    }
    return true;
  }
  for (ulong64 left = length; left > 0;) {
    const uint32 n = static_cast<uint32>(std::min<ulong64>(left, ZERO_BLOCK));
    if (!write(kZeros, n)) return false;
    left -= n;
  }
  return true;
}

bool sparse_output::finish() {
  if (!m_out.good()) return false;
  if (!m_holes) return true;
  if (m_ends_in_hole) {
    // The last byte of the hole, written, sets the size.
    m_out.seekp(-1, std::ios_base::cur);
    m_out.put('\0');
    m_ends_in_hole = false;
  }
  m_out.flush();
  const std::streampos at = m_out.tellp();
  return m_out.good() && at != std::streampos(-1) &&
         static_cast<ulong64>(static_cast<long long>(at) - m_start) == m_written;
}
