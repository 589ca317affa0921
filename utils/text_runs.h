#pragma once
// Readable text in raw bytes, as a strings listing finds it: runs of
// printable ASCII (0x20-0x7E), and runs of such characters stored as
// UTF-16LE (the byte followed by 0x00), with their byte offsets shifted by
// a base; and case-insensitive keyword hits inside those runs. Every scan
// stays within its buffer's length. Without append (and always for the
// forms without base) the outputs are cleared first.
#include <string>
#include <vector>

#include "utils/types.h"

// Leading blanks are not taken into a run. A run of at least `minimum`
// characters is reported (one byte per character) with the offset of its
// first character; with minimum 0 every position that ends a run reports
// it, empty or not. UTF-16LE text is found at odd offsets too.
bool find_utf16_strings_at(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                           std::vector<ulong64>* offsets, ulong64 base, bool append);
bool find_utf16_strings(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                        std::vector<ulong64>* offsets);
bool find_ascii_strings_at(const byte* buffer, uint32 length, int minimum, std::vector<std::string>* strings,
                           std::vector<ulong64>* offsets, ulong64 base, bool append);
// Leading blanks stay in the run, but a run of blanks alone never counts.
bool find_ascii_strings(const byte* buffer, int length, int minimum, std::vector<std::string>* strings,
                        std::vector<ulong64>* offsets);
// Byte offsets (+ base) of every non-overlapping hit of the keyword in the
// runs, compared in lower case. An empty keyword finds nothing (false).
bool find_keyword_utf16(const std::string& keyword, const byte* buffer, uint32 length, std::vector<uint32>* offsets,
                        uint32 base, bool append);
bool find_keyword_ascii(const std::string& keyword, const byte* buffer, uint32 length, std::vector<uint32>* offsets,
                        uint32 base, bool append);
