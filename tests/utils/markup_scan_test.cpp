// Substitution tables, quoted values, markers, tag attributes, byte
// patterns, HTML escaping, and markup splitting with tag normalising.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "utils/html_escape.h"
#include "utils/markup_scan.h"
#include "utils/markup_split.h"

namespace {

// MemAvailable of /proc/meminfo in bytes; 0 when it cannot be read.
unsigned long long available_memory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  unsigned long long kib = 0;
  while (meminfo >> key >> kib) {
    if (key == "MemAvailable:") return kib << 10;
    meminfo.ignore(64, '\n');
  }
  return 0;
}

std::string sub(const std::string& text, bool nocase, bool escape) {
  std::string out = "old";
  if (!substitute_strings(reinterpret_cast<const byte*>(text.data()), static_cast<int>(text.size()), {"&amp;", "ab"},
                          {"&", "X"}, out, nocase, escape))
    return "false:" + out;
  return out;
}

TEST(MarkupScan, SubstitutionTables) {
  EXPECT_EQ(sub("a&amp;b", false, false), "a&b");
  EXPECT_EQ(sub("a&AMP;b", true, false), "a&b");
  EXPECT_EQ(sub("a&AMP;b", false, false), "a&AMP;b");
  EXPECT_EQ(sub(std::string("a\x01\tb\r\n", 6), false, true), "a%01%09b\r\n");
  EXPECT_EQ(sub("x&am", false, false), "x&am");  // a pattern never runs past the end
  EXPECT_EQ(sub("", false, false), "false:");
  std::string out = "old";
  EXPECT_FALSE(substitute_strings(reinterpret_cast<const byte*>("a"), 1, {"a"}, {}, out, false, false));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(substitute_strings(reinterpret_cast<const byte*>("a"), -1, {"a"}, {"b"}, out, false, false));
  // An empty pattern never matches (and never stalls the walk).
  EXPECT_TRUE(substitute_strings(reinterpret_cast<const byte*>("ab"), 2, {""}, {"z"}, out, false, false));
  EXPECT_EQ(out, "ab");
  std::wstring w;
  EXPECT_TRUE(substitute_strings_w(L"A&AMP;\u0141\u0100", 8, {L"&amp;"}, {L"&"}, w, true, true));
  EXPECT_EQ(w, L"A&\u0141%00");
}

TEST(MarkupScan, QuotedValuesMarkersAttributes) {
  std::string v;
  const char link[] = "<a href=\"x.html\">";
  EXPECT_TRUE(get_quoted_value(link, sizeof link - 1, "href", v));
  EXPECT_EQ(v, "x.html");
  EXPECT_FALSE(get_quoted_value(link, 12, "href", v));  // closing quote beyond the length
  // The closing quote (index 15) may stand exactly `length` bytes after the start.
  EXPECT_TRUE(get_quoted_value(link, 15, "href", v));
  EXPECT_EQ(v, "x.html");
  EXPECT_FALSE(get_quoted_value(link, 14, "href", v));
  EXPECT_EQ(v, "");
  const char empty[] = "a=\"\"";
  EXPECT_TRUE(get_quoted_value(empty, 3, "a", v));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(get_quoted_value(link, sizeof link - 1, "src", v));
  // Only a missing name is refused: an empty one is found at the start.
  EXPECT_TRUE(get_quoted_value(link, sizeof link - 1, "", v));
  EXPECT_EQ(v, "x.html");
  EXPECT_FALSE(get_quoted_value(link, sizeof link - 1, nullptr, v));
  EXPECT_EQ(v, "");

  const struct {
    const char* text;
    const char *anchor, *start, *end;
    bool ok;
    const char* want;
  } between[] = {
      {"head [start]value[end] tail", "head", "[s", "[end", true, "start]value"},
      {"head [start]value[end] tail", "nowhere", "[", "]", false, ""},
      {"head [start]value[end] tail", nullptr, "{", "}", false, ""},
      // Only missing markers are refused. An empty end marker ends the
      // value where it begins; an empty start marker stands at the search
      // point, so the value begins one character past it.
      {"a[b]c", nullptr, "[", "", true, ""},
      {"a[b]c", nullptr, "", "]", true, "[b"},
      {"a[b]c", "a", "", "]", true, "b"},
      {"a[b]c", nullptr, nullptr, "]", false, ""},
      {"a[b]c", nullptr, "[", nullptr, false, ""},
      // Past the anchor at the very end there is no character to begin at.
      {"a[b]c", "c", "", "", false, ""},
  };
  for (const auto& b : between) {
    std::vector<char> text(b.text, b.text + std::strlen(b.text) + 1);
    v = "stale";
    EXPECT_EQ(extract_between(text.data(), b.anchor, b.start, b.end, v), b.ok) << b.text;
    EXPECT_EQ(v, b.want) << b.text << " " << (b.start ? b.start : "null") << " " << (b.end ? b.end : "null");
  }

  char tag[] = "<x a=\"1\" b=\"2\">";
  std::string name;
  EXPECT_TRUE(parse_tag_attribute(tag, sizeof tag, 2, name, v));
  EXPECT_EQ(name, "b");
  EXPECT_EQ(v, "2");
  EXPECT_TRUE(parse_tag_attribute(tag, sizeof tag, 1, name, v));
  EXPECT_EQ(name + "=" + v, "a=1");
  EXPECT_FALSE(parse_tag_attribute(tag, sizeof tag, 3, name, v));
  char spaced[] = "< x a=\"1\">";
  EXPECT_FALSE(parse_tag_attribute(spaced, sizeof spaced, 1, name, v));
}

