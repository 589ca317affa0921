// GUID text both ways, IPv4/IPv6 and NetBIOS text, and Base64 decoding of
// short and filtered texts (coreutils' texts are decoded beside the encoder).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "utils/address_text.h"
#include "utils/base64.h"
#include "utils/guid_text.h"
#include "utils/number_text.h"

namespace {

std::vector<byte> from_hex(const std::string& h) {
  std::vector<byte> v;
  for (size_t i = 0; i + 1 < h.size(); i += 2) v.push_back(static_cast<byte>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return v;
}

TEST(GuidText, BothWaysOnKnownValues) {
  // Stored bytes and their text, as Python's uuid.UUID(bytes_le=...) gives.
  const struct { const char* stored; const char* text; } cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "03020100-0504-0706-0809-0a0b0c0d0e0f"},
      {"ffeeddccbbaa99887766554433221100", "ccddeeff-aabb-8899-7766-554433221100"},
      {"4142434478563412a1b2c3d4e5f60718", "44434241-5678-1234-a1b2-c3d4e5f60718"},
  };
  for (const auto& c : cases) {
    const std::vector<byte> guid = from_hex(c.stored);
    char buf[64];
    ASSERT_TRUE(guid_text(buf, 37, guid.data()));
    EXPECT_STREQ(buf, c.text);
    std::string s;
    guid_to_string(s, guid.data());
    EXPECT_EQ(s, c.text);
    std::vector<byte> back{1};
    ASSERT_TRUE(guid_from_text(c.text, back));
    EXPECT_EQ(back, guid) << c.text;
  }
  // The same texts from GUID records, whose fields the text shows in order.
  const struct { GUID guid; const char* text; } records[] = {
      {{0x03020100, 0x0504, 0x0706, {0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}},
       "03020100-0504-0706-0809-0a0b0c0d0e0f"},
      {{0xccddeeff, 0xaabb, 0x8899, {0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00}},
       "ccddeeff-aabb-8899-7766-554433221100"},
      {{0x0000000a, 0x000b, 0x000c, {0, 0, 0, 0, 0, 0, 0, 0x0d}}, "0000000a-000b-000c-0000-00000000000d"},
  };
  for (const auto& r : records) {
    std::string s = "stale";
    ASSERT_TRUE(guid_to_string(s, r.guid));
    EXPECT_EQ(s, r.text);
  }
  const std::vector<byte> abcd = from_hex("4142434478563412a1b2c3d4e5f60718");
  char buf[64];
  ASSERT_TRUE(guid_text(buf, 42, abcd.data()));
  EXPECT_STREQ(buf, "44434241-5678-1234-a1b2-c3d4e5f60718 ABCD");
  ASSERT_TRUE(guid_text(buf, 40, abcd.data()));
  EXPECT_STREQ(buf, "44434241-5678-1234-a1b2-c3d4e5f60718");
  EXPECT_FALSE(guid_text(buf, 36, abcd.data()));
  const std::vector<byte> dots = from_hex("307a2f7b000000000000000000000000");
  ASSERT_TRUE(guid_text(buf, 60, dots.data()));
  EXPECT_STREQ(buf + 37, "0z..");

  std::vector<byte> out{1};
  EXPECT_FALSE(guid_from_text("0123456789abcdef01234", out));
  EXPECT_TRUE(out.empty());
  // Any separator; a field that cannot be read leaves the rest zero.
  ASSERT_TRUE(guid_from_text("{44434241_5678_1234_zzzz_c3d4e5f60718}", out));
  EXPECT_EQ(out, from_hex("00000000000000000000000000000000"));
  ASSERT_TRUE(guid_from_text("44434241 5678 1234 a1b2 zzzz", out));
  EXPECT_EQ(out, from_hex("4142434478563412a1b20000000000000"));
}

