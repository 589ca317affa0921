// -csvl2t and -bodyfile end to end: the built quor on the sample volume,
// line by line against goldens written from the row rules. The sample's
// files were created at known hours (modified 10 and accessed 20 minutes
// later); their MFT-change time is when the volume was made, so that one
// time is taken from The Sleuth Kit's istat. The body file must also load in
// mactime with every entry at its times.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/planted_names.h"
#include "tests/app/quor_run.h"

namespace {

using namespace quor_test;

// What a successful run wrote after its three banner lines.
std::string results_of(const std::vector<std::string>& args) {
  const run_result r = run_quor(args);
  EXPECT_EQ(r.status, 0) << r.err;
  size_t pos = 0;
  for (int line = 0; line < 3 && pos != std::string::npos; ++line) {
    pos = r.out.find('\n', pos);
    if (pos != std::string::npos) ++pos;
  }
  return pos == std::string::npos ? std::string() : r.out.substr(pos);
}

// An istat time "YYYY-MM-DD HH:MM:SS.nnnnnnnnn" as the l2t date and time
// texts and as Unix seconds.
struct oracle_time {
  std::string date;  // MM/DD/YYYY
  std::string time;  // HH:MM:SS.mmm
  long long unix_seconds = 0;
};

bool parse_istat_time(const std::string& text, oracle_time& out) {
  if (text.size() < 23 || text[4] != '-' || text[10] != ' ' || text[19] != '.') return false;
  std::tm fields{};
  fields.tm_year = std::stoi(text.substr(0, 4)) - 1900;
  fields.tm_mon = std::stoi(text.substr(5, 2)) - 1;
  fields.tm_mday = std::stoi(text.substr(8, 2));
  fields.tm_hour = std::stoi(text.substr(11, 2));
  fields.tm_min = std::stoi(text.substr(14, 2));
  fields.tm_sec = std::stoi(text.substr(17, 2));
  out.date = text.substr(5, 2) + "/" + text.substr(8, 2) + "/" + text.substr(0, 4);
  out.time = text.substr(11, 8) + "." + text.substr(20, 3);
  out.unix_seconds = timegm(&fields);
  return true;
}

// The MFT-change time and name of the first $FILE_NAME attribute of an MFT
// record, as istat reads it.
bool istat_mft_changed(const std::string& image, int inode, std::string& name, oracle_time& out) {
  std::string text;
  if (quor_test::run_command("istat " + quote(image) + " " + std::to_string(inode), text) != 0) return false;
  const size_t section = text.find("$FILE_NAME Attribute Values:");
  if (section == std::string::npos) return false;
  const size_t name_at = text.find("\nName: ", section);
  const size_t changed_at = text.find("\nMFT Modified:\t", section);
  if (name_at == std::string::npos || changed_at == std::string::npos) return false;
  name = text.substr(name_at + 7, text.find('\n', name_at + 1) - name_at - 7);
  return parse_istat_time(text.substr(changed_at + 15, 29), out);
}

// One sample file as the fixture describes it: created on the hour,
// modified 10 and accessed 20 minutes later, its MFT change from istat.
struct sample_file {
  int inode;
  const char* name;  // as written after the directory path
  const char* date;  // MM/DD/YYYY of the creation
  int hour;          // hour of the creation
  long long unix_created;
  unsigned long long size;
  oracle_time changed;
};

std::string two_digits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string hex8(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08llx", v);
  return buf;
}

struct l2t_style {
  bool hex;
  std::string user;
  std::string host;
};

// The four rows of one file: B, M, A at their hours, then C (the volume was
// made long after 2023).
std::string l2t_rows(const sample_file& f, const std::string& dir, int parent, bool valid, const l2t_style& st) {
  const std::string number = st.hex ? hex8(f.inode) : std::to_string(f.inode);
  const std::string size = st.hex ? hex8(f.size) : std::to_string(f.size);
  const std::string parent_text = st.hex ? hex8(parent) : std::to_string(parent);
  const std::string full = dir + f.name;
  const std::string kind = valid ? "valid" : "slack";
  const std::string tail = "," + st.user + "," + st.host + "," + full + "," + full + " (file size: " + size +
                           ") (parent inode " + parent_text + "),2,," + number + "," + kind +
                           " file entry,quor (corvane),\n";
  const std::string head = ",UTC,";
  const std::string source = ",INDX,INDX-" + kind + ",";
  const std::string hour = two_digits(f.hour);
  return std::string(f.date) + ", " + hour + ":00:00.000" + head + "...B" + source + "Created" + tail +
         f.date + ", " + hour + ":10:00.000" + head + "M..." + source + "Last Modified" + tail + f.date + ", " +
         hour + ":20:00.000" + head + ".A.." + source + "Last Access" + tail + f.changed.date + ", " +
         f.changed.time + head + "..C." + source + "MFT Change" + tail;
}

std::string body_line(const sample_file& f, const std::string& dir, bool valid) {
  return "0|" + dir + f.name + (valid ? "" : " (slack)") + "|0||0|0|" + std::to_string(f.size) + "|" +
         std::to_string(f.unix_created + 1200) + "|" + std::to_string(f.unix_created + 600) + "|" +
         std::to_string(f.changed.unix_seconds) + "|" + std::to_string(f.unix_created) + "\n";
}

const char* const k_l2t_header =
    "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,inode,"
    "notes,format,extra\n";
const char* const k_body_header =
    "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n";

// 2023-05-01 00:00:00 UTC.
const long long k_may_first = 1682899200;

class TimelineOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = quor_test::fixture("sample.img");
    if (image_.empty()) GTEST_SKIP() << "sample.img fixture absent";
    if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat (The Sleuth Kit) absent";
  }

  // The files of the sample with their hours, MFT-change time from istat.
  // `known_as` is the name istat must find in the record, which vouches
  // that the record still describes this file.
  sample_file file(int inode, const char* name, const char* date, int hours_after_may_first,
                   unsigned long long size, const char* known_as = nullptr) {
    sample_file f{inode, name, date, hours_after_may_first % 24, k_may_first + 3600LL * hours_after_may_first,
                  size, {}};
    std::string oracle_name;
    EXPECT_TRUE(istat_mft_changed(image_, inode, oracle_name, f.changed)) << inode;
    EXPECT_EQ(oracle_name, known_as ? known_as : name);
    EXPECT_GT(f.changed.date.substr(6), "2023") << "the volume was made after its files' times";
    return f;
  }

  // Live files of /Projects/quor/src (seeds 50 and 51).
  std::vector<sample_file> live_files() {
    return {file(205, "main.cpp", "05/03/2023", 50, 900), file(206, "ntfs.cpp", "05/03/2023", 51, 1900)};
  }

  // Deleted drafts 20, 25, 30 (seeds 120, 125, 130) and plan.txt (seed 45,
  // renamed: istat reads its new name, with the times it kept).
  std::vector<sample_file> slack_files() {
    return {file(94, "draft-20.txt", "05/06/2023", 120, 64), file(99, "draft-25.txt", "05/06/2023", 125, 64),
            file(104, "draft-30.txt", "05/06/2023", 130, 64), file(74, "plan.txt", "05/02/2023", 45, 150, "plan-final.txt")};
  }

  std::string image_;
};

