// Raw buffer scans: aligned 32-bit values, byte patterns, and line ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/buffer_scan.h"
#include "utils/byte_order.h"

namespace {

std::vector<byte> bytes(const std::string& s) { return std::vector<byte>(s.begin(), s.end()); }

const uint32* words(const std::vector<byte>& b) { return reinterpret_cast<const uint32*>(b.data()); }

}  // namespace

TEST(BufferScan, FindAllU32Strides) {
  // The value at words 0 and 3 of 16 bytes.
  std::vector<byte> buf(16, 0xee);
  store_u32(buf.data(), 0x11223344);
  store_u32(buf.data() + 12, 0x11223344);
  struct row {
    uint32 length, stride;
    bool result;
    std::vector<ulong64> hits;
  };
  // A stride of 8 misses word 3, one of 6 is cut to a word, a huge one tests
  // word 0 and stops; the partial last word of 15 bytes is not read.
  const row rows[] = {{16, 4, true, {0, 12}}, {16, 8, true, {0}},   {16, 6, true, {0, 12}}, {16, 12, true, {0, 12}},
                      {15, 4, true, {0}},     {16, 0xfffffffc, true, {0}}, {3, 4, false, {}}, {16, 2, false, {}},
                      {0, 4, false, {}}};
  for (const row& r : rows) {
    std::vector<ulong64> hits;
    EXPECT_EQ(find_all_u32(hits, words(buf), r.length, 0x11223344, r.stride), r.result)
        << r.length << "/" << r.stride;
    EXPECT_EQ(hits, r.hits) << r.length << "/" << r.stride;
  }
  // Hits accumulate across calls; a refused call leaves them alone.
  std::vector<ulong64> hits = {100};
  EXPECT_TRUE(find_all_u32(hits, words(buf), 16, 0x55555555, 4));
  EXPECT_FALSE(find_all_u32(hits, nullptr, 16, 0x11223344, 4));
  EXPECT_EQ(hits, (std::vector<ulong64>{100}));
}

TEST(BufferScan, Patterns) {
  const std::vector<byte> buf = bytes("abcabcab");
  ulong64 offset = 0;
  EXPECT_TRUE(find_pattern(buf.data(), 8, bytes("cab"), offset, 100));
  EXPECT_EQ(offset, 102u);
  EXPECT_TRUE(find_pattern(buf.data(), 8, bytes("abcabcab"), offset, 0));
  EXPECT_EQ(offset, 0u);
  EXPECT_FALSE(find_pattern(buf.data(), 8, bytes("abcabcabc"), offset, 0));
  EXPECT_FALSE(find_pattern(buf.data(), 8, std::vector<byte>(), offset, 0));
  EXPECT_FALSE(find_pattern(buf.data(), 4, bytes("cab"), offset, 0));

  // The pointer-and-length pattern gives the bare position of the same
  // first match the vector form finds.
  const std::vector<byte> name = bytes("x\xC3\xA9\xC3\xA9y");
  const struct {
    std::vector<byte> buffer, pattern;
    bool ok;
    ulong64 at;
  } offsets[] = {{buf, bytes("cab"), true, 2},      {buf, bytes("abcabcab"), true, 0},
                 {buf, bytes("bca"), true, 1},      {buf, bytes("abcabcabc"), false, 0},
                 {buf, bytes("zz"), false, 0},      {name, bytes("\xC3\xA9y"), true, 3},
                 {name, bytes("\xA9"), true, 2}};
  for (const auto& c : offsets) {
    ulong64 at = 77, with_base = 77;
    EXPECT_EQ(find_pattern_offset(c.buffer.data(), static_cast<uint32>(c.buffer.size()), c.pattern.data(),
                                  static_cast<uint32>(c.pattern.size()), at),
              c.ok);
    EXPECT_EQ(find_pattern(c.buffer.data(), static_cast<uint32>(c.buffer.size()), c.pattern, with_base, 1000),
              c.ok);
    if (c.ok) {
      EXPECT_EQ(at, c.at);
      EXPECT_EQ(with_base, c.at + 1000);
    }
  }
  ulong64 at = 77;
  const byte ab[] = {'a', 'b'};
  EXPECT_FALSE(find_pattern_offset(buf.data(), 8, nullptr, 2, at));
  EXPECT_FALSE(find_pattern_offset(buf.data(), 8, ab, 0, at));
  EXPECT_FALSE(find_pattern_offset(nullptr, 8, ab, 2, at));
  EXPECT_FALSE(find_pattern_offset(buf.data(), 0, ab, 2, at));
  EXPECT_EQ(at, 77u);

  const std::vector<byte> aa = bytes("aaaa");
  const byte pat[] = {'a', 'a'};
  std::vector<uint32> all = {9};
  EXPECT_TRUE(find_all_pattern(aa.data(), 4, pat, 2, all));
  EXPECT_EQ(all, (std::vector<uint32>{9, 0, 1, 2}));  // overlapping, appended
  std::vector<ulong64> all64 = {9};
  EXPECT_TRUE(find_all_pattern_u64(aa.data(), 4, pat, 2, all64, 10));
  EXPECT_EQ(all64, (std::vector<ulong64>{10, 11, 12}));
  EXPECT_FALSE(find_all_pattern_u64(aa.data(), 4, pat, 0, all64, 10));
  EXPECT_TRUE(all64.empty());

  // Only the first 4 bytes of each 16-byte unit are searched; the pattern
  // may start there and run on. A match at the very last position is not seen.
  std::vector<byte> blocks(48, '.');
  const byte xy[] = {'x', 'y'};
  for (int at : {3, 8, 16, 46}) {
    blocks[at] = 'x';
    blocks[at + 1] = 'y';
  }
  std::vector<ulong64> found;
  EXPECT_TRUE(find_pattern_in_blocks(found, blocks.data(), 48, xy, 2, 4, 16, false));
  EXPECT_EQ(found, (std::vector<ulong64>{3, 16}));
  found.clear();
  EXPECT_TRUE(find_pattern_in_blocks(found, blocks.data(), 48, xy, 2, 4, 16, true));
  EXPECT_EQ(found, (std::vector<ulong64>{3}));
  found.clear();
  EXPECT_FALSE(find_pattern_in_blocks(found, blocks.data() + 46, 2, xy, 2, 4, 16, false));
  EXPECT_FALSE(find_pattern_in_blocks(found, blocks.data(), 48, xy, 2, 0, 16, false));
}

