// The hex view: row layouts written by hand from the layout rules, ranges
// clamped to the view, and copies of owning views that keep their own bytes.
#include "ntfs/zq_hex_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"

namespace {

typedef std::vector<byte> bytes;

bytes text_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

bytes letters_and_three() {
  bytes b = text_bytes("abcdefghijklmnop");
  b.push_back(0x00);
  b.push_back(0x0A);
  b.push_back(0xFF);
  return b;
}

std::string shown(const zq::binary_data& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

std::string narrow(const std::string& utf16le) {
  std::string out;
  for (size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    EXPECT_EQ(utf16le[i + 1], '\0');
    out += utf16le[i];
  }
  return out;
}

const std::string row1 = "0000 0000:  61 62 63 64 65 66 67 68  69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop";
const std::string row2 = "0000 0010:  00 0a ff " + std::string(41, ' ') + "...";

}  // namespace

TEST(HexView, ModesOfTheWholeView) {
  const bytes b = letters_and_three();
  zq::binary_data view(b, false);
  struct {
    uint16 mode;
    std::string expected;
  } cases[] = {
      {6, row1 + "\n" + row2 + "\n"},
      {2, "61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70 \n00 0a ff \n"},
      {4, "0000 0000:  abcd efgh ijkl mnop   ...\n"},
      {0, std::string(b.begin(), b.end())},
  };
  for (const auto& c : cases) {
    view.set_mode(c.mode);
    EXPECT_EQ(view.get_mode(), c.mode);
    EXPECT_EQ(shown(view), c.expected) << "mode " << c.mode;
  }
  // A new view is in mode 2; a mode is kept as given, zero-extended.
  EXPECT_EQ(zq::binary_data().get_mode(), 2u);
  EXPECT_EQ(zq::binary_data(4, 0x61).get_mode(), 2u);
  view.set_mode(0xFFFF);
  EXPECT_EQ(view.get_mode(), 0xFFFFu);
}

TEST(HexView, RowPaddingAndOffsetColumn) {
  const bytes b(40, 0x41);
  zq::binary_data view(b, false);
  struct {
    uint32 count;
    ulong64 offset;
    std::string expected;
  } cases[] = {
      {8, 0, "0000 0000:  41 41 41 41 41 41 41 41 " + std::string(25, ' ') + " AAAAAAAA"},
      {9, 0, "0000 0000:  41 41 41 41 41 41 41 41  41 " + std::string(21, ' ') + " AAAAAAAAA"},
      {1, 0x100000000ULL, "0001 0000 0000:  41 " + std::string(46, ' ') + " A"},
      {1, 0x1000000000000ULL, "0001 0000 0000 0000:  41 " + std::string(46, ' ') + " A"},
      // A count past the view shows what is there.
      {99, 0x20, "0000 0020:  41 41 41 41 41 41 41 41 " + std::string(25, ' ') + " AAAAAAAA"},
  };
  for (const auto& c : cases) {
    std::ostringstream os;
    zq::binary_data::print_row(os, view, c.offset == 0x20 ? 32 : 0, c.count, c.offset, true);
    EXPECT_EQ(os.str(), c.expected) << c.count;
  }
  char row[80];
  zq::binary_data::format_row(row, view, 0, 16, 0x1000000000000ULL, true);
  EXPECT_EQ(std::string(row).size(), 79u);  // an 88-character row is cut
  EXPECT_EQ(std::string(row, 24), "0001 0000 0000 0000:  41");
}

TEST(HexView, EdgeLayouts) {
  zq::binary_data empty;
  empty.set_mode(6);
  EXPECT_EQ(shown(empty), "");
  empty.set_mode(4);
  EXPECT_EQ(shown(empty), "");
  empty.set_mode(2);
  EXPECT_EQ(shown(empty), "\n");

  const bytes sixteen(16, 0x20);
  zq::binary_data view(sixteen, false);
  view.set_mode(2);
  EXPECT_EQ(shown(view), "20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 20 \n\n");
  view.set_mode(6);
  EXPECT_EQ(shown(view), "0000 0000:  20 20 20 20 20 20 20 20  20 20 20 20 20 20 20 20  " + std::string(16, ' ') + "\n");

  const bytes odd = {0x7F, 0x80, 0xFF, 0x20, 0x7E};
  std::ostringstream os;
  zq::binary_data::print_ascii(os, zq::binary_data(odd, false), 0, 5);
  EXPECT_EQ(os.str(), "0000 0000:  ...  ~\n");
}

TEST(HexView, RangesStartAndBase) {
  bytes b(64);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<byte>(0x41 + i % 26);
  zq::binary_data view(b, false);
  view.set_mode(6);
  std::ostringstream part;
  view.print(part, 20, 8, 0);
  EXPECT_EQ(part.str(), "0000 0000:  55 56 57 58 59 5a 41 42 " + std::string(25, ' ') + " UVWXYZAB\n");

  std::ostringstream dump;
  zq::hex_dump(b.data(), 48, dump, 32, 0, true);
  EXPECT_EQ(dump.str().substr(0, 12), "0000 0000:  ");
  EXPECT_EQ(dump.str().substr(62, 16), "GHIJKLMNOPQRSTUV");

  // Ranges reaching past the view are cut to it; a start past it shows nothing.
  std::ostringstream clamped, beyond, hex;
  view.print(clamped, 60, 100, 0x100);
  EXPECT_EQ(clamped.str(), "0000 0100:  49 4a 4b 4c " + std::string(37, ' ') + " IJKL\n");
  zq::binary_data::print_rows(beyond, view, 70, 200, 0, true);
  EXPECT_EQ(beyond.str(), "");
  zq::binary_data::print_hex(hex, view, 62, 10);
  EXPECT_EQ(hex.str(), "4b 4c \n\n");

  std::string rows;
  int calls = 0;
  zq::hex_dump_to_string(b.data(), 64, rows, 0, 0x10,
                         [](void* ctx, uint32, uint32) -> uint32 { return ++*static_cast<int*>(ctx); }, &calls);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(rows.size(), 4u * 79);
  EXPECT_EQ(rows.substr(79, 12), "0000 0020:  ");
}

TEST(HexView, WideRows) {
  const bytes b = text_bytes("AB");
  std::ostringstream os;
  zq::hex_dump_wide(b.data(), 2, os, 0, 0x10);
  EXPECT_EQ(narrow(os.str()), "0000 0010 41 42 " + std::string(43, ' ') + " AB\r\n");

  // One row at a time: no line end; the offset groups end in a blank, not a
  // colon; a short row is padded so its characters start in the same column.
  const bytes b3 = letters_and_three();
  const zq::binary_data view(b3, false);
  const struct {
    uint32 start, count;
    ulong64 offset;
    std::string want;
  } rows[] = {
      {0, 16, 0, "0000 0000 61 62 63 64 65 66 67 68  69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop"},
      {16, 3, 0x100000000ULL, "0001 0000 0000 00 0a ff " + std::string(41, ' ') + "..."},
      {15, 2, 0x1234567800000000ULL, "1234 5678 0000 0000 70 00 " + std::string(43, ' ') + " p."},
  };
  for (const auto& r : rows) {
    std::ostringstream one;
    zq::binary_data::print_row_wide(one, view, r.start, r.count, r.offset);
    EXPECT_EQ(one.str().size() % 2, 0u);
    EXPECT_EQ(narrow(one.str()), r.want) << r.start;
  }
}

TEST(HexView, SizeLimit) {
  std::ostringstream os;
  const bytes one(1, 0);
  zq::hex_dump_limited(one.data(), 0x1000001, os, 0, 0);
  EXPECT_EQ(os.str(), "size to big to output: size 0x1000001\n");
  const bytes big(0x1000000, 0x61);
  std::ostringstream all;
  zq::hex_dump_limited(big.data(), 0x1000000, all, 0, 0);
  EXPECT_EQ(all.str().size(), 0x100000u * 79);
}

TEST(HexView, CopiesOwnTheirBytes) {
  const bytes b = text_bytes("0123456789");
  zq::binary_data copy;
  zq::binary_data moved;
  {
    zq::binary_data source(b.data(), 10, true);
    source.set_mode(0);
    copy = source;
    zq::binary_data temp(source);
    moved = std::move(temp);
    source(0) = 'X';
    zq::binary_data constructed(source);
    EXPECT_EQ(shown(constructed), "X123456789");
  }
  EXPECT_EQ(shown(copy), "0123456789");
  EXPECT_EQ(shown(moved), "0123456789");
  EXPECT_TRUE(copy.push_back('a'));
  EXPECT_TRUE(copy.erase(0, 0xFFFFFFFFu));  // counted without overflow
  EXPECT_EQ(copy.get_num_data(), 0u);

  // A borrowing view copies before it is written through: the caller's
  // buffer stays as it was.
  bytes caller = b;
  zq::binary_data borrowed(caller, false);
  EXPECT_FALSE(borrowed.push_back('a'));
  EXPECT_FALSE(borrowed.append(b.data(), 2));
  EXPECT_FALSE(borrowed.erase(0, 1));
  borrowed(1) = 'Y';
  EXPECT_EQ(caller[1], '1');
  borrowed.set_mode(0);
  EXPECT_EQ(shown(borrowed), "0Y23456789");
}

TEST(HexView, LoadAndSave) {
  const std::string dir = quor_test::scratch_dir();
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/hex_view_load.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out << "abcdefghij";
  }
  zq::binary_data view(3, 'z');
  EXPECT_FALSE(view.load(path.c_str(), 10, 4));
  EXPECT_EQ(view.get_num_data(), 3u);
  EXPECT_TRUE(view.load(path.c_str(), 6, 100));
  view.set_mode(0);
  EXPECT_EQ(shown(view), "ghij");
  EXPECT_FALSE(view.load((dir + "/absent.bin").c_str(), 0, 4));

