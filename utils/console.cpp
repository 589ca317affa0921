#include "utils/console.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "utils/trim_join.h"
#include "utils/utf_convert.h"

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

line_reader::line_reader(bool /*flag*/)
    : m_buffer(nullptr), m_stream(nullptr), m_valid(false), m_buffer_size(4096) {
  m_stream = stdin;
  if (m_stream) {
    m_buffer = new char[m_buffer_size];
    m_buffer[0] = '\0';
    m_valid = true;
  }
}

line_reader::~line_reader() {
  delete[] m_buffer;
  m_buffer = nullptr;
  release();
}

void line_reader::release() {
  m_stream = nullptr;
  m_valid = false;
}

bool line_reader::read_line() {
  if (!m_valid) return false;
  return std::fgets(m_buffer, static_cast<int>(m_buffer_size), m_stream) != nullptr;
}

bool line_reader::read_line(char* buffer, uint32& length) {
  if (!m_valid || !buffer || length == 0) return false;
  const int size = length > static_cast<uint32>(INT_MAX) ? INT_MAX : static_cast<int>(length);
  if (!std::fgets(buffer, size, m_stream)) return false;
  length = static_cast<uint32>(std::strlen(buffer));
  return true;
}

bool line_reader::read_line(std::string& line, bool strip) {
  line.clear();
  if (!read_line()) return false;
  line.assign(m_buffer);
  if (strip) strip_trailing_crlf(line);
  return true;
}

bool line_reader::read_line(std::wstring& line, bool strip) {
  line.clear();
  std::string bytes;
  if (!read_line(bytes, strip)) return false;
  decode_utf8(line, bytes);
  return true;
}

bool line_reader::read_line(std::vector<byte>& line, bool strip) {
  line.clear();
  std::string bytes;
  if (!read_line(bytes, strip)) return false;
  line.assign(bytes.begin(), bytes.end());
  return true;
}

bool line_reader::tell_ok() {
  if (!m_valid) return false;
  sleep(0);
  return std::ftell(m_stream) != -1;
}

}  // namespace uni
