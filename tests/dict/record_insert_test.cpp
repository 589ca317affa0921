// One value filed across several dictionaries in one call, and many such
// calls from several threads at once.
#include "dict/dictionary_set.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::vector<std::intptr_t> values;

values in(const DictionarySet& set, int dictionary, ulong64 key) {
  values out;
  set.list_in(key, dictionary, out);
  return out;
}

TEST(RecordInsert, FourIntegersFillDictionariesZeroToThree) {
  DictionarySet set(false);
  ASSERT_TRUE(set.init_u64x4());
  EXPECT_TRUE(set.insert_record(1, 2, 3, 4, 9));
  EXPECT_EQ(set.find(ulong64{3}), 9);
  for (int d = 0; d < 4; ++d) EXPECT_EQ(in(set, d, ulong64(d + 1)), values{9}) << d;
}

TEST(RecordInsert, NameListsFillTheTextDictionariesWithoutLoweringTheCallersText) {
  DictionarySet set(false);
  ASSERT_TRUE(set.init_string_string_u64_u64());
  const std::string name = "Setup.EXE";
  const std::vector<std::string> aliases{"SETUP~1.EXE", "Installer"};
  EXPECT_TRUE(set.insert_record(name, aliases, 77, std::vector<ulong64>{5, 6, 5}, 42));
  EXPECT_EQ(name, "Setup.EXE");
  EXPECT_EQ(aliases[0], "SETUP~1.EXE");
  for (std::string alias : {"setup~1.exe", "INSTALLER"}) {
    values out;
    EXPECT_TRUE(set.list_secondary(alias, out));
    EXPECT_EQ(out, values{42}) << alias;
  }
  values out;
  std::string primary = "setup.exe";
  EXPECT_FALSE(set.list_secondary(primary, out)) << "the name goes to dictionary 0 only";
  EXPECT_EQ(in(set, 2, 77), values{42});
  EXPECT_EQ(in(set, 3, 5), (values{42, 42}));
  EXPECT_EQ(in(set, 3, 6), values{42});

  EXPECT_TRUE(set.insert_record("Other", {}, 1, 2, 43)) << "an empty name list is no failure";
  EXPECT_EQ(in(set, 3, 2), values{43});
  EXPECT_TRUE(set.insert_record("Third", {}, 1, std::vector<ulong64>{}, 44));
  EXPECT_EQ(in(set, 2, 1), (values{43, 44}));
}

TEST(RecordInsert, StopsAtTheFirstDictionaryThatDoesNotFitAndKeepsTheRest) {
  DictionarySet set(false);
  ASSERT_TRUE(set.init_u64x4());
  EXPECT_FALSE(set.insert_record(1, 2, 3, 4, 5, 9)) << "there is no dictionary 4";
  for (int d = 0; d < 4; ++d) EXPECT_EQ(in(set, d, ulong64(d + 1)), values{9}) << d;

  ASSERT_TRUE(set.init_string_u64_u64());
  EXPECT_FALSE(set.insert_record(1, 2, 3, 4, 9)) << "dictionary 0 holds text";
  EXPECT_TRUE(in(set, 1, 2).empty());
  EXPECT_TRUE(set.insert_record("name", 2, 3, 9));
  EXPECT_FALSE(set.insert_record("name", {"alias"}, 2, 3, 10)) << "dictionary 1 holds integers";
  values out;
  std::string name = "name";
  EXPECT_TRUE(set.list(name, out));
  EXPECT_EQ(out, (values{9, 10}));
}

// Run once by hand under ThreadSanitizer as well: the inserts' lock must
// also cover the value index.
TEST(RecordInsert, ConcurrentInsertsFromSeveralThreadsAllLand) {
  const int threads = 4, per_thread = 2000;
  DictionarySet set(std::vector<int>{0, 1, 2, 2}, true);
  std::vector<std::future<bool>> workers;
  for (int t = 0; t < threads; ++t) {
    workers.push_back(std::async(std::launch::async, [&set, t] {
      bool ok = true;
      for (int i = 0; i < per_thread; ++i) {
        const std::intptr_t value = t * per_thread + i + 1;
        const std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
        ok &= set.insert_record(name, {"shared", name + ".alias"}, ulong64(i), ulong64(value), value);
      }
      return ok;
    }));
  }
  for (auto& w : workers) {
    ASSERT_EQ(w.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(w.get());
  }
  const size_t total = threads * per_thread;
  values out;
  EXPECT_TRUE(set.list_range(ulong64{0}, ~ulong64{0}, out));
  EXPECT_EQ(out.size(), 2 * total) << "one key in each integer dictionary per record";
  std::string shared = "shared";
  EXPECT_TRUE(set.list_secondary(shared, out));
  EXPECT_EQ(out.size(), total);
  std::vector<std::string> keys;
  std::string part = "_";
  EXPECT_TRUE(set.list_containing_secondary(part, out, keys));
  EXPECT_EQ(out.size(), total) << "one alias of each record holds an underscore";
  for (std::intptr_t v = 1; v <= static_cast<std::intptr_t>(total); ++v) {
    ASSERT_EQ(in(set, 3, ulong64(v)), values{v});
    ASSERT_TRUE(set.erase_value(v)) << v;
  }
  EXPECT_FALSE(set.list_range(ulong64{0}, ~ulong64{0}, out)) << "every back-reference was recorded";
  EXPECT_FALSE(set.list_containing(part, out));
}

}  // namespace
