#pragma once
// Writing to the console: the status line, and uni::console_writer, which
// writes bytes to standard output straight through its descriptor,
// bypassing the stdio buffer; and uni::line_reader, which reads standard
// input a line at a time.
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

// A line is what one fgets delivers: at most 4095 bytes into the reader's
// own buffer, ending after the first LF that fits; a longer line arrives in
// pieces. Every form returns false at end of input, on error or when the
// reader is not valid; the forms with an output empty it first even then.
class line_reader {
 public:
  // The flag has no effect.
  explicit line_reader(bool flag);
  // Forgets standard input without closing it.
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  bool read_line();
  // Into the caller's buffer of `length` bytes; length receives the bytes
  // read (up to the NUL that fgets writes).
  bool read_line(char* buffer, uint32& length);
  // With strip, the piece's trailing CRs and LFs are removed.
  bool read_line(std::string& line, bool strip);
  // Decoded from UTF-8; a malformed line gives the characters before the
  // bad byte, and the result is still true.
  bool read_line(std::wstring& line, bool strip);
  bool read_line(std::vector<byte>& line, bool strip);
  bool tell_ok();
  void release();
  bool is_valid() const { return m_valid; }

 private:
  char* m_buffer;
  FILE* m_stream;
  bool m_valid;
  uint32 m_buffer_size;
};

}  // namespace uni
