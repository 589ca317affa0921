#include "utils/utf_convert.h"

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "utils/utf16_text.h"
#include "utils/utf16le.h"

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(static_cast<char>(x));
  return s;
}

TEST(Utf8Decode, WellFormedSequencesGiveTheirCodePoints) {
  struct Case { std::string in; std::wstring want; } cases[] = {
      {bytes({0x41}), L"A"}, {bytes({0xC3, 0xA9}), std::wstring(1, 0xE9)},
      {bytes({0xE2, 0x82, 0xAC}), std::wstring(1, 0x20AC)}, {bytes({0xF0, 0x9F, 0x98, 0x80}), std::wstring(1, 0x1F600)},
      {bytes({0xF4, 0x8F, 0xBF, 0xBF}), std::wstring(1, 0x10FFFF)},
      // Encoded surrogates stay decodable so that every wide text the
      // encoder writes comes back unchanged.
      {bytes({0xED, 0xA0, 0x80}), std::wstring(1, 0xD800)},
  };
  for (const Case& c : cases) {
    std::wstring out;
    EXPECT_TRUE(decode_utf8(out, c.in)) << c.in;
    EXPECT_EQ(out, c.want);
    EXPECT_EQ(utf8_to_wstring(c.in), c.want);
    EXPECT_EQ(wstring_to_utf8(c.want), c.in);
    EXPECT_EQ(utf8_length(c.in), 1);
  }
}

TEST(Utf8Decode, MalformedTextFailsAndTheByValueFormGivesNothing) {
  // After "abc": cut short (two), a stray continuation, a continuation of
  // the wrong form, five- and invalid lead bytes, overlong forms of NUL and
  // '/' in two, three and four bytes, and 0x110000 and 0x1FFFFF.
  const std::string cases[] = {
      bytes({0xC3}),       bytes({0xE2, 0x82}),       bytes({0x80}),       bytes({0xC3, 0x41}),
      bytes({0xF8, 0x80, 0x80, 0x80, 0x80}),          bytes({0xFF}),       bytes({0xC0, 0x80}),
      bytes({0xC0, 0xAF}), bytes({0xE0, 0x80, 0xAF}), bytes({0xF0, 0x80, 0x80, 0xAF}),
      bytes({0xF4, 0x90, 0x80, 0x80}),                bytes({0xF7, 0xBF, 0xBF, 0xBF}),
  };
  for (const std::string& fault : cases) {
    const std::string in = "abc" + fault;
    std::wstring out;
    EXPECT_FALSE(decode_utf8(out, in));
    EXPECT_EQ(out, L"abc") << "the characters before the fault stay";
    EXPECT_EQ(utf8_to_wstring(in), L"");
    EXPECT_EQ(utf8_length(in), 0);
    std::vector<uint16> units;
    EXPECT_FALSE(utf8_to_utf16(units, in));
  }
  std::wstring out = L"old";
  EXPECT_FALSE(decode_utf8(out, ""));
  EXPECT_EQ(out, L"");
}

TEST(Utf8Encode, UnencodableTextGivesNothingNotAPrefix) {
  const wchar_t bad[] = {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)};
  for (wchar_t c : bad) {
    std::wstring in = L"ab";
    in.push_back(c);
    in += L"cd";
    EXPECT_EQ(wstring_to_utf8(in), "");
    std::string out = "old";
    EXPECT_FALSE(wstring_to_utf8_into(out, in));
    EXPECT_EQ(out, "");
    std::vector<byte> v{1};
    EXPECT_FALSE(wstring_to_utf8_bytes(v, in));
    EXPECT_TRUE(v.empty());
    std::vector<std::string> list;
    EXPECT_TRUE(wstrings_to_utf8(list, {L"x", in}));
    EXPECT_EQ(list, (std::vector<std::string>{"x", ""}));
  }
}

