#include "utils/cmdline_options.h"

#include <gtest/gtest.h>

#include "utils/number_parse.h"

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

}  // namespace