  const std::string saved = dir + "/hex_view_save.txt";
  view.set_mode(2);
  ASSERT_TRUE(view.save(saved.c_str()));
  std::ifstream in(saved, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "67 68 69 6a \n");
  EXPECT_FALSE(view.save((dir + "/no/such/dir/x").c_str()));

  // The dump goes through the guarded opener, as every output does.
  const zq::binary_data four(reinterpret_cast<const byte*>("ghij"), 4, true);
  quor_test::expect_output_rules(
      {"hex view save", [&four](const std::string& t) { return four.save(t.c_str()); }, "67 68 69 6a \n"});
}

TEST(HexView, RemainingFormsAndLayouts) {
  const bytes b = letters_and_three();
  const std::string rows = row1 + "\n" + row2 + "\n";
  const std::string bare = "61 62 63 64 65 66 67 68  69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n00 0a ff " +
                           std::string(41, ' ') + "...\n";
  const zq::binary_data view(b, false);
  auto count_rows = [](void* ctx, uint32, uint32) -> uint32 { return ++*static_cast<int*>(ctx); };

  std::string out = "junk";
  zq::hex_dump_to_string(b.data(), 19, out, 0, 0);
  EXPECT_EQ(out, rows);
  int calls = 0;
  out = "junk";
  zq::binary_data::format_rows(out, view, 0, 19, 0, false, count_rows, &calls);
  EXPECT_EQ(out, bare);
  EXPECT_EQ(calls, 2);
  zq::binary_data::format_rows(out, view, 19, 19, 0, true);
  EXPECT_EQ(out, "");

  std::ostringstream limited, vector_dump, none;
  calls = 0;
  zq::hex_dump_limited(b.data(), 19, limited, 0, 0, count_rows, &calls);
  EXPECT_EQ(limited.str(), rows);
  EXPECT_EQ(calls, 2);
  zq::hex_dump(b, vector_dump, 16, 0x30);
  EXPECT_EQ(vector_dump.str(), "0000 0030:  00 0a ff " + std::string(41, ' ') + "...\n");
  zq::hex_dump(bytes(), none, 0, 0);
  EXPECT_EQ(none.str(), "");

  std::ostringstream wide;
  zq::binary_data::print_rows_wide(wide, view, 16, 99, 0x200);
  EXPECT_EQ(narrow(wide.str()), "0000 0200 00 0a ff " + std::string(41, ' ') + "...\r\n");

  // Characters only, one row: at most 48 bytes; raw bytes cut to the view.
  const bytes x(60, 'x');
  std::ostringstream one, capped, raw;
  zq::binary_data::print_ascii_row(one, view, 2, 3);
  zq::binary_data::print_ascii_row(capped, zq::binary_data(x, false), 0, 60);
  EXPECT_EQ(one.str(), "0000 0002:  cde\n");
  EXPECT_EQ(capped.str(), "0000 0000:  xxxx xxxx xxxx xxxx   xxxx xxxx xxxx xxxx   xxxx xxxx xxxx xxxx\n");
  zq::binary_data::print_raw(raw, view, 15, 2);
  zq::binary_data::print_raw(raw, view, 17, 10);
  EXPECT_EQ(raw.str(), std::string("p\0\n\xff", 4));
}

