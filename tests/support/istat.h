#pragma once
// The Sleuth Kit's istat as an oracle: its report of one MFT entry, the
// $ATTRIBUTE_LIST entries and the cluster list of one attribute read from it.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "utils/types.h"

namespace quor_test {

// istat's report of `entry` of `image`; "" when it cannot be run.
inline std::string istat_report(const std::string& image, ulong64 entry) {
  std::string out;
  return run_command("istat " + image + " " + std::to_string(entry), out) == 0 ? out : std::string();
}

// One $ATTRIBUTE_LIST entry as istat lists it: "Type: 128-0  MFT Entry: 67  VCN: 1017".
struct istat_list_entry {
  uint32 type = 0, id = 0;
  ulong64 holder = 0, vcn = 0;
};

inline std::vector<istat_list_entry> istat_list_entries(const std::string& report) {
  std::vector<istat_list_entry> found;
  std::istringstream lines(report);
  std::string line;
  unsigned type = 0, id = 0;
  unsigned long long holder = 0, vcn = 0;
  while (std::getline(lines, line))
    if (std::sscanf(line.c_str(), "Type: %u-%u MFT Entry: %llu VCN: %llu", &type, &id, &holder, &vcn) == 4)
      found.push_back({type, id, holder, vcn});
  return found;
}

// The parent references of the $FILE_NAME attributes istat shows ("Parent
// MFT Entry: 5 	Sequence: 5"), sequence number in the top 16 bits.
inline std::vector<ulong64> istat_parent_references(const std::string& report) {
  std::vector<ulong64> found;
  std::istringstream lines(report);
  std::string line;
  unsigned long long entry = 0, sequence = 0;
  while (std::getline(lines, line))
    if (std::sscanf(line.c_str(), "Parent MFT Entry: %llu Sequence: %llu", &entry, &sequence) == 2)
      found.push_back(sequence << 48 | entry);
  return found;
}

// The ids of the attributes of `type` in istat's attribute list
// ("Type: $DATA (128-16)   Name: N/A ...").
inline std::vector<uint32> istat_attribute_ids(const std::string& report, uint32 type) {
  std::vector<uint32> ids;
  std::istringstream lines(report);
  std::string line;
  const std::string wanted = " (" + std::to_string(type) + "-";
  while (std::getline(lines, line)) {
    const size_t at = line.find(wanted);
    unsigned id = 0;
    if (line.compare(0, 7, "Type: $") == 0 && at != std::string::npos &&
        std::sscanf(line.c_str() + at + wanted.size(), "%u)", &id) == 1)
      ids.push_back(id);
  }
  return ids;
}

// The clusters istat lists under the attribute `type`-`id`, one per VCN,
// 0 for a sparse one.
inline std::vector<ulong64> istat_clusters(const std::string& report, uint32 type, uint32 id) {
  std::istringstream lines(report);
  std::string line;
  std::vector<ulong64> clusters;
  const std::string wanted = "(" + std::to_string(type) + "-" + std::to_string(id) + ")";
  bool in = false;
  while (std::getline(lines, line)) {
    if (line.compare(0, 5, "Type:") == 0) {
      in = line.find(wanted) != std::string::npos;
      continue;
    }
    std::istringstream numbers(line);
    for (ulong64 n = 0; in && numbers >> n;) clusters.push_back(n);
  }
  return clusters;
}

}  // namespace quor_test
