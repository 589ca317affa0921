// The walker's copies of file data: names that carry the modification time
// and the MD5 digest, contents equal to icat's, copies that fail, and names
// from the evidence that must stay inside the copy directory.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/record_reader.h"
#include "app/source_open.h"
#include "disk/fs_ops.h"
#include "examine/walk_streams.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/examine/examine_support.h"
#include "tests/examine/walk_run.h"
#include "tests/support/child_process.h"
#include "tests/support/layer_setups.h"
#include "tests/support/listing.h"
#include "utils/utf_convert.h"

namespace {

using quor_test::fixture;
using quor_test::run_command;
using quor_test::walk_text;

ulong64 inode_of(const std::string& path) {
  for (const auto& e : quor_test::read_listing("default"))
    if (e.path == path) return e.inode;
  return 0;
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

// istat's "File Modified:" of $STANDARD_INFORMATION as the copy names write
// it: "2026_12_06_2228_18_758".
std::string modified_stamp(const std::string& image, ulong64 inode) {
  std::string text;
  run_command("istat -z UTC " + image + " " + std::to_string(inode) + " | grep -m1 'File Modified:'", text);
  int y, mo, d, h, mi, s;
  long ns;
  if (std::sscanf(text.c_str(), "File Modified:\t%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &ns) != 7) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d_%02d_%02d_%02d%02d_%02d_%03ld", y, mo, d, h, mi, s, ns / 1000000);
  return buf;
}

// The walker's copy of each kind of data lands in a copy directory whose own
// name holds a blank and a comma, named by time, digest and name, with the
// data icat gives; the report names the copy.
TEST(WalkCopies, NamedByTimeDigestAndNameWithIcatsData) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  if (!quor_test::have_program("icat") || !quor_test::have_program("istat"))
    GTEST_SKIP() << "icat or istat not installed";
  const std::string dir = quor_test::scratch_dir() + "/copies, a b";
  const struct {
    const char* path;
    const char* stream;  // "" for the unnamed data
    const char* tail;    // after the name
  } cases[] = {
      {"/small.txt", "", "_unnamed_data.bin"},
      {"/nonres.bin", "", "_unnamed_data.bin"},
      {"/frag/a.bin", "", "_unnamed_data.bin"},
      {"/sparse.bin", "", "_unnamed_data.bin"},
      {"/compressed/longer.bin", "", "_unnamed_data.bin"},
      {"/names/Long Name With Short.txt", "", "_unnamed_data.bin"},
      {"/streams.txt", "alt", ".alt_ads.bin"},
  };
  for (const auto& c : cases) {
    const ulong64 inode = inode_of(c.path);
    ASSERT_NE(inode, 0u) << c.path;
    std::vector<std::string> args = {"-image", image, "-csv", "-mftstart", std::to_string(inode), "-action_copy_files",
                                     dir};
    if (c.stream[0]) {
      args.push_back("-named_data");
      args.push_back("-action_include_clusterinfo");
    }
    const std::set<std::string> before = files_in(dir);
    user_ctx ctx;
    const std::string out = walk_text(ctx, args);
    std::set<std::string> made;
    for (const std::string& f : files_in(dir))
      if (!before.count(f)) made.insert(f);
    ASSERT_EQ(made.size(), 1u) << c.path << "\n" << out;
    const std::string copy = *made.begin();

    std::string icat, sum;
    std::string target = std::to_string(inode);
    if (c.stream[0])
      target += "-128-$(istat " + image + " " + target + " | sed -n 's/.*(128-\\([0-9]*\\)).*Name: " + c.stream +
                " .*/\\1/p')";
    ASSERT_EQ(run_command("icat " + image + " " + target, icat), 0) << target;
    ASSERT_EQ(run_command("icat " + image + " " + target + " | md5sum", sum), 0);
    // The copy carries the name the entry has in that folder (one of a hard
    // link's names).
    std::set<std::string> names;
    for (const auto& e : quor_test::read_listing("default")) {
      if (e.inode != inode) continue;
      std::string name = e.path.substr(e.path.rfind('/') + 1);
      for (char& ch : name)
        if (ch == ' ' || ch == ',') ch = '_';
      names.insert(modified_stamp(image, inode) + "_" + sum.substr(0, 32) + "_" + name + c.tail);
    }
    EXPECT_EQ(names.count(copy), 1u) << copy;
    EXPECT_TRUE(quor_test::read_file_text(dir + "/" + copy) == icat) << c.path;
    EXPECT_NE(out.find("," + dir + "/" + copy + "\n"), std::string::npos) << c.path;  // the report's last column
  }
  for (const std::string& f : files_in(dir)) EXPECT_NE(f.compare(0, 8, "__temp__"), 0) << f;  // no temporary left
}

// A second walk into the same copy directory makes the same names: the
// copies already there stay as they were (the same files, not replaced),
// each report still names its copy, and no temporary stays behind. Made
// under the mask 077, the copies are the examiner's alone.
TEST(WalkCopies, CopiesMadeBeforeStay) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string dir = quor_test::scratch_dir() + "/again";
  const std::vector<std::string> args = {"-image",    image, "-csv", "-mftstart", std::to_string(inode_of("/small.txt")),
                                         "-mftrange", "2",   "-action_copy_files", dir};
  std::map<std::string, ino_t> first;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    user_ctx ctx;
    // Copies of evidence data keep the examiner's mask, though the folder
    // they go in is open to every user.
    const mode_t mask = ::umask(077);
    const std::string out = walk_text(ctx, args);
    ::umask(mask);
    std::map<std::string, ino_t> made;
    for (const std::string& f : files_in(dir)) {
      struct stat st {};
      ASSERT_EQ(::stat((dir + "/" + f).c_str(), &st), 0);
      if (run == 0) {
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f;
      }
      made[f] = st.st_ino;
      EXPECT_NE(out.find("," + dir + "/" + f + "\n"), std::string::npos) << f << "\n" << out;
    }
    EXPECT_EQ(made.size(), 2u);
    if (run == 0) first = made;
    EXPECT_EQ(made, first);
  }
}

