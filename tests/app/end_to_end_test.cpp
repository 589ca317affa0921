// Runs the built quor binary on the fixture volumes, once per configuration,
// and checks exit status, standard output and standard error of that run
// against the fixtures' own listings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/usage.h"
#include "tests/app/planted_names.h"
#include "tests/app/quor_run.h"
#include "tests/app/usage_text.h"
#include "tests/support/child_process.h"
#include "tests/support/listing.h"

namespace {

using namespace quor_test;
typedef std::vector<std::string> args_t;

void shell(const std::string& cmd) { ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd; }

// "/a/b" as the fixtures list it -> "[root]\a\b" as quor writes it.
std::string volume_path(const std::string& listed) {
  std::string p = "[root]";
  for (char c : listed) p += c == '/' ? '\\' : c;
  return p;
}

std::map<std::string, listing_entry> listing_by_path(const std::string& image) {
  std::map<std::string, listing_entry> out;
  for (const listing_entry& e : quor_test::read_listing(image)) out[volume_path(e.path)] = e;
  return out;
}

std::set<std::string> gone_paths(const std::string& image) {
  std::set<std::string> out;
  for (const auto& d : quor_test::read_deleted(image)) out.insert(volume_path(d.path));
  return out;
}

std::string hex(unsigned long long v, int width) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "0x%0*llx", width, v);
  return buf;
}

bool is_system_name(const std::string& path) { return path.find("\\$") != std::string::npos; }
std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('\\')); }

const std::string kCsvHeader =
    "mft entry,mft seq,parent mft,type,modify date,modify time [utc],access date,"
    "access time [utc],mft date,mft time [utc],create date,create time [utc],dir/file,"
    "size alloc,size used,flags,name,slack comment";
enum column { kEntry = 0, kType = 3, kKind = 12, kUsed = 14, kName = 16, kComment = 17 };

// The CSV part of a run: banner, run time and a blank line, then the echo
// line, the header and the rows; the run ends with one line end.
struct csv_output {
  std::string echo, header;
  std::vector<std::vector<std::string>> rows;
};

bool parse_csv_output(const std::string& out, csv_output& csv, size_t columns) {
  const std::vector<std::string> lines = lines_of(out);
  if (lines.size() < 5 || lines[1].rfind("run time: ", 0) != 0 || !lines[2].empty()) return false;
  csv.echo = lines[3];
  csv.header = lines[4];
  for (size_t i = 5; i < lines.size(); ++i) {
    if (lines[i].empty() && i + 1 == lines.size()) break;
    csv.rows.push_back(split(lines[i], ','));
    if (csv.rows.back().size() != columns) {
      ADD_FAILURE() << "row with " << csv.rows.back().size() << " columns: " << lines[i];
      return false;
    }
  }
  return true;
}

