#include "utils/byte_order_marks.h"

#include <cstring>

namespace {

// The marks back to back; each entry below is (offset, length) in it.
const byte marks[28] = {0xDD, 0x73, 0x66, 0x73, 0x2B, 0x2F, 0x76, 0xFB, 0xEE, 0x28,
                        0x0E, 0xFE, 0xFF, 0x00, 0x00, 0xFF, 0xFE, 0x00, 0x00, 0xFE,
                        0xFF, 0xFF, 0xFE, 0xFE, 0xFF, 0xEF, 0xBB, 0xBF};

struct mark {
  int offset;
  int length;
};
const mark utf_ebcdic{0, 4}, utf7{4, 3}, bocu1{7, 3}, scsu{10, 3}, m0000fffe{13, 4}, utf32be{17, 4},
    utf16le{21, 2}, utf16be{23, 2}, utf8{25, 3};

bool has(const byte* data, mark m) { return data && std::memcmp(data, marks + m.offset, m.length) == 0; }

std::vector<byte>& append(std::vector<byte>& out, mark m) {
  out.insert(out.end(), marks + m.offset, marks + m.offset + m.length);
  return out;
}

}  // namespace

bool has_bom_utf_ebcdic(const byte* data) { return has(data, utf_ebcdic); }
bool has_bom_utf7(const byte* data) { return has(data, utf7); }
bool has_bom_bocu1(const byte* data) { return has(data, bocu1); }
bool has_bom_scsu(const byte* data) { return has(data, scsu); }
bool has_bom_0000fffe(const byte* data) { return has(data, m0000fffe); }
bool has_bom_utf32be(const byte* data) { return has(data, utf32be); }
bool has_bom_utf16le(const byte* data) { return has(data, utf16le); }
bool has_bom_utf16be(const byte* data) { return has(data, utf16be); }
bool has_bom_utf8(const byte* data) { return has(data, utf8); }

std::vector<byte>& append_bom_utf_ebcdic(std::vector<byte>& out) { return append(out, utf_ebcdic); }
std::vector<byte>& append_bom_utf7(std::vector<byte>& out) { return append(out, utf7); }
std::vector<byte>& append_bom_bocu1(std::vector<byte>& out) { return append(out, bocu1); }
std::vector<byte>& append_bom_scsu(std::vector<byte>& out) { return append(out, scsu); }
std::vector<byte>& append_bom_0000fffe(std::vector<byte>& out) { return append(out, m0000fffe); }
std::vector<byte>& append_bom_utf32be(std::vector<byte>& out) { return append(out, utf32be); }
std::vector<byte>& append_bom_utf16le(std::vector<byte>& out) { return append(out, utf16le); }
std::vector<byte>& append_bom_utf16be(std::vector<byte>& out) { return append(out, utf16be); }
std::vector<byte>& append_bom_utf8(std::vector<byte>& out) { return append(out, utf8); }
