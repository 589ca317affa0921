#include "utils/utf_convert.h"

#include "utils/utf16le.h"

namespace {

// Decodes one code point at in[pos]; advances pos. False for a malformed
// sequence. Overlong forms are refused because they would let a NUL or a
// separator hide inside a path (C0 80, C0 AF); values above 0x10FFFF
// because nothing can encode them back.
bool next_code_point(const unsigned char* in, size_t size, size_t& pos, uint32& cp) {
  const uint32 lead = in[pos];
  if (lead < 0x80) {
    cp = lead;
    ++pos;
    return true;
  }
  uint32 extra = 0;
  uint32 minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    return false;
  }
  if (size - pos <= extra) return false;
  for (uint32 k = 1; k <= extra; ++k) {
    const uint32 c = in[pos + k];
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF) return false;
  pos += extra + 1;
  return true;
}

template <typename Sink>
bool walk_utf8(const std::string& in, Sink sink) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
  size_t pos = 0;
  while (pos < in.size()) {
    uint32 cp = 0;
    if (!next_code_point(p, in.size(), pos, cp)) return false;
    sink(cp);
  }
  return true;
}

bool put_utf8(std::string& out, uint32 c) {
  if (c <= 0x7F) {
    out.push_back(static_cast<char>(c));
  } else if (c <= 0x7FF) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c <= 0xFFFF) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c <= 0x10FFFF) {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    return false;
  }
  return true;
}

// Pairs surrogates; a high surrogate without its low half is an error, a
// lone low surrogate stands for itself.
template <typename Unit, typename Sink>
bool walk_utf16(const std::vector<Unit>& units, Sink sink) {
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32 u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size()) return false;
      const uint32 v = units[i + 1];
      if (v < 0xDC00 || v > 0xDFFF) return false;
      if (!sink(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00))) return false;
      ++i;
    } else if (!sink(u)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool decode_utf8(std::wstring& out, const std::string& in) {
  out.clear();
  if (in.empty()) return false;
  out.reserve(in.size());
  return walk_utf8(in, [&](uint32 cp) { out.push_back(static_cast<wchar_t>(cp)); });
}

bool utf8_to_utf32(std::vector<uint32>& out, const std::string& in) {
  out.clear();
  if (in.empty()) return false;
  return walk_utf8(in, [&](uint32 cp) { out.push_back(cp); });
}

int utf8_length(const std::string& in) {
  int n = 0;
  if (!walk_utf8(in, [&](uint32) { ++n; })) return 0;
  return n;
}

bool utf32_to_utf8(std::string& out, const std::vector<uint32>& in) {
  out.clear();
  if (in.empty()) return false;
  for (uint32 c : in) {
    if (!put_utf8(out, c)) return false;
  }
  return true;
}

bool utf32_to_utf16(std::vector<uint16>& out, const std::vector<uint32>& in) {
  out.clear();
  if (in.empty()) return false;
  for (uint32 c : in) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    if (c <= 0xFFFF) {
      out.push_back(static_cast<uint16>(c));
    } else {
      out.push_back(static_cast<uint16>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<uint16>(0xDC00 + (c & 0x3FF)));
    }
  }
  return true;
}

bool utf16_to_utf32(std::vector<uint32>& out, const std::vector<uint16>& in) {
  out.clear();
  if (in.empty()) return false;
  return walk_utf16(in, [&](uint32 cp) {
    out.push_back(cp);
    return true;
  });
}

bool utf16_to_utf8(std::string& out, const std::vector<uint16>& in) {
  out.clear();
  if (in.empty()) return false;
  return walk_utf16(in, [&](uint32 cp) { return put_utf8(out, cp); });
}

bool utf16le_bytes_to_utf32(std::vector<uint32>& out, const std::vector<byte>& in) {
  out.clear();
  if (in.empty() || in.size() % 2 != 0) return false;
  std::vector<uint16> units(in.size() / 2);
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<uint16>(in[2 * i] | (in[2 * i + 1] << 8));
  }
  return utf16_to_utf32(out, units);
}

