#pragma once
// Raw scans over byte buffers read from disk: aligned 32-bit values, byte
// patterns, printable text, UTF-16 string lengths, and end-of-line styles
// with the line splitters built on them. Buffers come as pointer + length;
// nothing here throws on bad input.
#include <string>
#include <vector>

#include "utils/types.h"

// End-of-line style codes.
enum : byte {
  eol_crlf = 1,
  eol_cr = 2,
  eol_lf = 3,
  eol_lfcr = 4,
  eol_mixed = 6,
  eol_none = 7,
};

// Appends (never clears) the byte offset 4 x i of every little-endian 32-bit
// word i equal to `value`, testing words 0, stride/4, 2 x stride/4, ...
// below length/4. False without scanning for a null buffer, a length below
// 4 or a stride below 4; else true when `hits` is non-empty afterwards.
bool find_all_u32(std::vector<ulong64>& hits, const uint32* buffer, uint32 length, uint32 value,
                  uint32 stride);

// The first occurrence; `offset` = its position + base.
bool find_pattern(const byte* buffer, uint32 length, const std::vector<byte>& pattern,
                  ulong64& offset, ulong64 base);
bool find_pattern(const uint8* buffer, uint32 length, const std::vector<byte>& pattern,
                  ulong64* offset, ulong64 base);
bool find_pattern_offset(const byte* buffer, uint32 length, const byte* pattern,
                         uint32 pattern_length, ulong64& offset);
// Every occurrence, overlapping ones included; appended.
bool find_all_pattern(const byte* buffer, uint32 length, const byte* pattern,
                      uint32 pattern_length, std::vector<uint32>& out);
// Every occurrence + base; `out` cleared first.
bool find_all_pattern_u64(const byte* buffer, uint32 length, const byte* pattern,
                          uint32 pattern_length, std::vector<ulong64>& out, ulong64 base);
// Searches only the first `block_size` bytes of every `alignment`-aligned
// unit (alignment a power of two); appended.
bool find_pattern_in_blocks(std::vector<ulong64>& out, const byte* buffer, uint32 length,
                            const byte* pattern, uint32 pattern_length, uint32 block_size,
                            uint32 alignment, bool stop_at_first);

// Every byte TAB, LF, CR or 32-126; false for an empty vector.
bool is_printable_text(const std::vector<byte>& bytes);
uint32 utf16_strlen(const uint16* text);
// Units, less one when the last is NUL.
uint32 utf16_vector_length(const std::vector<uint16>& text);
// Bytes without the trailing run of NUL units.
uint32 utf16_trimmed_byte_length(const std::vector<uint16>& text);

byte detect_line_ending(const byte* text, uint32 length);
// Over length / 2 16-bit units.
byte detect_line_ending_utf16(const uint16* text, uint32 length);
// Moves `text` past the next line end and lowers `units_left`; false (both
// unchanged) when there is none.
bool next_line_utf16(const uint16*& text, int& units_left);
// Lines cut at the style's line end and trimmed; `out` cleared first.
bool text_to_lines(const byte* text, uint32 length, std::vector<std::string>& out);
// 8-bit text (decoded as UTF-8) or 32-bit wide text.
bool wide_text_to_lines(const byte* data, uint32 length, std::vector<std::wstring>& out);