// One run per configuration, its whole output against the golden.
TEST_F(TimelineOutput, L2tAndBodyfileOfLiveAndSlackEntries) {
  const std::string src = "\\Projects\\quor\\src", docs = "\\Documents";
  struct run_case {
    std::vector<std::string> args;
    bool slack, body;
    l2t_style style;
  } cases[] = {
      {{"-path", src, "-csvl2t", "-username", "alice"}, false, false, {true, "alice", ""}},
      {{"-path", docs, "-slack", "-nodups", "-csvl2t", "-base10", "-hostname", "ws01"}, true, false, {false, "", "ws01"}},
      // Neither the user and host names nor -base10 change a body line.
      {{"-path", src, "-bodyfile", "-base10", "-username", "alice", "-hostname", "ws01"}, false, true, {}},
      {{"-path", docs, "-slack", "-nodups", "-bodyfile"}, true, true, {}},
  };
  for (const run_case& c : cases) {
    std::vector<std::string> args = {"-image", image_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string dir = (c.slack ? docs : src) + "\\";
    std::string expected = c.body ? k_body_header : k_l2t_header;
    for (const sample_file& f : c.slack ? slack_files() : live_files())
      expected += c.body ? body_line(f, dir, !c.slack) : l2t_rows(f, dir, c.slack ? 66 : 70, !c.slack, c.style);
    EXPECT_EQ(results_of(args), expected + "\n") << c.args[1] << " " << c.args[2];
  }
}

// mactime's "-y -z UTC" form of a Unix time.
std::string iso_time(long long unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
  return buf;
}

// Loads the body file `results` in mactime: every line is one entry of
// eleven fields, and mactime shows it at each of its times with that time's
// letter. `checked` counts the times found.
void expect_every_line_in_mactime(const std::string& results, size_t& checked) {
  checked = 0;
  static int runs = 0;
  const std::string body = quor_test::scratch_dir() + "/run-" + std::to_string(++runs) + ".body";
  std::ofstream(body, std::ios::binary) << results;
  std::string listing;
  ASSERT_EQ(quor_test::run_command("mactime -b " + quote(body) + " -d -y -z UTC 2>&1", listing), 0);

  // mactime's rows: (date, name) -> the letters of the times there.
  std::map<std::pair<std::string, std::string>, std::string> rows;
  std::vector<std::string> listed = lines_of(listing);
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(listed[0], "Date,Size,Type,Mode,UID,GID,Meta,File Name");
  for (size_t i = 1; i < listed.size(); ++i) {
    std::vector<std::string> cols = split(listed[i], ',');
    ASSERT_GE(cols.size(), 8u) << "mactime complained: " << listed[i];
    std::string name = listed[i].substr(listed[i].find(",\"") + 2);
    if (!name.empty() && name.back() == '"') name.pop_back();
    // mactime doubles a quote inside the name it quotes.
    for (size_t at = name.find("\"\""); at != std::string::npos; at = name.find("\"\"", at + 1)) name.erase(at, 1);
    rows[{cols[0], name}] += cols[2];
  }

  std::vector<std::string> lines = lines_of(results);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0] + "\n", k_body_header);
  static const char letters[4] = {'a', 'm', 'c', 'b'};  // body column order
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    std::vector<std::string> f = split(lines[i], '|');
    ASSERT_EQ(f.size(), 11u) << lines[i];
    for (int t = 0; t < 4; ++t) {
      const long long seconds = std::stoll(f[7 + t]);
      if (seconds == 0) continue;
      const auto found = rows.find({iso_time(seconds), f[1]});
      ASSERT_NE(found, rows.end()) << lines[i];
      EXPECT_NE(found->second.find(letters[t]), std::string::npos) << lines[i];
      ++checked;
    }
  }
}

