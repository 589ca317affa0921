// The uni file streams: paths given wide, as bytes or as UTF-16 units, and
// paths that cannot be encoded whole, which must never open the file named
// by their first characters.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/fixture.h"
#include "tests/support/output_rules.h"
#include "utils/file_handle.h"
#include "utils/file_streams.h"
#include "utils/output_file.h"

namespace {

std::string dir() { return quor_test::scratch_dir() + "/streams"; }


std::vector<uint16> units(const std::string& ascii) { return std::vector<uint16>(ascii.begin(), ascii.end()); }

class FileStreams : public ::testing::Test {
 protected:
  void SetUp() override { ::mkdir(dir().c_str(), 0700); }
};

TEST_F(FileStreams, WideBytesAndUnitPaths) {
  const std::string d = dir();
  const std::wstring wide = std::wstring(d.begin(), d.end()) + L"/caf\u00e9\U0001F600.txt";
  {
    uni::ofstream out(wide, std::ios::out | std::ios::binary);
    ASSERT_TRUE(out.good());
    out << "one";
  }
  const std::string utf8 = dir() + "/caf\xC3\xA9\xF0\x9F\x98\x80.txt";
  EXPECT_EQ(quor_test::read_file_text(utf8), "one");

  uni::ifstream by_bytes(std::vector<byte>(utf8.begin(), utf8.end()), std::ios::binary);
  std::string word;
  ASSERT_TRUE(by_bytes >> word);
  EXPECT_EQ(word, "one");

  std::vector<uint16> u = units(dir() + "/caf");
  u.insert(u.end(), {0x00E9, 0xD83D, 0xDE00, '.', 't', 'x', 't', 0});  // a trailing NUL terminates
  uni::ifstream by_units(u, std::ios::binary);
  ASSERT_TRUE(by_units >> word);
  EXPECT_EQ(word, "one");

  uni::ofstream again;
  again.open(wide);  // the wide open always truncates
  ASSERT_TRUE(again.good());
  again.close();
  EXPECT_EQ(quor_test::read_file_text(utf8), "");
}

TEST_F(FileStreams, UnencodablePathsNeverOpenTheirPrefix) {
  const std::string prefix = dir() + "/victim";
  const std::wstring wprefix(prefix.begin(), prefix.end());
  std::ofstream(prefix) << "evidence";
  const std::vector<uint16> uprefix = units(prefix);

  std::vector<uint16> with_nul = uprefix;
  with_nul.insert(with_nul.end(), {0, 'x'});
  const std::string narrow_nul = prefix + std::string(1, '\0') + "x";

  for (int trunc = 0; trunc < 2; ++trunc) {
    const auto mode = trunc ? std::ios::out | std::ios::trunc : std::ios::out;
    const struct { const char* what; bool ok; } opened[] = {
        {"above 0x10FFFF", uni::ofstream(wprefix + wchar_t(0x110000), mode).good()},
        {"wide NUL", uni::ofstream(wprefix + L'\0' + L"x", mode).good()},
        {"unit NUL", uni::ofstream(with_nul, mode).good()},
        {"narrow NUL", uni::ofstream(narrow_nul, mode).good()},
        {"byte NUL", uni::ofstream(std::vector<byte>(narrow_nul.begin(), narrow_nul.end()), mode).good()},
        {"empty wide", uni::ofstream(std::wstring(), mode).good()},
        {"empty units", uni::ofstream(std::vector<uint16>(), mode).good()},
        {"input above 0x10FFFF", uni::ifstream(wprefix + wchar_t(0x110000)).good()},
        {"input unit NUL", uni::ifstream(with_nul).good()},
    };
    for (const auto& o : opened) EXPECT_FALSE(o.ok) << o.what;
  }
  uni::ofstream later;
  later.open(wprefix + wchar_t(0x110000));
  EXPECT_TRUE(later.fail());
  later.open(with_nul);
  EXPECT_TRUE(later.fail());
  EXPECT_EQ(quor_test::read_file_text(prefix), "evidence");
  struct stat st;
  EXPECT_NE(::stat((prefix + "x").c_str(), &st), 0) << "no file named by the characters after the NUL";
}

// A lone surrogate is a character like any other: a name holding one is
// encoded by its value (0xD800 as ED A0 80, the bytes Linux keeps for it)
// and opened by every wide form, never refused, and never the file named
// by the characters before it.
TEST_F(FileStreams, LoneSurrogatesOpenTheNameThatHoldsThem) {
  const std::string prefix = dir() + "/lone";
  std::ofstream(prefix) << "prefix";
  const std::wstring wprefix(prefix.begin(), prefix.end());
  const std::vector<uint16> uprefix = units(prefix);
  const struct {
    const char* what;
    std::wstring wide;          // the name as wide characters
    std::vector<uint16> units;  // the same name as UTF-16 units
    std::string bytes;          // what the system must be given
  } names[] = {
      {"high", wprefix + wchar_t(0xD800), {0xD800}, prefix + "\xED\xA0\x80"},
      {"low, then a letter", wprefix + wchar_t(0xDC00) + L"x", {0xDC00, 'x'}, prefix + "\xED\xB0\x80x"},
      {"low before high", wprefix + wchar_t(0xDE00) + wchar_t(0xD83D), {0xDE00, 0xD83D},
       prefix + "\xED\xB8\x80\xED\xA0\xBD"},
  };
  for (const auto& n : names) {
    std::vector<uint16> u = uprefix;
    u.insert(u.end(), n.units.begin(), n.units.end());
    std::ofstream(n.bytes) << "kept";
    std::string word;
    uni::ifstream by_wide(n.wide, std::ios::binary);
    EXPECT_TRUE(by_wide >> word && word == "kept") << n.what;
    uni::ifstream by_units(u, std::ios::binary);
    EXPECT_TRUE(by_units >> word && word == "kept") << n.what;
    uni::file_handle handle(n.wide, false, true);
    EXPECT_EQ(handle.cached_size(), 4u) << n.what;

    uni::ofstream out(n.wide, std::ios::binary);
    EXPECT_TRUE(out << "wide") << n.what;
    out.close();
    EXPECT_EQ(quor_test::read_file_text(n.bytes), "wide") << n.what;
    uni::ofstream append(u, std::ios::app);
    EXPECT_TRUE(append << "+units") << n.what;
    append.close();
    EXPECT_EQ(quor_test::read_file_text(n.bytes), "wide+units") << n.what;
    std::ofstream guarded;
    EXPECT_EQ(uni::open_output(guarded, n.wide, {}, uni::output_open::truncate), uni::output_result::opened)
        << n.what;
    EXPECT_TRUE(guarded << "guarded") << n.what;
    guarded.close();
    EXPECT_EQ(quor_test::read_file_text(n.bytes), "guarded") << n.what;
  }
  EXPECT_EQ(quor_test::read_file_text(prefix), "prefix");
}

TEST_F(FileStreams, MissingFileFailsAndGoodOpenClearsState) {
  uni::ifstream in(std::wstring(L"/nonexistent-dir/quor-missing"));
  EXPECT_TRUE(in.fail());
  const std::string path = dir() + "/present";
  std::ofstream(path) << "x";
  in.open(std::vector<byte>(path.begin(), path.end()));
  EXPECT_TRUE(in.good());
}

// The open members taking a narrow path, a byte path or UTF-16 units reach
// the same file as the wide constructor, and keep the caller's mode.
TEST_F(FileStreams, OpenMembersByNarrowBytesAndUnits) {
  const std::string utf8 = dir() + "/n\xC3\xA9-\xF0\x9F\x98\x80.txt";
  const std::vector<byte> raw(utf8.begin(), utf8.end());
  std::vector<uint16> u = units(dir() + "/n");
  u.insert(u.end(), {0x00E9, '-', 0xD83D, 0xDE00, '.', 't', 'x', 't'});

  uni::ofstream out;
  out.open(utf8, std::ios::binary);
  ASSERT_TRUE(out.good());
  out << "first";
  out.close();
  EXPECT_EQ(quor_test::read_file_text(utf8), "first");

  out.open(raw, std::ios::app);
  ASSERT_TRUE(out.good());
  out << "+more";
  out.close();
  EXPECT_EQ(quor_test::read_file_text(utf8), "first+more") << "the caller's append mode is kept";

  out.open(raw, std::ios::binary);
  ASSERT_TRUE(out.good());
  out << "new";
  out.close();
  EXPECT_EQ(quor_test::read_file_text(utf8), "new") << "out alone truncates";

  uni::ifstream in;
  in.open(u, std::ios::binary);
  ASSERT_TRUE(in.good());
  std::string word;
  ASSERT_TRUE(in >> word);
  EXPECT_EQ(word, "new");
  in.close();

  // Failures set failbit on a stream that was good, and a later good open
  // clears it again.
  std::vector<uint16> missing = u;
  missing.push_back('~');
  in.open(missing, std::ios::binary);
  EXPECT_TRUE(in.fail());
  in.open(std::vector<uint16>());
  EXPECT_TRUE(in.fail());
  in.open(u);
  EXPECT_TRUE(in.good());
  in.close();
  out.open(std::string());
  EXPECT_TRUE(out.fail());
  out.open(std::vector<byte>());
  EXPECT_TRUE(out.fail());
  out.open(dir() + "/missing-dir/x", std::ios::binary);
  EXPECT_TRUE(out.fail());
  out.open(std::vector<byte>(raw.begin(), raw.end()), std::ios::binary);
  EXPECT_TRUE(out.good());
}

// Every way to open an output stream goes through the guarded opener, and
// keeps what the standard stream makes of the mode over a file that is
// there: out empties it, app writes at its end, in and out write over it.
TEST_F(FileStreams, OutputOpensKeepTheOutputRules) {
  const std::string text = "through the stream";
  using writer = quor_test::output_writer;
  const auto closed = [text](uni::ofstream& out) {
    out << text;
    out.close();
    return !out.fail();
  };
  // A stream made empty, then opened by `open`.
  const auto later = [closed](std::function<void(uni::ofstream&, const std::string&)> open) {
    return [=](const std::string& t) {
      uni::ofstream o;
      open(o, t);
      return closed(o);
    };
  };
  const auto wide = [](const std::string& t) { return std::wstring(t.begin(), t.end()); };
  const auto bytes = [](const std::string& t) { return std::vector<byte>(t.begin(), t.end()); };
  const std::ios::openmode over = std::ios::in | std::ios::out | std::ios::binary;
  const writer writers[] = {
      {"wide", [=](const std::string& t) { uni::ofstream o(wide(t), std::ios::binary); return closed(o); }, text},
      {"narrow app", [=](const std::string& t) { uni::ofstream o(t, std::ios::app); return closed(o); }, text,
       writer::appends},
      {"bytes in-out", [=](const std::string& t) { uni::ofstream o(bytes(t), over); return closed(o); }, text,
       writer::overwrites},
      {"units", [=](const std::string& t) { uni::ofstream o(units(t)); return closed(o); }, text},
      {"open narrow in-out", later([=](uni::ofstream& o, const std::string& t) { o.open(t, over); }), text,
       writer::overwrites},
      {"open bytes app",
       later([=](uni::ofstream& o, const std::string& t) { o.open(bytes(t), std::ios::app | std::ios::binary); }),
       text, writer::appends},
      {"open wide", later([=](uni::ofstream& o, const std::string& t) { o.open(wide(t)); }), text},
      {"open units", later([](uni::ofstream& o, const std::string& t) { o.open(units(t)); }), text},
  };
  for (const writer& w : writers) quor_test::expect_output_rules(w);

  // As with the standard stream: in and out need the file to be there, app
  // and trunc together are no mode, and an open stream is not opened again.
  const std::string missing = dir() + "/in-out-missing", present = dir() + "/present-twice";
  EXPECT_TRUE(uni::ofstream(missing, over).fail());
  EXPECT_TRUE(uni::ofstream(present, std::ios::app | std::ios::trunc).fail());
  struct stat st;
  EXPECT_NE(::stat(missing.c_str(), &st), 0);
  EXPECT_NE(::stat(present.c_str(), &st), 0);
  uni::ofstream twice(present);
  ASSERT_TRUE(twice.good());
  twice.open(missing);
  EXPECT_TRUE(twice.fail());
  EXPECT_TRUE(twice.is_open());
}

}  // namespace
