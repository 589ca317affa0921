// Column widths and tab expansion, in memory and file to file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/fixture.h"
#include "utils/text_tables.h"

namespace {

std::string expand(const std::string& text, int width, bool wide = false) {
  std::string out = "untouched";
  if (!expand_tabs(reinterpret_cast<const byte*>(text.data()), static_cast<uint32>(text.size()), width, out, wide))
    return "false:" + out;
  return out;
}

std::string utf16(const std::string& ascii) {
  std::string s;
  for (char c : ascii) s += std::string(1, c) + '\0';
  return s;
}

TEST(TextTables, ColumnWidths) {
  std::vector<uint32> widths{3};
  EXPECT_TRUE(update_column_widths(widths, {"abcdef", "xy"}, 5));
  EXPECT_EQ(widths, (std::vector<uint32>{5, 2}));
  EXPECT_TRUE(update_column_widths(widths, {"a", "xyz"}, 5));
  EXPECT_EQ(widths, (std::vector<uint32>{5, 3}));
  EXPECT_FALSE(update_column_widths(widths, {}, 5));
}

TEST(TextTables, ExpandTabs) {
  const struct { std::string text; int width; std::string expect; } cases[] = {
      {"a\tb", 4, "a    b"}, {"\tb", 4, "    b"}, {"abcd\te", 4, "abcd    e"}, {"a\tb\tc", 4, "a    b   c"},
      {"a\tb", 0, "a    b"},  // width 0 means 4
      {"a\tb\r\na\tb", 4, "a    b\r\na    b"}, {"a\tb\na\tb", 8, "a        b\na        b"},
      {"no tab here", 4, "false:untouched"}, {"", 4, "false:untouched"},
      // With CR LF present a bare LF is an ordinary character: the second
      // tab stands at column 3 of its line (x, LF, y), not column 1.
      {"a\tb\r\nx\ny\tz", 4, "a    b\r\nx\ny  z"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.text, c.width), c.expect) << c.text;
}

TEST(TextTables, WideTextIsUtf16le) {
  EXPECT_EQ(expand(utf16("a\tb\r\n\tc"), 4, true), utf16("a    b\r\n    c"));
  EXPECT_EQ(expand(utf16("ab") + "x", 4, true), "false:untouched");
  // Without allow_wide the same bytes are expanded as narrow text.
  EXPECT_EQ(expand(std::string("a\t\0", 3), 4, false), std::string("a    \0", 6));
  std::string out;
  const std::string odd = utf16("\tq") + "Z";
  ASSERT_TRUE(expand_tabs_wide(reinterpret_cast<const byte*>(odd.data()), 5, 4, out));
  EXPECT_EQ(out, utf16("    q") + "Z");
}


TEST(TextTables, ExpandFileToFileAndInPlace) {
  const std::string dir = quor_test::scratch_dir();
  const std::string in = dir + "/tabs.txt", out = dir + "/tabs.out", plain = dir + "/plain.txt";
  std::ofstream(in, std::ios::binary) << "a\tb\n\tc\n";
  std::ofstream(plain, std::ios::binary) << "no tabs\n";
  std::ofstream(out, std::ios::binary) << "old content that must go";

  ASSERT_TRUE(expand_tabs_in_file(in.c_str(), out.c_str(), 4, false));
  EXPECT_EQ(quor_test::read_file_text(out), "a    b\n    c\n");
  EXPECT_EQ(quor_test::read_file_text(in), "a\tb\n\tc\n");
  // Without a tab the output is the input unchanged.
  ASSERT_TRUE(expand_tabs_in_file(plain.c_str(), out.c_str(), 4, false));
  EXPECT_EQ(quor_test::read_file_text(out), "no tabs\n");
  // Output and input the same file.
  ASSERT_TRUE(expand_tabs_in_file(in.c_str(), in.c_str(), 2, false));
  EXPECT_EQ(quor_test::read_file_text(in), "a  b\n  c\n");
  // An output that cannot be written leaves everything as it was.
  EXPECT_FALSE(expand_tabs_in_file(in.c_str(), (dir + "/missing-dir/x").c_str(), 4, false));
  EXPECT_FALSE(expand_tabs_in_file((dir + "/absent").c_str(), out.c_str(), 4, false));
  EXPECT_EQ(quor_test::read_file_text(out), "no tabs\n");
}

// Memory that runs out gives false and leaves out untouched, in memory as
// for a text without a tab, with 16 MiB left: the offsets of 8 Mi tabs,
// narrow or wide (32 MiB), or the spaces of one tab 256 Mi columns wide.
// A short text expands after. In a child, whose address space is cut; the
// texts are made there too, for what this process frees stays mapped and
// would be found again by the child.
TEST(TextTables, ExpandWithoutMemoryGivesFalse) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  typedef bool (*expander)(const std::string&, int, std::string&);
  const expander narrow = [](const std::string& t, int w, std::string& o) {
    return expand_tabs(reinterpret_cast<const byte*>(t.data()), static_cast<uint32>(t.size()), w, o, false);
  };
  const expander found_wide = [](const std::string& t, int w, std::string& o) {
    return expand_tabs(reinterpret_cast<const byte*>(t.data()), static_cast<uint32>(t.size()), w, o, true);
  };
  const expander wide = [](const std::string& t, int w, std::string& o) {
    return expand_tabs_wide(reinterpret_cast<const byte*>(t.data()), static_cast<uint32>(t.size()), w, o);
  };
  const struct {
    const char* name;
    std::string (*text)();
    int width;
    expander run;
  } cases[] = {
      {"narrow", [] { return std::string(8u << 20, '\t'); }, 4, narrow},
      {"wide found", [] { return utf16(std::string(8u << 20, '\t')); }, 4, found_wide},
      {"wide", [] { return utf16(std::string(8u << 20, '\t')); }, 4, wide},
      {"one wide tab", [] { return std::string("a\tb"); }, 1 << 28, narrow},
  };
  for (const auto& c : cases) {
    const int status = quor_test::exit_status_in_child(
        [&] {
          const std::string text = c.text();
          std::string out = "untouched";
          if (!quor_test::limit_address_space(16u << 20)) return 2;
          if (c.run(text, c.width, out) || out != "untouched") return 3;
          return narrow("a\tb", 4, out) && out == "a    b" ? 0 : 4;
        },
        quor_test::scratch_dir() + "/expand-memory.err");
    EXPECT_EQ(status, 0) << c.name << (status == 253 ? ": the failed allocation left the expander" : "");
  }
}

