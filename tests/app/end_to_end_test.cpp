// Runs the built quor binary on the fixture volumes and checks exit status,
// standard output and standard error against the fixtures' own listings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/usage.h"
#include "ntfs/ntfs.h"
#include "utils/byte_order.h"
#include "tests/support/fixture.h"

namespace {

struct run_result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs quor (or `exe`) with the given arguments, each quoted for the shell.
run_result run_quor(const std::vector<std::string>& args, const std::string& exe = QUOR_EXE) {
  static int counter = 0;
  const std::string base = quor_test::scratch_dir() + "/run-" + std::to_string(++counter);
  // A run that never ends or writes without end is stopped, not waited for.
  std::string cmd = "ulimit -f 400000; timeout 300 " + quote(exe);
  for (const std::string& a : args) cmd += " " + quote(a);
  cmd += " >" + quote(base + ".out") + " 2>" + quote(base + ".err") + " </dev/null";
  run_result r;
  std::string ignored;
  r.status = quor_test::run_command(cmd, ignored);
  r.out = read_whole(base + ".out");
  r.err = read_whole(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

// The exit statuses quor may end with: 0, or -1 as the shell sees it.
const int kFailed = 255;

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// "/a/b" as the fixtures list it -> "[root]\a\b" as quor writes it.
std::string volume_path(const std::string& listed) {
  std::string p = "[root]";
  for (char c : listed) p += c == '/' ? '\\' : c;
  return p;
}

struct listed_entry {
  unsigned long long inode = 0;
  std::string seq;
  bool dir = false;
  unsigned long long size = 0;
};

// path ("[root]\...") -> entry, from <name>.listing
std::map<std::string, listed_entry> read_listing(const std::string& name) {
  std::map<std::string, listed_entry> out;
  std::ifstream in(std::string(QUOR_FIXTURE_DIR) + "/" + name);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = split(line, '\t');
    if (f.size() < 5) continue;
    listed_entry e;
    e.inode = std::stoull(f[0]);
    e.seq = f[1];
    e.dir = f[2] == "d";
    e.size = std::stoull(f[3]);
    out[volume_path(f[4])] = e;
  }
  return out;
}

// paths ("[root]\...") of every name that left an index, from <name>.deleted
std::set<std::string> read_gone(const std::string& name) {
  std::set<std::string> out;
  std::ifstream in(std::string(QUOR_FIXTURE_DIR) + "/" + name);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = split(line, '\t');
    if (f.size() >= 2) out.insert(volume_path(f[1]));
  }
  return out;
}

const char* const kCsvHeader =
    "mft entry,mft seq,parent mft,type,modify date,modify time [utc],access date,"
    "access time [utc],mft date,mft time [utc],create date,create time [utc],dir/file,"
    "size alloc,size used,flags,name,slack comment";

struct csv_row {
  std::vector<std::string> cols;
  const std::string& entry() const { return cols[0]; }
  const std::string& seq() const { return cols[1]; }
  const std::string& type() const { return cols[3]; }
  const std::string& kind() const { return cols[12]; }
  const std::string& used() const { return cols[14]; }
  const std::string& name() const { return cols[16]; }
  const std::string& comment() const { return cols[17]; }
};

// The CSV part of a run: the echo line, the header, then the rows.
struct csv_output {
  std::string echo;
  std::string header;
  std::vector<csv_row> rows;
};

// Banner, run time and blank line come first; the run ends with one line end.
bool parse_csv_output(const std::string& out, csv_output& csv, size_t columns) {
  const std::vector<std::string> lines = lines_of(out);
  if (lines.size() < 5 || lines[1].rfind("run time: ", 0) != 0 || !lines[2].empty()) return false;
  csv.echo = lines[3];
  csv.header = lines[4];
  for (size_t i = 5; i < lines.size(); ++i) {
    if (lines[i].empty() && i + 1 == lines.size()) break;
    csv_row row;
    row.cols = split(lines[i], ',');
    if (row.cols.size() != columns) {
      ADD_FAILURE() << "row with " << row.cols.size() << " columns: " << lines[i];
      return false;
    }
    csv.rows.push_back(row);
  }
  return true;
}

std::string hex(unsigned long long v, int width) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "0x%0*llx", width, v);
  return buf;
}

bool is_system_name(const std::string& path) { return path.find("\\$") != std::string::npos; }

std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('\\')); }

