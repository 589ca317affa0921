#include "utils/cmdline_options.h"

#include <gtest/gtest.h>

#include "utils/number_parse.h"
#include "utils/utf_convert.h"

namespace {

// A writable argument array over owned strings, as main receives it.
struct argv_fixture {
  std::vector<std::string> store;
  std::vector<char*> ptrs;
  int argc;
  explicit argv_fixture(std::vector<std::string> args) : store(std::move(args)) {
    for (std::string& s : store) ptrs.push_back(&s[0]);
    ptrs.push_back(nullptr);
    argc = static_cast<int>(store.size());
  }
  char** argv() { return ptrs.data(); }
  std::vector<std::string> left() const {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) out.push_back(ptrs[static_cast<size_t>(i)]);
    return out;
  }
};

// The option parser's way: the whole command line as wide strings, each
// known option taken out of it, repeated ones until the call says false.
TEST(OptionVector, SampleCommandLineIsReadAndTheRestLeftOver) {
  argv_fixture a({"quor", "-IMAGE", "x.dd", "-offset", "0x100000", "-path", "\\dir", "-slack", "-csv",
                  "-vmdk", "a.vmdk", "stray", "-vmdk", "b.vmdk", "-csvl2t-not"});
  std::vector<std::wstring> args;
  ASSERT_TRUE(args_to_wstrings(a.argc, a.argv(), args));

  std::wstring image, offset, path, vmdk;
  EXPECT_TRUE(get_arg_option_value_vw("-image", image, args));
  EXPECT_EQ(image, L"x.dd");
  EXPECT_TRUE(get_arg_option_value_vw("-offset", offset, args));
  long64 off = 0;
  EXPECT_TRUE(parse_int64_w(offset, off));
  EXPECT_EQ(off, 0x100000);
  EXPECT_TRUE(get_arg_option_value_vw("-path", path, args));
  EXPECT_EQ(path, L"\\dir");
  EXPECT_TRUE(get_arg_flag_vw("-slack", args, false));
  EXPECT_TRUE(get_arg_flag_vw("-csv", args, false));
  EXPECT_FALSE(get_arg_flag_vw("-csvl2t", args, false)) << "whole words only";
  EXPECT_FALSE(get_arg_flag_vw("-cs", args, false));

  std::vector<std::wstring> chain;
  while (get_arg_option_value_vw("-vmdk", vmdk, args)) chain.push_back(vmdk);
  EXPECT_EQ(chain, (std::vector<std::wstring>{L"a.vmdk", L"b.vmdk"}));
  EXPECT_EQ(args, (std::vector<std::wstring>{L"quor", L"stray", L"-csvl2t-not"}));

  EXPECT_TRUE(get_arg_flag_vw("QUOR", args, true)) << "element 0 takes part in the vector search";
  EXPECT_EQ(args.size(), 3u);
}

TEST(OptionVector, MissingValueLeavesEverything) {
  std::vector<std::wstring> args{L"quor", L"-path"};
  std::wstring value = L"keep";
  EXPECT_FALSE(get_arg_option_value_vw("-path", value, args));
  EXPECT_EQ(value, L"keep");
  EXPECT_EQ(args.size(), 2u);
  std::vector<std::wstring> none;
  EXPECT_FALSE(get_arg_flag_vw("-x", none, false));

  std::vector<std::string> nargs{"p", "-pair", "1", "2", "-one", "v"};
  std::string v1, v2;
  EXPECT_TRUE(get_arg_option_value2_v("-PAIR", v1, v2, nargs));
  EXPECT_EQ(v1 + v2, "12");
  EXPECT_FALSE(get_arg_option_value2_v("-one", v1, v2, nargs));
  EXPECT_EQ(nargs, (std::vector<std::string>{"p", "-one", "v"}));
}