// Memory that runs out gives false, the output as it was: a file of 8 MiB
// of tabs (whose offsets alone take 32 MiB) with 24 MiB left, to another
// file and in place, and the zero device, which never ends. In a child,
// whose address space is cut.
TEST(TextTables, ExpandFileWithoutMemoryGivesFalse) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "this allocator ends the process when memory runs out";
  const std::string dir = quor_test::scratch_dir();
  const std::string tabs = dir + "/many-tabs.txt", kept = dir + "/kept.txt", err = dir + "/tabs-memory.err";
  const std::string all_tabs(8u << 20, '\t');
  std::ofstream(tabs, std::ios::binary) << all_tabs;
  const struct {
    std::string in, out;
  } cases[] = {{tabs, kept}, {tabs, tabs}, {"/dev/zero", kept}};
  for (const auto& c : cases) {
    std::ofstream(kept, std::ios::binary | std::ios::trunc) << "kept";
    const int status = quor_test::exit_status_in_child(
        [&] {
          if (!quor_test::limit_address_space(24u << 20)) return 2;
          return expand_tabs_in_file(c.in.c_str(), c.out.c_str(), 4, false) ? 1 : 0;
        },
        err);
    EXPECT_EQ(status, 0) << c.in << " to " << c.out << (status == 253 ? ": the failed allocation left it" : "");
    EXPECT_EQ(quor_test::read_file_text(kept), "kept") << c.in;
    EXPECT_TRUE(quor_test::read_file_text(tabs) == all_tabs) << c.in;
  }
}

}  // namespace