TEST(MarkupScan, FindAllBytes) {
  std::vector<ulong64> hits{7};
  const byte aaa[3] = {'A', 'A', 'A'};
  EXPECT_TRUE(find_all_bytes(aaa, 3, {'A', 'A'}, hits, 100));
  EXPECT_EQ(hits, (std::vector<ulong64>{100, 101}));
  EXPECT_FALSE(find_all_bytes(aaa, 3, {}, hits, 0));
  EXPECT_FALSE(find_all_bytes(aaa, 2, {'A', 'A', 'A'}, hits, 0));
  EXPECT_FALSE(find_all_bytes(aaa, 3, {'B'}, hits, 0));
  EXPECT_TRUE(hits.empty());
}

TEST(HtmlEscape, EntitiesAndPercentEscapes) {
  EXPECT_EQ(html_escape("a<b & c>d"), "a&lt;b &amp; c&gt;d");
  EXPECT_EQ(html_escape("&lt;"), "&amp;lt;");
  EXPECT_EQ(html_escape("%09\r\na\tb"), "%09\r\na%09b");
  EXPECT_EQ(html_escape("caf\xE9"), "caf%e9");
  EXPECT_EQ(html_escape(""), "");
  EXPECT_EQ(html_escape(nullptr), "");
  EXPECT_EQ(html_escape_w(L"<\u0141\u0100>"), L"&lt;\u0141%00&gt;");
  EXPECT_EQ(html_escape_w(L""), L"");
}

// A wide text longer than the 16 MiB pieces it is escaped in, with a
// character to escape in each piece: both pieces are in the result, each
// escape where it belongs.
TEST(HtmlEscape, WideTextOfTwoPiecesIsEscapedWhole) {
  const size_t piece = size_t(1) << 24;
  std::wstring wide(piece + 5, L'x');
  wide[3] = L'<';
  wide[piece + 2] = L'&';
  const std::wstring escaped = html_escape_w(wide);
  ASSERT_EQ(escaped.size(), piece + 5 + 3 + 4);
  EXPECT_EQ(escaped.compare(0, 8, L"xxx&lt;x"), 0);
  EXPECT_EQ(escaped.compare(piece + 2 + 3, 6, L"&amp;x"), 0);
  EXPECT_EQ(static_cast<size_t>(std::count(escaped.begin(), escaped.end(), L'x')), piece + 3);
}

// Without memory for the result, the failure result: an empty text, not an
// exception. In a child, whose address space is cut.
TEST(HtmlEscape, WithoutMemoryForTheResultGivesAnEmptyText) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const int status = quor_test::exit_status_in_child(
      [] {
        const size_t size = size_t(48) << 20;
        std::string narrow(size, 'x');
        narrow[7] = '<';
        std::wstring wide(size / sizeof(wchar_t), L'x');
        if (!quor_test::limit_address_space(16u << 20)) return 2;
        if (!html_escape(narrow.c_str()).empty()) return 3;
        if (!html_escape_w(wide).empty()) return 4;
        return html_escape("a<b") == "a&lt;b" && html_escape_w(L"a>b") == L"a&gt;b" ? 0 : 5;
      },
      quor_test::scratch_dir() + "/html-escape-memory.err");
  EXPECT_EQ(status, 0) << (status == 253 ? "the failed allocation left html_escape" : "");
}

