#include "app/work_loop.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "app/entry_output.h"
#include "app/gather_entries.h"
#include "ntfs/ntfs.h"
#include "tests/app/fls_folders.h"
#include "tests/app/quor_run.h"
#include "tests/support/allocation_failure_new.h"
#include "tests/support/listing.h"

namespace {

using quor_test::arm_allocation_failure;

// An entry as the text block names it: full name, valid or slack, and the
// index it came from; a carved entry's judgement is left out, since it
// depends on what else of the folder was gathered.
std::string entry_key(const std::string& full_name, bool valid, uint32 attr_type) {
  return full_name + (valid ? "|valid|" : "|slack|") + (attr_type == 0x90 ? "indx root" : "indx alloc");
}

struct written_entries {
  std::map<std::string, std::multiset<std::string>> by_folder;  // keys by the folder they are written under
  std::multiset<std::string> live_names;  // full names of the live entries
};

written_entries read_blocks(const std::string& out) {
  written_entries w;
  std::string name, kind;
  for (const std::string& line : quor_test::lines_of(out)) {
    const std::string value = line.size() > 22 ? line.substr(22) : std::string();
    if (line.rfind("Name:", 0) == 0) name = value;
    if (line.rfind("Entry:", 0) == 0) kind = value;
    if (line.rfind("Source type:", 0) == 0) {
      const bool valid = kind == "valid";
      const std::string folder = name.substr(0, name.rfind('\\') + 1);
      w.by_folder[folder].insert(entry_key(name, valid, value == "indx root" ? 0x90 : 0xA0));
      if (valid) w.live_names.insert(name);
    }
  }
  return w;
}

std::unique_ptr<user_ctx> every_entry_context(const std::string& image, int level) {
  CNtfs* engine = nullptr;
  if (!open_ntfs_image(image.c_str(), 0, engine, false, false)) return nullptr;
  auto ctx = std::make_unique<user_ctx>(engine, true);
  ctx->all = true;
  ctx->valid = false;
  ctx->level = level;
  return ctx;
}

struct loop_run {
  std::string out;       // standard output
  std::string err;       // standard error
  int status = 1;        // the loop's result, when it returned
  bool failed = false;   // the allocation failed
  bool escaped = false;  // and its exception left the loop
};

const char kIncomplete[] = "exception caught: listing incomplete, aborting\n";

// The loop from one folder with allocation `fail_at` failing (-1: none).
loop_run run_loop_failing(const std::string& image, const std::string& path, ulong64 entry, int level,
                          long64 fail_at) {
  loop_run r;
  std::unique_ptr<user_ctx> ctx = every_entry_context(image, level);
  if (!ctx) return r;
  dir_work_map work;
  add_dir_work_item(work, path, 0, entry);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  arm_allocation_failure(fail_at);
  try {
    r.status = run_dir_work_loop(work, *ctx);
  } catch (const std::bad_alloc&) {
    r.escaped = true;
  }
  r.failed = fail_at >= 0 && quor_test::allocations_counted() > fail_at;
  arm_allocation_failure(-1);
  r.err = testing::internal::GetCapturedStderr();
  r.out = testing::internal::GetCapturedStdout();
  return r;
}

// The same gathering and merge as the loop makes them, with allocation
// `fail_at` failing: the entries filed before the failure; true when the
// failure ended them with an exception.
bool filed_before_failure(const std::string& image, const std::string& path, ulong64 entry, long64 fail_at,
                          std::multiset<std::string>& filed) {
  filed.clear();
  std::unique_ptr<user_ctx> ctx = every_entry_context(image, 0);
  if (!ctx) return false;
  dir_listing listing;
  std::vector<byte> buffer;
  bool failed = false;
  testing::internal::CaptureStdout();
  arm_allocation_failure(fail_at);
  try {
    if (gather_dir_listing(listing, buffer, *ctx, entry, true)) listing.merge(ctx->mft_entry_count);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  arm_allocation_failure(-1);
  testing::internal::GetCapturedStdout();
  INDX_ENTRY_INFO e;
  for (size_t id = 0; id < listing.entry_count(); ++id) {
    listing.entry_of(static_cast<uint32>(id), e);
    if (!e.name.empty()) filed.insert(entry_key(path + e.name, e.valid != 0, e.attr_type));
  }
  return failed;
}

const std::multiset<std::string>& in_folder(const written_entries& w, const std::string& folder) {
  static const std::multiset<std::string> none;
  auto found = w.by_folder.find(folder);
  return found == w.by_folder.end() ? none : found->second;
}

bool holds_all(const std::multiset<std::string>& outer, const std::multiset<std::string>& inner) {
  for (const std::string& key : inner)
    if (outer.count(key) < inner.count(key)) return false;
  return true;
}

TEST(DirStatusText, ShowsTheTailOfLongPathsWithoutPercentSigns) {
  const std::string fifty = "[root]\\" + std::string(42, 'a') + "\\";  // 50 characters
  ASSERT_EQ(fifty.size(), 50u);
  const std::string fifty_one = "[root]\\" + std::string(30, 'b') + "\\" + std::string(12, 'c') + "\\";
  ASSERT_EQ(fifty_one.size(), 51u);
  const std::string no_inner = std::string(60, 'd') + "\\";
  const std::string long_last = "[root]\\" + std::string(60, 'e') + "\\";

  struct status_case {
    std::string path;
    std::string shown;
  } cases[] = {
      {"[root]\\", "parsing: [root]\\"},
      {fifty, "parsing: " + fifty},
      {fifty_one, "parsing: ...\\" + std::string(12, 'c') + "\\"},
      {no_inner, "parsing: " + std::string(50, 'd')},
      {long_last, "parsing: ...\\" + std::string(50, 'e')},
      {"[root]\\100%\\%d%s\\", "parsing: [root]\\100\\ds\\"},
  };
  for (const status_case& c : cases) EXPECT_EQ(dir_status_text(c.path), c.shown) << c.path;
}

TEST(AddDirWorkItem, KeepsOneItemPerEntryUnderItsLongestPath) {
  dir_work_map work;
  add_dir_work_item(work, "[root]\\LONGNA~1\\", 1, 40);
  add_dir_work_item(work, "[root]\\Long Name Dir\\", 2, 40);
  add_dir_work_item(work, "[root]\\L\\", 3, 40);
  add_dir_work_item(work, "[root]\\b\\", 1, 12);
  ASSERT_EQ(work.size(), 2u);
  EXPECT_EQ(work.begin()->first, 12u);
  const dir_work_item& item = work.at(40);
  EXPECT_EQ(item.path, "[root]\\Long Name Dir\\");
  EXPECT_EQ(item.level, 1u);
  EXPECT_EQ(item.entry, 40u);
}

// On moved.img, x (entry 64) lies in b (65): a child numbered below its
// parent. Whatever the road and the depth, each directory is written once,
// in the order the work map hands them out, with exactly the live names fls
// lists in it (a second write would list them twice).
TEST(DirWorkLoop, ChildNumberedBelowItsParentIsWrittenOnce) {
  const std::string image = quor_test::fixture("moved.img");
  if (image.empty()) GTEST_SKIP() << "moved.img not in the fixture kit";
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  std::map<ulong64, std::set<std::string>> expected;
  std::map<std::string, ulong64> folders;
  ASSERT_TRUE(quor_test::fls_folders(image, expected, folders));
  ASSERT_EQ(folders.at("b/x"), 64u);
  ASSERT_EQ(folders.at("b"), 65u);

  struct road_case {
    std::vector<std::string> options;
    std::vector<ulong64> written;  // directories in the order they are written
  } cases[] = {
      {{"-path", "\\b", "-level", "1"}, {65, 64, 68}},
      {{"-path", "\\b", "-level", "2"}, {65, 64, 68, 70}},
      {{"-path", "\\", "-level", "-1"}, {5, 11, 65, 64, 68, 70}},
      {{"-level", "-1"}, {5, 11, 64, 65, 68, 70}},
      {{"-level", "1000000"}, {5, 11, 64, 65, 68, 70}},
      {{}, {5, 11, 64, 65, 68, 70}},
  };
  for (const road_case& c : cases) {
    std::vector<std::string> args{"-image", image, "-csv"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string shown;
    for (const std::string& a : c.options) shown += a + " ";
    const quor_test::run_result r = quor_test::run_quor(args);
    ASSERT_EQ(r.status, 0) << shown << r.err;

    std::vector<ulong64> written;
    std::map<ulong64, std::multiset<std::string>> names;
    const std::vector<std::string> lines = quor_test::lines_of(r.out);
    for (size_t i = 5; i < lines.size(); ++i) {
      if (lines[i].empty()) continue;
      const std::vector<std::string> row = quor_test::split(lines[i], ',');
      ASSERT_EQ(row.size(), 18u) << lines[i];
      ASSERT_EQ(row[3], "valid") << lines[i];
      const ulong64 parent = std::stoull(row[2], nullptr, 16);
      const std::string name = row[16].substr(row[16].rfind('\\') + 1);
      if (written.empty() || written.back() != parent) written.push_back(parent);
      if (name != ".") names[parent].insert(name);
    }
    EXPECT_EQ(written, c.written) << shown;
    for (ulong64 dir : c.written) {
      const std::set<std::string>& listed = expected[dir];
      EXPECT_EQ(names[dir], std::multiset<std::string>(listed.begin(), listed.end())) << shown << dir;
    }
  }
}

// The MFT entry of \Documents in sample.img, as its listing gives it; 0
// when the listing names none.
ulong64 documents_entry() {
  for (const auto& e : quor_test::read_listing("sample.img"))
    if (e.path == "/Documents") return e.inode;
  return 0;
}

// Each allocation of a folder's gathering fails in turn (\Documents: its
// index root, then its INDX records; the root folder: the subfolders, all in
// its INDX records). After "exception caught" the loop writes every entry
// the gathering had filed before the failure, queues and writes the
// subfolders among them, and writes nothing the whole run does not; the
// run then ends with -1 and says on standard error that its listing is not
// whole.
TEST(DirWorkLoop, AnExceptionWhileGatheringKeepsWhatWasGathered) {
  const std::string image = quor_test::fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "sample.img not in the fixture kit";
  const ulong64 documents = documents_entry();
  ASSERT_NE(documents, 0u);
  struct start_case {
    std::string path;
    ulong64 entry;
    int level;
  } cases[] = {{"\\Documents\\", documents, 0}, {"\\", 5, 1}};
  for (const start_case& c : cases) {
    SCOPED_TRACE(c.path);
    const loop_run unfailed = run_loop_failing(image, c.path, c.entry, c.level, -1);
    EXPECT_EQ(unfailed.status, 0);
    EXPECT_EQ(unfailed.err.find("exception caught"), std::string::npos);
    const written_entries whole = read_blocks(unfailed.out);
    const std::multiset<std::string>& all_of_start = in_folder(whole, c.path);
    ASSERT_FALSE(all_of_start.empty());
    ASSERT_EQ(whole.by_folder.size() > 1, c.level > 0);

    long64 first = -1, caught = 0, failed_alone = 0, kept = 0;
    for (long64 n = 0;; ++n) {
      ASSERT_LT(n, 100000);
      const loop_run run = run_loop_failing(image, c.path, c.entry, c.level, n);
      ASSERT_TRUE(run.failed) << "allocation " << n << " never made";
      const size_t message = run.out.find("exception caught\n");
      // The start folder is the first one gathered: its exception comes
      // before any entry. One that leaves the loop after it is past its
      // gathering, in its writing.
      if (message == std::string::npos || message > run.out.find("Name:")) {
        if (first >= 0 && run.escaped) break;
        continue;
      }
      if (first < 0) first = n;
      ++caught;
      if (!run.escaped) {
        EXPECT_EQ(run.status, -1) << "allocation " << n;
        EXPECT_TRUE(quor_test::ends_with(run.err, kIncomplete)) << "allocation " << n << ": " << run.err;
      }
      std::multiset<std::string> filed;
      failed_alone += filed_before_failure(image, c.path, c.entry, n - first, filed);
      const written_entries w = read_blocks(run.out);
      const std::multiset<std::string>& written = in_folder(w, c.path);
      EXPECT_TRUE(holds_all(written, filed)) << "allocation " << n << ": " << written.size() << " of "
                                             << filed.size() << " filed entries written";
      EXPECT_TRUE(holds_all(all_of_start, written)) << "allocation " << n;
      kept += !filed.empty();
      for (const std::string& name : w.live_names) {
        const std::string folder = name + "\\";
        if (name.substr(0, name.rfind('\\') + 1) == c.path && whole.by_folder.count(folder) != 0) {
          EXPECT_EQ(w.by_folder.count(folder), 1u) << "allocation " << n << ": " << folder << " not written";
        }
      }
    }
    // The gathering alone fails at the same allocations as in the loop.
    EXPECT_EQ(failed_alone, caught);
    EXPECT_GE(kept, 10) << caught;
  }
}

// \Documents of sample.img written in each form with each allocation of the
// writing failing in turn: what reached standard output is the whole
// writing's text up to the end of an entry (the text form's blocks and the
// timeline's rows hold allocations of their own half-way), and a second
// writing gives the rest as a first one would, with the CSV header when the
// first took it back with its entry.
TEST(WriteDirListing, AFailureLeavesOnlyWholeEntries) {
  const std::string image = quor_test::fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "sample.img not in the fixture kit";
  const ulong64 documents = documents_entry();
  ASSERT_NE(documents, 0u);
  std::unique_ptr<user_ctx> source = every_entry_context(image, 0);
  ASSERT_TRUE(source);
  dir_listing listing;
  std::vector<byte> buffer;
  testing::internal::CaptureStdout();
  const bool gathered = gather_dir_listing(listing, buffer, *source, documents, true) &&
                        listing.merge(source->mft_entry_count);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(gathered);

  enum form { text, csv, l2t };
  for (form f : {text, csv, l2t}) {
    SCOPED_TRACE(f);
    user_ctx ctx;
    // The writing's standard output, with allocation `fail_at` failing
    // (-1: none); `hit` says whether it did.
    bool hit = false;
    const auto write = [&](long64 fail_at) {
      testing::internal::CaptureStdout();
      arm_allocation_failure(fail_at);
      try {
        write_dir_listing(listing, ctx);
      } catch (const std::bad_alloc&) {
      }
      hit = fail_at >= 0 && quor_test::allocations_counted() > fail_at;
      arm_allocation_failure(-1);
      std::fflush(stdout);
      return testing::internal::GetCapturedStdout();
    };
    const auto reset = [&]() {
      ctx.all = true;
      ctx.valid = false;
      ctx.csv = f == csv;
      ctx.csvl2t = f == l2t;
      ctx.header_pending = true;
      ctx.path = "[root]\\Documents\\";
      ctx.cmdline = L"[echo]";
    };
    reset();
    const std::string whole = write(-1);
    // The header's lines (the CSV's echo and column names, the timeline's
    // column names), then where each entry's text ends: the first one's
    // takes the header along.
    size_t header = 0;
    for (int line = f == text ? 0 : f == csv ? 2 : 1; line > 0; --line) header = whole.find('\n', header) + 1;
    std::set<size_t> ends{0};
    const std::string end_of_entry = f == text ? "\n\n" : "\n";
    for (size_t at = whole.find(end_of_entry, header); at != std::string::npos;
         at = whole.find(end_of_entry, at + end_of_entry.size()))
      ends.insert(at + end_of_entry.size());
    ASSERT_GT(ends.size(), 10u);

    long64 failed = 0;
    for (long64 n = 0;; ++n) {
      ASSERT_LT(n, 100000);
      reset();
      const std::string first = write(n);
      if (!hit) break;
      ++failed;
      const std::string rest = write(-1);
      EXPECT_EQ(whole.compare(0, first.size(), first), 0) << "allocation " << n;
      EXPECT_EQ(ends.count(first.size()), 1u) << "allocation " << n << " cut an entry: " << first.size();
      const std::string header_again = first.empty() ? whole.substr(0, header) : std::string();
      EXPECT_TRUE(rest == header_again + whole.substr(header)) << "allocation " << n;
    }
    EXPECT_GE(failed, 3);
  }
}

}  // namespace