TEST(AddressText, Ipv6ZeroRuns) {
  const struct {
    std::vector<uint16> groups;  // host values, stored below in network order
    const char* text;
  } cases[] = {{{1, 0, 0, 2}, "1::2"}, {{0, 0, 0, 1}, "::1"}, {{1, 0, 2}, "1::2"}, {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
               {{1, 0, 2, 0, 3}, "1::2:0:3"}, {{0x2001, 0xdb8, 0, 0, 0, 0, 0xff00, 0x42}, "2001:db8::ff00:42"},
               {{0xfe80, 0, 0, 0, 0, 0, 0, 0}, "fe80::"}, {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7::"}, {{0}, "::"}};
  for (const auto& c : cases) {
    std::vector<byte> raw;
    for (uint16 g : c.groups) raw.insert(raw.end(), {static_cast<byte>(g >> 8), static_cast<byte>(g)});
    std::vector<uint16> net(raw.size() / 2);
    std::memcpy(net.data(), raw.data(), raw.size());
    std::string out = "old";
    ASSERT_TRUE(ipv6_text(net.data(), static_cast<int>(raw.size()), out));
    EXPECT_EQ(out, c.text);
  }
  std::string out;
  EXPECT_FALSE(ipv6_text(nullptr, 16, out));
  std::wstring w;
  EXPECT_TRUE(ipv4_text_w(0xC0A80001, w));
  EXPECT_EQ(w, L"192.168.0.1");
}

TEST(AddressText, NetbiosNames) {
  char out[33] = {};
  ASSERT_TRUE(netbios_encode_name(reinterpret_cast<const byte*>("FRED"), 4, 0x20, out));
  EXPECT_EQ(std::string(out, 32), "EGFCEFEE" + std::string("CACACACACACACACACACACA") + "CA");
  ASSERT_TRUE(netbios_encode_name(reinterpret_cast<const byte*>("ABCDEFGHIJKLMNO"), 15, 0x1B, out));
  EXPECT_EQ(std::string(out, 32).find("CA"), std::string::npos);
  EXPECT_EQ(std::string(out + 30, 2), "BL");
  ASSERT_TRUE(netbios_encode_name(nullptr, 0, 0, out));
  EXPECT_EQ(std::string(out, 32), std::string("CACACACACACACACACACACACACACA") + "CAAA");
  EXPECT_FALSE(netbios_encode_name(reinterpret_cast<const byte*>("0123456789abcdef"), 16, 0, out));
}

TEST(Base64Decode, ShortLastGroupsAndFiltering) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {{"QUJD", "ABC"}, {"QUI=", "AB"}, {"QQ==", "A"}, {"QUI", "AB"}, {"QQ", "A"}, {"Q", ""},
               {"QU\r\nJD\n", "ABC"}, {"QUJDRA", "ABCD"}, {"//8=", "\xff\xff"}, {"+A==", "\xf8"}};
  for (const auto& c : cases) {
    // An exact-size copy: reading past the filtered text would show.
    std::unique_ptr<char[]> text(new char[c.text.size()]);
    std::memcpy(text.get(), c.text.data(), c.text.size());
    std::vector<byte> out{9};
    ASSERT_TRUE(base64_decode(text.get(), static_cast<int>(c.text.size()), out));
    EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes) << c.text;
  }
  // Each character's value, and every character outside the alphabet
  // (the slash among them) counts as 63.
  const struct {
    char c;
    byte value;
  } values[] = {{'A', 0}, {'Z', 25}, {'a', 26}, {'z', 51}, {'0', 52}, {'9', 61}, {'+', 62}, {'/', 63},
                {'=', 63}, {'-', 63}, {'\0', 63}, {'\xC3', 63}};
  for (const auto& v : values) EXPECT_EQ(base64_value(static_cast<byte>(v.c)), v.value) << int(v.c);
  std::vector<byte> out{9};
  EXPECT_FALSE(base64_decode(nullptr, 4, out));
  EXPECT_FALSE(base64_decode("QUJD", 0, out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
