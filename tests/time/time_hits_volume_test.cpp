// The MFT records of a fixture volume: among their time hits are the
// $STANDARD_INFORMATION and $FILE_NAME times that The Sleuth Kit's istat
// prints for the same entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixture.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"

namespace {

constexpr uint64 kEpoch = 116444736000000000ULL;
constexpr uint32 kRecord = 1024;
constexpr uint32 kRecords = 480;

struct IstatTime {
  uint64 filetime;
  std::string text;  // as the hit report writes it: MM/DD/YY HH:MM:SS.mmm
};

// "Created:\t2026-12-06 22:28:18.758029000 (UTC)" and its three siblings,
// from every attribute istat reports.
std::vector<IstatTime> istat_times(const std::string& report) {
  std::vector<IstatTime> out;
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find(":\t");
    if (tab == std::string::npos) continue;
    const std::string label = line.substr(0, tab);
    if (label != "Created" && label != "File Modified" && label != "MFT Modified" && label != "Accessed")
      continue;
    int y, mo, d, h, mi, s;
    long ns;
    if (std::sscanf(line.c_str() + tab + 2, "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &ns) != 7)
      continue;
    tm fields{};
    fields.tm_year = y - 1900;
    fields.tm_mon = mo - 1;
    fields.tm_mday = d;
    fields.tm_hour = h;
    fields.tm_min = mi;
    fields.tm_sec = s;
    const uint64 seconds = static_cast<uint64>(timegm(&fields));
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d.%03ld", mo, d, y % 100, h, mi, s,
                  ns / 1000000);
    out.push_back({kEpoch + seconds * 10000000ULL + static_cast<uint64>(ns / 100), text});
  }
  return out;
}

// Each sector's last two bytes back from the update-sequence array.
bool apply_fixups(byte* rec) {
  const uint16 usa = load_u16(rec + 4), count = load_u16(rec + 6);
  if (count < 2 || usa + 2u * count > kRecord || (count - 1) * 512u > kRecord) return false;
  for (uint16 i = 1; i < count; ++i) {
    byte* end = rec + i * 512 - 2;
    end[0] = rec[usa + 2 * i];
    end[1] = rec[usa + 2 * i + 1];
  }
  return true;
}

}  // namespace

TEST(TimeHitsVolume, MftRecordsHoldTheTimesIstatPrints) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("icat"))
    GTEST_SKIP() << "The Sleuth Kit's istat and icat are not installed";
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img is missing";

  std::string mft;
  ASSERT_EQ(quor_test::run_command("icat -f ntfs '" + image + "' 0", mft), 0);
  ASSERT_GE(mft.size(), kRecords * kRecord);
  std::vector<byte> records(mft.begin(), mft.begin() + kRecords * kRecord);
  for (uint32 r = 0; r < kRecords; ++r) {
    if (records[r * kRecord] == 'F') {
      ASSERT_TRUE(apply_fixups(records.data() + r * kRecord)) << r;
    }
  }

  const uint64 lower = 125911584000000000ULL;  // 2000-01-01
  const uint64 upper = 157469184000000000ULL;  // 2100-01-01
  std::ostringstream report;
  const int count = zq::scan_time_hits(report, records, upper, lower, 0, zq::type_filetime);
  ASSERT_GT(count, 0);

  // Every little-endian FILETIME hit as (record, FILETIME), and its line.
  std::set<std::pair<uint64, uint64>> hits;
  std::set<std::string> lines;
  std::istringstream in(report.str());
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long offset = 0;
    unsigned b[8];
    char order[3] = {};
    if (std::sscanf(line.c_str(), "%llx, %2s, filetime  , %*s %*s UTC, %x %x %x %x %x %x %x %x", &offset,
                    order, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 10)
      continue;
    if (std::string(order) != "LE") continue;
    uint64 ft = 0;
    for (int i = 7; i >= 0; --i) ft = ft << 8 | b[i];
    hits.insert({offset / kRecord, ft});
    lines.insert(line);
  }

  int checked = 0;
  for (uint64 entry : {5, 64, 70, 71, 72, 474}) {
    std::string text;
    ASSERT_EQ(quor_test::run_command("TZ=UTC istat -f ntfs '" + image + "' " + std::to_string(entry), text), 0);
    const std::vector<IstatTime> times = istat_times(text);
    // Zero times (the root's creation, the system files' $FILE_NAME) are
    // printed without a fraction and left out; the scan does not report them.
    ASSERT_GE(times.size(), 3u) << entry;
    for (const IstatTime& t : times) {
      EXPECT_TRUE(hits.count({entry, t.filetime})) << "entry " << entry << " time " << t.text;
      // Its report line carries the same time as text.
      bool text_found = false;
      for (const std::string& l : lines) {
        text_found |= l.find(", " + t.text + " UTC, ") != std::string::npos &&
                      std::stoull(l.substr(0, l.find(',')), nullptr, 16) / kRecord == entry;
      }
      EXPECT_TRUE(text_found) << t.text;
      ++checked;
    }
  }
  EXPECT_GE(checked, 40);
}
