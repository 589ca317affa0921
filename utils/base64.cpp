#include "utils/base64.h"

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