TEST_F(TimelineOutput, WholeVolumeBodyfileLoadsInMactime) {
  if (!quor_test::have_program("mactime")) GTEST_SKIP() << "mactime (The Sleuth Kit) absent";
  const std::string results = results_of({"-image", image_, "-all", "-bodyfile"});
  ASSERT_GT(lines_of(results).size(), 100u);
  size_t checked = 0;
  expect_every_line_in_mactime(results, checked);
  EXPECT_GT(checked, 300u);
}

// Names planted to split a line (LF, CR), to open a quoted field ('"' at
// the start of the name) or to add a twelfth field ('|'), which mactime
// drops without a word: each entry is one body line, and mactime shows it.
TEST(TimelineOutputPlanted, EveryEntryOfPlantedNamesLoadsInMactime) {
  if (!quor_test::have_program("mactime")) GTEST_SKIP() << "mactime (The Sleuth Kit) absent";
  const quor_test::planted_volume v = quor_test::plant_names();
  ASSERT_FALSE(v.image.empty()) << "default.img or its \\longnames names absent";
  struct road_case {
    std::vector<std::string> source;
    std::vector<std::string> names;  // the planted names as written, up to their tails
  } roads[] = {
      {{"-image", v.image, "-path", "\"", "-level", "1"},
       {" \\longnames\\\"0002_", " \\longnames\\L 003_", " \\longnames\\L 004_", " \\longnames\\L 006_"}},
      {{"-indxfile", v.indx}, {" 0002_", "L 003_", "L 004_", "L 006_"}},
  };
  for (const road_case& road : roads) {
    SCOPED_TRACE(road.source[0]);
    std::vector<std::string> args = road.source;
    args.push_back("-all");
    const size_t entries = quor_test::entries_written(args);
    args.push_back("-bodyfile");
    const std::string results = results_of(args);
    size_t lines = 0;  // the header's and the entries'
    for (const std::string& line : lines_of(results)) lines += !line.empty();
    EXPECT_EQ(lines, entries + 1);
    for (size_t i = 0; i < road.names.size(); ++i)
      EXPECT_NE(results.find("\n0|" + road.names[i] + v.tails[i]), std::string::npos) << road.names[i];
    size_t checked = 0;
    expect_every_line_in_mactime(results, checked);
    EXPECT_GE(checked, entries);
  }
}

}  // namespace