class QuorOnDefault : public testing::Test {
 protected:
  void SetUp() override {
    image_ = quor_test::fixture("default.img");
    if (image_.empty()) GTEST_SKIP() << "default.img fixture absent";
    listing_ = read_listing("default.listing");
    gone_ = read_gone("default.deleted");
    ASSERT_FALSE(listing_.empty());
  }
  std::string image_;
  std::map<std::string, listed_entry> listing_;
  std::set<std::string> gone_;
};

TEST_F(QuorOnDefault, AllDirectoriesCsvMatchesTheListingAndTheDeletions) {
  const run_result r = run_quor({"-image", image_, "-all", "-csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  csv_output csv;
  ASSERT_TRUE(parse_csv_output(r.out, csv, 18)) << r.out.substr(0, 2000);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), banner_line());
  EXPECT_EQ(csv.header, kCsvHeader);
  EXPECT_EQ(csv.echo.front(), '[');
  EXPECT_NE(csv.echo.find(" UTC] : " + std::string(QUOR_EXE) + " -image \"" + image_ +
                          "\" -all -csv "),
            std::string::npos)
      << csv.echo;

  std::map<std::string, std::set<std::string>> valid_inodes;  // path -> entry numbers
  std::set<std::string> live_dirs_seen;
  size_t slack_rows = 0;
  std::set<std::string> recovered;
  for (const csv_row& row : csv.rows) {
    const std::string& path = row.name();
    if (row.type() == "valid") {
      valid_inodes[path].insert(row.entry());
      EXPECT_TRUE(row.comment().empty()) << path;
      continue;
    }
    ASSERT_EQ(row.type(), "slack") << path;
    ++slack_rows;
    if (row.comment() == "deleted") {
      // A name judged deleted is one that left this directory's index.
      EXPECT_EQ(listing_.count(path), 0u) << "live file called deleted: " << path;
      if (!is_system_name(path)) {
        EXPECT_EQ(gone_.count(path), 1u) << "never deleted: " << path;
      }
      recovered.insert(path);
    } else {
      EXPECT_FALSE(row.comment().empty()) << path;
    }
  }

  // Every listed file and folder is a live entry of its directory, under its
  // own MFT entry number.
  for (const auto& kv : listing_) {
    auto it = valid_inodes.find(kv.first);
    ASSERT_NE(it, valid_inodes.end()) << "missing live entry " << kv.first;
    EXPECT_EQ(it->second.count(hex(kv.second.inode, 8)), 1u) << kv.first;
  }
  // And every live entry is listed, but for system files, the root's "."
  // and the DOS name beside a long one.
  for (const auto& kv : valid_inodes) {
    if (listing_.count(kv.first) != 0 || is_system_name(kv.first) || kv.first == "[root]\\.")
      continue;
    EXPECT_EQ(kv.first, "[root]\\names\\LONGNA~1.TXT") << "live entry not listed";
  }
  EXPECT_GT(slack_rows, 0u);
  // The folders the fixture thinned by hundreds of names keep some of them.
  for (const char* dir : {"[root]\\many", "[root]\\longnames"}) {
    size_t found = 0;
    for (const std::string& p : recovered)
      if (parent_of(p) == dir) ++found;
    EXPECT_GT(found, 0u) << "no deleted name recovered in " << dir;
  }
}

TEST_F(QuorOnDefault, PathRoadWritesTextBlocksOfOneDirectory) {
  struct path_case {
    std::string value;
    std::string dir;  // as written before each name
  } cases[] = {
      {"\\sub", "[root]\\sub\\"},   {"\\sub\\", "[root]\\sub\\"},
      {"sub\\", "[root]\\sub\\"},   {"C:\\names", "[root]\\names\\"},
      {"\\\\names", "[root]\\names\\"},
  };
  for (const path_case& c : cases) {
    const run_result r = run_quor({"-image", image_, "-path", c.value});
    ASSERT_EQ(r.status, 0) << c.value << r.err;
    std::set<std::string> names;
    size_t blocks = 0;
    for (const std::string& line : lines_of(r.out)) {
      if (line.rfind("Name:                 ", 0) == 0) {
        ++blocks;
        names.insert(line.substr(22));
      }
      if (line.rfind("Entry:                ", 0) == 0) {
        EXPECT_EQ(line.substr(22), "valid");
      }
    }
    std::string queued = c.value;
    if (queued.back() != '\\') queued += '\\';
    std::set<std::string> expected;
    for (const auto& kv : listing_)
      if (parent_of(kv.first) + "\\" == c.dir) expected.insert(queued + kv.first.substr(c.dir.size()));
    if (c.dir == "[root]\\names\\") expected.insert(queued + "LONGNA~1.TXT");
    EXPECT_EQ(names, expected) << c.value;
    EXPECT_EQ(blocks, expected.size()) << c.value;
  }
}

