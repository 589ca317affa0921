#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "app/user_ctx.h"
#include "tests/support/fixture.h"
#include "utils/utf_convert.h"

namespace {

// Parses the given arguments (program name added) and keeps what the
// parser printed on standard error.
struct parsed {
  user_ctx ctx;
  int result = 0;
  std::string err;
  std::vector<std::string> argv_before, argv_after;
};

void parse(parsed& p, std::vector<std::string> args) {
  args.insert(args.begin(), "quor");
  p.argv_before = args;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  testing::internal::CaptureStderr();
  p.result = p.ctx.parse_cmdline(static_cast<int>(argv.size()), argv.data());
  p.err = testing::internal::GetCapturedStderr();
  for (char* a : argv) p.argv_after.push_back(a);
}

TEST(ParseCmdline, OutputFlagsAndTheirPrecedence) {
  struct flag_case {
    std::vector<std::string> args;
    bool csv, csvl2t, bodyfile, hex_sizes, verbose;
  } cases[] = {
      {{}, false, false, false, true, true},
      {{"-CSV"}, true, false, false, true, true},
      {{"-csv", "-csvl2t"}, false, true, false, true, true},
      {{"-csv", "-bodyfile", "-csvl2t"}, false, false, true, true, true},
      {{"-csvx", "-base10x", "-quietly"}, false, false, false, true, true},
      {{"-Base10", "-quiet"}, false, false, false, false, false},
      {{"-quiet", "-verbose"}, false, false, false, true, true},
  };
  for (const flag_case& c : cases) {
    parsed p;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-indxfile", "i30.bin"});
    parse(p, args);
    ASSERT_EQ(p.result, 0) << p.err;
    EXPECT_EQ(p.ctx.csv, c.csv);
    EXPECT_EQ(p.ctx.csvl2t, c.csvl2t);
    EXPECT_EQ(p.ctx.bodyfile, c.bodyfile);
    EXPECT_EQ(p.ctx.hex_sizes, c.hex_sizes);
    EXPECT_EQ(p.ctx.verbose, c.verbose);
    EXPECT_EQ(p.ctx.indxfile, "i30.bin");
    EXPECT_EQ(p.err, "");
  }
}

TEST(ParseCmdline, ValuesNumbersAndEcho) {
  parsed p;
  parse(p, {"-offset", "0x1F400000000", "-mftstart", "0o17", "-username", "J\xc3\xb6rg", "-HOSTNAME",
            "h\xc3\xb4te", "-filter_ext", ".TxT", "-filter_name", "ReadMe", "-all", "-indxfile",
            "/d/\xc3\xa4.bin"});
  ASSERT_EQ(p.result, 0) << p.err;
  EXPECT_EQ(p.ctx.volume_offset, 0x1F400000000ULL);
  EXPECT_EQ(p.ctx.mft_start, 15u);
  EXPECT_EQ(p.ctx.mft_count, 1u);
  EXPECT_EQ(p.ctx.username, "J\xc3\xb6rg");
  EXPECT_EQ(p.ctx.hostname, "h\xc3\xb4te");
  EXPECT_EQ(p.ctx.filter_ext, L"txt");
  EXPECT_EQ(p.ctx.filter_name, L"readme");
  EXPECT_TRUE(p.ctx.filters_active);
  EXPECT_EQ(p.ctx.indxfile, "/d/\xc3\xa4.bin");
  // "-all" without "-action_copy_files" is the run sequence's, not the parser's.
  EXPECT_FALSE(p.ctx.all_streams || p.ctx.unnamed_stream || p.ctx.named_streams || p.ctx.all);
  EXPECT_EQ(p.ctx.cmdline,
            L"quor -offset \"0x1F400000000\" -mftstart \"0o17\" -username \"J\u00f6rg\" -HOSTNAME "
            L"\"h\u00f4te\" -filter_ext \".TxT\" -filter_name \"ReadMe\" -all -indxfile "
            L"\"/d/\u00e4.bin\" ");
  // The program's own argument vector is left as it was.
  EXPECT_EQ(p.argv_after, p.argv_before);

  parsed range;
  parse(range, {"-mftrange", "100", "-offset", "junk", "-partition", "E"});
  ASSERT_EQ(range.result, 0);
  EXPECT_EQ(range.ctx.mft_start, 0u);
  EXPECT_EQ(range.ctx.mft_count, 100u);
  EXPECT_EQ(range.ctx.volume_offset, 0u);
  EXPECT_EQ(range.ctx.partition, L"E");
  EXPECT_FALSE(range.ctx.filters_active);
}

TEST(ParseCmdline, FilterTimeWindow) {
  // 2020-03-04 as FILETIME: (1583280000 s since 1970) * 10^7 + 116444736000000000.
  const ulong64 day = 1583280000ULL * 10000000ULL + 116444736000000000ULL;
  const ulong64 second = 10000000ULL;
  parsed start;
  parse(start, {"-filter_start_time", "03/04/2020", "-mftfile", "m"});
  ASSERT_EQ(start.result, 0) << start.err;
  EXPECT_EQ(start.ctx.filter_start_time, day);
  EXPECT_EQ(start.ctx.filter_stop_time, ~0ULL);
  EXPECT_TRUE(start.ctx.filters_active);

  parsed both;
  parse(both, {"-filter_stop_time", "03/04/2020", "-filter_start_time", "03/04/2020 10:00:00",
               "-mftfile", "m"});
  ASSERT_EQ(both.result, 0) << both.err;
  EXPECT_EQ(both.ctx.filter_start_time, day + 10 * 3600 * second);
  EXPECT_EQ(both.ctx.filter_stop_time, day + (23 * 3600 + 59 * 60 + 59) * second);

  parsed bad;
  parse(bad, {"-filter_start_time", "not a date", "-mftfile", "m"});
  EXPECT_EQ(bad.result, -1);
  EXPECT_EQ(bad.err, "Error: invalid filter start time\n");
}

// "-action_copy_files" names the copy folder, trimmed, and chooses the
// streams to copy; the folder is not made here, not even when it could not
// be (under a file), for the run makes it only once its source is open. The
// arguments are kept as given, for the evidence guard.
TEST(ParseCmdline, CopyFolderIsNamedNotMade) {
  const std::string dir = quor_test::scratch_dir() + "/parser-copies";
  const std::string file = quor_test::scratch_dir() + "/parser-file";
  { std::ofstream(file) << "x"; }
  const struct {
    std::vector<std::string> args;
    std::string folder;
    bool all, named, unnamed;
  } cases[] = {
      {{"-action_copy_files", " " + dir + "\t", "-all"}, dir, true, false, false},
      {{"-action_copy_files", dir + "/a/b", "-named_data", "-all"}, dir + "/a/b", true, false, false},
      {{"-named_data", "-action_copy_files", dir}, dir, false, true, false},
      {{"-action_copy_files", dir, "-normal_data"}, dir, false, false, true},
      {{"-action_copy_files", file + "/copies"}, file + "/copies", false, false, true},
  };
  for (const auto& c : cases) {
    parsed p;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-indxfile", "i30.bin"});
    parse(p, args);
    ASSERT_EQ(p.result, 0) << c.folder << ": " << p.err;
    EXPECT_EQ(p.err, "");
    EXPECT_TRUE(p.ctx.copy_files);
    EXPECT_EQ(wstring_to_utf8(p.ctx.copy_dir), c.folder);
    EXPECT_EQ(p.ctx.all_streams, c.all) << c.folder;
    EXPECT_EQ(p.ctx.named_streams, c.named) << c.folder;
    EXPECT_EQ(p.ctx.unnamed_stream, c.unnamed) << c.folder;
    EXPECT_EQ(p.ctx.copy_dir_fd, -1);
    EXPECT_EQ(p.ctx.arguments, p.argv_before);
    struct stat st;
    EXPECT_NE(::stat(dir.c_str(), &st), 0) << "made by the parser: " << c.folder;
  }
}

// The missing-source message and the help of an empty command line are run
// end to end (end_to_end_test.cpp).
TEST(ParseCmdline, ExtractedMftWinsOverAnIndxFile) {
  parsed both;
  parse(both, {"-mftfile", "a", "-indxfile", "b"});
  ASSERT_EQ(both.result, 0) << both.err;
  EXPECT_EQ(both.ctx.mftfile, L"a");
  EXPECT_TRUE(both.ctx.indxfile.empty());
}

TEST(ParseCmdline, ImagesAreScannedForTheirVolume) {
  const std::string bare = quor_test::fixture("default.img");
  if (bare.empty()) GTEST_SKIP() << "default.img fixture absent";
  parsed p;
  parse(p, {"-image", bare, "-vmdk", "/nonexistent.vmdk"});
  ASSERT_EQ(p.result, 0) << p.err;
  EXPECT_EQ(wstring_to_utf8(p.ctx.resolved_image), bare);
  EXPECT_TRUE(p.ctx.image.empty());
  EXPECT_TRUE(p.ctx.vmdk_files.empty());
  EXPECT_EQ(p.ctx.volume_offset, 0u);

  const std::string disk = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(disk.empty());
  parsed suggested;
  parse(suggested, {"-image", disk});
  EXPECT_EQ(suggested.result, -1);
  EXPECT_NE(suggested.err.find("-offset 0x100000"), std::string::npos) << suggested.err;
  parsed chosen;
  parse(chosen, {"-image", disk, "-offset", "0x100000"});
  ASSERT_EQ(chosen.result, 0) << chosen.err;
  EXPECT_EQ(wstring_to_utf8(chosen.ctx.image), disk);
  EXPECT_TRUE(chosen.ctx.resolved_image.empty());
  EXPECT_EQ(chosen.ctx.volume_offset, 0x100000u);
  parsed wrong;
  parse(wrong, {"-image", disk, "-offset", "0x200000"});
  EXPECT_EQ(wrong.result, -1);
  EXPECT_FALSE(wrong.err.empty());
}

// The source files a command line names, learnt without acting on it, are
// the ones the parser then chooses: the value taken past the flags the
// parser takes first, an image's path cleaned and made absolute, a VMDK
// chain given in part followed to its parents. Nothing is made or said while
// learning them.
TEST(ParseCmdline, SourceFilesAsTheParserNamesThem) {
  const std::string image = quor_test::fixture("default.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  // Copies under the names the child's parent hint gives.
  const std::string chain_base = quor_test::copy_fixture("vmdk-base.vmdk", "vmdk-base.vmdk");
  const std::string chain_child = quor_test::copy_fixture("vmdk-child.vmdk", "vmdk-child.vmdk");
  if (image.empty() || base.empty() || child.empty() || chain_base.empty() || chain_child.empty())
    GTEST_SKIP() << "fixtures absent";
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  const std::string copy_dir = quor_test::scratch_dir() + "/source-files-copies";
  typedef std::vector<std::string> names;
  // `opens`: the parser can open the source named, so what it chose is
  // compared too.
  const struct {
    names args, files;
    bool opens;
  } cases[] = {
      {{"-image", image + " "}, {image}, true},
      {{"-image", " \"" + image + "\"\t"}, {image}, true},
      {{"-image", "'" + image + "'"}, {image}, true},
      {{"-image", "sub/../x.img"}, {std::string(cwd) + "/x.img"}, false},
      {{"-image", "x:y.img"}, {std::string(cwd) + "/x:y.img"}, false},
      {{"-image", "-csv", image}, {image}, true},
      {{"-image", image, "-vmdk", child}, {image}, true},
      {{"-offset", "-image", image}, {}, true},
      {{"-vmdk", child, "-vmdk", "-base10", base}, {child, base}, true},
      // A chain given in part: the parser opens the parents the extents
      // name, to suggest the whole chain.
      {{"-vmdk", chain_child}, {chain_child, chain_base}, false},
      {{"-indxfile", "-quiet", "i30.bin", "-username"}, {"i30.bin"}, true},
      {{"-mftfile", "m", "-indxfile", "i"}, {"m"}, true},
      {{"-partition", "Qx"}, {"Q:"}, true},
      {{"-drivenum", "0"}, {}, false},
      {{"-image"}, {}, true},
      {{"-action_copy_files", copy_dir, "-all", "-filter_start_time", "never", "-mftfile", "m"}, {"m"}, false},
  };
  for (const auto& c : cases) {
    names argv_text = c.args;
    argv_text.insert(argv_text.begin(), "quor");
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(&a[0]);
    testing::internal::CaptureStderr();
    const names files = cmdline_source_files(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.args[0];
    EXPECT_EQ(files, c.files) << c.args[0] << " " << (c.args.size() > 1 ? c.args[1] : "");
    struct stat st;
    EXPECT_NE(::stat(copy_dir.c_str(), &st), 0) << "made while only learning the source";
    if (!c.opens) continue;
    parsed p;
    parse(p, c.args);
    if (p.result != 0) continue;
    names chosen;
    for (const std::wstring& name : {p.ctx.resolved_image, p.ctx.image, p.ctx.mftfile})
      if (!name.empty()) chosen.push_back(wstring_to_utf8(name));
    for (const std::wstring& name : p.ctx.vmdk_files) chosen.push_back(wstring_to_utf8(name));
    if (!p.ctx.indxfile.empty()) chosen.push_back(p.ctx.indxfile);
    if (!p.ctx.partition.empty()) chosen.push_back(wstring_to_utf8(p.ctx.partition.substr(0, 1)) + ":");
    EXPECT_EQ(chosen, files) << c.args[0];
  }
  EXPECT_EQ(cmdline_source_files(1, nullptr), names{});
}

}  // namespace