// A text past 4 GiB is escaped whole, also where its length no longer fits
// 31 or 32 bits. The text is line ends but for a few characters to escape
// around 2 GiB and 4 GiB; its memory is one block of line ends mapped over
// and over, so only the result takes room.
TEST(HtmlEscape, TextPastFourGibibytesIsEscapedWhole) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit address space holds no 4 GiB text";
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "under the sanitizers a 4 GiB result takes too much";
  if (available_memory() < (6ull << 30)) GTEST_SKIP() << "less than 6 GiB of memory available for the 4 GiB result";
  const unsigned long long two_gib = 1ull << 31, four_gib = 1ull << 32;
  const size_t length = static_cast<size_t>(four_gib + 3);
  const size_t block = size_t(64) << 20;
  const size_t mapped = (length + 1 + block - 1) / block * block;
  const int fd = ::memfd_create("html-escape", 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(block)), 0);
  void* b = ::mmap(nullptr, block, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(b, MAP_FAILED);
  std::memset(b, '\n', block);
  ::munmap(b, block);
  void* p = ::mmap(nullptr, mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  std::unique_ptr<void, std::function<void(void*)>> unmap(p, [mapped, fd](void* q) {
    ::munmap(q, mapped);
    ::close(fd);
  });
  char* text = static_cast<char*>(p);
  for (size_t at = 0; at < mapped; at += block)
    ASSERT_NE(::mmap(text + at, block, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0), MAP_FAILED);
  // Each character written takes a private copy of its page only.
  const struct {
    unsigned long long at;
    char c;
    const char* escaped;
  } marks[] = {{0, 'a', "a"},
               {1, '<', "&lt;"},
               {2, 'b', "b"},
               {two_gib - 1, '&', "&amp;"},
               {two_gib, '\xE9', "%e9"},
               {four_gib - 1, '>', "&gt;"},
               {four_gib, '\t', "%09"},
               {length - 1, 'z', "z"}};
  for (const auto& m : marks) text[static_cast<size_t>(m.at)] = m.c;
  text[length] = '\0';

  const std::string out = html_escape(text);
  size_t grown = 0;
  for (const auto& m : marks) grown += std::strlen(m.escaped) - 1;
  ASSERT_EQ(out.size(), length + grown);
  size_t shift = 0;
  for (const auto& m : marks) {
    EXPECT_EQ(out.compare(static_cast<size_t>(m.at) + shift, std::strlen(m.escaped), m.escaped), 0) << m.at;
    shift += std::strlen(m.escaped) - 1;
  }
  EXPECT_EQ(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')), length - std::size(marks));
}

TEST(MarkupSplit, Pieces) {
  const struct { std::string text; std::vector<std::string> pieces; } cases[] = {
      {"Hello <b>world</b>!", {"Hello ", "<b>", "world", "</b>"}}, {"<p><i>", {"", "<p>", "", "<i>"}},
      {"a>b<br>", {"a>b", "<br>"}}, {"<?php if (a>b) ?>x<p>", {"", "<?php if (a>b) ?>", "x", "<p>"}},
      {"<SCRIPT>if (a<b) x();</script><i>", {"", "<SCRIPT>", "if (a<b) x();", "</script>", "", "<i>"}},
      {"<pre>1 < 2 > 0</pre>", {"", "<pre>", "1 < 2 > 0", "</pre>"}}, {"<a <b>", {"", "", "<a <b>"}}, {"no tags", {}},
      // A "<?" or "<%" block opened inside a tag still open is ended only by
      // its own "?>" or "%>", and with it the tag.
      {"<a <?b>c?>", {"", "", "<a <?b>c?>"}}, {"<a <%b>c%>d<i>", {"", "", "<a <%b>c%>", "d", "<i>"}},
      {"<a <?b>c", {"", ""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> got;
    EXPECT_EQ(split_markup(c.text.data(), static_cast<int>(c.text.size()), &got), !c.pieces.empty());
    EXPECT_EQ(got, c.pieces) << c.text;
  }
  // UTF-16LE input: one unit per character; an odd last byte is ignored.
  const std::string u = std::string("<\0b\0>\0x\0<\0", 10) + "/";
  std::vector<std::wstring> wide;
  ASSERT_TRUE(split_markup_w(reinterpret_cast<const byte*>(u.data()), 11, &wide));
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"", L"<b>", L"x"}));
  const std::string pi = "<a <?b>c?>";
  std::string u16;
  for (char c : pi) u16 += std::string{c, '\0'};
  wide.clear();
  ASSERT_TRUE(split_markup_w(reinterpret_cast<const byte*>(u16.data()), static_cast<int>(u16.size()), &wide));
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"", L"", L"<a <?b>c?>"}));
}

TEST(MarkupSplit, NormalizeTags) {
  std::vector<std::string> pieces{"<A HREF = foo  TARGET='x y'>", "<IMG SRC=Photo.GIF>", "<?PHP X ?>",
                                  "Text Stays", "<P\tCLASS = \"A  B\">", "<BR />", "<input  CHECKED \n value=1>"};
  ASSERT_TRUE(normalize_tags(&pieces));
  const std::vector<std::string> expect{"<a href=\"foo\" target='x y'>", "<img src=\"Photo.gif\">", "<?PHP X ?>",
                                        "Text Stays", "<p\tclass=\"A B\">", "<br />", "<input checked value=\"1\">"};
  EXPECT_EQ(pieces, expect);
  std::vector<std::wstring> wide{L"<B CLASS=X>"};
  ASSERT_TRUE(normalize_tags_w(&wide));
  EXPECT_EQ(wide[0], L"<b class=\"X\">");
  std::vector<std::string> none;
  EXPECT_FALSE(normalize_tags(&none));
}

}  // namespace
