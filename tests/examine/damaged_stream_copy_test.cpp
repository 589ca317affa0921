// Copies of a stream whose run list reaches past the volume while its sizes
// claim terabytes: the walker's copy fails at once (its row names no copy,
// the rows after it are copied) and so does the extract (false, no file),
// for the $MFT's own stream as for a file's. A sparse stream whose size
// passes the volume on a sound run list is copied whole, every byte in its
// digest. Each copy runs in a child that is stopped when it takes too long,
// so a copy that goes on for hours fails the test instead of holding it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "examine/entry_report.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/examine/examine_support.h"
#include "tests/examine/walk_run.h"
#include "tests/support/child_process.h"
#include "tests/support/layer_setups.h"

namespace {

using quor_test::scratch_dir;

const ulong64 TWO_TB = 2ULL << 40;
// A run from inside the volume four billion clusters on: far past its end.
const ulong64 PAST_RUN = 1ULL << 31;

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    ::closedir(d);
  }
  return names;
}

std::string fresh_dir(const std::string& name) {
  const std::string dir = scratch_dir() + "/" + name;
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

// A copy of default.img whose entry's unnamed $DATA keeps its runs, then
// runs on past the volume from its last cluster, and claims 2 TB of data
// while its initialized size stays: the damage lies where the data reads
// as zeros. "" when it cannot be made.
std::string past_the_volume(const std::string& as, ulong64 entry) {
  examine_test::volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* data = v.find(records, entry, 0x80, "");
  if (data == nullptr || data->runs.empty()) return "";
  std::vector<std::pair<ulong64, ulong64>> runs;
  for (const data_run& r : data->runs) runs.emplace_back(r.num_clusters, r.sparse ? quor_test::SPARSE_RUN : r.lcn);
  const data_run& last = data->runs.back();
  runs.emplace_back(PAST_RUN, last.lcn + last.num_clusters - 1);
  const ulong64 position = examine_test::record_position(v.ntfs, entry);
  const std::string copy = quor_test::copy_fixture("default.img", as);
  if (copy.empty() || !quor_test::rewrite_mft_runs(copy, position, runs, 0) ||
      !quor_test::rewrite_data_sizes(copy, position, TWO_TB, TWO_TB, data->initialized_size))
    return "";
  return copy;
}

// The entry a walker row is of (its first field, in hexadecimal).
ulong64 row_entry(const std::string& line) { return std::stoull(line.substr(0, line.find(',')), nullptr, 16); }

struct walk_outcome {
  int status = -2;  // the child's: 0 done, -1 stopped after five seconds
  std::vector<std::string> named;  // the copies the entry's rows name
  std::set<std::string> others;    // the copies the other entries' rows name
};

// The walker's copies of the entries from `entry` on (four of them) into
// `dir`, in a child.
walk_outcome walk_copies(const std::string& image, ulong64 entry, const std::string& dir) {
  const std::string report = dir + ".csv";
  walk_outcome w;
  w.status = quor_test::exit_status_in_child(
      [&] {
        user_ctx ctx;
        const std::string text = quor_test::walk_text(
            ctx, {"-image", image, "-csv", "-mftstart", std::to_string(entry), "-mftrange", "4", "-action_copy_files",
                  dir});
        std::ofstream(report) << text;
        return 0;
      },
      dir + ".err");
  for (const std::string& line : quor_test::split_lines(quor_test::read_file_text(report))) {
    if (line.compare(0, 2, "0x") != 0) continue;
    const std::string copy = line.substr(line.rfind(',') + 1);
    if (row_entry(line) == entry) {
      w.named.push_back(copy);
    } else if (!copy.empty()) {
      w.others.insert(copy.substr(copy.rfind('/') + 1));
    }
  }
  return w;
}

// The extract of the entry's unnamed $DATA to `path`, in a child: 1 true,
// 0 false, -1 stopped after five seconds.
int extract(const std::string& image, ulong64 entry, const std::string& path) {
  return quor_test::exit_status_in_child(
      [&] {
        entry_report_request r;
        r.image_path = std::wstring(image.begin(), image.end());
        r.entry = entry;
        r.extract_path = std::wstring(path.begin(), path.end());
        return report_entry(r) ? 1 : 0;
      },
      path + ".err");
}

TEST(DamagedStreamCopy, ARunPastTheVolumeFailsTheCopyAtOnce) {
  examine_test::volume v("default.img");
  if (v.ntfs == nullptr) GTEST_SKIP() << "fixture default.img missing";
  const struct {
    const char* what;
    ulong64 entry;
  } rows[] = {
      {"the $MFT's own stream", 0},
      {"a file's stream", v.entry_of("/nonres.bin")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_NE(r.entry, ~0ULL);
    const std::string image = past_the_volume("past-" + std::to_string(r.entry) + ".img", r.entry);
    ASSERT_FALSE(image.empty());

    const std::string dir = fresh_dir("past-copies-" + std::to_string(r.entry));
    const walk_outcome w = walk_copies(image, r.entry, dir);
    EXPECT_EQ(w.status, 0) << "the walk did not end";
    EXPECT_FALSE(w.named.empty()) << "the entry was not reported";
    for (const std::string& copy : w.named) EXPECT_EQ(copy, "");
    // The walk goes on: the entries after it are copied, and only they.
    EXPECT_FALSE(w.others.empty());
    EXPECT_EQ(files_in(dir), w.others);

    const std::string out = fresh_dir("past-extract-" + std::to_string(r.entry)) + "/data.bin";
    EXPECT_EQ(extract(image, r.entry, out), 0);
    EXPECT_EQ(::access(out.c_str(), F_OK), -1) << "a file was left";
  }
}

// The extract of such a stream onto a file already there: refused before
// the file is opened, so that it keeps its bytes (a stream that fails only
// once read may leave it emptied), for the $MFT's own stream as for a
// file's.
TEST(DamagedStreamCopy, AnExtractOfARunPastTheVolumeLeavesTheFileThere) {
  examine_test::volume v("default.img");
  if (v.ntfs == nullptr) GTEST_SKIP() << "fixture default.img missing";
  const std::string kept = "notes the examiner wrote before\n";
  for (const ulong64 entry : std::vector<ulong64>{0, v.entry_of("/nonres.bin")}) {
    SCOPED_TRACE(entry);
    ASSERT_NE(entry, ~0ULL);
    const std::string image = past_the_volume("past-over-" + std::to_string(entry) + ".img", entry);
    ASSERT_FALSE(image.empty());
    const std::string out = fresh_dir("past-over-" + std::to_string(entry)) + "/notes.txt";
    { std::ofstream(out) << kept; }
    struct stat before {};
    ASSERT_EQ(::stat(out.c_str(), &before), 0);
    EXPECT_EQ(extract(image, entry, out), 0);
    struct stat after {};
    ASSERT_EQ(::stat(out.c_str(), &after), 0) << "the file was removed";
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(quor_test::read_file_text(out), kept);
  }
}

// A sparse file whose holes make it 64 MiB on a 24 MiB volume: every run
// lies inside the volume, so the walker copies it and the extract saves it,
// each with every byte: 4 MiB of zeros, its two clusters as the image holds
// them, 60 MiB of zeros (digested by md5sum from the image itself: icat
// refuses a hole longer than the volume).
TEST(DamagedStreamCopy, ALargeSparseStreamOnSoundRunsIsCopiedWhole) {
  if (!quor_test::have_program("md5sum") || !quor_test::have_program("dd")) GTEST_SKIP() << "needs md5sum, dd";
  ulong64 entry = 0;
  const std::string image = examine_test::holed_copy("large-sparse.img", 1024, 15360, entry);
  ASSERT_FALSE(image.empty());
  ulong64 lcn = 0;
  {
    examine_test::volume v("default.img");
    std::vector<entry_record> records;
    const entry_record* rec = v.find(records, entry, 0x80, "");
    ASSERT_NE(rec, nullptr);
    for (const data_run& r : rec->runs)
      if (!r.sparse && r.num_clusters >= 2 && lcn == 0) lcn = r.lcn;
  }
  ASSERT_NE(lcn, 0u);
  std::string want;
  ASSERT_EQ(quor_test::run_command("{ head -c " + std::to_string(1024 * 4096) + " /dev/zero; dd if=" +
                                       quor_test::shell_word(image) + " bs=4096 skip=" + std::to_string(lcn) +
                                       " count=2 2>/dev/null; head -c " + std::to_string(15360ULL * 4096) +
                                       " /dev/zero; } | md5sum",
                                   want),
            0);
  want.resize(32);

  const std::string dir = fresh_dir("large-sparse-copies");
  const walk_outcome w = walk_copies(image, entry, dir);
  ASSERT_EQ(w.status, 0) << "the walk did not end";
  ASSERT_FALSE(w.named.empty());
  for (const std::string& copy : w.named) {
    ASSERT_NE(copy.find("_" + want + "_"), std::string::npos) << copy;
    std::string sum;
    ASSERT_EQ(quor_test::run_command("md5sum < " + quor_test::shell_word(copy), sum), 0);
    EXPECT_EQ(sum.substr(0, 32), want);
  }

  const std::string out = fresh_dir("large-sparse-extract") + "/data.bin";
  ASSERT_EQ(extract(image, entry, out), 1);
  std::string sum;
  ASSERT_EQ(quor_test::run_command("md5sum < " + out, sum), 0);
  EXPECT_EQ(sum.substr(0, 32), want);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(static_cast<ulong64>(st.st_size), (1024u + 2 + 15360) * 4096);
}

}  // namespace