TEST(BufferScan, Utf16Lengths) {
  typedef std::vector<uint16> units;
  const struct {
    units text;
    uint32 strlen, vector_length, trimmed_bytes;
  } cases[] = {{{'a', 0xE9, 0xD83D, 0xDE00, 0}, 4, 4, 8},
               {{'a', 'b'}, 2, 2, 4},
               {{'a', 0, 'b', 0, 0}, 1, 4, 6},
               {{0, 0}, 0, 1, 0},
               {{0}, 0, 0, 0}};
  for (const auto& c : cases) {
    // utf16_strlen needs a terminator; the vector forms read only the vector.
    units terminated = c.text;
    terminated.push_back(0);
    EXPECT_EQ(utf16_strlen(terminated.data()), c.strlen);
    EXPECT_EQ(utf16_vector_length(c.text), c.vector_length);
    EXPECT_EQ(utf16_trimmed_byte_length(c.text), c.trimmed_bytes);
  }
  EXPECT_EQ(utf16_strlen(nullptr), 0u);
  EXPECT_EQ(utf16_vector_length(units()), 0u);
  EXPECT_EQ(utf16_trimmed_byte_length(units()), 0u);
}

TEST(BufferScan, LineEndingStylesAndPrintableText) {
  EXPECT_TRUE(is_printable_text(bytes("ok\t\r\n ~")));
  EXPECT_FALSE(is_printable_text(bytes("no\x7f")));
  EXPECT_FALSE(is_printable_text(std::vector<byte>{}));

  struct row {
    std::string text;
    byte style;
  };
  const row rows[] = {{"a\r\nb\r\n", eol_crlf}, {"a\nb\r\n", eol_mixed}, {"abc", eol_none}, {"a\n", eol_none},
                      {"a\nb", eol_lf}, {"a\rb", eol_cr}, {"a\n\rb", eol_lfcr}, {"", eol_none}};
  for (const row& r : rows) {
    const std::vector<byte> b = bytes(r.text);
    EXPECT_EQ(detect_line_ending(b.data(), static_cast<uint32>(b.size())), r.style) << r.text;
    std::vector<uint16> units(r.text.begin(), r.text.end());
    EXPECT_EQ(detect_line_ending_utf16(units.data(), static_cast<uint32>(units.size() * 2)), r.style)
        << r.text;
  }

  const std::vector<uint16> u = {'a', '\r', 'x', 'b', '\r', '\n', 'c', '\n', 'd', '\r'};
  const uint16* p = u.data();
  int left = static_cast<int>(u.size());
  ASSERT_TRUE(next_line_utf16(p, left));  // the lone CR and 'x' are passed over
  EXPECT_EQ(p, u.data() + 6);
  EXPECT_EQ(left, 4);
  ASSERT_TRUE(next_line_utf16(p, left));
  EXPECT_EQ(p, u.data() + 8);
  EXPECT_FALSE(next_line_utf16(p, left));  // a CR in the last unit is no line end
  EXPECT_EQ(left, 2);
}

TEST(BufferScan, TextToLines) {
  struct row {
    std::string text;
    bool ok;
    std::vector<std::string> lines;
  };
  const row rows[] = {{"x\r\n\r\ny", true, {"x", "", "y"}}, {" one \n\ttwo\n", true, {"one", "two"}},
                      {"a\rb", true, {"a", "b"}},         {"a\n\rb\n\rc", true, {"a", "b", "c"}},
                      {"a\nb\r\n", false, {}},             {"no line end", false, {}}};
  for (const row& r : rows) {
    std::vector<std::string> out = {"stale"};
    const std::vector<byte> b = bytes(r.text);
    EXPECT_EQ(text_to_lines(b.data(), static_cast<uint32>(b.size()), out), r.ok) << r.text;
    EXPECT_EQ(out, r.lines) << r.text;
  }

  std::vector<std::wstring> wide;
  const std::vector<byte> utf8 = bytes("caf\xc3\xa9\nna\xc3\xafve\n");
  ASSERT_TRUE(wide_text_to_lines(utf8.data(), static_cast<uint32>(utf8.size()), wide));
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"caf\u00e9", L"na\u00efve"}));
  const std::wstring w = L"one\r\ntwo\r\n";
  ASSERT_TRUE(wide_text_to_lines(reinterpret_cast<const byte*>(w.data()),
                                 static_cast<uint32>(w.size() * sizeof(wchar_t)), wide));
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"one", L"two"}));
  EXPECT_FALSE(wide_text_to_lines(utf8.data(), 1, wide));
  EXPECT_TRUE(wide.empty());
}
