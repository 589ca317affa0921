#pragma once
// zq::binary_data: a view of a byte buffer, and the hex-dump formatters the
// structure reports print raw bytes with.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

namespace zq {

class binary_data {
 public:
  binary_data();
  explicit binary_data(uint32 size);
  binary_data(uint32 size, byte fill);
  binary_data(const std::vector<byte>& data, bool copy);
  binary_data(const byte* data, uint32 size, bool copy);

  byte operator()(uint32 index) const;
  byte& operator()(uint32 index);
  void set_mode(uint16 mode) { m_mode = mode; }
  uint32 get_num_data() const { return m_num_data; }
  uint32 get_mode() const { return m_mode; }

  // One row of 1 to 16 bytes: offset column (when asked), hexadecimal
  // column, character column; no line end.
  static void print_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                        bool show_offset);
  // Rows of 16 bytes from start to end, labelled from base, into `out`.
  static void format_rows(std::string& out, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                          bool show_offset);

 private:
  uint32 m_num_data;
  std::vector<byte> m_data;
  uint32 m_mode;
  bool m_owns_data;
  const byte* m_ext_data;
};

// Rows of 16 bytes with offsets, built first and written in one piece;
// sizes above 16 MiB are refused with a one-line note.
void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base);

}  // namespace zq
