// Set-up, single inserts, erases, the value index and the text dump of the
// dictionary set, and which of its calls take the set's lock.
#include "dict/dictionary_set.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/dict/thread_waits.h"

namespace {

typedef std::vector<std::intptr_t> values;

values text_values(const DictionarySet& set, int dictionary, const std::string& key) {
  values out;
  set.list_in(key, dictionary, out);
  return out;
}

values u64_values(const DictionarySet& set, int dictionary, ulong64 key) {
  values out;
  set.list_in(key, dictionary, out);
  return out;
}

TEST(DictionarySet, EveryNumberedOperationRefusesABadNumberOrKind) {
  // Kinds 0, 2, 3: text, integer, floating.
  struct Op {
    const char* name;
    int fits;  // the one dictionary whose kind the call needs
    std::function<bool(DictionarySet&, int)> call;
  } ops[] = {
      {"insert u64", 1, [](DictionarySet& s, int d) { return s.insert(d, ulong64{4}, 1); }},
      {"insert double", 2, [](DictionarySet& s, int d) { return s.insert(d, 0.5, 1); }},
      {"insert text", 0,
       [](DictionarySet& s, int d) {
         std::string k = "Key";
         const bool ok = s.insert(d, k, 1);
         EXPECT_EQ(k, ok ? "key" : "Key") << "a refused insert leaves the caller's text alone";
         return ok;
       }},
      {"erase u64", 1, [](DictionarySet& s, int d) { return s.erase(d, ulong64{9}, 9); }},
      {"erase double", 2, [](DictionarySet& s, int d) { return s.erase(d, 9.5, 9); }},
      {"erase text", 0, [](DictionarySet& s, int d) { return s.erase(d, std::string("nine"), 9); }},
      {"list_in u64", 1, [](DictionarySet& s, int d) { return u64_values(s, d, 9) == values{9}; }},
      {"list_in text", 0, [](DictionarySet& s, int d) { return text_values(s, d, "nine") == values{9}; }},
  };
  for (const Op& op : ops) {
    for (int number : {-1, 0, 1, 2, 3}) {
      DictionarySet set(std::vector<int>{0, 2, 3}, false);
      std::string nine = "nine";
      ASSERT_TRUE(set.insert(0, nine, 9) && set.insert(1, ulong64{9}, 9) && set.insert(2, 9.5, 9));
      EXPECT_EQ(op.call(set, number), number == op.fits) << op.name << " on dictionary " << number;
    }
    DictionarySet uninitialised(false);
    EXPECT_FALSE(op.call(uninitialised, op.fits)) << op.name << " before init";
    DictionarySet empty(std::vector<int>{}, false);
    EXPECT_FALSE(op.call(empty, 0)) << op.name << " on a set of no dictionaries";
  }
  DictionarySet set(std::vector<int>{2}, false);
  std::ostringstream out;
  EXPECT_FALSE(set.dump(1, out));
  EXPECT_FALSE(set.dump(-1, out));
  set.clear();
  EXPECT_FALSE(set.dump(0, out));
  EXPECT_EQ(out.str(), "");
}

TEST(DictionarySet, InitChecksEveryKindFirstAndClearsWhatWasThere) {
  DictionarySet set(true);
  EXPECT_TRUE(set.init({}));
  EXPECT_TRUE(set.init_u64x4());
  ASSERT_TRUE(set.insert(3, ulong64{1}, 2));
  EXPECT_FALSE(set.init({0, 2, 7}));
  EXPECT_FALSE(set.insert(0, ulong64{1}, 2)) << "not initialised after a refused list";
  EXPECT_FALSE(set.init({-1}));
  EXPECT_FALSE(set.init({0, 4})) << "4 is the first kind past the range";
  EXPECT_FALSE(set.insert(0, ulong64{1}, 2));
  EXPECT_TRUE(set.init_string_u64_u64());
  EXPECT_TRUE(u64_values(set, 1, 1).empty());
  EXPECT_FALSE(set.insert(3, ulong64{1}, 2)) << "three dictionaries now";
  EXPECT_TRUE(set.init_u64x5());
  EXPECT_TRUE(set.insert(4, ulong64{1}, 2));
  EXPECT_TRUE(set.init_string_string_u64_u64());
  std::string alias = "x";
  EXPECT_TRUE(set.insert(1, alias, 2));
}

TEST(DictionarySet, TextKeysAreErasedAsGivenBothCopiesAtOnce) {
  DictionarySet set(std::vector<int>{1}, false);
  std::string key = "ReadMe", again = "README";
  ASSERT_TRUE(set.insert(0, key, 5) && set.insert(0, again, 5));
  EXPECT_FALSE(set.erase(0, std::string("ReadMe"), 5)) << "the erase compares the key without lowering it";
  EXPECT_TRUE(set.erase(0, std::string("readme"), 5));
  EXPECT_TRUE(text_values(set, 0, "readme").empty());
}

TEST(DictionarySet, EraseValueRemovesATrackedRecordEverywhere) {
  DictionarySet set(std::vector<int>{0, 1, 2, 3}, true);
  std::string name = "Report.TXT", other = "report.txt";
  ASSERT_TRUE(set.insert(0, name, 5) && set.insert(2, ulong64{40}, 5) && set.insert(3, 1.5, 5));
  ASSERT_TRUE(set.insert(0, other, 6) && set.insert(2, ulong64{40}, 6));
  std::string with_nul("ab\0CD", 5);
  ASSERT_TRUE(set.insert(1, with_nul, 5));
  ASSERT_TRUE(set.erase(2, ulong64{40}, 5)) << "a single erase leaves the value index alone";

  EXPECT_TRUE(set.erase_value(5));
  EXPECT_EQ(text_values(set, 0, "report.txt"), (values{6}));
  EXPECT_EQ(u64_values(set, 2, 40), (values{6}));
  EXPECT_EQ(set.find(1.5), 0);
  EXPECT_TRUE(text_values(set, 1, std::string("ab\0cd", 5)).empty()) << "a key holding a NUL goes too";
  EXPECT_FALSE(set.erase_value(5));
  EXPECT_FALSE(set.erase_value(77)) << "never inserted";
}

TEST(DictionarySet, NaNKeysAreRefusedSoTheOrderHolds) {
  const double nan = std::nan("");
  DictionarySet set(std::vector<int>{3, 3}, true);
  // Refused first, while the dictionary is empty, and again among keys.
  EXPECT_FALSE(set.insert(0, nan, 99));
  for (int k = 1; k <= 8; ++k) {
    ASSERT_TRUE(set.insert(0, static_cast<double>(k), k));
    if (k == 4) {
      EXPECT_FALSE(set.insert(0, -nan, 99));
    }
  }
  EXPECT_FALSE(set.insert(1, nan, 99));
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(set.find(static_cast<double>(k)), k) << k;
  values out;
  EXPECT_TRUE(set.list_range(-HUGE_VAL, HUGE_VAL, out));
  EXPECT_EQ(out, (values{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(set.find(nan), 0);
  EXPECT_FALSE(set.list(nan, out));
  EXPECT_FALSE(set.erase(0, nan, 99));
  EXPECT_FALSE(set.erase_value(99)) << "nothing of the refused key was tracked";
  std::ostringstream dump;
  ASSERT_TRUE(set.dump(1, dump));
  EXPECT_EQ(dump.str(), "dictionary #1\n");
}

TEST(DictionarySet, OnlyTheConstructorTurnsTrackingOn) {
  DictionarySet track_only(true);
  ASSERT_TRUE(track_only.init_u64x4());
  ASSERT_TRUE(track_only.insert(0, ulong64{1}, 3));
  EXPECT_FALSE(track_only.erase_value(3));
  EXPECT_EQ(u64_values(track_only, 0, 1), (values{3}));

  DictionarySet built(std::vector<int>{2}, true);
  ASSERT_TRUE(built.init({2}));
  ASSERT_TRUE(built.insert(0, ulong64{1}, 3));
  EXPECT_FALSE(built.erase_value(3)) << "init clears, and clearing ends tracking";
}

TEST(DictionarySet, DumpWritesPaddedKeyAndUnsignedValueLines) {
  DictionarySet set(std::vector<int>{2, 0, 3, 2}, false);
  ASSERT_TRUE(set.insert(0, ulong64{10}, -1));
  ASSERT_TRUE(set.insert(0, ulong64{3}, 12));
  ASSERT_TRUE(set.insert(0, ulong64{10}, 4));
  for (auto kv : {std::make_pair("Zeta", 1), std::make_pair("\xc3\xa9t\xc3\xa9", 2), std::make_pair("a", 3),
                  std::make_pair("A", 4), std::make_pair("a_name_longer_than_15", 5)}) {
    std::string key = kv.first;
    ASSERT_TRUE(set.insert(1, key, kv.second));
  }
  ASSERT_TRUE(set.insert(2, 2.5, 7));
  ASSERT_TRUE(set.insert(2, 1e20, 8));
  ASSERT_TRUE(set.insert(2, -0.125, 9));

  struct Case { int dictionary; const char* want; } cases[] = {
      {0,
       "dictionary #0\n"
       "3               : 12             \n"
       "10              : 18446744073709551615\n"
       "10              : 4              \n"},
      // Bytes compare unsigned, so the UTF-8 name sorts after z.
      {1,
       "dictionary #1\n"
       "a               : 3              \n"
       "a               : 4              \n"
       "a_name_longer_than_15 : 5              \n"
       "zeta            : 1              \n"
       "\xc3\xa9t\xc3\xa9           : 2              \n"},
      {2,
       "dictionary #2\n"
       "-0.125          : 9              \n"
       "2.5             : 7              \n"
       "1e+20           : 8              \n"},
      {3, "dictionary #3\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    EXPECT_TRUE(set.dump(c.dictionary, out));
    EXPECT_EQ(out.str(), c.want) << "dictionary " << c.dictionary;
    if (c.dictionary != 3) {
      EXPECT_TRUE(out.flags() & std::ios::left) << "the stream keeps the left adjustment";
    }
  }
}

// A stream whose first flush, the dump's heading line, waits to be released,
// so the dump stays inside the set's lock while another call is tried.
class HeldStream : public std::streambuf {
 public:
  std::promise<void> entered;
  std::promise<void> release;

 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int sync() override {
    if (!m_first) return 0;
    m_first = false;
    entered.set_value();
    release.get_future().wait();
    return 0;
  }

 private:
  bool m_first = true;
};

TEST(DictionarySet, InsertsEraseValueAndDumpWaitForTheLockOtherCallsDoNot) {
  using dict_test::start;
  const auto finishes = dict_test::kFinishes, stays_blocked = dict_test::kStaysBlocked;
  struct Op { const char* name; bool waits; std::function<void(DictionarySet&)> call; } ops[] = {
      {"insert u64", true, [](DictionarySet& s) { s.insert(1, ulong64{5}, 1); }},
      {"insert double", true, [](DictionarySet& s) { s.insert(3, 0.5, 1); }},
      {"insert text", true, [](DictionarySet& s) { std::string k = "k"; s.insert(0, k, 1); }},
      {"insert_record", true, [](DictionarySet& s) { s.insert_record("n", 1, 2, 3); }},
      {"erase_value", true, [](DictionarySet& s) { s.erase_value(2); }},
      {"dump", true, [](DictionarySet& s) { std::ostringstream out; s.dump(2, out); }},
      {"erase", false, [](DictionarySet& s) { s.erase(2, ulong64{9}, 2); }},
      {"find", false, [](DictionarySet& s) { s.find(ulong64{9}); }},
      {"list_range", false, [](DictionarySet& s) { values out; s.list_range(ulong64{0}, ulong64{10}, out); }},
      {"list_containing", false, [](DictionarySet& s) { std::string p; values out; s.list_containing(p, out); }},
      {"list_at_or_below", false, [](DictionarySet& s) { values out; s.list_at_or_below(ulong64{9}, out); }},
  };
  for (const Op& op : ops) {
    struct Shared {
      DictionarySet set{std::vector<int>{0, 2, 2, 3}, true};
      HeldStream held;
    };
    auto shared = std::make_shared<Shared>();
    ASSERT_TRUE(shared->set.insert(2, ulong64{9}, 2));
    std::future<void> entered = shared->held.entered.get_future();
    std::future<void> dumping = start([shared] {
      std::ostream out(&shared->held);
      shared->set.dump(1, out);
    });
    ASSERT_EQ(entered.wait_for(finishes), std::future_status::ready);
    std::future<void> other = start([shared, &op] { op.call(shared->set); });
    if (op.waits) {
      EXPECT_EQ(other.wait_for(stays_blocked), std::future_status::timeout) << op.name << " ran inside a dump";
    } else {
      EXPECT_EQ(other.wait_for(finishes), std::future_status::ready) << op.name << " waited for the lock";
    }
    shared->held.release.set_value();
    EXPECT_EQ(other.wait_for(finishes), std::future_status::ready) << op.name;
    EXPECT_EQ(dumping.wait_for(finishes), std::future_status::ready) << op.name;
  }
}

}  // namespace
