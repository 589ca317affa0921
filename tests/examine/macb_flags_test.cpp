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

TEST(MacbFlags, SettersAndPrint) {
  const struct {
    void (*set)(macb_flags&);
    const char* text;
  } cases[] = {
      {[](macb_flags& f) { f.set_si_m(); f.set_si_b(); }, "si:[m..b]"},
      {[](macb_flags& f) { f.set_si_m(); f.set_si_a(); f.set_si_c(); f.set_fn_b(); }, "si:[mac.]; fn:[...b]"},
      {[](macb_flags& f) { f.set_fn_a(); f.set_fn83_a(); }, "fn:[.a..]; fn8.3[.a..]"},
      {[](macb_flags& f) { f.set_fn83_m(); f.set_fn83_c(); f.set_fn_c(); }, "fn:[..c.]; fn8.3[m.c.]"},
      {[](macb_flags& f) { f.set_m(3); f.set_a(1); f.set_b(2); f.set_c(2); }, "si:[.a..]; fn:[..cb]; fn8.3[m...]"},
      // A slot other than 1, 2 or 3 selects nothing.
      {[](macb_flags& f) { f.set_m(0); f.set_b(4); }, ""},
  };
  for (const auto& c : cases) {
    macb_flags f;
    c.set(f);
    EXPECT_EQ(printed(f), c.text);
  }
  macb_flags none;
  EXPECT_EQ(printed(none, true), "");  // no line end without an item
  macb_flags one;
  one.set_si_c();
  EXPECT_EQ(printed(one, true), "si:[..c.]\n");
  one.clear();
  EXPECT_EQ(one.si, "....");
  EXPECT_FALSE(one.has_si);
}

TEST(MacbTimeMap, InstantsCollectLettersAndNamesAcrossSources) {
  const ulong64 t1 = 100, t2 = 200, t3 = 300, t4 = 400;
  macb_time_map map;
  add_macb_times(map, 1, 0, 0, 0, 0, L"nothing", false);
  EXPECT_TRUE(map.empty());

  add_macb_times(map, 1, t1, t2, t3, t4, L"x", false);
  add_macb_times(map, 3, t1, t2, t3, t4, L"X~1", true);
  ASSERT_EQ(map.size(), 4u);
  const macb_time_entry& m = map.at(t1);
  EXPECT_EQ(printed(m.flags), "si:[m...]; fn8.3[m...]");
  EXPECT_EQ(m.names, (std::set<std::string>{"", "x"}));
  EXPECT_EQ(m.short_names, (std::set<std::string>{"X~1"}));
  EXPECT_EQ(printed(map.at(t4).flags), "si:[...b]; fn8.3[...b]");

  // Modified equal to accessed in one attribute: one instant, two letters.
  macb_time_map fn;
  add_macb_times(fn, 2, t1, t1, t3, t4, L"a.txt", false);
  add_macb_times(fn, 2, t1, t1, t3, t4, L"a.txt", false);
  ASSERT_EQ(fn.size(), 3u);
  EXPECT_EQ(fn.at(t1).flags.fn, "ma..");
  EXPECT_FALSE(fn.at(t1).flags.has_si);
  EXPECT_EQ(fn.at(t3).flags.fn, "..c.");
  EXPECT_EQ(fn.at(t1).names.count("a.txt"), 1u);
  EXPECT_TRUE(fn.at(t1).path.empty() && fn.at(t1).stream.empty());

  // Keys run in unsigned order: the top bit sorts last.
  macb_time_map order;
  add_macb_times(order, 1, 0x8000000000000000ull, 5, 0, 0, nullptr, false);
  EXPECT_EQ(order.begin()->first, 5u);
  EXPECT_TRUE(order.begin()->second.names.empty());
}

}  // namespace