TEST(HexView, SizedAndMovedViews) {
  zq::binary_data zeros(5);
  EXPECT_EQ(zeros.get_num_data(), 5u);
  EXPECT_TRUE(zeros.owns_data());
  EXPECT_EQ(shown(zeros), "00 00 00 00 00 \n");
  EXPECT_EQ(zq::binary_data(0u).get_num_data(), 0u);

  const bytes b = text_bytes("abc");
  zq::binary_data owner(b.data(), 3, true);
  owner.set_mode(0);
  zq::binary_data taken(std::move(owner));
  EXPECT_EQ(shown(taken), "abc");
  EXPECT_TRUE(taken.owns_data());
  EXPECT_EQ(owner.get_num_data(), 0u);
  bytes caller = b;
  zq::binary_data borrower(caller, false);
  zq::binary_data lent(std::move(borrower));
  EXPECT_FALSE(lent.owns_data());
  caller[0] = 'z';
  lent.set_mode(0);
  EXPECT_EQ(shown(lent), "zbc");
}

// Every index must lie inside the view, owning or borrowing, read or written:
// one at or past the end stops the process in every build, naming the
// accessor and the hex view's source file.
TEST(HexViewDeathTest, AnIndexPastTheViewStops) {
  const bytes b = text_bytes("abcdefgh");
  const zq::binary_data owner(b.data(), 8, true);
  const zq::binary_data borrower(b.data(), 5, false);
  const zq::binary_data empty;
  EXPECT_EQ(owner(7), 'h');
  EXPECT_EQ(borrower(4), 'e');
  const char* const read =
      "(^|\n)zq_hex_view\\.cpp:[0-9]+: byte zq::binary_data::operator\\(\\)\\(uint32\\) const: "
      "Assertion `index < m_num_data' failed\\.";
  const struct {
    const zq::binary_data* view;
    uint32 index;
  } past[] = {{&owner, 8}, {&owner, 0xFFFFFFFFu}, {&borrower, 5}, {&empty, 0}};
  for (const auto& p : past) EXPECT_DEATH((*p.view)(p.index), read) << p.index;

  zq::binary_data writable(b.data(), 8, true);
  bytes caller = b;
  zq::binary_data lent(caller.data(), 8, false);
  writable(7) = 'z';
  EXPECT_EQ(writable(7), 'z');
  const char* const write =
      "(^|\n)zq_hex_view\\.cpp:[0-9]+: byte& zq::binary_data::operator\\(\\)\\(uint32\\): "
      "Assertion `index < m_num_data' failed\\.";
  EXPECT_DEATH(writable(8) = 'z', write);
  EXPECT_DEATH(lent(8) = 'z', write);
  EXPECT_EQ(caller[7], 'h');
}
