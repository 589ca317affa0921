#pragma once
// The byte sequences that mark a text file's encoding at its start: one
// test and one appender per mark. Each test reads exactly the mark's length
// of bytes; the caller guarantees that many are there.
#include <vector>

#include "utils/types.h"

bool has_bom_utf_ebcdic(const byte* data);  // DD 73 66 73
bool has_bom_utf7(const byte* data);        // 2B 2F 76
bool has_bom_bocu1(const byte* data);       // FB EE 28
bool has_bom_scsu(const byte* data);        // 0E FE FF
bool has_bom_0000fffe(const byte* data);    // 00 00 FF FE (no published mark)
bool has_bom_utf32be(const byte* data);     // 00 00 FE FF
bool has_bom_utf16le(const byte* data);     // FF FE
bool has_bom_utf16be(const byte* data);     // FE FF
bool has_bom_utf8(const byte* data);        // EF BB BF

std::vector<byte>& append_bom_utf_ebcdic(std::vector<byte>& out);
std::vector<byte>& append_bom_utf7(std::vector<byte>& out);
std::vector<byte>& append_bom_bocu1(std::vector<byte>& out);
std::vector<byte>& append_bom_scsu(std::vector<byte>& out);
std::vector<byte>& append_bom_0000fffe(std::vector<byte>& out);
std::vector<byte>& append_bom_utf32be(std::vector<byte>& out);
std::vector<byte>& append_bom_utf16le(std::vector<byte>& out);
std::vector<byte>& append_bom_utf16be(std::vector<byte>& out);
std::vector<byte>& append_bom_utf8(std::vector<byte>& out);
