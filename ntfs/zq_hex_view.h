#pragma once
// zq::binary_data: a view of a byte buffer, and the hex-dump formatters the
// structure reports print raw bytes with.
//
// Every range handed to a formatter is clamped to the view: a start beyond
// the bytes shows nothing, a count or end beyond them shows what is there.
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

namespace zq {

class binary_data {
 public:
  // Called after each row with the row's start index and the range's end;
  // the result is ignored.
  typedef uint32 (*progress_callback)(void* ctx, uint32 position, uint32 end);

  binary_data();
  explicit binary_data(uint32 size);
  binary_data(uint32 size, byte fill);
  binary_data(const std::vector<byte>& data, bool copy);
  binary_data(const byte* data, uint32 size, bool copy);
  // An owning view's copy points at its own bytes, never at the source's.
  binary_data(const binary_data& other);
  binary_data(binary_data&& other) noexcept;
  binary_data& operator=(const binary_data& other);
  binary_data& operator=(binary_data&& other) noexcept;

  byte operator()(uint32 index) const;
  // A borrowing view takes a copy of its bytes before handing out a writable
  // reference: the caller's buffer is never written through a view.
  byte& operator()(uint32 index);
  void set_mode(uint16 mode) { m_mode = mode; }
  uint32 get_num_data() const { return m_num_data; }
  uint32 get_mode() const { return m_mode; }
  bool owns_data() const { return m_owns_data; }

  // Owning views only; false on a borrowing view.
  bool erase(uint32 start, uint32 count);
  bool push_back(byte value);
  bool append(const byte* data, uint32 size);
  // Replaces the bytes with up to `size` bytes of the file from `offset`.
  bool load(const char* path, uint32 offset, uint32 size);
  // Writes the view as operator<< does into a new file.
  bool save(const char* path) const;

  // A range of the view by its mode (see operator<<; 0x2 with 0x1 and without
  // 0x4 gives rows without offsets).
  void print(std::ostream& os, uint32 start, uint32 count, ulong64 base) const;

  // One row of 1 to 16 bytes: offset column (when asked), hexadecimal
  // column, character column; no line end.
  static void print_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                        bool show_offset);
  // Rows of 16 bytes from start to end, each ended by a newline, labelled
  // from base (not from start).
  static void print_rows(std::ostream& os, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                         bool show_offset, progress_callback callback = nullptr, void* ctx = nullptr);
  // Pairs of hexadecimal digits, a line end after each index that ends a
  // 16-byte block, and one more at the end.
  static void print_hex(std::ostream& os, const binary_data& data, uint32 start, uint32 count);
  // Characters only: one row of at most 48 bytes; all rows of 48.
  static void print_ascii_row(std::ostream& os, const binary_data& data, uint32 start, uint32 count);
  static void print_ascii(std::ostream& os, const binary_data& data, uint32 start, uint32 count);
  static void print_raw(std::ostream& os, const binary_data& data, uint32 start, uint32 count);
  // One row into an 80-byte buffer (at most 79 characters and a NUL).
  static void format_row(char* out, const binary_data& data, uint32 start, uint32 count, ulong64 offset,
                         bool show_offset);
  static void format_rows(std::string& out, const binary_data& data, uint32 start, uint32 end, ulong64 base,
                          bool show_offset, progress_callback callback = nullptr, void* ctx = nullptr);
  // The rows as UTF-16LE text, offsets always shown, rows ended by CR LF.
  static void print_row_wide(std::ostream& os, const binary_data& data, uint32 start, uint32 count, ulong64 offset);
  static void print_rows_wide(std::ostream& os, const binary_data& data, uint32 start, uint32 end, ulong64 base);

 private:
  void repoint();
  const byte* bytes() const { return m_owns_data ? m_data.data() : m_ext_data; }

  uint32 m_num_data;
  std::vector<byte> m_data;
  uint32 m_mode;
  bool m_owns_data;
  const byte* m_ext_data;
};

// The whole view by its mode: 0x2 and 0x4 rows with offsets from 0, 0x2
// alone hexadecimal only, 0x4 alone characters only, neither the raw bytes.
std::ostream& operator<<(std::ostream& os, const binary_data& data);

// Rows of 16 bytes with offsets from `base`, from `start` to the end.
void hex_dump(const std::vector<byte>& data, std::ostream& os, uint32 start, ulong64 base);
void hex_dump(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base, bool show_offset);
void hex_dump_to_string(const byte* data, uint32 size, std::string& out, uint32 start, ulong64 base);
void hex_dump_to_string(const byte* data, uint32 size, std::string& out, uint32 start, ulong64 base,
                        binary_data::progress_callback callback, void* ctx);
// Built first and written in one piece; sizes above 16 MiB are refused with
// a one-line note.
void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base);
void hex_dump_limited(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base,
                      binary_data::progress_callback callback, void* ctx);
void hex_dump_wide(const byte* data, uint32 size, std::ostream& os, uint32 start, ulong64 base);

}  // namespace zq