TEST(Utf16, PairsJoinAndBadUnitsFail) {
  std::string s;
  EXPECT_TRUE(utf16_to_utf8(s, {0xD83D, 0xDE00}));
  EXPECT_EQ(s, bytes({0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_TRUE(utf16_to_utf8(s, {0xDC00}));
  EXPECT_EQ(s, bytes({0xED, 0xB0, 0x80}));
  EXPECT_FALSE(utf16_to_utf8(s, {0xD83D}));
  EXPECT_FALSE(utf16_to_utf8(s, {0x41, 0xD83D, 0x0041}));
  EXPECT_EQ(s, "A");

  std::vector<uint16> u;
  EXPECT_TRUE(utf32_to_utf16(u, {0x1F600, 0xD7FF, 0xE000, 0xFFFF}));
  EXPECT_EQ(u, (std::vector<uint16>{0xD83D, 0xDE00, 0xD7FF, 0xE000, 0xFFFF}));
  EXPECT_FALSE(utf32_to_utf16(u, {0xDC00}));
  EXPECT_TRUE(u.empty());
  EXPECT_FALSE(utf32_to_utf16(u, {0x110000}));

  std::vector<uint32> cps;
  EXPECT_FALSE(utf16le_bytes_to_utf32(cps, {0x3D, 0xD8, 0x00}));
  EXPECT_TRUE(utf16le_bytes_to_utf32(cps, {0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(cps, (std::vector<uint32>{0x1F600}));
}

// Every output shape of the same text: the UTF-8 string, its bytes, its
// code points, its UTF-16 units and the wide string must all describe it.
TEST(UtfForms, EveryShapeOfOneTextAgrees) {
  const struct {
    std::string utf8;
    std::vector<uint32> cps;
    std::vector<uint16> units;
  } cases[] = {{"A", {0x41}, {0x41}},
               {bytes({0x63, 0x61, 0x66, 0xC3, 0xA9}), {'c', 'a', 'f', 0xE9}, {'c', 'a', 'f', 0xE9}},
               {bytes({0xE2, 0x82, 0xAC, 0x20}), {0x20AC, 0x20}, {0x20AC, 0x20}},
               {bytes({0x78, 0xF0, 0x9F, 0x98, 0x80}), {0x78, 0x1F600}, {0x78, 0xD83D, 0xDE00}},
               {bytes({0xF4, 0x8F, 0xBF, 0xBF}), {0x10FFFF}, {0xDBFF, 0xDFFF}}};
  for (const auto& c : cases) {
    const std::wstring wide(c.cps.begin(), c.cps.end());
    const std::vector<byte> raw(c.utf8.begin(), c.utf8.end());

    std::vector<uint32> cps{7};
    EXPECT_TRUE(utf8_to_utf32(cps, c.utf8)) << c.utf8;
    EXPECT_EQ(cps, c.cps);
    std::string utf8 = "stale";
    EXPECT_TRUE(utf32_to_utf8(utf8, c.cps));
    EXPECT_EQ(utf8, c.utf8);
    utf8 = "stale";
    EXPECT_TRUE(encode_utf8(utf8, wide));
    EXPECT_EQ(utf8, c.utf8);
    cps.assign(1, 7);
    EXPECT_TRUE(utf16_to_utf32(cps, c.units));
    EXPECT_EQ(cps, c.cps);

    std::wstring w = L"stale";
    EXPECT_TRUE(utf8_to_wstring_into(w, c.utf8));
    EXPECT_EQ(w, wide);
    w = L"stale";
    EXPECT_TRUE(utf8_bytes_to_wstring_into(w, raw));
    EXPECT_EQ(w, wide);
    w = L"stale";
    EXPECT_TRUE(utf16_units_to_wstring_into(w, c.units));
    EXPECT_EQ(w, wide);

    std::vector<uint16> units{7};
    EXPECT_TRUE(utf8_bytes_to_utf16(units, raw));
    EXPECT_EQ(units, c.units);
    std::vector<byte> out{7};
    EXPECT_TRUE(utf16_units_to_utf8_bytes(out, c.units));
    EXPECT_EQ(out, raw);
    out.assign(1, 7);
    EXPECT_TRUE(append_bytes(out, c.utf8));
    EXPECT_EQ(out, raw);
  }
}

TEST(UtfForms, FailuresKeepWhatCameBeforeTheFault) {
  std::vector<uint32> cps{7};
  EXPECT_FALSE(utf8_to_utf32(cps, "ab" + bytes({0xC3})));
  EXPECT_EQ(cps, (std::vector<uint32>{'a', 'b'}));
  EXPECT_FALSE(utf8_to_utf32(cps, ""));
  EXPECT_TRUE(cps.empty());

  std::string utf8 = "stale";
  EXPECT_FALSE(utf32_to_utf8(utf8, {0xE9, 0x110000, 0x41}));
  EXPECT_EQ(utf8, bytes({0xC3, 0xA9}));
  EXPECT_TRUE(utf32_to_utf8(utf8, {0xD800}));
  EXPECT_EQ(utf8, bytes({0xED, 0xA0, 0x80})) << "a surrogate value is written like any other";
  EXPECT_FALSE(encode_utf8(utf8, std::wstring(L"\u00e9") + static_cast<wchar_t>(-1)));
  EXPECT_EQ(utf8, bytes({0xC3, 0xA9}));
  EXPECT_FALSE(encode_utf8(utf8, L""));
  EXPECT_EQ(utf8, "");

  cps.assign(1, 7);
  EXPECT_FALSE(utf16_to_utf32(cps, {0x41, 0xD83D}));
  EXPECT_EQ(cps, (std::vector<uint32>{0x41}));
  EXPECT_FALSE(utf16_to_utf32(cps, {0xD83D, 0x42}));
  EXPECT_TRUE(cps.empty());
  EXPECT_TRUE(utf16_to_utf32(cps, {0xDC00, 0x42}));
  EXPECT_EQ(cps, (std::vector<uint32>{0xDC00, 0x42})) << "a lone low surrogate is its own value";

  std::wstring w = L"stale";
  EXPECT_FALSE(utf8_to_wstring_into(w, "x" + bytes({0x80})));
  EXPECT_EQ(w, L"x");
  EXPECT_FALSE(utf8_bytes_to_wstring_into(w, {'y', 0xE2, 0x82}));
  EXPECT_EQ(w, L"y");
  EXPECT_FALSE(utf8_bytes_to_wstring_into(w, {}));
  EXPECT_EQ(w, L"");

  std::vector<uint16> units{7};
  EXPECT_FALSE(utf8_bytes_to_utf16(units, {'a', 0xC3}));
  EXPECT_TRUE(units.empty()) << "bytes that do not decode give nothing";
  units.assign(1, 7);
  EXPECT_FALSE(utf8_bytes_to_utf16(units, {0xED, 0xA0, 0x80}));
  EXPECT_TRUE(units.empty()) << "a surrogate value has no UTF-16 form";

  // The unit forms stop at a NUL unit; nothing before it is false.
  w = L"stale";
  EXPECT_TRUE(utf16_units_to_wstring_into(w, {'a', 0, 'b'}));
  EXPECT_EQ(w, L"a");
  EXPECT_FALSE(utf16_units_to_wstring_into(w, {0, 'b'}));
  EXPECT_EQ(w, L"");
  std::vector<byte> out{7};
  EXPECT_TRUE(utf16_units_to_utf8_bytes(out, {0xE9, 0, 'b'}));
  EXPECT_EQ(out, (std::vector<byte>{0xC3, 0xA9}));
  EXPECT_FALSE(utf16_units_to_utf8_bytes(out, {}));
  EXPECT_TRUE(out.empty());
  out.assign(1, 7);
  EXPECT_FALSE(append_bytes(out, ""));
  EXPECT_TRUE(out.empty());

  std::vector<std::wstring> list{L"stale"};
  EXPECT_TRUE(utf8_to_wstrings(list, std::vector<std::string>{"x", bytes({0xC3}), bytes({0xC3, 0xA9})}));
  EXPECT_EQ(list, (std::vector<std::wstring>{L"x", L"", L"\u00e9"}));
  EXPECT_FALSE(utf8_to_wstrings(list, std::vector<std::string>{}));
  EXPECT_TRUE(list.empty());
}

// On-disk names: at most length / 2 units (500 for -1), stopping at NUL;
// valid pairs joined, unpaired surrogates U+FFFD.
TEST(Utf16Widening, NamesFollowTheLengthRulesAndComeOutAsValidText) {
  const uint16 abnd[] = {0x41, 0x42, 0x00, 0x44};
  const uint16 emoji[] = {0x61, 0xD83D, 0xDE00, 0x62};
  const uint16 lone_high[] = {0x61, 0xD83D, 0x62};
  const uint16 lone_low[] = {0xDE00, 0x62};
  const std::wstring face(1, static_cast<wchar_t>(0x1F600));
  const std::wstring fffd(1, static_cast<wchar_t>(0xFFFD));
  struct Case { const uint16* units; int length; std::wstring want; } cases[] = {
      {abnd, 8, L"AB"}, {abnd, 3, L"A"}, {abnd, 1, L""}, {abnd, 0, L""}, {abnd, -2, L""}, {abnd, -1, L"AB"},
      {nullptr, 8, L""}, {emoji, 8, L"a" + face + L"b"},
      {emoji, 4, L"a" + fffd},  // the limit cuts the pair: its high half alone is unpaired
      {lone_high, 6, L"a" + fffd + L"b"}, {lone_low, 4, fffd + L"b"},
  };
  for (const Case& c : cases) {
    std::wstring out = L"old";
    unicode16_to_wstring(c.units, out, c.length);
    EXPECT_EQ(out, c.want) << c.length;
    // The UTF-8 form takes its length unsigned: of the negative ones only
    // -1 (all bits set) means the same there.
    if (c.length < -1) continue;
    std::string utf8 = "old";
    unicode16_to_string(c.units, utf8, static_cast<uint32>(c.length));
    EXPECT_EQ(utf8, wstring_to_utf8(c.want));
    EXPECT_EQ(utf8_to_wstring(utf8), c.want) << "every name must decode back";
  }

  std::vector<uint16> long_name(600, 0x78);
  std::wstring out;
  unicode16_to_wstring(long_name.data(), out, -1);
  EXPECT_EQ(out.size(), 500u);

  // Byte lengths of 2 GiB and more are lengths like any other: the text
  // ends at its NUL. Only all bits set keeps the 500-unit cap.
  long_name.push_back(0);
  const struct { const uint16* units; uint32 length; size_t want; } unsized[] = {
      {long_name.data(), 0x80000000u, 600}, {long_name.data(), 0xFFFFFFFEu, 600},
      {long_name.data(), 0xFFFFFFFFu, 500}, {long_name.data(), 1201, 600}, {long_name.data(), 1199, 599},
      {abnd, 0x80000000u, 2},
  };
  for (const auto& c : unsized) {
    std::string utf8 = "old";
    unicode16_to_string(c.units, utf8, c.length);
    EXPECT_EQ(utf8.size(), c.want) << c.length;
  }
  std::string utf8;
  unicode16_to_string(long_name.data(), utf8, -1);
  EXPECT_EQ(utf8, std::string(500, 'x')) << "-1 is all bits set";
  EXPECT_EQ(utf16_units_to_wstring({0xD83D, 0xDE00, 0, 0x41}), face + std::wstring(1, 0) + L"A");
}

TEST(Utf16Widening, UnalignedBufferIsReadSafely) {
  alignas(4) byte raw[9] = {0, 'h', 0, 'i', 0, 0, 0, 0, 0};
  std::wstring out;
  unicode16_to_wstring(reinterpret_cast<const uint16*>(raw + 1), out, 8);
  EXPECT_EQ(out, L"hi");
}

TEST(ByteWidening, BytesAreSignExtendedAndNarrowedToTheLowByte) {
  std::wstring w;
  widen_string(std::string("a\xE9", 2), w);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[1], static_cast<wchar_t>(-23));
  std::string n;
  narrow_wstring(std::wstring(1, 0x141), n);
  EXPECT_EQ(n, "A");
}

TEST(Utf16Text, IntoAndByValueFormsAgreeWithTheCore) {
  const uint16 plain[] = {'A', 'B', 0, 'D'};
  const uint16 accents[] = {'c', 0xE9, 0xD83D, 0xDE00, 0};
  const uint16 lone[] = {0xDC00, 'x', 0};
  const uint16 empty[] = {0};
  for (const uint16* units : {plain, accents, lone, empty}) {
    std::string core;
    unicode16_to_string(units, core, -1);
    std::string into = "stale";
    EXPECT_EQ(unicode16_cstr_to_string_into(units, into), &into);
    EXPECT_EQ(into, core);
    EXPECT_EQ(unicode16_cstr_to_string(units), core);
  }
  std::string out = "stale";
  EXPECT_EQ(unicode16_cstr_to_string_into(accents, out), &out);
  EXPECT_EQ(out, bytes({'c', 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(unicode16_cstr_to_string_into(nullptr, out), &out);
  EXPECT_EQ(out, "");

  const std::wstring texts[] = {L"plain", L"caf\u00e9 \U0001F600", L"", std::wstring(L"ab") + wchar_t(0x110000)};
  for (const std::wstring& w : texts) {
    EXPECT_EQ(wstring_to_string(w), wstring_to_utf8(w));
    std::string narrow = "stale";
    EXPECT_EQ(wstring_to_string_into(w, narrow), &narrow);
    EXPECT_EQ(narrow, wstring_to_utf8(w));
  }
  EXPECT_EQ(wstring_to_string(L"caf\u00e9"), bytes({'c', 'a', 'f', 0xC3, 0xA9}));
}

TEST(Utf16Text, LowerCasingReadsToTheNulHoweverFar) {
  // The process never sets a locale: the default one folds A to Z only.
  std::vector<uint16> units;
  std::wstring want;
  for (int i = 0; i < 700; ++i) {
    units.push_back(i % 2 ? 'A' : 0xC9);
    want += i % 2 ? L'a' : static_cast<wchar_t>(0xC9);
  }
  units.insert(units.end(), {'X', 0xD83D, 0xDE00, 0, 'Q'});
  want += L"x\U0001F600";
  const std::wstring got = utf16_to_lower_w(units.data());
  EXPECT_EQ(got.size(), want.size()) << "every unit up to the NUL, not the first 500";
  EXPECT_TRUE(got == want);
  EXPECT_EQ(utf16_to_lower_w(nullptr), L"");
  const uint16 none[] = {0, 'A'};
  EXPECT_EQ(utf16_to_lower_w(none), L"");
}

TEST(Utf16Text, SingleCharacterEncodersAtTheFormBoundaries) {
  const struct {
    uint16 unit;
    std::string want;
  } units[] = {
      {0x00, std::string(1, '\0')}, {0x41, "A"}, {0x7F, "\x7F"},               // one byte
      {0x80, bytes({0xC2, 0x80})}, {0xE9, bytes({0xC3, 0xA9})}, {0x7FF, bytes({0xDF, 0xBF})},  // two
      {0x800, bytes({0xE0, 0xA0, 0x80})}, {0x20AC, bytes({0xE2, 0x82, 0xAC})}, {0xFFFF, bytes({0xEF, 0xBF, 0xBF})},
      // A surrogate half is one unit like any other, three bytes.
      {0xD800, bytes({0xED, 0xA0, 0x80})}, {0xDBFF, bytes({0xED, 0xAF, 0xBF})}, {0xDC00, bytes({0xED, 0xB0, 0x80})},
      {0xDFFF, bytes({0xED, 0xBF, 0xBF})},
  };
  for (const auto& u : units) EXPECT_EQ(utf8_of_unit(u.unit), u.want) << std::hex << u.unit;
  // Outside the surrogates every unit encodes as the text converter does.
  int differ = 0;
  for (uint32 u = 1; u <= 0xFFFF; ++u)
    if ((u < 0xD800 || u > 0xDFFF) && utf8_of_unit(static_cast<uint16>(u)) != wstring_to_utf8(std::wstring(1, static_cast<wchar_t>(u))))
      ++differ;
  EXPECT_EQ(differ, 0);

  const struct {
    char c;
    std::string want;
  } latin1[] = {{'A', "A"}, {'\x7F', "\x7F"}, {'\x80', bytes({0xC2, 0x80})}, {'\xBF', bytes({0xC2, 0xBF})},
                {'\xC0', bytes({0xC3, 0x80})}, {'\xE9', bytes({0xC3, 0xA9})}, {'\xFF', bytes({0xC3, 0xBF})}};
  for (const auto& l : latin1) EXPECT_EQ(utf8_of_latin1_char(l.c), l.want) << static_cast<int>(l.c);
  EXPECT_EQ(latin1_to_utf8("caf\xE9 \xFF"), "caf" + bytes({0xC3, 0xA9}) + " " + bytes({0xC3, 0xBF}));
  EXPECT_EQ(latin1_to_utf8(""), "");
  EXPECT_EQ(latin1_to_utf8(nullptr), "");
}

TEST(ByteWidening, TerminatedAndCountedFormsAgree) {
  const char* texts[] = {"plain", "caf\xC3\xA9", "\x80\xFF", ""};
  for (const char* t : texts) {
    std::wstring counted, terminated = L"stale";
    widen_string(t, counted);
    widen_cstring(t, terminated);
    EXPECT_EQ(terminated, counted) << t;
  }
  std::wstring w;
  widen_cstring("a\xE9", w);
  EXPECT_EQ(w, (std::wstring{L'a', static_cast<wchar_t>(-23)}));
  widen_cstring("ab\0cd", w);
  EXPECT_EQ(w, L"ab") << "the text ends at its zero byte";
}

TEST(ListConversion, EachElementOnItsOwn) {
  std::vector<std::wstring> out{L"stale"};
  EXPECT_TRUE(utf8_to_wstrings(std::vector<std::string>{"x", "\xC3", ""}, out));
  EXPECT_EQ(out, (std::vector<std::wstring>{L"x", L"", L""}));
  EXPECT_FALSE(utf8_to_wstrings(std::vector<std::string>{}, out));
  EXPECT_TRUE(out.empty());
}

// A formatted text the memory left cannot hold gives null and no units,
// whether the text itself or its units find no room (16 or 64 MiB left
// for 48 MiB of text, 96 MiB of units); a short one is formatted after.
// In a child, whose address space is cut.
TEST(Utf16Buffers, FormattingWithoutMemoryGivesNull) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  for (const uint64 headroom : {16ull << 20, 64ull << 20}) {
    const int status = quor_test::exit_status_in_child(
        [headroom] {
          const std::string text(48u << 20, 'a');
          std::vector<uint16> out{7};
          if (!quor_test::limit_address_space(headroom)) return 2;
          if (format_utf16_crlf(out, "%s\n", text.c_str()) != nullptr || !out.empty()) return 3;
          const uint16* small = format_utf16_crlf(out, "%d\n", 42);
          return small == out.data() && out == std::vector<uint16>{'4', '2', 13, 10, 0} ? 0 : 4;
        },
        quor_test::scratch_dir() + "/format_memory.err");
    EXPECT_EQ(status, 0) << headroom << (status == 253 ? ": the failed allocation left the formatter" : "");
  }
}

TEST(Utf16Buffers, LineFeedsBecomeCrLfAndBytesAreSignExtended) {
  typedef std::vector<uint16> units;
  units out{7};
  const struct {
    const char* text;
    units want;
  } narrow[] = {{"a\nb", {'a', 13, 10, 'b', 0}},
                {"\n\n", {13, 10, 13, 10, 0}},
                {"\r\n", {13, 13, 10, 0}},
                {"\xE9x", {0xFFE9, 'x', 0}}};
  for (const auto& c : narrow) {
    const uint16* got = cstr_to_utf16_crlf(out, c.text);
    EXPECT_EQ(got, out.data()) << c.text;
    EXPECT_EQ(out, c.want) << c.text;
    out.assign(1, 7);
    got = string_to_utf16_crlf(out, c.text);
    EXPECT_EQ(got, out.data()) << c.text;
    EXPECT_EQ(out, c.want) << c.text;
  }
  EXPECT_EQ(cstr_to_utf16_crlf(out, ""), nullptr);
  EXPECT_TRUE(out.empty());
  out.assign(1, 7);
  EXPECT_EQ(cstr_to_utf16_crlf(out, nullptr), nullptr);
  EXPECT_TRUE(out.empty());

  // The wide forms cut each character to 16 bits and add no NUL unit.
  const uint16* got = wcs_to_utf16_crlf(out, L"a\n\U0001F600");
  EXPECT_EQ(got, out.data());
  EXPECT_EQ(out, (units{'a', 13, 10, 0xF600}));
  got = wstring_to_utf16_crlf(out, L"\x20AC\n");
  EXPECT_EQ(got, out.data());
  EXPECT_EQ(out, (units{0x20AC, 13, 10}));
  EXPECT_EQ(wstring_to_utf16_crlf(out, L""), nullptr);
  EXPECT_TRUE(out.empty());

  // Short texts are formatted on the stack, long ones on the heap: both whole.
  got = format_utf16_crlf(out, "%d\n%s", 42, "x");
  EXPECT_EQ(got, out.data());
  EXPECT_EQ(out, (units{'4', '2', 13, 10, 'x', 0}));
  const std::string long_text(40, 'z');
  EXPECT_NE(format_utf16_crlf(out, "%s\n", long_text.c_str()), nullptr);
  units want(40, 'z');
  want.insert(want.end(), {13, 10, 0});
  EXPECT_EQ(out, want);
  EXPECT_EQ(format_utf16_crlf(out, "%s", ""), nullptr);
}

TEST(Utf16Buffers, BytesIntoThirtyTwoBitEntries) {
  uint32 buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(string_to_u32_buffer(std::string("a\xE9\x80", 3), buffer, 3), buffer);
  EXPECT_EQ(buffer[0], 0x61u);
  EXPECT_EQ(buffer[1], 0xFFFFFFE9u);
  EXPECT_EQ(buffer[2], 0xFFFFFF80u);
  EXPECT_EQ(buffer[3], 0u);
  uint32 small[3] = {9, 9, 9};
  EXPECT_EQ(string_to_u32_buffer("abc", small, 2), nullptr);
  EXPECT_EQ(small[0], 0u) << "the first entry is cleared even when the text is refused";
  EXPECT_EQ(small[1], 9u);
  EXPECT_EQ(string_to_u32_buffer("", small, 0), small);
  EXPECT_EQ(small[0], 0u);
}

}  // namespace