// A copy of the image whose file has its run list cut short after four
// runs: the walker's copy fails, leaves nothing behind and names none.
TEST(WalkCopies, DamagedRunListGivesNoCopy) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const ulong64 inode = inode_of("/frag/a.bin");
  std::vector<std::pair<ulong64, ulong64>> runs;
  ulong64 position = 0;
  {
    examine_test::volume v("default.img");
    std::vector<entry_record> records;
    const entry_record* data = v.find(records, inode, 0x80, "");
    ASSERT_TRUE(data != nullptr && data->runs.size() > 4);
    for (size_t k = 0; k < 4; ++k) runs.emplace_back(data->runs[k].num_clusters, data->runs[k].lcn);
    position = v.ntfs->get_inode_file_pos(inode);
  }
  const std::string damaged = quor_test::copy_fixture("default.img", "damaged-runs.img");
  ASSERT_TRUE(quor_test::rewrite_mft_runs(damaged, position, runs, 0));

  // A temporary an interrupted walk left there stays as it was, and the
  // failed copy leaves none of its own.
  const std::string dir = quor_test::scratch_dir() + "/damaged-copies";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  { std::ofstream(dir + "/__temp__.bin") << "left by an interrupted walk"; }
  user_ctx ctx;
  const std::string out =
      walk_text(ctx, {"-image", damaged, "-csv", "-mftstart", std::to_string(inode), "-action_copy_files", dir});
  EXPECT_NE(out.find("[root]\\frag\\a.bin,"), std::string::npos) << out;  // still reported
  EXPECT_EQ(files_in(dir), std::set<std::string>{"__temp__.bin"});
  EXPECT_EQ(quor_test::read_file_text(dir + "/__temp__.bin"), "left by an interrupted walk");
  for (const std::string& line : quor_test::split_lines(out))
    if (line.compare(0, 2, "0x") == 0) {
      EXPECT_EQ(line.back(), ',') << line;  // no copy named
    }
}

// The rows of a walker's text that name no copy, and those that name one.
void count_rows(const std::string& text, int& without_copy, int& with_copy) {
  without_copy = with_copy = 0;
  for (const std::string& line : quor_test::split_lines(text))
    if (line.compare(0, 2, "0x") == 0) ++(line.back() == ',' ? without_copy : with_copy);
}