TEST(OptionArray, MainsOwnArrayIsCompactedInPlace) {
  argv_fixture a({"quor", "A", "-mft", "5", "B", "-CSV"});
  std::string value;
  EXPECT_TRUE(get_arg_option_value("-mft", value, a.argc, a.argv()));
  EXPECT_EQ(value, "5");
  EXPECT_EQ(a.left(), (std::vector<std::string>{"quor", "A", "B", "-CSV"}));
  EXPECT_TRUE(get_arg_flag("-csv", &a.argc, a.argv(), true));
  EXPECT_EQ(a.argc, 4) << "keep leaves the option";
  EXPECT_TRUE(get_arg_flag("-csv", a.argc, a.argv(), false));
  EXPECT_EQ(a.left(), (std::vector<std::string>{"quor", "A", "B"}));
  EXPECT_FALSE(get_arg_flag("quor", a.argc, a.argv(), false)) << "the program name is never matched";

  // The order of asking matters: the first option asked for is removed
  // wherever it stands, even where it was meant as a value.
  argv_fixture b({"quor", "-path", "-csv"});
  EXPECT_TRUE(get_arg_flag("-csv", &b.argc, b.argv(), false));
  EXPECT_FALSE(get_arg_option_value("-path", value, &b.argc, b.argv()));
  EXPECT_EQ(b.argc, 2);
  argv_fixture c({"quor", "-path", "-csv"});
  EXPECT_TRUE(get_arg_option_value("-path", value, c.argc, c.argv()));
  EXPECT_EQ(value, "-csv");
  EXPECT_EQ(c.argc, 1);

  argv_fixture d({"quor", "-vmdk", "A", "-x", "-vmdk", "B"});
  std::vector<std::string> got;
  while (get_arg_option_value("-vmdk", value, d.argc, d.argv())) got.push_back(value);
  EXPECT_EQ(got, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(d.left(), (std::vector<std::string>{"quor", "-x"}));

  int zero = 0;
  EXPECT_FALSE(get_arg_flag("-x", zero, nullptr, false));
}

TEST(OptionArray, WideArrayEmptiesItsValueFirst) {
  std::wstring s0 = L"quor", s1 = L"-Level", s2 = L"3", s3 = L"-n";
  wchar_t* argv[] = {&s0[0], &s1[0], &s2[0], &s3[0]};
  int argc = 4;
  std::wstring value = L"stale";
  EXPECT_FALSE(get_arg_option_value_w(L"-n", value, argc, argv));
  EXPECT_EQ(value, L"");
  EXPECT_TRUE(get_arg_option_value_w(L"-level", value, argc, argv));
  EXPECT_EQ(value, L"3");
  EXPECT_TRUE(get_arg_flag_w(L"-N", argc, argv));
  EXPECT_EQ(argc, 1);
}

struct wargv_fixture {
  std::vector<std::wstring> store;
  std::vector<wchar_t*> ptrs;
  int argc;
  explicit wargv_fixture(const std::vector<std::string>& utf8) {
    for (const std::string& s : utf8) store.push_back(utf8_to_wstring(s));
    for (std::wstring& s : store) ptrs.push_back(&s[0]);
    ptrs.push_back(nullptr);
    argc = static_cast<int>(store.size());
  }
  std::vector<std::wstring> left() const {
    return std::vector<std::wstring>(ptrs.begin(), ptrs.begin() + argc);
  }
};

std::vector<std::wstring> widen_all(const std::vector<std::string>& in) {
  std::vector<std::wstring> out;
  for (const std::string& s : in) out.push_back(utf8_to_wstring(s));
  return out;
}

// The n-value member of each shape (a shape without one for n returns false
// and is not asked).
bool narrow_array(int n, std::string* v, argv_fixture& a) {
  switch (n) {
    case 1: return get_arg_option_value("-opt", v[0], a.argc, a.argv());
    case 2: return get_arg_option_value2("-opt", v[0], v[1], a.argc, a.argv());
    case 3: return get_arg_option_value3("-opt", v[0], v[1], v[2], a.argc, a.argv());
    default: return get_arg_option_value4("-opt", v[0], v[1], v[2], v[3], a.argc, a.argv());
  }
}

bool wide_array(int n, std::wstring* v, wargv_fixture& a) {
  wchar_t** argv = a.ptrs.data();
  switch (n) {
    case 1: return get_arg_option_value_w(L"-opt", v[0], a.argc, argv);
    case 2: return get_arg_option_value2_w(L"-opt", v[0], v[1], a.argc, argv);
    case 3: return get_arg_option_value3_w(L"-opt", v[0], v[1], v[2], a.argc, argv);
    default: return get_arg_option_value4_w(L"-opt", v[0], v[1], v[2], v[3], a.argc, argv);
  }
}

bool narrow_vector(int n, std::string* v, std::vector<std::string>& args) {
  switch (n) {
    case 1: return get_arg_option_value_v("-opt", v[0], args);
    case 2: return get_arg_option_value2_v("-opt", v[0], v[1], args);
    default: return get_arg_option_value3_v("-opt", v[0], v[1], v[2], args);
  }
}

bool wide_vector(int n, std::wstring* v, std::vector<std::wstring>& args) {
  return n == 1 ? get_arg_option_value_vw("-opt", v[0], args) : get_arg_option_value2_vw("-opt", v[0], v[1], args);
}

// One command line read through every shape: values copied whole (one of
// them looks like an option, two are beyond ASCII), the option and its
// values removed, the rest kept in order; with too few values, nothing moves.
TEST(OptionForms, OneToFourValuesInEveryShape) {
  const std::vector<std::string> line = {"quor", "A", "-Opt", "caf\xC3\xA9", "-x", "\xF0\x9F\x98\x80", "V4", "B"};
  for (int n = 1; n <= 4; ++n) {
    const std::vector<std::string> want(line.begin() + 3, line.begin() + 3 + n);
    std::vector<std::string> rest = line;
    rest.erase(rest.begin() + 2, rest.begin() + 3 + n);
    const std::vector<std::string> short_line(line.begin(), line.begin() + 2 + n);

    std::string v[4];
    argv_fixture a(line);
    EXPECT_TRUE(narrow_array(n, v, a)) << n;
    EXPECT_EQ(std::vector<std::string>(v, v + n), want) << n;
    EXPECT_EQ(a.left(), rest) << n;
    std::wstring w[4];
    wargv_fixture wa(line);
    EXPECT_TRUE(wide_array(n, w, wa)) << n;
    EXPECT_EQ(std::vector<std::wstring>(w, w + n), widen_all(want)) << n;
    EXPECT_EQ(wa.left(), widen_all(rest)) << n;
    if (n <= 3) {
      std::vector<std::string> args = line;
      std::string nv[4];
      EXPECT_TRUE(narrow_vector(n, nv, args)) << n;
      EXPECT_EQ(std::vector<std::string>(nv, nv + n), want) << n;
      EXPECT_EQ(args, rest) << n;
    }
    if (n <= 2) {
      std::vector<std::wstring> args = widen_all(line);
      std::wstring wv[4];
      EXPECT_TRUE(wide_vector(n, wv, args)) << n;
      EXPECT_EQ(std::vector<std::wstring>(wv, wv + n), widen_all(want)) << n;
      EXPECT_EQ(args, widen_all(rest)) << n;
    }

    // One value short: false, the list and the outputs as they were (the
    // wide array's single-value member alone empties its output).
    std::string keep[4] = {"k", "k", "k", "k"};
    argv_fixture sa(short_line);
    EXPECT_FALSE(narrow_array(n, keep, sa)) << n;
    EXPECT_EQ(sa.left(), short_line) << n;
    EXPECT_EQ(std::vector<std::string>(keep, keep + 4), std::vector<std::string>(4, "k")) << n;
    std::wstring wkeep[4] = {L"k", L"k", L"k", L"k"};
    wargv_fixture swa(short_line);
    EXPECT_FALSE(wide_array(n, wkeep, swa)) << n;
    EXPECT_EQ(swa.left(), widen_all(short_line)) << n;
    for (int j = 0; j < n; ++j) EXPECT_EQ(wkeep[j], n == 1 ? L"" : L"k") << n;
    if (n <= 3) {
      std::vector<std::string> args = short_line;
      EXPECT_FALSE(narrow_vector(n, keep, args)) << n;
      EXPECT_EQ(args, short_line) << n;
      EXPECT_EQ(keep[0], "k") << n;
    }
    if (n <= 2) {
      std::vector<std::wstring> args = widen_all(short_line);
      std::wstring wv[2] = {L"k", L"k"};
      EXPECT_FALSE(wide_vector(n, wv, args)) << n;
      EXPECT_EQ(args, widen_all(short_line)) << n;
      EXPECT_EQ(wv[0] + wv[1], L"kk") << n;
    }
  }
}

TEST(OptionForms, NarrowVectorFlagsAndBuilders) {
  const struct {
    const char* option;
    bool keep, ok;
    std::vector<std::string> left;
  } flags[] = {{"-csv", true, true, {"quor", "-CSV", "x"}},
               {"-csv", false, true, {"quor", "x"}},
               {"-cs", false, false, {"quor", "-CSV", "x"}},
               {"QUOR", false, true, {"-CSV", "x"}},
               {"", false, false, {"quor", "-CSV", "x"}}};
  for (const auto& f : flags) {
    std::vector<std::string> args{"quor", "-CSV", "x"};
    EXPECT_EQ(get_arg_flag_v(f.option, args, f.keep), f.ok) << f.option;
    EXPECT_EQ(args, f.left) << f.option;
  }
  std::vector<std::string> with_empty{"quor", "", "x"};
  EXPECT_TRUE(get_arg_flag_v("", with_empty, false)) << "an empty option matches only an empty argument";
  EXPECT_EQ(with_empty, (std::vector<std::string>{"quor", "x"}));
  std::vector<std::string> none;
  EXPECT_FALSE(get_arg_flag_v("-x", none, false));

  argv_fixture a({"quor", "-path", "caf\xC3\xA9", "\xC3"});
  std::vector<std::string> narrow{"kept"};
  EXPECT_TRUE(args_to_strings(narrow, a.argc, a.argv()));
  EXPECT_EQ(narrow, (std::vector<std::string>{"kept", "quor", "-path", "caf\xC3\xA9", "\xC3"}));
  std::vector<std::wstring> wide{L"kept"};
  EXPECT_TRUE(args_to_wstrings(wide, a.argc, a.argv()));
  EXPECT_EQ(wide, (std::vector<std::wstring>{L"kept", L"quor", L"-path", L"caf\u00e9", L""}));
  std::vector<std::string> empty_n;
  std::vector<std::wstring> empty_w;
  EXPECT_FALSE(args_to_strings(empty_n, 0, a.argv()));
  EXPECT_FALSE(args_to_wstrings(empty_w, 0, a.argv()));
  EXPECT_TRUE(args_to_wstrings(wide, 0, a.argv())) << "true when the vector already held something";
  EXPECT_EQ(wide.size(), 5u);
}

}  // namespace