// Runs quor with `args` and parses its CSV; fails the test on a bad run.
csv_output csv_run(const args_t& args, size_t columns = 18) {
  csv_output csv;
  const run_result r = run_quor(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(parse_csv_output(r.out, csv, columns)) << r.out.substr(0, 2000);
  return csv;
}

class QuorOnDefault : public testing::Test {
 protected:
  void SetUp() override {
    image_ = quor_test::fixture("default.img");
    if (image_.empty()) GTEST_SKIP() << "default.img fixture absent";
    listing_ = listing_by_path("default.img");
    ASSERT_FALSE(listing_.empty());
  }
  args_t on_image(const args_t& more) const {
    args_t args{"-image", image_};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string image_;
  std::map<std::string, listing_entry> listing_;
};

// Text blocks of one directory: the names as queued after the typed path,
// and every field of one live file's block.
TEST_F(QuorOnDefault, PathRoadWritesTextBlocksOfOneDirectory) {
  struct path_case {
    std::string value, queued, dir;  // queued: what is written before each name
  } cases[] = {{"\\sub", "\\sub\\", "[root]\\sub"}, {"C:\\names", "C:\\names\\", "[root]\\names"}};
  for (const path_case& c : cases) {
    const run_result r = run_quor(on_image({"-path", c.value, "-username", "alice"}));
    ASSERT_EQ(r.status, 0) << c.value << r.err;
    std::set<std::string> names;
    size_t blocks = 0;
    for (const std::string& line : lines_of(r.out)) {
      if (line.rfind("Name:                 ", 0) == 0) ++blocks, names.insert(line.substr(22));
      if (line.rfind("Entry:                ", 0) == 0) {
        EXPECT_EQ(line.substr(22), "valid");
      }
    }
    std::set<std::string> expected;
    for (const auto& kv : listing_)
      if (parent_of(kv.first) == c.dir) expected.insert(c.queued + kv.first.substr(c.dir.size() + 1));
    if (c.dir == "[root]\\names") expected.insert(c.queued + "LONGNA~1.TXT");
    EXPECT_EQ(names, expected) << c.value;
    EXPECT_EQ(blocks, expected.size()) << c.value;
    if (c.dir != "[root]\\sub") continue;

    const listing_entry& f = listing_.at("[root]\\sub\\file-6.txt");
    const size_t at = r.out.find("Name:                 \\sub\\file-6.txt\n");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::vector<std::string> block = lines_of(r.out.substr(at));
    ASSERT_GE(block.size(), 16u);
    EXPECT_EQ(block[1], "MFT Entry:            " + hex(f.inode, 12) + " [" + std::to_string(f.inode) + "]");
    EXPECT_EQ(block[2].substr(0, 28), "MFT Sequence:         " + hex(f.sequence, 4));
    EXPECT_EQ(block[11], "Size used:            " + hex(f.size, 8) + " [" + std::to_string(f.size) + "]");
    EXPECT_TRUE(block[13] == "Source type:          indx root" || block[13] == "Source type:          indx alloc")
        << block[13];
    EXPECT_EQ(block[14], "Username:             alice");
  }
}

TEST_F(QuorOnDefault, EntryRoadAndLevelsFollowTheTree) {
  std::string walk = "[root]\\deep\\";
  std::set<std::string> all_deep{walk};
  for (int i = 1; i <= 20; ++i) {
    walk += i < 10 ? "l0" : "l";
    all_deep.insert(walk += std::to_string(i) + "\\");
  }
  const std::string deep_path = walk;  // the twentieth level, holding one file
  const unsigned long long l20 = listing_.at(deep_path.substr(0, deep_path.size() - 1)).inode;
  struct level_case {
    args_t args;
    std::set<std::string> dirs;  // directories whose entries are written
  } cases[] = {
      {{"-mft", std::to_string(l20)}, {deep_path}},
      {{"-mft", hex(l20, 1)}, {deep_path}},
      {{"-path", "\\deep"}, {"\\deep\\"}},
      {{"-path", "\\deep", "-level", "2"}, {"\\deep\\", "\\deep\\l01\\", "\\deep\\l01\\l02\\"}},
      {{"-path", "\\deep", "-level", "-1"}, {}},
      {{"-path", "\\deep", "-level", "x"}, {"\\deep\\"}},
  };
  for (const std::string& d : all_deep) cases[4].dirs.insert(d.substr(6));
  for (const level_case& c : cases) {
    args_t args = on_image({"-csv"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const csv_output csv = csv_run(args);
    std::set<std::string> dirs;
    for (const auto& row : csv.rows) dirs.insert(row[kName].substr(0, row[kName].rfind('\\') + 1));
    EXPECT_EQ(dirs, c.dirs) << c.args[1];
    if (c.args[0] != "-mft") continue;
    ASSERT_EQ(csv.rows.size(), 1u);
    EXPECT_EQ(csv.rows[0][kName], deep_path + "leaf.txt");
    EXPECT_EQ(csv.rows[0][kKind], "file");
    EXPECT_EQ(csv.rows[0][kUsed], hex(listing_.at(deep_path + "leaf.txt").size, 8));
  }
}

TEST_F(QuorOnDefault, SelectionsOfCsv) {
  struct sel_case {
    args_t args;
    bool valid_rows, slack_rows;
  } cases[] = {
      {{}, true, false},        {{"-valid"}, true, false},          {{"-slack"}, false, true},
      {{"-all"}, true, true},   {{"-nodups", "-all"}, true, true},  {{"-nodups", "-slack"}, false, true},
  };
  std::map<std::string, size_t> counts;
  for (const sel_case& c : cases) {
    args_t args = on_image({"-path", "\\many", "-csv"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    const csv_output csv = csv_run(args);
    bool saw_valid = false, saw_slack = false;
    std::set<std::string> keys;  // name and the eight time columns
    for (const auto& row : csv.rows) {
      (row[kType] == "valid" ? saw_valid : saw_slack) = true;
      std::string key = row[kName];
      for (int col = 4; col < 12; ++col) key += "|" + row[col];
      keys.insert(key);
    }
    std::string key;
    for (const std::string& a : c.args) key += a;
    EXPECT_EQ(saw_valid, c.valid_rows) << key;
    EXPECT_EQ(saw_slack, c.slack_rows) << key;
    counts[key] = csv.rows.size();
    EXPECT_TRUE(key.rfind("-nodups", 0) != 0 || keys.size() == csv.rows.size()) << key;
  }
  EXPECT_EQ(counts[""], counts["-valid"]);
  EXPECT_EQ(counts[""] + counts["-slack"], counts["-all"]);
  EXPECT_LT(counts["-nodups-all"], counts["-all"]);
  EXPECT_LT(counts["-nodups-slack"], counts["-slack"]);
}

TEST_F(QuorOnDefault, UnicodeNamesAndImagePath) {
  // An image path outside ASCII, and a folder of names outside the BMP.
  const std::string dir = quor_test::scratch_dir() + "/bilder-\xc3\xa4\xe6\x96\x87";
  shell("mkdir -p " + quote(dir) + " && ln -sf " + quote(image_) + " " + quote(dir + "/vol.img"));
  const run_result r = run_quor({"-image", dir + "/vol.img", "-path", "\\names", "-csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name :
       {"caf\xc3\xa9.txt", "\xe6\x96\x87\xe4\xbb\xb6.txt", "\xf0\x9f\x98\x80smile.txt", "Readme", "README"})
    EXPECT_NE(r.out.find(std::string(",\\names\\") + name + ","), std::string::npos) << name;
  EXPECT_NE(r.out.find("-image \"" + dir + "/vol.img\""), std::string::npos);
  // A -path outside ASCII is looked up as UTF-8 (here a file: found, and
  // nothing written for it); the same name cut short is not found.
  const run_result file = run_quor(on_image({"-path", "\\names\\caf\xc3\xa9.txt"}));
  EXPECT_EQ(file.status, 0) << file.out;
  EXPECT_EQ(file.out.find("prob finding"), std::string::npos);
  EXPECT_EQ(run_quor(on_image({"-path", "\\names\\caf\xc3"})).status, kFailed);

  // A name with a colon as its second character, typed in the image's own
  // folder, is a file there, not a drive: the root lists as the mount did.
  shell("ln -sf " + quote(image_) + " " + quote(dir + "/x:y.img"));
  std::string out;
  const int status = run_command("cd " + quote(dir) + " && " + quote(QUOR_EXE) +
                                     " -image x:y.img -mft 5 -csv 2>/dev/null </dev/null",
                                 out);
  ASSERT_EQ(status, 0) << out;
  csv_output root;
  ASSERT_TRUE(parse_csv_output(out, root, 18)) << out.substr(0, 2000);
  std::set<std::string> names, expected{"[root]\\."};  // the root's entry for itself
  for (const auto& row : root.rows)
    if (!is_system_name(row[kName])) names.insert(row[kName]);
  for (const auto& kv : listing_)
    if (parent_of(kv.first) == "[root]") expected.insert(kv.first);
  EXPECT_EQ(names, expected);
}

// A record that is not an index record, the allocation of \many as icat
// extracts it, a gap to 3 MiB that holds no INDX record, then the allocation
// of \longnames: the file is read whole, each record keeps its own offset.
TEST_F(QuorOnDefault, IndxFileBeyondTwoMebibytes) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat absent";
  const std::string big = quor_test::scratch_dir() + "/many-and-longnames.i30";
  shell("head -c 4096 /dev/zero | tr '\\0' z > " + quote(big) + " && icat " + quote(image_) + " " +
        std::to_string(listing_.at("[root]\\many").inode) + "-160 >> " + quote(big) + " && truncate -s 3M " +
        quote(big) + " && icat " + quote(image_) + " " + std::to_string(listing_.at("[root]\\longnames").inode) +
        "-160 >> " + quote(big));
  const csv_output csv = csv_run({"-indxfile", big, "-all", "-csv", "-path", "\\sub"}, 19);
  EXPECT_EQ(csv.header, "offset," + kCsvHeader);
  const std::set<std::string> gone = gone_paths("default.img");
  std::map<std::string, std::set<std::string>> live;  // folder -> live paths
  size_t slack = 0, gone_found = 0;
  for (const auto& row : csv.rows) {
    const unsigned long long off = std::stoull(row[0], nullptr, 16);
    const std::string dir = off >= (3u << 20) ? "[root]\\longnames" : "[root]\\many";
    const std::string path = dir + "\\" + row[17];
    EXPECT_GE(off, 4096u + 24) << path;
    if (row[4] != "valid") {
      ++slack;
      EXPECT_TRUE(row[18] != "deleted" || !listing_.count(path)) << "live file called deleted: " << path;
      gone_found += row[18] == "deleted" && gone.count(path);
      continue;
    }
    EXPECT_EQ(listing_.count(path), 1u) << path << " at " << row[0];
    EXPECT_GE(off % 4096, 24u) << path;  // positions in the file, record by record
    live[dir].insert(path);
  }
  // Live names kept in the directory's $INDEX_ROOT are not in the file.
  for (const std::string dir : {"[root]\\many", "[root]\\longnames"}) {
    size_t listed = 0;
    for (const auto& kv : listing_) listed += parent_of(kv.first) == dir;
    EXPECT_GT(live[dir].size(), 0u) << dir;
    EXPECT_GE(live[dir].size() + 16, listed) << dir;
  }
  EXPECT_GT(slack, 0u);
  EXPECT_GT(gone_found, 0u);

  const run_result both = run_quor({"-indxfile", big, "-mft", "64"});
  EXPECT_EQ(both.status, kFailed);
  EXPECT_EQ(lines_of(both.err).size(), 1u) << both.err;
  EXPECT_EQ(both.out.find("Name:"), std::string::npos);
}

// Every directory of each kit volume, -all -csv: every listed name is live
// under its own entry number; every slack copy the kit lists (entry number,
// or 0 where the copy's reference is gone, and path) is carved and judged
// deleted; a name judged deleted is one the script deleted or renamed, never
// a live one.
TEST(QuorEndToEnd, AllDirectoriesMatchTheListingsAndTheDeletions) {
  struct volume_case {
    std::string name;
    std::set<std::string> unlisted;  // live names the listing leaves out: DOS names
  } volumes[] = {{"default", {"[root]\\names\\LONGNA~1.TXT"}}, {"c64k", {}}, {"sample", {}}, {"bigdir", {}},
                 {"s4096", {}}};
  for (const volume_case& v : volumes) {
    SCOPED_TRACE(v.name);
    const std::string image = quor_test::fixture(v.name + ".img");
    ASSERT_FALSE(image.empty());
    const std::map<std::string, listing_entry> listing = listing_by_path(v.name);
    const std::set<std::string> gone = gone_paths(v.name);
    std::map<std::pair<unsigned long long, std::string>, int> expected, carved;
    for (const auto& s : quor_test::read_slack(v.name)) ++expected[{s.inode, volume_path(s.path)}];
    ASSERT_FALSE(listing.empty() || expected.empty());

    const run_result r = run_quor({"-image", image, "-all", "-csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    csv_output csv;
    ASSERT_TRUE(parse_csv_output(r.out, csv, 18)) << r.out.substr(0, 2000);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), banner_line());
    EXPECT_EQ(csv.header, kCsvHeader);
    EXPECT_EQ(csv.echo.front(), '[');
    EXPECT_NE(csv.echo.find(" UTC] : " + std::string(QUOR_EXE) + " -image \"" + image + "\" -all -csv "),
              std::string::npos)
        << csv.echo;

    std::map<std::string, std::set<std::string>> live;  // path -> entry numbers
    for (const auto& row : csv.rows) {
      const std::string& path = row[kName];
      if (row[kType] == "valid") {
        live[path].insert(row[kEntry]);
        const auto listed = listing.find(path);
        if (listed != listing.end()) {
          EXPECT_EQ(row[kKind], listed->second.kind == 'd' ? "dir" : "file") << path;
        }
        EXPECT_TRUE(row[kComment].empty()) << path;
        continue;
      }
      ASSERT_EQ(row[kType], "slack") << path;
      EXPECT_FALSE(row[kComment].empty()) << path;
      if (row[kComment] != "deleted" && row[kComment] != "exists [deleted]") continue;
      ++carved[{row[kEntry] == " " ? 0 : std::stoull(row[kEntry], nullptr, 16), path}];
      if (row[kComment] != "deleted") continue;
      EXPECT_EQ(listing.count(path), 0u) << "live file called deleted: " << path;
      EXPECT_TRUE(is_system_name(path) || gone.count(path)) << "never deleted: " << path;
    }
    for (const auto& kv : listing) {
      auto it = live.find(kv.first);
      ASSERT_NE(it, live.end()) << "missing live entry " << kv.first;
      EXPECT_EQ(it->second.count(hex(kv.second.inode, 8)), 1u) << kv.first;
    }
    for (const auto& kv : live)
      EXPECT_TRUE(listing.count(kv.first) || is_system_name(kv.first) || kv.first == "[root]\\." ||
                  v.unlisted.count(kv.first))
          << "live entry not listed: " << kv.first;
    for (const auto& kv : expected) {
      auto it = carved.find(kv.first);
      EXPECT_GE(it == carved.end() ? 0 : it->second, kv.second)
          << "not carved: " << kv.first.first << " " << kv.first.second;
    }
  }
}

// Names planted to split a row (LF, CR) or to open a quoted cell that folds
// the rows after it into one ('"' where the cell begins: a bare name on the
// -indxfile road, every full name under -path '"'), and user and host names
// holding commas, a leading quote and a line break: python's csv reads each
// line as one row of the header's columns, one row per entry written, and
// the text form writes the names with a line break on their own lines.
TEST(QuorEndToEnd, PlantedNamesKeepEveryEntryOnOneRow) {
  if (!have_program("python3")) GTEST_SKIP() << "python3 absent";
  const planted_volume v = plant_names();
  ASSERT_FALSE(v.image.empty()) << "default.img or its \\longnames names absent";
  struct road_case {
    args_t source;
    std::vector<std::string> cells;  // the planted names' cells, up to their tails
    size_t csv_columns;
    bool blank_end;  // a volume road ends with an empty line of its own
  } roads[] = {
      {{"-image", v.image, "-path", "\"", "-level", "1"},
       {" \\longnames\\\"0002_", " \\longnames\\L 003_", " \\longnames\\L 004_", " \\longnames\\L|006_"},
       20, true},
      {{"-indxfile", v.indx}, {" 0002_", "L 003_", "L 004_", "L|006_"}, 21, false},
  };
  for (const road_case& road : roads) {
    args_t base = road.source;
    for (const char* arg : {"-all", "-username", "\"Smith, John", "-hostname", "ws,42\r\nlab"}) base.push_back(arg);
    const size_t entries = entries_written(base);
    EXPECT_GT(entries, 10u) << road.source[0];
    // The text form keeps each name on its "Name:" line too.
    const run_result text = run_quor(base);
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("L 003_" + v.tails[1] + "\n"), std::string::npos);
    EXPECT_NE(text.out.find("L 004_" + v.tails[2] + "\n"), std::string::npos);
    for (const std::string form : {"-csv", "-csvl2t"}) {
      SCOPED_TRACE(road.source[0] + " " + form);
      args_t args = base;
      args.push_back(form);
      const run_result r = run_quor(args);
      ASSERT_EQ(r.status, 0) << r.err;
      // Past the banner, the run time and a blank line, and CSV's echo line.
      const std::string rows = after_lines(r.out, form == "-csv" ? 4 : 3);
      const std::vector<size_t> columns = python_csv_columns(rows);
      ASSERT_EQ(columns.size(), static_cast<size_t>(std::count(rows.begin(), rows.end(), '\n')));
      const size_t ends = road.blank_end ? 1 : 0;
      ASSERT_GE(columns.size(), 2 + ends);
      if (road.blank_end) {
        EXPECT_EQ(columns.back(), 0u);
      }
      const size_t width = form == "-csv" ? road.csv_columns : 17;
      EXPECT_EQ(columns.front(), width) << "header";
      for (size_t i = 1; i + ends < columns.size(); ++i) ASSERT_EQ(columns[i], width) << "row " << i;
      if (form == "-csv") {
        EXPECT_EQ(columns.size() - 1 - ends, entries);
        EXPECT_NE(rows.find(", Smith  John,ws 42  lab\n"), std::string::npos);
      } else {
        EXPECT_NE(rows.find(", Smith  John,ws 42  lab,"), std::string::npos);
      }
      for (size_t i = 0; i < road.cells.size(); ++i)
        EXPECT_NE(rows.find("," + road.cells[i] + v.tails[i]), std::string::npos) << road.cells[i];
    }
  }
}

// A typed comma before the quote the echo wraps an argument in (a user name
// 'a,""', a host name 'ws,' given last) leaves a '"' where a cell of the echo
// line begins, and python's csv would read one quoted cell from there over
// the header and every row: the echo stays a row of its own.
TEST(QuorEndToEnd, CsvEchoOpensNoQuotedCell) {
  if (!have_program("python3")) GTEST_SKIP() << "python3 absent";
  const std::string image = quor_test::fixture("default.img");
  ASSERT_FALSE(image.empty()) << "default.img absent";
  for (const args_t& typed : {args_t{"-username", "a,\"\""}, args_t{"-hostname", "ws,"}}) {
    SCOPED_TRACE(typed[0]);
    args_t args = {"-image", image, "-all"};
    args.insert(args.end(), typed.begin(), typed.end());
    const size_t entries = entries_written(args);
    EXPECT_GT(entries, 100u);
    args.insert(args.begin() + 3, "-csv");
    const run_result r = run_quor(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // Past the banner, the run time and a blank line: the echo, the header,
    // a row per entry and the volume road's empty line.
    const std::string rows = after_lines(r.out, 3);
    const std::vector<size_t> columns = python_csv_columns(rows);
    ASSERT_EQ(columns.size(), static_cast<size_t>(std::count(rows.begin(), rows.end(), '\n')));
    ASSERT_EQ(columns.size(), entries + 3);
    for (size_t i = 1; i + 1 < columns.size(); ++i) ASSERT_EQ(columns[i], 20u) << "row " << i;
    EXPECT_EQ(columns.back(), 0u);
  }
}

TEST(QuorEndToEnd, HelpAndUsage) {
  const std::string expected = quor_test::expected_usage("quor");
  for (const args_t& args : std::vector<args_t>{{}, {"-HELP"}, {"/?"}, {"-image", "x.dd", "--Help"}}) {
    const run_result r = run_quor(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, expected);
  }
  // Started through another name, the usage shows that file name alone.
  const std::string link = quor_test::scratch_dir() + "/renamed-tool";
  shell("ln -sf " + quote(QUOR_EXE) + " " + quote(link));
  const run_result r = run_quor({}, link);
  EXPECT_NE(r.err.find("\n renamed-tool [source of NTFS volume]"), std::string::npos) << r.err;
}

TEST(QuorEndToEnd, BadInputEndsWithItsMessage) {
  const std::string zeros = quor_test::scratch_dir() + "/zeros.img";
  shell("head -c 4194304 /dev/zero > " + quote(zeros));
  const std::string image = quor_test::fixture("default.img");
  const std::string init_failed = "prob calling initialize_mft, aborting\n";
  const std::string not_found = "prob finding corresponding MFT entry, aborting\n";
  struct bad_case {
    args_t args;
    std::string out_tail;  // what stdout ends with
    std::string err;       // what stderr starts with
    bool needs_image;
  } cases[] = {
      {{"-csv", "-image"}, "",
       "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, -vmdk]\n", false},
      {{"-image", "/nonexistent/disk.dd"}, init_failed, "", false},
      {{"-image", zeros}, init_failed, "", false},
      {{"-mftfile", zeros}, "user_ctx not valid, aborting\n", "", false},
      {{"-image", image, "-path", ""}, not_found, "", true},
      {{"-image", image, "-path", "\\no-such-dir"}, not_found, "", true},
      // 64 bits of offset, past the end of a bare volume: refused by the parser.
      {{"-image", image, "-offset", "0x100000000"}, "", "", true},
  };
  for (const bad_case& c : cases) {
    ASSERT_FALSE(c.needs_image && image.empty());
    const run_result r = run_quor(c.args);
    EXPECT_EQ(r.status, kFailed) << c.args.back();
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    EXPECT_TRUE(ends_with(r.out, c.out_tail)) << r.out;
    EXPECT_EQ(r.out.rfind(banner_line(), 0), 0u);
    EXPECT_EQ(r.out.find("Name:"), std::string::npos);
    EXPECT_TRUE(c.args.back() != "0x100000000" || !r.err.empty()) << "no message for the offset";
  }
}

// Copies a fixture and damages it: every INDX record and every directory's
// FILE record gets bytes flipped at fixed strides, the boot sector is
// zeroed, or the image is cut after 2 MiB. quor must end cleanly with a
// listing or a message.
TEST(QuorEndToEnd, DamagedVolumesNeverCrash) {
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  std::ifstream in(image, std::ios::binary);
  const std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(data.size(), 1u << 20);

  struct damage {
    const char* name;
    size_t stride;  // flip one byte in this many inside each damaged record
  } kinds[] = {{"light", 97}, {"heavy", 13}, {"boot", 0}, {"truncated", 0}};
  for (const damage& d : kinds) {
    const bool truncated = std::strcmp(d.name, "truncated") == 0;
    std::vector<char> copy(data.begin(), truncated ? data.begin() + (2 << 20) : data.end());
    size_t flipped = 0;
    if (d.stride == 0 && !truncated) std::fill(copy.begin(), copy.begin() + 512, 0);
    for (size_t off = 0; d.stride && off + 4096 <= copy.size(); off += 1024) {
      const bool indx = off % 4096 == 0 && std::memcmp(&copy[off], "INDX", 4) == 0;
      const bool dir_record = std::memcmp(&copy[off], "FILE", 4) == 0 && (copy[off + 22] & 2) != 0;
      if (!indx && !dir_record) continue;
      for (size_t i = 5 + (flipped % d.stride); i < (indx ? 4096u : 1024u); i += d.stride) copy[off + i] ^= 0x5a;
      ++flipped;
    }
    ASSERT_TRUE(d.stride == 0 || flipped > 10) << d.name;
    const std::string path = quor_test::scratch_dir() + "/damaged-" + d.name + ".img";
    std::ofstream(path, std::ios::binary).write(copy.data(), static_cast<std::streamsize>(copy.size()));
    for (const args_t& extra : std::vector<args_t>{{"-all", "-csv"}, {"-all", "-level", "-1", "-mft", "5"}}) {
      args_t args{"-image", path};
      args.insert(args.end(), extra.begin(), extra.end());
      const run_result r = run_quor(args);
      EXPECT_TRUE(r.status == 0 || r.status == kFailed) << d.name << " status " << r.status;
      EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
      if (r.status == kFailed && std::strcmp(d.name, "boot") == 0) {
        EXPECT_TRUE(ends_with(r.out, "prob calling initialize_mft, aborting\n")) << r.out;
      }
    }
  }
}

TEST(QuorEndToEnd, PartitionedDiskAndVmdkChain) {
  if (quor_test::fixture("mbr-1p.img").empty()) GTEST_SKIP() << "partitioned fixtures absent";
  struct disk_case {
    const char* fixture;
    const char* offset;
    std::string label;
  } disks[] = {{"mbr-1p.img", "0x100000", "one"},
               {"gpt-slot3.img", "0x200000", "gpt"},
               {"mbr-far.img", "0x10100000", "far"},
               {"mbr-ext.img", "0x600000", "logical"}};
  for (const disk_case& d : disks) {
    const std::string path = quor_test::fixture(d.fixture);
    ASSERT_FALSE(path.empty()) << d.fixture;
    std::set<std::string> live;
    for (const auto& row : csv_run({"-image", path, "-offset", d.offset, "-all", "-csv"}).rows)
      if (row[kType] == "valid") live.insert(row[kName]);
    for (const std::string& name : {d.label + "-docs\\readme.txt", d.label + "-docs\\inner\\notes.txt",
                                    d.label + "-big.bin"})
      EXPECT_EQ(live.count("[root]\\" + name), 1u) << d.fixture << " " << name;
  }

  // The snapshot chain reads as the changed disk: the new folder is live and
  // the removed file is gone from the live entries.
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  ASSERT_FALSE(base.empty() || child.empty());
  const std::string dir = quor_test::scratch_dir() + "/chain";
  shell("mkdir -p " + quote(dir) + " && cp " + quote(base) + " " + quote(dir + "/vmdk-base.vmdk") + " && cp " +
        quote(child) + " " + quote(dir + "/vmdk-child.vmdk"));
  std::map<std::string, std::string> type_of;
  for (const auto& row :
       csv_run({"-vmdk", dir + "/vmdk-child.vmdk", "-vmdk", dir + "/vmdk-base.vmdk", "-all", "-csv"}).rows)
    type_of[row[kName]] += row[kType] + ";";
  EXPECT_NE(type_of["[root]\\snap-dir\\later.txt"].find("valid"), std::string::npos);
  EXPECT_EQ(type_of["[root]\\one-docs\\readme.txt"].find("valid"), std::string::npos);
}

// quor run under an address-space limit of `kib` KiB, as `ulimit -v` sets
// it; status -1 when the run ended by a signal.
run_result run_quor_limited(const args_t& args, unsigned long kib) {
  return run_quor_under("ulimit -v " + std::to_string(kib) + "; exec ", args);
}

// The lines a listing cut short shares with the whole one: without the run
// time and the command-line echo (both hold the time of the run) and
// without "exception caught"; a carved entry's judgement is left out, since
// it depends on which live entries of its folder were gathered.
std::multiset<std::string> comparable_lines(const std::string& out) {
  std::multiset<std::string> lines;
  for (std::string line : lines_of(out)) {
    if (line.rfind("run time: ", 0) == 0 || line.rfind("[", 0) == 0 || line == "exception caught") continue;
    if (line.rfind("Entry:", 0) == 0 && line.find("slack") != std::string::npos) line = "Entry: slack";
    if (line.find(",slack,") != std::string::npos) line.erase(line.rfind(','));
    lines.insert(line);
  }
  return lines;
}

// Memory that runs out, at limits from where quor starts at all to where it
// has room for the whole run: each run ends either with 0 and the whole
// listing, or with 255, one of the two messages on standard error (entries
// lost to an exception, or memory gone where the run cannot go on) and on
// standard output only whole lines of the whole listing; never by a signal.
// Only a run that fails before its outputs are known not to be the evidence
// writes nothing at all, or, where memory ran out in the check of standard
// output itself, its refusal alone on standard error.
TEST(QuorEndToEnd, RunningOutOfMemoryEndsWithAMessageAndWholeLines) {
  if (!allocation_failures_throw()) GTEST_SKIP() << "the sanitizers' allocator ends the process instead of throwing";
  const std::string image = fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  const std::string incomplete = "exception caught: listing incomplete, aborting\n";
  const std::string no_memory = "prob running out of memory, aborting\n";
  for (const args_t& form : std::vector<args_t>{{"-all", "-csv"}, {"-all"}}) {
    args_t args{"-image", image};
    args.insert(args.end(), form.begin(), form.end());
    SCOPED_TRACE(form.back());
    const run_result unlimited = run_quor(args);
    ASSERT_EQ(unlimited.status, 0);
    const std::multiset<std::string> whole = comparable_lines(unlimited.out);
    int started = 0, whole_runs = 0, lost = 0, ran_out = 0;
    // Fine steps about the least memory quor starts with, where not even an
    // exception can be made.
    unsigned long step = 128, fine_until = 0;
    bool reached_quor = false;
    for (unsigned long kib = 4096, whole_in_a_row = 0; whole_in_a_row < 8; kib += step) {
      ASSERT_LT(kib, 256ul * 1024) << "no run was whole";
      if (fine_until != 0 && kib >= fine_until) step = 128;
      const run_result r = run_quor_limited(args, kib);
      // The loader found no room for the program's libraries or its thread:
      // it says so with 127 (a status quor never gives), or, just short of
      // room (a 32-bit build), ends by a signal of its own before quor's
      // first instruction. quor never ran. Past the first run that got to
      // quor, a signal is quor's.
      if (r.out.empty() && (r.status == 127 || (r.status == -1 && r.err.empty() && !reached_quor))) continue;
      if (fine_until == 0) {
        fine_until = kib + 1024;
        kib -= 128;
        step = 16;
        continue;
      }
      reached_quor = true;
      ++started;
      ASSERT_TRUE(r.status == 0 || r.status == kFailed) << kib << " KiB: status " << r.status << "\n" << r.err;
      EXPECT_TRUE(r.out.empty() || r.out.back() == '\n') << kib << " KiB: the last line is cut";
      const std::multiset<std::string> lines = comparable_lines(r.out);
      if (r.status == 0) {
        EXPECT_TRUE(lines == whole) << kib << " KiB: 0 with " << lines.size() << " of " << whole.size() << " lines";
        ++whole_runs;
        ++whole_in_a_row;
        continue;
      }
      whole_in_a_row = 0;
      EXPECT_TRUE(std::includes(whole.begin(), whole.end(), lines.begin(), lines.end()))
          << kib << " KiB: a line the whole listing does not hold";
      const bool says_lost = ends_with(r.err, incomplete), says_out = ends_with(r.err, no_memory);
      // Memory gone while standard output was checked at the start: it is
      // refused and takes nothing, the refusal alone said on standard error.
      const bool out_refused = r.out.empty() && r.err.rfind("refused to write: ", 0) == 0 &&
                               r.err.find('\n') + 1 == r.err.size() &&
                               ends_with(r.err, ": memory ran out while what it is stored on was looked for\n");
      lost += says_lost;
      ran_out += says_out;
      EXPECT_TRUE(says_lost || says_out || out_refused || (r.out.empty() && r.err.empty())) << kib << " KiB: " << r.err;
    }
    EXPECT_GT(started, 8);
    EXPECT_GE(whole_runs, 8);
    EXPECT_GT(lost, 0);
    EXPECT_GT(ran_out, 0);
  }
}

// glibc takes the record of a thread-local destructor from calloc and ends
// the process by SIGABRT when it gets none, before any handler of quor's
// runs, so quor keeps none. Under a preload that fails just that calloc
// (shown to take hold on a program that needs such a record), every form of
// the listing runs to its end as it does without it.
TEST(QuorEndToEnd, NoThreadLocalDestructorToRegister) {
  if (!allocation_failures_throw()) GTEST_SKIP() << "a preload cannot come before the sanitizers' runtime";
  const std::string image = fixture("sample.img");
  if (image.empty()) GTEST_SKIP() << "sample.img fixture absent";
  const std::string preload = "LD_PRELOAD=" + quote(QUOR_TLS_FAILURE_PRELOAD) + " ";
  const run_result probe = run_quor_under(preload, {}, QUOR_TLS_PROBE);
  if (probe.status == 0) GTEST_SKIP() << "this C library does not take the destructor's record from calloc";
  // 134 from a shell that waited for it; -1 when the shell was replaced by it.
  EXPECT_TRUE(probe.status == 134 || probe.status == -1) << probe.status;
  EXPECT_NE(probe.err.find("failed to register TLS destructor"), std::string::npos) << probe.err;
  EXPECT_EQ(probe.out, "");
  for (const args_t& form : std::vector<args_t>{{"-all"}, {"-all", "-csv"}, {"-all", "-csvl2t"}, {"-all", "-bodyfile"}}) {
    SCOPED_TRACE(form.back());
    args_t args{"-image", image};
    args.insert(args.end(), form.begin(), form.end());
    const run_result plain = run_quor(args);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const run_result held = run_quor_under(preload + "timeout 300 ", args);
    EXPECT_EQ(held.status, 0) << held.err;
    EXPECT_GT(lines_of(plain.out).size(), 100u);
    EXPECT_TRUE(comparable_lines(held.out) == comparable_lines(plain.out));
  }
}

}  // namespace