// A copy is named only when whole in place. A file already under the
// copy's final name that is one byte short (what a store that failed
// part way leaves) is not taken for the copy: the row names none, the file
// stays as it was, and no temporary stays behind.
TEST(WalkCopies, AShortFileUnderTheFinalNameIsNoCopy) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::vector<std::string> args = {"-image", image, "-csv", "-mftstart", std::to_string(inode_of("/nonres.bin")),
                                         "-action_copy_files"};
  // The copy's name and bytes, from a walk into a folder of its own.
  const std::string first = quor_test::scratch_dir() + "/short-first";
  std::vector<std::string> into_first = args;
  into_first.push_back(first);
  user_ctx first_ctx;
  int without_copy = 0, with_copy = 0;
  count_rows(walk_text(first_ctx, into_first), without_copy, with_copy);
  ASSERT_GT(with_copy, 0);
  const std::set<std::string> made = files_in(first);
  ASSERT_EQ(made.size(), 1u);
  const std::string name = *made.begin(), data = quor_test::read_file_text(first + "/" + name);
  ASSERT_GT(data.size(), 1u);

  const std::string dir = quor_test::scratch_dir() + "/short-held";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string short_copy = data.substr(0, data.size() - 1);
  { std::ofstream(dir + "/" + name, std::ios::binary) << short_copy; }
  std::vector<std::string> into_held = args;
  into_held.push_back(dir);
  user_ctx ctx;
  const std::string out = walk_text(ctx, into_held);
  count_rows(out, without_copy, with_copy);
  EXPECT_EQ(with_copy, 0) << out;
  EXPECT_GT(without_copy, 0) << out;
  EXPECT_EQ(files_in(dir), std::set<std::string>{name});
  EXPECT_TRUE(quor_test::read_file_text(dir + "/" + name) == short_copy);
}

// What the walker driver prints, run with `args` under the preload that
// cuts a byte off every file renamed into `dir`.
std::string walk_cut_short(const std::string& dir, const std::vector<std::string>& args) {
  std::string cmd = "QUOR_SHORT_RENAME_DIR=" + quor_test::shell_word(dir) +
                    " LD_PRELOAD=" + quor_test::shell_word(QUOR_SHORT_RENAME_PRELOAD) + " " +
                    quor_test::shell_word(QUOR_WALK_COPY_DRIVER);
  for (const std::string& a : args) cmd += " " + quor_test::shell_word(a);
  std::string out;
  if (run_command(cmd + " 2>&1", out) != 0) return "driver failed: " + out;
  return out;
}

// A copy renamed to its final name that shows shorter there than it was
// written (a layer that stores a file late; here a preload that cuts the
// last byte off every file renamed into the copy folder) is not whole in
// place: the name, which was free, is taken back, the row names no copy,
// and nothing stays in the folder.
TEST(WalkCopies, ACopyShortUnderItsFinalNameIsTakenBack) {
  if (!quor_test::allocation_failures_throw()) GTEST_SKIP() << "a preload cannot come before the sanitizers' runtime";
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string dir = quor_test::scratch_dir() + "/short-renamed";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  // The preload holds: four bytes renamed into the folder show three.
  { std::ofstream(dir + "/probe-from") << "four"; }
  ASSERT_EQ(walk_cut_short(dir, {"probe", dir + "/probe-from", dir + "/probe-to"}), "3\n");
  ASSERT_EQ(unlink((dir + "/probe-to").c_str()), 0);

  const std::string out =
      walk_cut_short(dir, {"-image", image, "-csv", "-mftstart", std::to_string(inode_of("/nonres.bin")),
                           "-action_copy_files", dir});
  int without_copy = 0, with_copy = 0;
  count_rows(out, without_copy, with_copy);
  EXPECT_EQ(with_copy, 0) << out;
  EXPECT_GT(without_copy, 0) << out;
  EXPECT_EQ(files_in(dir), std::set<std::string>());
}

// Names from the evidence with separators, blanks and commas: the copy
// stays in the copy directory, and an empty stream is no copy.
TEST(WalkCopies, EvidenceNamesStayInsideTheCopyDirectory) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string dir = quor_test::scratch_dir() + "/inside";
  user_ctx ctx;
  ASSERT_TRUE(quor_test::parse_walk_options(ctx, {"-image", image, "-action_copy_files", dir}));
  ASSERT_TRUE(initialize_mft(ctx));
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, ctx, inode_of("/small.txt")));
  ASSERT_FALSE(rec.si_records.empty());
  const attribute_record* data = nullptr;
  for (const auto& kv : rec.attributes)
    if (kv.second.label == "unnamed data") data = &kv.second;
  ASSERT_NE(data, nullptr);
  const struct {
    const wchar_t* name;
    const wchar_t* cleaned;
  } cases[] = {
      {L"../../escape", L".._.._escape"},
      {L"..", L".."},
      {L"a\\b/c d,e", L"a_b_c_d_e"},
  };
  for (const auto& c : cases) {
    ctx.copy_dest = c.name;
    ASSERT_TRUE(extract_stream_copy(rec, ctx, &rec.si_records.begin()->second, data)) << c.name;
    const std::wstring prefix = utf8_to_wstring(dir) + L"/";
    ASSERT_EQ(ctx.copy_dest.compare(0, prefix.size(), prefix), 0);
    const std::wstring file = ctx.copy_dest.substr(prefix.size());
    EXPECT_EQ(file.find(L'/'), std::wstring::npos);
    EXPECT_EQ(file.substr(56), std::wstring(c.cleaned) + L"_unnamed_data.bin") << c.name;
    EXPECT_TRUE(path_exists_w(ctx.copy_dest));
  }
  // An empty resident stream gives no copy.
  attribute_record empty = *data;
  store_u32(empty.raw.data() + 16, 0);
  ctx.copy_dest = L"empty";
  EXPECT_FALSE(extract_stream_copy(rec, ctx, &rec.si_records.begin()->second, &empty));
  std::ostringstream hex;
  const byte bytes[] = {0x00, 0x1F, 0xAB};
  write_hex_bytes(hex, bytes, 3) << 255;
  EXPECT_EQ(hex.str(), "00 1f ab ff");
}

