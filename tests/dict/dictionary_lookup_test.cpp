// Finds and lists by exact key, range, contained text and at-or-below:
// the rules' own cases, then thousands of random records checked against a
// plain model of sorted vectors.
#include "dict/dictionary_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::vector<std::intptr_t> values;

TEST(DictionaryLookup, EqualKeysAcrossAndWithinDictionaries) {
  DictionarySet set(std::vector<int>{2, 2}, false);
  ASSERT_TRUE(set.insert(0, ulong64{7}, 1) && set.insert(1, ulong64{7}, 2));
  EXPECT_EQ(set.find(ulong64{7}), 1);
  values out;
  EXPECT_TRUE(set.list(ulong64{7}, out));
  EXPECT_EQ(out, (values{1, 2}));

  DictionarySet one(std::vector<int>{2}, false);
  for (std::intptr_t v : {3, 1, 2}) ASSERT_TRUE(one.insert(0, ulong64{7}, v));
  EXPECT_TRUE(one.list(ulong64{7}, out));
  EXPECT_EQ(out, (values{3, 1, 2})) << "insertion order, not value order";
  EXPECT_TRUE(one.list_range(ulong64{7}, ulong64{7}, out));
  EXPECT_EQ(out, (values{3, 1, 2}));
  EXPECT_FALSE(one.list_range(ulong64{8}, ulong64{6}, out)) << "a low bound above the high one";
  EXPECT_EQ(one.find(ulong64{8}), 0);
}

TEST(DictionaryLookup, TextLookupsLowerTheCallersTextListInDoesNot) {
  DictionarySet set(std::vector<int>{0, 1, 2}, false);
  std::string key = "Abc", alias = "zABcz", other = "b";
  ASSERT_TRUE(set.insert(0, key, 1) && set.insert(1, alias, 2) && set.insert(0, other, 3));
  values out;
  std::string wanted = "ABC";
  EXPECT_TRUE(set.list(wanted, out));
  EXPECT_EQ(out, values{1});
  EXPECT_EQ(wanted, "abc");
  EXPECT_FALSE(set.list_in(std::string("ABC"), 0, out));
  EXPECT_TRUE(set.list_in(std::string("abc"), 0, out));
  wanted = "ABC";
  EXPECT_EQ(set.find(wanted), 1);
  EXPECT_EQ(wanted, "abc");

  std::string empty;
  EXPECT_TRUE(set.list_containing(empty, out));
  EXPECT_EQ(out, (values{1, 3, 2})) << "dictionary order, then key order";
  std::string part = "BC";
  EXPECT_TRUE(set.list_containing(part, out));
  EXPECT_EQ(out, (values{1, 2}));
  EXPECT_EQ(part, "bc");
  part = "BC";
  EXPECT_TRUE(set.list_containing_primary(part, out));
  EXPECT_EQ(out, values{1});
  std::vector<std::string> keys{"stale"};
  part = "BC";
  EXPECT_TRUE(set.list_containing_secondary(part, out, keys));
  EXPECT_EQ(out, values{2});
  EXPECT_EQ(keys, std::vector<std::string>{"zabcz"});
  part = "q";
  EXPECT_FALSE(set.list_containing_secondary(part, out, keys));
  EXPECT_TRUE(keys.empty());
}

