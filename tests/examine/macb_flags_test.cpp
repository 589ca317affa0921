// MACB letters per instant and the time-keyed map of one entry.
#include <gtest/gtest.h>

#include <sstream>

#include "examine/macb_flags.h"

namespace {

std::string printed(const macb_flags& f, bool end_line = false) {
  std::ostringstream out;
  f.print(out, end_line);
  return out.str();
}

TEST(MacbFlags, LettersBySourceAndTheirText) {
  macb_flags f;
  EXPECT_EQ(printed(f, true), "");  // nothing present: no line end either
  f.set_fn83_m();
  f.set_si_a();
  f.set_c(2);
  f.set_b(2);
  f.set_m(0);  // no such slot
  EXPECT_EQ(printed(f, true), "si:[.a..]; fn:[..cb]; fn8.3[m...]\n");
  f.clear();
  f.set_si_m();
  f.set_si_b();
  EXPECT_EQ(printed(f), "si:[m..b]");
  EXPECT_FALSE(f.has_fn || f.has_fn83);
}

TEST(MacbTimeMap, InstantsCollectLettersAndNamesAcrossSources) {
  const ulong64 t1 = 100, t2 = 200, t3 = 300, t4 = 400;
  macb_time_map map;
  add_macb_times(map, 1, 0, 0, 0, 0, L"nothing", false);
  EXPECT_TRUE(map.empty());
  add_macb_times(map, 1, t1, t2, t3, t4, L"x", false);
  add_macb_times(map, 3, t1, t2, t3, t4, L"X~1", true);
  ASSERT_EQ(map.size(), 4u);
  EXPECT_EQ(printed(map.at(t1).flags), "si:[m...]; fn8.3[m...]");
  EXPECT_EQ(printed(map.at(t4).flags), "si:[...b]; fn8.3[...b]");
  EXPECT_EQ(map.at(t1).names, (std::set<std::string>{"", "x"}));
  EXPECT_EQ(map.at(t1).short_names, (std::set<std::string>{"X~1"}));

  // Equal times of one attribute share an instant; a name is held once.
  macb_time_map fn;
  add_macb_times(fn, 2, t1, t1, t3, 0, L"a.txt", false);
  add_macb_times(fn, 2, t1, t1, t3, 0, L"a.txt", false);
  ASSERT_EQ(fn.size(), 2u);
  EXPECT_EQ(fn.at(t1).flags.fn, "ma..");
  EXPECT_EQ(fn.at(t1).names, (std::set<std::string>{"a.txt"}));
  EXPECT_EQ(fn.at(t1).short_names, (std::set<std::string>{""}));  // the other kind's empty text

  // Unsigned order: the top bit sorts last.
  macb_time_map order;
  add_macb_times(order, 1, 0x8000000000000000ull, 5, 0, 0, nullptr, false);
  EXPECT_EQ(order.begin()->first, 5u);
}

}  // namespace
