#include "utils/console.h"

#include <unistd.h>

#include <cerrno>

namespace uni {

console_writer::console_writer(bool /*flag*/) : m_fd(-1), m_stream(nullptr), m_valid(false) {
  m_stream = stdout;
  if (m_stream) {
    m_valid = true;
    m_fd = fileno(stdout);
  }
}

console_writer::~console_writer() { release(); }

void console_writer::release() {
  m_stream = nullptr;
  m_valid = false;
}

bool console_writer::write(const void* data, uint32 length) {
  if (!m_valid || !data || length == 0) return false;
  const byte* p = static_cast<const byte*>(data);
  uint32 left = length;
  while (left > 0) {
    const ssize_t n = ::write(m_fd, p, left);
    if (n == -1) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<uint32>(n);
  }
  return true;
}

bool console_writer::write(const std::vector<byte>& data) {
  if (data.empty()) return false;
  return write(data.data(), static_cast<uint32>(data.size()));
}

bool console_writer::write_string(const std::string& text) {
  if (text.empty()) return false;
  return write(text.data(), static_cast<uint32>(text.size()));
}

}  // namespace uni
