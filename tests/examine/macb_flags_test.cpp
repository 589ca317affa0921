// MACB letters per instant: the cases the walker's istat comparison and the
// timeline goldens do not reach (letters and grouping by instant are pinned
// there).
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "examine/macb_flags.h"

namespace {

std::string printed(const macb_flags& f) {
  std::ostringstream out;
  f.print(out, true);
  return out.str();
}

TEST(MacbFlags, EmptyFlagsPrintNothingAndUnknownSlotsAreIgnored) {
  macb_flags f;
  EXPECT_EQ(printed(f), "");  // nothing present: no line end either
  f.set_fn83_m();
  f.set_si_a();
  f.set_c(2);
  f.set_b(2);
  f.set_m(0);  // no such slot
  EXPECT_EQ(printed(f), "si:[.a..]; fn:[..cb]; fn8.3[m...]\n");
}

TEST(MacbTimeMap, ZeroTimesAreNoInstants) {
  macb_time_map map;
  add_macb_times(map, 1, 0, 0, 0, 0, L"nothing", false);
  EXPECT_TRUE(map.empty());
}

TEST(MacbTimeMap, ClearedEntryHasNoLettersNamesPathOrStream) {
  macb_time_map map;
  add_macb_times(map, 2, 7, 7, 7, 7, L"long.txt", false);
  add_macb_times(map, 3, 7, 0, 0, 0, L"LONG~1.TXT", true);
  macb_time_entry& e = map.at(7);
  e.path = "\\dir\\";
  e.stream = "ads";
  ASSERT_EQ(printed(e.flags), "fn:[macb]; fn8.3[m...]\n");
  ASSERT_EQ(e.names.count("long.txt") + e.short_names.count("LONG~1.TXT"), 2u);
  e.clear();
  EXPECT_EQ(printed(e.flags), "");
  EXPECT_TRUE(e.names.empty() && e.short_names.empty() && e.path.empty() && e.stream.empty());
}

// Instants run in unsigned order: a FILETIME with the top bit set (as a
// damaged or hostile record may carry) comes after every smaller one, never
// first as a signed key would put it.
TEST(MacbTimeMap, KeysRunInUnsignedOrder) {
  const ulong64 top = 0x8000000000000001ULL, below_top = 0x7FFFFFFFFFFFFFFFULL;
  macb_time_map map;
  add_macb_times(map, 1, top, 5, below_top, 0xFFFFFFFFFFFFFFFFULL, L"a.txt", false);
  add_macb_times(map, 2, 7, top, 0, 0, L"a.txt", false);
  std::vector<ulong64> keys;
  std::vector<std::string> letters;
  for (const auto& kv : map) {
    keys.push_back(kv.first);
    letters.push_back(printed(kv.second.flags));
  }
  EXPECT_EQ(keys, (std::vector<ulong64>{5, 7, below_top, top, 0xFFFFFFFFFFFFFFFFULL}));
  EXPECT_EQ(letters, (std::vector<std::string>{"si:[.a..]\n", "fn:[m...]\n", "si:[..c.]\n",
                                               "si:[m...]; fn:[.a..]\n", "si:[...b]\n"}));
}

// The same name reaching an instant twice is held once; the other set takes
// the empty text of the call that gave no name of its kind.
TEST(MacbTimeMap, SameNameTwiceIsHeldOnce) {
  macb_time_map map;
  add_macb_times(map, 2, 9, 9, 0, 0, L"same.txt", false);
  add_macb_times(map, 2, 9, 0, 9, 0, L"same.txt", false);
  add_macb_times(map, 3, 9, 0, 0, 0, L"SAME~1.TXT", true);
  add_macb_times(map, 3, 9, 0, 0, 0, L"SAME~1.TXT", true);
  ASSERT_EQ(map.size(), 1u);
  const macb_time_entry& e = map.at(9);
  EXPECT_EQ(e.names, (std::set<std::string>{"", "same.txt"}));
  EXPECT_EQ(e.short_names, (std::set<std::string>{"", "SAME~1.TXT"}));
  EXPECT_EQ(printed(e.flags), "fn:[mac.]; fn8.3[m...]\n");
}

}  // namespace