TEST(DictionaryLookup, AtOrBelowAtBetweenAndBeyondTheKeys) {
  struct Case {
    std::vector<std::pair<ulong64, std::intptr_t>> entries;
    ulong64 key;
    values want;
  } cases[] = {
      {{{10, 1}, {20, 2}}, 10, {1}},
      {{{10, 1}, {20, 2}}, 15, {1}},
      {{{10, 1}, {20, 2}}, 20, {2}},
      {{{10, 1}, {20, 2}}, 5, {}},   // nothing below the first key
      {{{10, 1}, {20, 2}}, 25, {}},  // no key at or above it
      {{{10, 1}, {10, 2}, {20, 3}}, 15, {2}},
      {{{10, 1}, {10, 2}, {20, 3}}, 10, {1, 2}},
      {{{0, 4}, {~ulong64{0}, 5}}, ~ulong64{0} - 1, {4}},
      {{}, 3, {}},
  };
  for (const Case& c : cases) {
    DictionarySet set(false);
    ASSERT_TRUE(set.init_u64x4());
    for (const auto& e : c.entries) ASSERT_TRUE(set.insert(3, e.first, e.second));
    values out{99}, out3{99};
    EXPECT_EQ(set.list_at_or_below(c.key, out), !c.want.empty());
    EXPECT_EQ(out, c.want) << "key " << c.key;
    EXPECT_EQ(set.list_at_or_below_dict3(c.key, out3), !c.want.empty());
    EXPECT_EQ(out3, c.want) << "key " << c.key;
  }
  DictionarySet three(false);
  ASSERT_TRUE(three.init_string_u64_u64());
  ASSERT_TRUE(three.insert(2, ulong64{1}, 1));
  values out{99};
  EXPECT_FALSE(three.list_at_or_below_dict3(1, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(three.list_at_or_below(1, out));
}

TEST(DictionaryLookup, RefusedListsHandBackEmptyVectors) {
  DictionarySet unset(false);
  std::string text = "ABC";
  values out{7};
  EXPECT_EQ(unset.find(text), 0);
  EXPECT_FALSE(unset.list(text, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(unset.list_containing(text, out));
  EXPECT_EQ(text, "ABC") << "not lower-cased when the set is not initialised";
  EXPECT_FALSE(unset.list_range(0.0, 1.0, out));

  DictionarySet set(std::vector<int>{2, 3, 2}, false);
  ASSERT_TRUE(set.insert(0, ulong64{1}, 1) && set.insert(1, 1.0, 2));
  out = {7};
  EXPECT_FALSE(set.list_in(ulong64{1}, 1, out)) << "dictionary 1 is floating";
  EXPECT_TRUE(out.empty());
  out = {7};
  EXPECT_FALSE(set.list_range_in(0, 5, 3, out));
  EXPECT_TRUE(out.empty());
  out = {7};
  EXPECT_FALSE(set.list_in(std::string("x"), 0, out));
  EXPECT_TRUE(set.list_range_in(0, 5, 0, out));
  EXPECT_FALSE(set.list_range(std::nan(""), 5.0, out)) << "a NaN bound matches nothing";
  EXPECT_TRUE(set.list_range(-1.0, 1.0, out));
  EXPECT_EQ(out, values{2});
  EXPECT_EQ(set.find(1.0), 2);
}

// The model: per dictionary, its entries in a vector sorted stably by key,
// so equal keys keep their insertion order. Every expectation is a plain
// scan over it.
struct Model {
  std::vector<int> kinds;
  std::vector<std::vector<std::pair<std::string, std::intptr_t>>> text;
  std::vector<std::vector<std::pair<ulong64, std::intptr_t>>> u64;
  std::vector<std::vector<std::pair<double, std::intptr_t>>> real;

  explicit Model(const std::vector<int>& k) : kinds(k), text(k.size()), u64(k.size()), real(k.size()) {}

  template <class Entries>
  static void sort_entries(Entries& e) {
    std::stable_sort(e.begin(), e.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  void sort() {
    for (size_t d = 0; d < kinds.size(); ++d) {
      sort_entries(text[d]);
      sort_entries(u64[d]);
      sort_entries(real[d]);
    }
  }
  void erase_value(std::intptr_t v) {
    auto drop = [v](auto& entries) {
      entries.erase(std::remove_if(entries.begin(), entries.end(), [v](const auto& e) { return e.second == v; }),
                    entries.end());
    };
    for (size_t d = 0; d < kinds.size(); ++d) {
      drop(text[d]);
      drop(u64[d]);
      drop(real[d]);
    }
  }
  // Values of every entry, over the dictionaries of the kinds given, that
  // the predicate accepts.
  template <class Entries, class Pred>
  values select(const std::vector<Entries>& all, int low_kind, int high_kind, Pred pred) const {
    values out;
    for (size_t d = 0; d < kinds.size(); ++d) {
      if (kinds[d] < low_kind || kinds[d] > high_kind) continue;
      for (const auto& e : all[d]) {
        if (pred(e.first)) out.push_back(e.second);
      }
    }
    return out;
  }
  // All entries of the key if it is there; else the last entry of the
  // greatest smaller key, provided some key is greater.
  values at_or_below(size_t d, ulong64 key) const {
    values equal, out;
    bool greater = false;
    for (const auto& e : u64[d]) {
      if (e.first == key) equal.push_back(e.second);
      if (e.first > key) greater = true;
    }
    if (!equal.empty()) return equal;
    const std::pair<ulong64, std::intptr_t>* below = nullptr;
    for (const auto& e : u64[d]) {
      if (e.first < key) below = &e;
    }
    if (below && greater) out.push_back(below->second);
    return out;
  }
};

std::string lowered(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

TEST(DictionaryLookup, RandomRecordsAgreeWithASortedVectorModel) {
  // 0-3 take whole records; 4-7 single inserts; 3 and 7 are integer.
  const std::vector<int> kinds{0, 1, 2, 2, 3, 1, 3, 2};
  DictionarySet set(kinds, true);
  Model model(kinds);
  std::mt19937 rng(20);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string letters = "abcAB._\xc3\xa9";
  auto random_text = [&](int max_length) {
    std::string s;
    for (int n = pick(max_length + 1); n > 0; --n) s += letters[static_cast<size_t>(pick(int(letters.size())))];
    return s;
  };
  // Mostly small keys that collide, sometimes keys near the top of the range.
  auto random_u64 = [&]() -> ulong64 {
    return pick(10) == 0 ? ~ulong64{0} - static_cast<ulong64>(pick(5)) : static_cast<ulong64>(pick(300));
  };
  auto random_double = [&]() { return (pick(200) - 100) / 4.0; };

  const int records = 3000;
  for (int r = 0; r < records; ++r) {
    const std::intptr_t value = (r % 3 == 0 ? -1 : 1) * static_cast<std::intptr_t>(r + 1) * 7919;
    const std::string name = random_text(5);
    std::vector<std::string> aliases;
    for (int n = pick(3); n > 0; --n) aliases.push_back(random_text(4));
    const ulong64 k2 = random_u64();
    std::vector<ulong64> k3;
    for (int n = pick(3); n > 0; --n) k3.push_back(random_u64());
    if (k3.size() == 1) {
      ASSERT_TRUE(set.insert_record(name, aliases, k2, k3[0], value));
    } else {
      ASSERT_TRUE(set.insert_record(name, aliases, k2, k3, value));
    }
    model.text[0].emplace_back(lowered(name), value);
    for (const auto& a : aliases) model.text[1].emplace_back(lowered(a), value);
    model.u64[2].emplace_back(k2, value);
    for (ulong64 k : k3) model.u64[3].emplace_back(k, value);

    const double d4 = random_double(), d6 = random_double();
    std::string t5 = random_text(3);
    const ulong64 k7 = random_u64();
    model.text[5].emplace_back(lowered(t5), value);
    ASSERT_TRUE(set.insert(4, d4, value) && set.insert(5, t5, value) && set.insert(6, d6, value) &&
                set.insert(7, k7, value));
    model.real[4].emplace_back(d4, value);
    model.real[6].emplace_back(d6, value);
    model.u64[7].emplace_back(k7, value);
  }
  model.sort();

  auto check_all = [&](const char* stage) {
    SCOPED_TRACE(stage);
    for (int q = 0; q < 400; ++q) {
      values out;
      const ulong64 k = random_u64();
      const values want_u64 = model.select(model.u64, 2, 2, [k](ulong64 x) { return x == k; });
      EXPECT_EQ(set.list(k, out), !want_u64.empty());
      ASSERT_EQ(out, want_u64) << "list " << k;
      EXPECT_EQ(set.find(k), want_u64.empty() ? 0 : want_u64.front());
      const int d = pick(int(kinds.size()));
      if (kinds[d] == 2) {
        set.list_in(k, d, out);
        values want;
        for (const auto& e : model.u64[d]) {
          if (e.first == k) want.push_back(e.second);
        }
        ASSERT_EQ(out, want) << "list_in " << k << " in " << d;
      }

      ulong64 low = random_u64(), high = random_u64();
      if (pick(4) != 0 && low > high) std::swap(low, high);
      const bool listed = set.list_range(low, high, out);
      EXPECT_EQ(listed, !out.empty());
      ASSERT_EQ(out, model.select(model.u64, 2, 2, [=](ulong64 x) { return low <= x && x <= high; }))
          << "list_range " << low << ".." << high;
      set.list_range_in(low, high, 7, out);
      values want7;
      for (const auto& e : model.u64[7]) {
        if (low <= e.first && e.first <= high) want7.push_back(e.second);
      }
      ASSERT_EQ(out, want7);

      values want_below;
      for (size_t dd = 0; dd < kinds.size(); ++dd) {
        if (kinds[dd] != 2) continue;
        const values part = model.at_or_below(dd, k);
        want_below.insert(want_below.end(), part.begin(), part.end());
      }
      EXPECT_EQ(set.list_at_or_below(k, out), !want_below.empty());
      ASSERT_EQ(out, want_below) << "at or below " << k;
      set.list_at_or_below_dict3(k, out);
      ASSERT_EQ(out, model.at_or_below(3, k)) << "dictionary 3 at or below " << k;

      const double x = random_double();
      double lo = random_double(), hi = random_double();
      if (lo > hi) std::swap(lo, hi);
      set.list(x, out);
      ASSERT_EQ(out, model.select(model.real, 3, 3, [x](double y) { return y == x; }));
      set.list_range(lo, hi, out);
      ASSERT_EQ(out, model.select(model.real, 3, 3, [=](double y) { return lo <= y && y <= hi; }));

      const std::string text = random_text(3);
      const std::string low_text = lowered(text);
      std::string asked = text;
      set.list(asked, out);
      EXPECT_EQ(asked, low_text);
      ASSERT_EQ(out, model.select(model.text, 0, 1, [&](const std::string& s) { return s == low_text; }));
      asked = text;
      set.list_secondary(asked, out);
      ASSERT_EQ(out, model.select(model.text, 1, 1, [&](const std::string& s) { return s == low_text; }));
      asked = text;
      const values first = model.select(model.text, 0, 1, [&](const std::string& s) { return s == low_text; });
      EXPECT_EQ(set.find(asked), first.empty() ? 0 : first.front());

      const std::string part = random_text(2);
      const std::string low_part = lowered(part);
      auto has = [&](const std::string& s) { return s.find(low_part) != std::string::npos; };
      asked = part;
      set.list_containing(asked, out);
      ASSERT_EQ(out, model.select(model.text, 0, 1, has)) << "containing " << part;
      asked = part;
      set.list_containing_primary(asked, out);
      ASSERT_EQ(out, model.select(model.text, 0, 0, has));
      std::vector<std::string> keys, want_keys;
      values want_secondary;
      for (size_t dd = 0; dd < kinds.size(); ++dd) {
        if (kinds[dd] != 1) continue;
        for (const auto& e : model.text[dd]) {
          if (!has(e.first)) continue;
          want_secondary.push_back(e.second);
          want_keys.push_back(e.first);
        }
      }
      asked = part;
      set.list_containing_secondary(asked, out, keys);
      ASSERT_EQ(out, want_secondary);
      ASSERT_EQ(keys, want_keys);
    }
  };
  check_all("after the inserts");

  // Take out a third of the records whole, and some single pairs.
  for (int r = 0; r < records; r += 3) {
    const std::intptr_t value = -static_cast<std::intptr_t>(r + 1) * 7919;
    ASSERT_TRUE(set.erase_value(value));
    model.erase_value(value);
  }
  for (int n = 0; n < 200; ++n) {
    auto& entries = model.u64[2];
    if (entries.empty()) break;
    const auto victim = entries[static_cast<size_t>(pick(int(entries.size())))];
    ASSERT_TRUE(set.erase(2, victim.first, victim.second));
    entries.erase(std::remove(entries.begin(), entries.end(), victim), entries.end());
    auto& names = model.text[0];
    const auto name = names[static_cast<size_t>(pick(int(names.size())))];
    ASSERT_TRUE(set.erase(0, name.first, name.second));
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
  }
  check_all("after the erases");
}

}  // namespace