// The copies go into the folder the walk made, held open since: a link in
// the folder's path switched to another folder between two copies leads
// neither copy there, and each report names its copy by the path given.
TEST(WalkCopies, CopiesGoIntoTheFolderMade) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string first = quor_test::scratch_dir() + "/held-first", second = quor_test::scratch_dir() + "/held-second";
  const std::string link = quor_test::scratch_dir() + "/held-link";
  ASSERT_EQ(mkdir(first.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(second.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((second + "/copies").c_str(), 0700), 0);
  ASSERT_EQ(symlink(first.c_str(), link.c_str()), 0);
  user_ctx ctx;
  ASSERT_TRUE(quor_test::parse_walk_options(ctx, {"-image", image, "-action_copy_files", link + "/copies"}));
  ASSERT_TRUE(initialize_mft(ctx));
  for (const char* path : {"/small.txt", "/nonres.bin"}) {
    inode_attributes rec;
    ASSERT_TRUE(read_inode(rec, ctx, inode_of(path)));
    ASSERT_FALSE(rec.si_records.empty());
    const attribute_record* data = nullptr;
    for (const auto& kv : rec.attributes)
      if (kv.second.label == "unnamed data") data = &kv.second;
    ASSERT_NE(data, nullptr);
    ctx.copy_dest = utf8_to_wstring(std::string(path).substr(1));
    ASSERT_TRUE(extract_stream_copy(rec, ctx, &rec.si_records.begin()->second, data)) << path;
    const std::string shown = wstring_to_utf8(ctx.copy_dest);
    EXPECT_EQ(shown.compare(0, link.size() + 8, link + "/copies/"), 0) << shown;
    EXPECT_EQ(files_in(first + "/copies").count(shown.substr(link.size() + 8)), 1u) << shown;
    // Switched after the first copy, before the second.
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(second.c_str(), link.c_str()), 0);
  }
  EXPECT_EQ(files_in(first + "/copies").size(), 2u);
  EXPECT_TRUE(files_in(second + "/copies").empty());
}

// A file with 20 MiB of hole on both sides of its data: the walker's copy
// takes about the disk space of the data and has icat's bytes and digest;
// a terabyte of hole, copied without a digest, likewise and at once.
TEST(WalkCopies, HolesStayHoles) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  ulong64 entry = 0;
  const std::string image = examine_test::holed_copy("walk-holed.img", 5120, 5120, entry);
  ASSERT_FALSE(image.empty());
  const std::string dir = quor_test::scratch_dir() + "/walk-holes";
  user_ctx ctx;
  walk_text(ctx, {"-image", image, "-csv", "-mftstart", std::to_string(entry), "-action_copy_files", dir});
  const std::set<std::string> made = files_in(dir);
  ASSERT_EQ(made.size(), 1u);
  const std::string copy = dir + "/" + *made.begin();
  const std::string want_md5 = examine_test::icat_md5(image, std::to_string(entry));
  EXPECT_NE(copy.find("_" + want_md5 + "_sparse.bin_unnamed_data.bin"), std::string::npos) << copy;
  std::string sum;
  ASSERT_EQ(run_command("md5sum < '" + copy + "'", sum), 0);
  EXPECT_EQ(sum.substr(0, 32), want_md5);
  EXPECT_EQ(quor_test::read_file_text(copy).size(), (2 * 5120 + 2) * 4096u);
  EXPECT_LT(examine_test::disk_use(copy), 1024u * 1024);

  ulong64 far_entry = 0;
  const std::string far = examine_test::holed_copy("walk-terabyte.img", 1ULL << 28, 0, far_entry);
  ASSERT_FALSE(far.empty());
  user_ctx far_ctx;
  ASSERT_TRUE(quor_test::parse_walk_options(far_ctx, {"-image", far, "-action_copy_files", dir + "-far"}));
  ASSERT_TRUE(initialize_mft(far_ctx));
  far_ctx.copy_md5 = false;
  inode_attributes rec;
  ASSERT_TRUE(read_inode(rec, far_ctx, far_entry));
  ASSERT_FALSE(rec.si_records.empty());
  const attribute_record* data = nullptr;
  for (const auto& kv : rec.attributes)
    if (kv.second.label == "unnamed data") data = &kv.second;
  ASSERT_NE(data, nullptr);
  far_ctx.copy_dest = L"far";
  ASSERT_TRUE(extract_stream_copy(rec, far_ctx, &rec.si_records.begin()->second, data));
  const std::string far_copy = wstring_to_utf8(far_ctx.copy_dest);
  struct stat st {};
  ASSERT_EQ(stat(far_copy.c_str(), &st), 0);
  EXPECT_EQ(static_cast<ulong64>(st.st_size), ((1ULL << 28) + 2) * 4096);
  EXPECT_LT(examine_test::disk_use(far_copy), 1024u * 1024);
}