std::wstring utf8_to_wstring(const std::string& in) {
  std::wstring out;
  if (!decode_utf8(out, in)) out.clear();
  return out;
}

bool utf8_to_wstring_into(std::wstring& out, const std::string& in) { return decode_utf8(out, in); }

bool encode_utf8(std::string& out, const std::wstring& in) {
  out.clear();
  if (in.empty()) return false;
  out.reserve(in.size());
  for (wchar_t c : in) {
    if (!put_utf8(out, static_cast<uint32>(c))) return false;
  }
  return true;
}

bool wstring_to_utf8_into(std::string& out, const std::wstring& in) {
  if (encode_utf8(out, in)) return true;
  out.clear();
  return false;
}

std::string wstring_to_utf8(const std::wstring& in) {
  std::string out;
  wstring_to_utf8_into(out, in);
  return out;
}

bool wstring_to_utf8_bytes(std::vector<byte>& out, const std::wstring& in) {
  out.clear();
  std::string s;
  if (!encode_utf8(s, in)) return false;
  out.assign(s.begin(), s.end());
  return true;
}

bool utf8_to_wstrings(std::vector<std::wstring>& out, const std::vector<std::string>& in) {
  out.clear();
  if (in.empty()) return false;
  out.reserve(in.size());
  for (const std::string& s : in) out.push_back(utf8_to_wstring(s));
  return true;
}

bool utf8_to_wstrings(const std::vector<std::string>& in, std::vector<std::wstring>& out) {
  return utf8_to_wstrings(out, in);
}

bool wstrings_to_utf8(std::vector<std::string>& out, const std::vector<std::wstring>& in) {
  out.clear();
  if (in.empty()) return false;
  out.reserve(in.size());
  for (const std::wstring& s : in) out.push_back(wstring_to_utf8(s));
  return true;
}

bool utf8_bytes_to_wstring_into(std::wstring& out, const std::vector<byte>& in) {
  return decode_utf8(out, std::string(in.begin(), in.end()));
}

std::wstring utf8_bytes_to_wstring(const std::vector<byte>& in) {
  std::wstring out;
  if (!utf8_bytes_to_wstring_into(out, in)) out.clear();
  return out;
}

bool utf8_to_utf16(std::vector<uint16>& out, const std::string& in) {
  out.clear();
  std::vector<uint32> cps;
  if (!utf8_to_utf32(cps, in)) return false;
  return utf32_to_utf16(out, cps);
}

bool utf8_bytes_to_utf16(std::vector<uint16>& out, const std::vector<byte>& in) {
  out.clear();
  std::wstring scratch;
  if (!utf8_bytes_to_wstring_into(scratch, in)) return false;
  return utf8_to_utf16(out, std::string(in.begin(), in.end()));
}

bool utf16_units_to_wstring_into(std::wstring& out, const std::vector<uint16>& in) {
  out.clear();
  if (in.empty()) return false;
  append_utf16_units(out, in.data(), static_cast<uint32>(in.size()), true);
  return !out.empty();
}

bool utf16_units_to_utf8_bytes(std::vector<byte>& out, const std::vector<uint16>& in) {
  out.clear();
  if (in.empty()) return false;
  std::wstring wide;
  append_utf16_units(wide, in.data(), static_cast<uint32>(in.size()), true);
  return wstring_to_utf8_bytes(out, wide);
}

std::string utf16_units_to_utf8(const std::vector<uint16>& in) {
  std::vector<byte> bytes;
  if (!utf16_units_to_utf8_bytes(bytes, in)) return std::string();
  return std::string(bytes.begin(), bytes.end());
}

std::wstring utf16_units_to_wstring(const std::vector<uint16>& in) {
  std::wstring out;
  append_utf16_units(out, in.data(), static_cast<uint32>(in.size()), false);
  return out;
}

std::string bytes_to_string(const std::vector<byte>& in) { return std::string(in.begin(), in.end()); }

bool append_bytes(std::vector<byte>& out, const std::string& in) {
  out.clear();
  if (in.empty()) return false;
  out.assign(in.begin(), in.end());
  return true;
}
