#pragma once
// Writing to the console: the status line, and uni::console_writer, which
// writes bytes to standard output straight through its descriptor,
// bypassing the stdio buffer.
#include <cstdio>
#include <string>
#include <vector>

#include "utils/status_line.h"
#include "utils/types.h"

namespace uni {

class console_writer {
 public:
  // The flag has no effect.
  explicit console_writer(bool flag);
  // Forgets standard output without closing it.
  ~console_writer();
  console_writer(const console_writer&) = delete;
  console_writer& operator=(const console_writer&) = delete;

  // Loops over partial writes; false when invalid, empty, or a write fails.
  bool write(const void* data, uint32 length);
  bool write(const std::vector<byte>& data);
  bool write_string(const std::string& text);
  void release();
  bool is_valid() const { return m_valid; }

 private:
  int m_fd;
  FILE* m_stream;
  bool m_valid;
};

}  // namespace uni