// A temporary left by an interrupted walk, a file or a link, stops no copy:
// each copy is made under a temporary name of its own, and those planted,
// also under the names this walk tries first, are left as they were, as is
// the file a planted link leads to. No temporary of the walk's own stays
// behind.
TEST(WalkCopies, PlantedTemporaryStopsNoCopy) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string victim = quor_test::scratch_dir() + "/planted-victim";
  { std::ofstream(victim) << "outside the copy directory"; }
  std::vector<std::string> names = {"__temp__.bin"};
  for (int serial = 1; serial <= 8; ++serial)
    names.push_back("__temp__" + std::to_string(::getpid()) + "_" + std::to_string(serial) + ".bin");
  const struct {
    const char* kind;
    bool link;
  } planted[] = {{"file", false}, {"link", true}};
  for (const auto& p : planted) {
    const std::string dir = quor_test::scratch_dir() + "/planted-" + p.kind;
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    for (const std::string& name : names) {
      const std::string temp = dir + "/" + name;
      if (p.link) {
        ASSERT_EQ(symlink(victim.c_str(), temp.c_str()), 0);
      } else {
        std::ofstream(temp) << "left by an interrupted walk";
      }
    }
    user_ctx ctx;
    const std::string out = walk_text(
        ctx, {"-image", image, "-csv", "-mftstart", std::to_string(inode_of("/small.txt")), "-action_copy_files", dir});
    std::set<std::string> copies = files_in(dir);
    for (const std::string& name : names) ASSERT_EQ(copies.erase(name), 1u) << p.kind << " " << name;
    ASSERT_EQ(copies.size(), 1u) << p.kind;
    const std::string copy = *copies.begin();
    const std::string tail = "_small.txt_unnamed_data.bin";
    EXPECT_TRUE(copy.size() > tail.size() && copy.compare(copy.size() - tail.size(), tail.size(), tail) == 0) << copy;
    EXPECT_NE(out.find("," + dir + "/" + copy + "\n"), std::string::npos) << out;
    for (const std::string& name : names) {
      const std::string temp = dir + "/" + name;
      if (p.link) {
        char target[512] = {};
        EXPECT_GT(readlink(temp.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), victim);
      } else {
        EXPECT_EQ(quor_test::read_file_text(temp), "left by an interrupted walk");
      }
    }
    EXPECT_EQ(quor_test::read_file_text(victim), "outside the copy directory");
  }
}

// When every temporary name the copy tries is taken, the copy is given up
// without a word: the report names no copy, nothing goes to standard error
// and the folder holds only what was there. The names are the child's,
// planted well past the hundred tried.
TEST(WalkCopies, EveryTemporaryNameTakenGivesUpSilently) {
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img missing";
  const std::string dir = quor_test::scratch_dir() + "/all-taken", err = quor_test::scratch_dir() + "/all-taken.err";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const size_t planted = 1000;
  const int status = quor_test::exit_status_in_child(
      [&] {
        for (size_t serial = 1; serial <= planted; ++serial)
          std::ofstream(dir + "/__temp__" + std::to_string(::getpid()) + "_" + std::to_string(serial) + ".bin");
        user_ctx ctx;
        const std::string out = walk_text(ctx, {"-image", image, "-csv", "-mftstart",
                                                std::to_string(inode_of("/small.txt")), "-action_copy_files", dir});
        return out.find(dir + "/") == std::string::npos && out.find("small.txt") != std::string::npos ? 0 : 1;
      },
      err);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(quor_test::read_file_text(err), "");
  EXPECT_EQ(files_in(dir).size(), planted);
}

}  // namespace