TEST_F(QuorOnDefault, TextBlockOfALiveFileCarriesItsFields) {
  const listed_entry& f = listing_.at("[root]\\sub\\file-6.txt");
  const run_result r = run_quor({"-image", image_, "-path", "\\sub", "-username", "alice"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string start = "Name:                 \\sub\\file-6.txt\n";
  const size_t at = r.out.find(start);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::vector<std::string> block = lines_of(r.out.substr(at));
  ASSERT_GE(block.size(), 17u);
  char dec[64];
  std::snprintf(dec, sizeof dec, " [%llu]", f.inode);
  EXPECT_EQ(block[1], "MFT Entry:            " + hex(f.inode, 12) + dec);
  EXPECT_EQ(block[2].substr(0, 22 + 6), "MFT Sequence:         " + hex(std::stoull(f.seq), 4));
  EXPECT_EQ(block[5], "Entry:                valid");
  EXPECT_EQ(block[6].rfind("Modify time [utc]:    ", 0), 0u);
  EXPECT_EQ(block[8].rfind("MFTChanged time [utc]:", 0), 0u);
  std::snprintf(dec, sizeof dec, " [%llu]", f.size);
  EXPECT_EQ(block[11], "Size used:            " + hex(f.size, 8) + dec);
  EXPECT_EQ(block[12].rfind("Type entry:           0x", 0), 0u);
  EXPECT_TRUE(block[13] == "Source type:          indx root" || block[13] == "Source type:          indx alloc") << block[13];
  EXPECT_EQ(block[14], "Username:             alice");
  EXPECT_EQ(block[15], "");
}

TEST_F(QuorOnDefault, EntryRoadAndLevelsFollowTheTree) {
  const listed_entry& l20 =
      listing_.at("[root]\\deep\\l01\\l02\\l03\\l04\\l05\\l06\\l07\\l08\\l09\\l10\\l11\\l12\\l13"
                  "\\l14\\l15\\l16\\l17\\l18\\l19\\l20");
  struct level_case {
    std::vector<std::string> args;
    std::set<std::string> dirs;  // directories whose entries are written
  };
  std::string deep_path = "[root]\\deep\\l01\\l02\\l03\\l04\\l05\\l06\\l07\\l08\\l09\\l10\\l11\\l12"
                          "\\l13\\l14\\l15\\l16\\l17\\l18\\l19\\l20\\";
  std::set<std::string> all_deep{"\\deep\\"};
  std::string walk = "\\deep\\";
  for (int i = 1; i <= 20; ++i) {
    char part[8];
    std::snprintf(part, sizeof part, "l%02d\\", i);
    walk += part;
    all_deep.insert(walk);
  }
  const level_case cases[] = {
      {{"-mft", std::to_string(l20.inode)}, {deep_path}},
      {{"-mft", hex(l20.inode, 1)}, {deep_path}},
      {{"-path", "\\deep"}, {"\\deep\\"}},
      {{"-path", "\\deep", "-level", "2"}, {"\\deep\\", "\\deep\\l01\\", "\\deep\\l01\\l02\\"}},
      {{"-path", "\\deep", "-level", "-1"}, all_deep},
      {{"-path", "\\deep", "-level", "x"}, {"\\deep\\"}},
  };
  for (const level_case& c : cases) {
    std::vector<std::string> args{"-image", image_, "-csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_quor(args);
    ASSERT_EQ(r.status, 0) << r.err;
    csv_output csv;
    ASSERT_TRUE(parse_csv_output(r.out, csv, 18));
    std::set<std::string> dirs;
    for (const csv_row& row : csv.rows) dirs.insert(row.name().substr(0, row.name().rfind('\\') + 1));
    EXPECT_EQ(dirs, c.dirs) << c.args[1];
  }
  // The deepest folder holds the one file.
  const run_result r = run_quor({"-image", image_, "-csv", "-mft", std::to_string(l20.inode)});
  csv_output leaf;
  ASSERT_TRUE(parse_csv_output(r.out, leaf, 18));
  ASSERT_EQ(leaf.rows.size(), 1u) << r.out;
  EXPECT_EQ(leaf.rows[0].name(), deep_path + "leaf.txt");
  EXPECT_EQ(leaf.rows[0].kind(), "file");
  EXPECT_EQ(leaf.rows[0].used(), hex(listing_.at(deep_path + "leaf.txt").size, 8));
}

TEST_F(QuorOnDefault, SelectionsAndNumberFormsOfCsv) {
  const listed_entry& f6 = listing_.at("[root]\\sub\\file-6.txt");
  struct sel_case {
    std::vector<std::string> args;
    bool valid_rows;
    bool slack_rows;
  } cases[] = {
      {{}, true, false},
      {{"-valid"}, true, false},
      {{"-slack"}, false, true},
      {{"-slack", "-valid"}, false, true},
      {{"-all"}, true, true},
      {{"-all", "-slack"}, false, true},
      {{"-nodups"}, true, false},
      {{"-nodups", "-all"}, true, true},
      {{"-nodups", "-slack"}, false, true},
  };
  std::map<std::string, size_t> counts;
  for (const sel_case& c : cases) {
    std::vector<std::string> args{"-image", image_, "-path", "\\many", "-csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_quor(args);
    ASSERT_EQ(r.status, 0) << r.err;
    csv_output csv;
    ASSERT_TRUE(parse_csv_output(r.out, csv, 18));
    bool saw_valid = false;
    bool saw_slack = false;
    std::set<std::string> keys;
    for (const csv_row& row : csv.rows) {
      (row.type() == "valid" ? saw_valid : saw_slack) = true;
      keys.insert(row.name() + "|" + row.cols[4] + row.cols[5] + row.cols[6] + row.cols[7] +
                  row.cols[8] + row.cols[9] + row.cols[10] + row.cols[11]);
    }
    EXPECT_EQ(saw_valid, c.valid_rows);
    EXPECT_EQ(saw_slack, c.slack_rows);
    std::string key;
    for (const std::string& a : c.args) key += a;
    counts[key] = csv.rows.size();
    if (key.rfind("-nodups", 0) == 0) {
      EXPECT_EQ(keys.size(), csv.rows.size()) << key;
    }
  }
  EXPECT_EQ(counts[""] + counts["-slack"], counts["-all"]);
  EXPECT_LE(counts["-nodups-all"], counts["-all"]);

  // Number forms: hexadecimal by default, decimal with -base10; flags stay hex.
  const run_result hexed = run_quor({"-image", image_, "-path", "\\sub", "-csv"});
  const run_result dec = run_quor({"-image", image_, "-path", "\\sub", "-csv", "-base10"});
  const std::string hex_row = hex(f6.inode, 8) + "," + hex(std::stoull(f6.seq), 4) + ",";
  const std::string dec_row = std::to_string(f6.inode) + "," + f6.seq + ",";
  EXPECT_NE(hexed.out.find("\n" + hex_row), std::string::npos);
  EXPECT_NE(dec.out.find("\n" + dec_row), std::string::npos);
  bool saw_f6 = false;
  for (const std::string& line : lines_of(dec.out)) {
    const std::vector<std::string> cols = split(line, ',');
    if (cols.size() != 18 || cols[16] != "\\sub\\file-6.txt") continue;
    saw_f6 = true;
    EXPECT_EQ(cols[12], "file");
    EXPECT_EQ(cols[14], std::to_string(f6.size));
    EXPECT_EQ(cols[15].size(), 10u);
    EXPECT_EQ(cols[15].rfind("0x", 0), 0u);
  }
  EXPECT_TRUE(saw_f6) << dec.out;

  // Either of -username and -hostname adds both columns.
  struct who_case {
    std::vector<std::string> args;
    std::string tail;
  } who[] = {{{"-username", "alice"}, ",alice,"},
             {{"-hostname", "box1"}, ",,box1"},
             {{"-username", "alice", "-hostname", "box1"}, ",alice,box1"}};
  for (const who_case& w : who) {
    std::vector<std::string> args{"-image", image_, "-path", "\\sub", "-csv"};
    args.insert(args.end(), w.args.begin(), w.args.end());
    const run_result r = run_quor(args);
    ASSERT_EQ(r.status, 0);
    csv_output csv;
    ASSERT_TRUE(parse_csv_output(r.out, csv, 20)) << w.tail;
    EXPECT_EQ(csv.header, std::string(kCsvHeader) + ",username,hostname");
    for (const csv_row& row : csv.rows)
      EXPECT_EQ("," + row.cols[18] + "," + row.cols[19], w.tail);
  }
}

TEST_F(QuorOnDefault, UnicodeNamesAndImagePath) {
  // An image path outside ASCII, and a folder of names outside the BMP.
  const std::string dir = quor_test::scratch_dir() + "/bilder-\xc3\xa4\xe6\x96\x87";
  ASSERT_EQ(std::system(("mkdir -p " + quote(dir) + " && ln -sf " + quote(image_) + " " +
                         quote(dir + "/vol.img")).c_str()),
            0);
  const run_result r = run_quor({"-image", dir + "/vol.img", "-path", "\\names", "-csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"caf\xc3\xa9.txt", "\xe6\x96\x87\xe4\xbb\xb6.txt",
                           "\xf0\x9f\x98\x80smile.txt", "Readme", "README"})
    EXPECT_NE(r.out.find(std::string(",\\names\\") + name + ","), std::string::npos) << name;
  EXPECT_NE(r.out.find("-image \"" + dir + "/vol.img\""), std::string::npos);
  // A -path outside ASCII is looked up as UTF-8 (here a file: found, and
  // nothing written for it); the same name cut short is not found.
  const run_result file = run_quor({"-image", image_, "-path", "\\names\\caf\xc3\xa9.txt"});
  EXPECT_EQ(file.status, 0) << file.out;
  EXPECT_EQ(file.out.find("prob finding"), std::string::npos);
  const run_result cut = run_quor({"-image", image_, "-path", "\\names\\caf\xc3"});
  EXPECT_EQ(cut.status, kFailed);
}

TEST_F(QuorOnDefault, IndxFileOfAnExtractedAllocation) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat absent";
  const listed_entry& many = listing_.at("[root]\\many");
  const std::string indx = quor_test::scratch_dir() + "/many.i30";
  ASSERT_EQ(std::system(("icat " + quote(image_) + " " + std::to_string(many.inode) + "-160 > " +
                         quote(indx))
                            .c_str()),
            0);
  const run_result r = run_quor({"-indxfile", indx, "-all", "-csv", "-path", "\\sub"});
  ASSERT_EQ(r.status, 0) << r.err;
  csv_output csv;
  ASSERT_TRUE(parse_csv_output(r.out, csv, 19));
  EXPECT_EQ(csv.header, "offset," + std::string(kCsvHeader));
  std::set<std::string> live;
  size_t slack = 0;
  for (const csv_row& row : csv.rows) {
    const std::string& name = row.cols[17];
    if (row.cols[4] == "valid") {
      live.insert("[root]\\many\\" + name);
      // Offsets are positions in the file, record by record.
      const unsigned long long off = std::stoull(row.cols[0], nullptr, 16);
      EXPECT_GE(off % 4096, 24u) << name;
    } else {
      ++slack;
    }
  }
  std::set<std::string> expected;
  for (const auto& kv : listing_)
    if (parent_of(kv.first) == "[root]\\many") expected.insert(kv.first);
  // Live names kept in the directory's $INDEX_ROOT are not in the file.
  for (const std::string& name : live) EXPECT_EQ(expected.count(name), 1u) << name;
  EXPECT_GE(live.size() + 16, expected.size());
  EXPECT_GT(slack, 0u);

  // A file past 2 MiB is read whole: a gap that holds no INDX record is
  // passed over, and another folder's records behind it keep their own
  // offsets.
  const listed_entry& longnames = listing_.at("[root]\\longnames");
  const std::string big = quor_test::scratch_dir() + "/many-and-longnames.i30";
  ASSERT_EQ(std::system(("cat " + quote(indx) + " > " + quote(big) + " && truncate -s 3M " + quote(big) +
                         " && icat " + quote(image_) + " " + std::to_string(longnames.inode) +
                         "-160 >> " + quote(big))
                            .c_str()),
            0);
  const run_result joined = run_quor({"-indxfile", big, "-csv"});
  ASSERT_EQ(joined.status, 0) << joined.err;
  csv_output csv2;
  ASSERT_TRUE(parse_csv_output(joined.out, csv2, 19));
  std::set<std::string> beyond;
  for (const csv_row& row : csv2.rows) {
    const unsigned long long off = std::stoull(row.cols[0], nullptr, 16);
    const std::string path = (off >= (3u << 20) ? "[root]\\longnames\\" : "[root]\\many\\") + row.cols[17];
    EXPECT_EQ(listing_.count(path), 1u) << path << " at " << row.cols[0];
    if (off >= (3u << 20)) beyond.insert(path);
  }
  size_t in_longnames = 0;
  for (const auto& kv : listing_) in_longnames += parent_of(kv.first) == "[root]\\longnames";
  EXPECT_GT(beyond.size(), 0u);
  EXPECT_GE(beyond.size() + 16, in_longnames);

  const run_result both = run_quor({"-indxfile", indx, "-mft", "64"});
  EXPECT_EQ(both.status, kFailed);
  EXPECT_EQ(lines_of(both.err).size(), 1u) << both.err;
  EXPECT_EQ(both.out.find("Name:"), std::string::npos);
}

// The sample and bigdir volumes: every listed name is live; every slack
// copy that the kit lists (entry number, or 0 where the copy's reference is
// gone, and path) is carved and judged deleted; and a name judged deleted
// is one the script deleted or renamed.
TEST(QuorEndToEnd, LiveAndSlackEntriesMatchTheScripts) {
  int checked = 0;
  for (const std::string name : {"sample", "bigdir"}) {
    const std::string image = quor_test::fixture(name + ".img");
    if (image.empty()) continue;
    ++checked;
    const std::map<std::string, listed_entry> listing = read_listing(name + ".listing");
    const std::set<std::string> gone = read_gone(name + ".deleted");
    std::map<std::pair<unsigned long long, std::string>, int> expected;  // slack copies
    {
      std::ifstream in(std::string(QUOR_FIXTURE_DIR) + "/" + name + ".slack");
      std::string line;
      while (std::getline(in, line)) {
        const std::vector<std::string> f = split(line, '\t');
        if (f.size() >= 2) ++expected[{std::stoull(f[0]), volume_path(f[1])}];
      }
    }
    ASSERT_FALSE(expected.empty()) << name;
    const run_result r = run_quor({"-image", image, "-all", "-csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    csv_output csv;
    ASSERT_TRUE(parse_csv_output(r.out, csv, 18)) << name;
    std::map<std::pair<unsigned long long, std::string>, int> carved;
    std::set<std::string> live;
    for (const csv_row& row : csv.rows) {
      if (row.type() == "valid") {
        live.insert(row.name());
        continue;
      }
      if (row.comment() != "deleted" && row.comment() != "exists [deleted]") continue;
      ++carved[{row.entry() == " " ? 0 : std::stoull(row.entry(), nullptr, 16), row.name()}];
      if (row.comment() == "deleted") {
        EXPECT_EQ(gone.count(row.name()), 1u) << name << ": never deleted: " << row.name();
      }
    }
    for (const auto& kv : expected) {
      auto it = carved.find(kv.first);
      EXPECT_GE(it == carved.end() ? 0 : it->second, kv.second)
          << name << ": not carved: " << kv.first.first << " " << kv.first.second;
    }
    for (const auto& kv : listing) EXPECT_EQ(live.count(kv.first), 1u) << kv.first;
    for (const std::string& p : live) {
      if (listing.count(p) == 0 && !is_system_name(p) && p != "[root]\\.") {
        ADD_FAILURE() << name << ": live entry not listed: " << p;
      }
    }
  }
  if (checked == 0) GTEST_SKIP() << "sample and bigdir fixtures absent";
}

TEST(QuorEndToEnd, HelpAndUsage) {
  std::string expected =
      "-----------------------------------------------------------------------------\n\n" +
      banner_line() +
      "\n\n"
      "usage\n"
      " quor [source of NTFS volume] [item to analyze] [output options]\n"
      "\n"
      " [source of NTFS volume options]\n"
      "  -image <dd image name | raw device> [-offset <vol offset>]\n"
      "  -vmdk <VMWare disk#1> [-vmdk <VMWare disk#2>]\n"
      "  -indxfile <indx datafile>\n"
      "\n"
      " [item to analyze options - these cannot be used with (-indxfile)]\n"
      "  -mft <MFT Entry to analyze>\n"
      "  -path <directory to analyze>\n"
      "\n"
      " [output options (only one option allowed)]\n"
      "  -valid        = output only valid entries (default)\n"
      "  -slack        = output only slack entries\n"
      "  -all          = output both valid and slack entries\n"
      "\n"
      " [additional misc options (multiple options can be used)]\n"
      "  -csv          = csv output\n"
      "  -csvl2t       = log2timeline output [needs validation]\n"
      "  -bodyfile     = sleuthkit output [needs validation]\n"
      "  -level <num>  = recurse # levels [default is 0 levels]\n"
      "  -base10       = use base10 for file size instead of hexadecimal\n"
      "  -nodups       = output w/ no duplicate records\n"
      "  -username <name> = output will contain this username\n"
      "  -hostname <name> = output will contain this hostname\n"
      "\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"-HELP"}, {"/?"}, {"--Help"}, {"-image", "x.dd", "-help"}}) {
    const run_result r = run_quor(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, expected);
  }
  // Started through another name, the usage shows that file name alone.
  const std::string link = quor_test::scratch_dir() + "/renamed-tool";
  ASSERT_EQ(std::system(("ln -sf " + quote(QUOR_EXE) + " " + quote(link)).c_str()), 0);
  const run_result r = run_quor({}, link);
  EXPECT_NE(r.err.find("\n renamed-tool [source of NTFS volume]"), std::string::npos) << r.err;
}

TEST(QuorEndToEnd, BadInputEndsWithItsMessage) {
  const std::string zeros = quor_test::scratch_dir() + "/zeros.img";
  ASSERT_EQ(std::system(("head -c 4194304 /dev/zero > " + quote(zeros)).c_str()), 0);
  const std::string image = quor_test::fixture("default.img");
  const std::string init_failed = "prob calling initialize_mft, aborting\n";
  struct bad_case {
    std::vector<std::string> args;
    std::string out_tail;  // what stdout ends with
    std::string err;       // what stderr holds (prefix)
  } cases[] = {
      {{"-csv"}, "",
       "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, "
       "-vmdk]\n"},
      {{"-csv", "-image"}, "",
       "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, "
       "-vmdk]\n"},
      {{"-image", "/nonexistent/disk.dd"}, init_failed, ""},
      {{"-image", zeros}, init_failed, ""},
      {{"-image", zeros, "-path", ""}, init_failed, ""},
      {{"-mftfile", zeros}, "user_ctx not valid, aborting\n", ""},
  };
  for (const bad_case& c : cases) {
    const run_result r = run_quor(c.args);
    EXPECT_EQ(r.status, kFailed) << c.args[0];
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << r.err;
    ASSERT_GE(r.out.size(), c.out_tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - c.out_tail.size()), c.out_tail) << r.out;
    EXPECT_EQ(r.out.rfind(banner_line(), 0), 0u);
  }
  if (image.empty()) return;
  struct volume_case {
    std::vector<std::string> args;
    std::string out_tail;
  } on_volume[] = {
      {{"-path", ""}, "prob finding corresponding MFT entry, aborting\n"},
      {{"-path", "\\no-such-dir"}, "prob finding corresponding MFT entry, aborting\n"},
  };
  for (const volume_case& c : on_volume) {
    std::vector<std::string> args{"-image", image};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_quor(args);
    EXPECT_EQ(r.status, kFailed);
    ASSERT_GE(r.out.size(), c.out_tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - c.out_tail.size()), c.out_tail) << r.out;
  }
  // An offset past the end of a bare volume is refused by the parser.
  const run_result past = run_quor({"-image", image, "-offset", "0x100000000"});
  EXPECT_EQ(past.status, kFailed);
  EXPECT_FALSE(past.err.empty());
  EXPECT_EQ(past.out.find("Name:"), std::string::npos);
}

// Copies a fixture and damages it: every INDX record and every directory's
// FILE record gets bytes flipped at fixed strides, or the boot sector is
// zeroed. quor must end cleanly with a listing or a message.
TEST(QuorEndToEnd, DamagedVolumesNeverCrash) {
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "default.img fixture absent";
  std::ifstream in(image, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(data.size(), 1u << 20);

  struct damage {
    const char* name;
    size_t stride;  // flip one byte in this many inside each damaged record
  } kinds[] = {{"light", 97}, {"heavy", 13}, {"boot", 0}};
  for (const damage& d : kinds) {
    std::vector<char> copy = data;
    size_t flipped = 0;
    if (d.stride == 0) {
      std::fill(copy.begin(), copy.begin() + 512, 0);
    } else {
      for (size_t off = 0; off + 4096 <= copy.size(); off += 1024) {
        const bool indx = off % 4096 == 0 && std::memcmp(&copy[off], "INDX", 4) == 0;
        const bool dir_record = std::memcmp(&copy[off], "FILE", 4) == 0 && (copy[off + 22] & 2) != 0;
        if (!indx && !dir_record) continue;
        const size_t len = indx ? 4096 : 1024;
        for (size_t i = 5 + (flipped % d.stride); i < len; i += d.stride) copy[off + i] ^= 0x5a;
        ++flipped;
      }
      ASSERT_GT(flipped, 10u) << d.name;
    }
    const std::string path = quor_test::scratch_dir() + "/damaged-" + d.name + ".img";
    std::ofstream(path, std::ios::binary).write(copy.data(), static_cast<std::streamsize>(copy.size()));
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{"-all", "-csv"}, {"-all", "-level", "-1", "-mft", "5"}}) {
      std::vector<std::string> args{"-image", path};
      args.insert(args.end(), extra.begin(), extra.end());
      const run_result r = run_quor(args);
      EXPECT_TRUE(r.status == 0 || r.status == kFailed) << d.name << " status " << r.status;
      EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
      const std::string failed = "prob calling initialize_mft, aborting\n";
      if (r.status == kFailed && d.stride == 0) {
        EXPECT_TRUE(r.out.size() >= failed.size() &&
                    r.out.compare(r.out.size() - failed.size(), failed.size(), failed) == 0)
            << r.out;
      }
    }
  }
  // A truncated image: the first 2 MiB of the volume.
  const std::string cut = quor_test::scratch_dir() + "/truncated.img";
  std::ofstream(cut, std::ios::binary).write(data.data(), 2 << 20);
  const run_result r = run_quor({"-image", cut, "-all", "-csv"});
  EXPECT_TRUE(r.status == 0 || r.status == kFailed) << r.status;
  EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
}

TEST(QuorEndToEnd, PartitionedDiskAndVmdkChain) {
  const std::string disk = quor_test::fixture("mbr-1p.img");
  if (disk.empty()) GTEST_SKIP() << "partitioned fixtures absent";
  // Without -offset the partition is suggested, not guessed.
  const run_result bare = run_quor({"-image", disk});
  EXPECT_EQ(bare.status, kFailed);
  EXPECT_NE(bare.err.find("-offset 0x100000"), std::string::npos) << bare.err;

  struct disk_case {
    const char* fixture;
    const char* offset;
    const char* label;
  } disks[] = {{"mbr-1p.img", "0x100000", "one"},
               {"gpt-slot3.img", "0x200000", "gpt"},
               {"mbr-far.img", "0x10100000", "far"},
               {"mbr-ext.img", "0x600000", "logical"}};
  for (const disk_case& d : disks) {
    const std::string path = quor_test::fixture(d.fixture);
    ASSERT_FALSE(path.empty()) << d.fixture;
    const run_result r = run_quor({"-image", path, "-offset", d.offset, "-all", "-csv"});
    ASSERT_EQ(r.status, 0) << d.fixture << r.err;
    const std::string l = d.label;
    for (const std::string& name : {l + "-docs\\readme.txt", l + "-docs\\inner\\notes.txt", l + "-big.bin"}) {
      bool live = false;
      for (const std::string& line : lines_of(r.out))
        live = live || (line.find(",valid,") != std::string::npos &&
                        line.find(",[root]\\" + name + ",") != std::string::npos);
      EXPECT_TRUE(live) << d.fixture << " " << name;
    }
  }

  // The snapshot chain reads as the changed disk: the new folder is live and
  // the removed file is gone from the live entries.
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  if (base.empty() || child.empty()) return;
  const std::string dir = quor_test::scratch_dir() + "/chain";
  ASSERT_EQ(std::system(("mkdir -p " + quote(dir) + " && cp " + quote(base) + " " +
                         quote(dir + "/vmdk-base.vmdk") + " && cp " + quote(child) + " " +
                         quote(dir + "/vmdk-child.vmdk"))
                            .c_str()),
            0);
  const run_result v = run_quor({"-vmdk", dir + "/vmdk-child.vmdk", "-vmdk", dir + "/vmdk-base.vmdk",
                                 "-all", "-csv"});
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_NE(v.out.find(",valid,"), std::string::npos);
  EXPECT_NE(v.out.find(",[root]\\snap-dir\\later.txt,"), std::string::npos) << v.out;
  for (const std::string& line : lines_of(v.out)) {
    if (line.find(",[root]\\one-docs\\readme.txt,") != std::string::npos) {
      EXPECT_NE(line.find(",slack,"), std::string::npos) << line;
    }
  }
}

}  // namespace
