// Printable runs and keyword hits in raw bytes: hand-built buffers, and the
// $MFT of a fixture volume, whose names the listing beside it gives.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "utils/text_runs.h"

namespace {

std::string utf16(const std::string& ascii) {
  std::string s;
  for (char c : ascii) s += std::string(1, c) + '\0';
  return s;
}

const byte* bytes_of(const std::string& s) { return reinterpret_cast<const byte*>(s.data()); }

struct runs { std::vector<std::string> strings; std::vector<ulong64> offsets; };

TEST(TextRuns, Utf16Runs) {
  const std::string abc = utf16("ABC") + "\xFF";
  runs r;
  ASSERT_TRUE(find_utf16_strings(bytes_of(abc), 7, 3, &r.strings, &r.offsets));
  EXPECT_EQ(r.strings, std::vector<std::string>{"ABC"});
  EXPECT_EQ(r.offsets, std::vector<ulong64>{0});
  ASSERT_TRUE(find_utf16_strings_at(bytes_of(abc), 7, 3, &r.strings, &r.offsets, 4096, true));
  EXPECT_EQ(r.offsets, (std::vector<ulong64>{0, 4096}));
  // At an odd offset, with a leading blank dropped, and one too short.
  const std::string odd = "\x01" + utf16(" xyz") + "\x02\x03" + utf16("ab");
  ASSERT_TRUE(find_utf16_strings_at(bytes_of(odd), static_cast<uint32>(odd.size()), 3, &r.strings, &r.offsets, 0, false));
  EXPECT_EQ(r.strings, std::vector<std::string>{"xyz"});
  EXPECT_EQ(r.offsets, std::vector<ulong64>{3});
  const byte one = 'A';
  ASSERT_TRUE(find_utf16_strings(&one, 1, 1, &r.strings, &r.offsets));
  EXPECT_TRUE(r.strings.empty());
  EXPECT_FALSE(find_utf16_strings(nullptr, 4, 1, &r.strings, &r.offsets));
}

TEST(TextRuns, AsciiRuns) {
  const std::string text("  xyz\0   \0ab", 12);
  runs at, plain;
  ASSERT_TRUE(find_ascii_strings_at(bytes_of(text), 12, 2, &at.strings, &at.offsets, 10, false));
  EXPECT_EQ(at.strings, (std::vector<std::string>{"xyz", "ab"}));
  EXPECT_EQ(at.offsets, (std::vector<ulong64>{12, 20}));
  ASSERT_TRUE(find_ascii_strings(bytes_of(text), 12, 2, &plain.strings, &plain.offsets));
  EXPECT_EQ(plain.strings, (std::vector<std::string>{"  xyz", "ab"}));
  EXPECT_EQ(plain.offsets, (std::vector<ulong64>{0, 10}));
  const std::string blanks("x\0   ", 5);
  ASSERT_TRUE(find_ascii_strings(bytes_of(blanks), 5, 1, &plain.strings, &plain.offsets));
  EXPECT_EQ(plain.strings, std::vector<std::string>{"x"});  // blanks alone never count
  // DEL (0x7F) sits just past the printable range and ends a run.
  const std::string del = "xy\x7Fzw";
  ASSERT_TRUE(find_ascii_strings_at(bytes_of(del), 5, 2, &at.strings, &at.offsets, 0, false));
  EXPECT_EQ(at.strings, (std::vector<std::string>{"xy", "zw"}));
  EXPECT_EQ(at.offsets, (std::vector<ulong64>{0, 3}));
  ASSERT_TRUE(find_ascii_strings(bytes_of(del), 5, 2, &plain.strings, &plain.offsets));
  EXPECT_EQ(plain.strings, (std::vector<std::string>{"xy", "zw"}));
  const std::string wide_del = utf16("ab") + std::string("\x7F\0", 2) + utf16("cd");
  ASSERT_TRUE(find_utf16_strings(bytes_of(wide_del), 10, 2, &plain.strings, &plain.offsets));
  EXPECT_EQ(plain.strings, (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(plain.offsets, (std::vector<ulong64>{0, 6}));
  std::vector<uint32> hits{1};
  EXPECT_FALSE(find_keyword_ascii("secret", bytes_of("se\x7F" "cret"), 7, &hits, 0, false));
  EXPECT_TRUE(hits.empty());
  // Minimum 0: every place a run ends reports it, empty ones too.
  ASSERT_TRUE(find_ascii_strings_at(bytes_of(std::string("\0a\0", 3)), 3, 0, &at.strings, &at.offsets, 0, false));
  EXPECT_EQ(at.strings, (std::vector<std::string>{"", "a", ""}));
  EXPECT_EQ(at.offsets, (std::vector<ulong64>{0, 1, 3}));
}

TEST(TextRuns, KeywordsInBothEncodingsAtOddAndEvenOffsets) {
  std::string buf(600, '\x01');
  auto put = [&](size_t at, const std::string& s) { buf.replace(at, s.size(), s); };
  put(101, "Secret");
  put(200, "xxSECRETsecret");
  put(300, utf16("secret"));
  put(401, utf16("a SeCrEt"));
  const std::string tail = utf16("top secret");
  put(buf.size() - tail.size(), tail);
  std::vector<uint32> hits{99};
  ASSERT_TRUE(find_keyword_ascii("sEcReT", bytes_of(buf), static_cast<uint32>(buf.size()), &hits, 0, false));
  EXPECT_EQ(hits, (std::vector<uint32>{101, 202, 208}));
  ASSERT_TRUE(find_keyword_utf16("SECRET", bytes_of(buf), static_cast<uint32>(buf.size()), &hits, 1000, false));
  EXPECT_EQ(hits, (std::vector<uint32>{1300, 1405, 1000 + 600 - 12}));
  hits.assign(1, 5);
  EXPECT_FALSE(find_keyword_ascii("", bytes_of(buf), 600, &hits, 0, true));
  EXPECT_FALSE(find_keyword_utf16("", bytes_of(buf), 600, &hits, 0, true));
  EXPECT_EQ(hits, std::vector<uint32>{5});
  ASSERT_TRUE(find_keyword_ascii("Temp", bytes_of("TEMP_1 temp_2"), 13, &hits, 0, false));
  EXPECT_EQ(hits, (std::vector<uint32>{0, 7}));
}

TEST(TextRuns, NamesInTheMftOfAFixtureVolume) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat (The Sleuth Kit) not installed";
  const std::string image = quor_test::fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "fixture sample.img missing";
  std::string mft;
  ASSERT_EQ(quor_test::run_command("icat '" + image + "' 0", mft), 0);
  ASSERT_GT(mft.size(), 16u * 1024);
  runs r;
  ASSERT_TRUE(find_utf16_strings(bytes_of(mft), static_cast<uint32>(mft.size()), 1, &r.strings, &r.offsets));
  // A name ends its run, unless the attribute after it starts with a type
  // byte that reads as one more character (0x50, $SECURITY_DESCRIPTOR: "P").
  std::set<std::string> found;
  for (const std::string& s : r.strings) {
    found.insert(s);
    if (s.size() > 1) found.insert(s.substr(0, s.size() - 1));
  }

  size_t names = 0;
  for (const auto& e : quor_test::read_listing("sample")) {
    const std::string name = e.path.substr(e.path.rfind('/') + 1);
    bool plain = !name.empty() && name[0] != ' ';
    for (char c : name) plain = plain && c >= 0x20 && c <= 0x7E;
    if (!plain) continue;
    ++names;
    EXPECT_TRUE(found.count(name)) << name;
    std::vector<uint32> hits;
    ASSERT_TRUE(find_keyword_utf16(name, bytes_of(mft), static_cast<uint32>(mft.size()), &hits, 0, false)) << name;
    for (uint32 at : hits) {
      ASSERT_LE(at + 2 * name.size(), mft.size());
      std::string lower = mft.substr(at, 2 * name.size()), want = utf16(name);
      for (std::string* s : {&lower, &want})
        for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_EQ(lower, want) << name << " at " << at;
    }
  }
  EXPECT_GT(names, 50u);
}

}  // namespace

namespace {

runs at_least(const runs& all, size_t m) {
  runs kept;
  for (size_t k = 0; k < all.strings.size(); ++k)
    if (all.strings[k].size() >= m) {
      kept.strings.push_back(all.strings[k]);
      kept.offsets.push_back(all.offsets[k]);
    }
  return kept;
}

// The scans skip ahead when a minimum lets them; on random data that mixes
// text, blanks, zeros and noise they must report exactly the runs of the
// step-by-step scans that reach the minimum.
TEST(TextRuns, SkippingScansMatchTheStepByStepScan) {
  std::mt19937 rng(21);
  const std::string alphabet("ab \0\x01\xff", 6);
  for (int round = 0; round < 300; ++round) {
    std::string buf(rng() % 300 + 1, ' ');
    for (char& c : buf) c = alphabet[rng() % (round % 2 ? 6 : 4)];
    const byte* b = bytes_of(buf);
    const uint32 n = static_cast<uint32>(buf.size());
    runs all, all16;
    ASSERT_TRUE(find_ascii_strings_at(b, n, 1, &all.strings, &all.offsets, 7, false));
    ASSERT_TRUE(find_utf16_strings_at(b, n, 0, &all16.strings, &all16.offsets, 0, false));
    for (int m = 2; m <= 5; ++m) {
      runs some, some16;
      ASSERT_TRUE(find_ascii_strings_at(b, n, m, &some.strings, &some.offsets, 7, false));
      ASSERT_TRUE(find_utf16_strings_at(b, n, m, &some16.strings, &some16.offsets, 0, false));
      const runs want = at_least(all, m), want16 = at_least(all16, m);
      ASSERT_EQ(some.strings, want.strings);
      ASSERT_EQ(some.offsets, want.offsets);
      ASSERT_EQ(some16.strings, want16.strings);
      ASSERT_EQ(some16.offsets, want16.offsets);
    }
  }
}

}  // namespace
