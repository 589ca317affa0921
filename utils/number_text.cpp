#include "utils/number_text.h"

#include <cstdio>

#include "utils/byte_order.h"

bool guid_to_string(std::string& out, const byte* guid) {
  out.clear();
  if (!guid) return false;
  char text[80];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(load_u32(guid)), static_cast<unsigned>(load_u16(guid + 4)),
                static_cast<unsigned>(load_u16(guid + 6)), guid[8], guid[9], guid[10], guid[11], guid[12],
                guid[13], guid[14], guid[15]);
  out = text;
  return true;
}

bool guid_to_string(std::string& out, const GUID& guid) {
  byte stored[16];
  guid_to_bytes(guid, stored);
  return guid_to_string(out, stored);
}

bool ipv4_to_string(uint32 address, std::string& out) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>((address >> 24) & 0xFF),
                static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                static_cast<int>(address & 0xFF));
  out = text;
  return true;
}

bool address_bytes_to_string(const byte* bytes, uint32 length, std::string& out) {
  out.clear();
  if (!bytes) return false;
  char text[64];
  if (length == 4) {
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  } else if (length == 6) {
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5]);
  } else if (length == 8) {
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5], bytes[6], bytes[7]);
  } else {
    return false;
  }
  out = text;
  return true;
}

bool u64_to_decimal(ulong64 value, std::string& out) {
  char text[50];
  std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
  out = text;
  return true;
}

bool int_to_decimal(int value, std::string& out) {
  out.clear();
  char text[50];
  std::snprintf(text, sizeof text, "%d", value);
  out = text;
  return true;
}

bool bytes_to_c_array(const char* name, const std::vector<byte>& data, std::string& out) {
  if (data.empty() || !name) return false;
  out = "const byte ";
  out += name;
  out += "[] = {";
  char hex[8];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ", ";
    std::snprintf(hex, sizeof hex, "0x%02x", data[i]);
    out += hex;
  }
  out += "};";
  return true;
}

bool letters_to_bytes(const byte* text, std::string& out, byte& last) {
  out.clear();
  if (!text) return false;
  for (int i = 0; i < 15; ++i) {
    out.push_back(static_cast<char>(((text[2 * i] - 'A') << 4) + (text[2 * i + 1] - 'A')));
  }
  last = static_cast<byte>(((text[30] - 'A') << 4) + (text[31] - 'A'));
  return true;
}
