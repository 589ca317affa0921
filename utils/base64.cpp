#include "utils/base64.h"

#include <new>
#include <string>

byte base64_value(byte c) {
  if (c >= 'A' && c <= 'Z') return static_cast<byte>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<byte>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<byte>(c - '0' + 52);
  if (c == '+') return 62;
  return 63;
}

bool base64_decode(const char* text, int length, std::vector<byte>& out) {
  out.clear();
  if (!text || length <= 0) return false;
  std::string kept;
  kept.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=') kept += static_cast<char>(c);
  }
  out.reserve(kept.size() / 4 * 3 + 2);
  const size_t n = kept.size();
  for (size_t at = 0; at + 1 < n; at += 4) {
    const size_t have = n - at < 4 ? n - at : 4;
    const byte v1 = base64_value(static_cast<byte>(kept[at]));
    const byte v2 = base64_value(static_cast<byte>(kept[at + 1]));
    out.push_back(static_cast<byte>(v1 * 4 + v2 / 16));
    if (have < 3 || kept[at + 2] == '=') continue;
    const byte v3 = base64_value(static_cast<byte>(kept[at + 2]));
    out.push_back(static_cast<byte>((v2 % 16) * 16 + v3 / 4));
    if (have < 4 || kept[at + 3] == '=') continue;
    const byte v4 = base64_value(static_cast<byte>(kept[at + 3]));
    out.push_back(static_cast<byte>((v3 % 4) * 64 + v4));
  }
  return true;
}

namespace {

const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The text of the n bytes at `data` (n > 0), appended to `out`, which
// has room for it reserved.
void encode_lines(const byte* data, uint32 n, std::vector<char>& out) {
  uint32 i = 0, on_line = 0;
  for (; n - i >= 3; i += 3) {
    const byte b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
    const char quad[4] = {alphabet[b0 >> 2], alphabet[((b0 & 3) << 4) | (b1 >> 4)],
                          alphabet[((b1 & 15) << 2) | (b2 >> 6)], alphabet[b2 & 63]};
    out.insert(out.end(), quad, quad + 4);
    on_line += 4;
    if (on_line > 72) {
      out.push_back('\r');
      out.push_back('\n');
      on_line = 0;
    }
  }
  if (n - i == 1) {
    const byte b0 = data[i];
    const char tail[4] = {alphabet[b0 >> 2], alphabet[(b0 & 3) << 4], '=', '='};
    out.insert(out.end(), tail, tail + 4);
  } else if (n - i == 2) {
    const byte b0 = data[i], b1 = data[i + 1];
    const char tail[4] = {alphabet[b0 >> 2], alphabet[((b0 & 3) << 4) | (b1 >> 4)], alphabet[(b1 & 15) << 2], '='};
    out.insert(out.end(), tail, tail + 4);
  }
  out.push_back('\r');
  out.push_back('\n');
  out.push_back('\0');
}

}  // namespace

bool base64_encode(const byte* data, int length, std::vector<char>& out) {
  out.clear();
  if (!data || length == 0) return false;
  try {
    if (length < 0) {
      out.push_back('\0');
      return true;
    }
    const uint64 groups = (static_cast<uint64>(length) + 2) / 3;
    const uint64 room = 4 * groups + groups * 8 / 76 + 3;
    // On a 32-bit host the text of a long buffer may not even be
    // addressable: no vector can hold it.
    if (room > out.max_size()) return false;
    out.reserve(static_cast<size_t>(room));
    encode_lines(data, static_cast<uint32>(length), out);
    return true;
  } catch (const std::bad_alloc&) {
    std::vector<char>().swap(out);
    return false;
  }
}
