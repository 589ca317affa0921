#pragma once
// default.img with names a suspect could plant to hide entries from a
// timeline: in \longnames a name that begins with '"', one with an LF, one
// with a CR and one with a '|' whose extension begins with '"', written over
// four names of the same length in every copy the image holds (live index
// entries, slack copies, MFT records). And what the tests read quor's rows
// with.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/app/quor_run.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"

namespace quor_test {

struct planted_volume {
  std::string image;  // "" when the fixture or a planted name is missing
  std::string indx;   // the index records that hold a planted name, as an extracted file
  // What follows the planted prefix ("\"0002_", "L\n003_", "L\r004_",
  // "L|006_" in place of "L0002_", "L0003_", "L0004_", "L0006_") in each
  // name, in that order; the last ends in ".\"ld".
  std::vector<std::string> tails;
};

inline std::string utf16le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string(1, c) + '\0';
  return out;
}

inline planted_volume plant_names() {
  static const char* const swaps[][2] = {
      {"L0002_", "\"0002_"}, {"L0003_", "L\n003_"}, {"L0004_", "L\r004_"}, {"L0006_", "L|006_"}};
  planted_volume v;
  std::string data = read_file_text(fixture("default.img"));
  if (data.empty()) return v;
  std::vector<std::string> planted;
  for (const auto& swap : swaps) {
    const std::string from = utf16le(swap[0]), to = utf16le(swap[1]);
    size_t copies = 0;
    for (size_t at = data.find(from); at != std::string::npos; at = data.find(from, at + 1), ++copies)
      data.replace(at, to.size(), to);
    // Its MFT record and its live index entry at least.
    if (copies < 2) return v;
    planted.push_back(to);
    for (const listing_entry& e : read_listing("default"))
      if (e.path.compare(0, 17, std::string("/longnames/") + swap[0]) == 0)
        v.tails.push_back(e.path.substr(17));
  }
  if (v.tails.size() != std::size(swaps)) return v;
  // The name planted with '|' also ends in an extension that begins with
  // '"' (".\"ld" for ".old"), in each copy that holds its end. The image
  // keeps other bytes at the end of each sector a record spans, so the name
  // is not whole there: its end is found by its distance from its start.
  std::string& tail = v.tails.back();
  if (tail.size() < 4 || tail.compare(tail.size() - 4, 4, ".old") != 0) return v;
  tail[tail.size() - 3] = '"';
  const std::string prefix = utf16le(swaps[3][1]), old = utf16le("old");
  const size_t o_at = prefix.size() + 2 * (tail.size() - 3);
  size_t quoted = 0;
  for (size_t at = data.find(prefix); at != std::string::npos; at = data.find(prefix, at + 1))
    if (at + o_at + old.size() <= data.size() && data.compare(at + o_at, old.size(), old) == 0) {
      data[at + o_at] = '"';
      ++quoted;
    }
  if (quoted < 2) return v;
  std::string records;
  for (size_t at = 0; at + 4096 <= data.size(); at += 4096) {
    if (data.compare(at, 4, "INDX") != 0) continue;
    const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at), end = begin + 4096;
    for (const std::string& name : planted)
      if (std::search(begin, end, name.begin(), name.end()) != end) {
        records.append(begin, end);
        break;
      }
  }
  if (records.empty()) return v;
  v.image = scratch_dir() + "/planted.img";
  v.indx = scratch_dir() + "/planted.i30";
  std::ofstream(v.image, std::ios::binary) << data;
  std::ofstream(v.indx, std::ios::binary) << records;
  return v;
}

// The column count of each row python's csv module reads from `text`.
inline std::vector<size_t> python_csv_columns(const std::string& text) {
  const std::string file = scratch_dir() + "/rows.csv";
  std::ofstream(file, std::ios::binary) << text;
  const std::string script =
      "import csv, sys\n"
      "for row in csv.reader(open(sys.argv[1], newline='', encoding='utf-8', errors='surrogateescape')):\n"
      "    print(len(row))\n";
  std::string out;
  EXPECT_EQ(run_command("python3 -c " + quote(script) + " " + quote(file), out), 0);
  std::vector<size_t> columns;
  for (const std::string& line : lines_of(out)) columns.push_back(std::stoul(line));
  return columns;
}

// How many entries a run writes, counted in its text form, which writes
// each entry as a block with one "MFT Entry:" line whatever its name holds.
inline size_t entries_written(const std::vector<std::string>& args) {
  size_t blocks = 0;
  for (const std::string& line : lines_of(run_quor(args).out)) blocks += line.rfind("MFT Entry:", 0) == 0;
  return blocks;
}

// What follows the first `lines` lines of `text`.
inline std::string after_lines(const std::string& text, int lines) {
  size_t at = 0;
  for (int i = 0; i < lines && at != std::string::npos; ++i) {
    at = text.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? std::string() : text.substr(at);
}

}  // namespace quor_test
