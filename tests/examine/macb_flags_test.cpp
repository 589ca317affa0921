// MACB letters per instant: the cases the walker's istat comparison and the
// timeline goldens do not reach (letters and grouping by instant are pinned
// there).
#include <gtest/gtest.h>

#include <sstream>

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

}  // namespace
