// The MFT records of a fixture volume: among their time hits are the
// $STANDARD_INFORMATION and $FILE_NAME times that The Sleuth Kit's istat
// prints for the same entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/time/time_fields.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"

using namespace time_test;

namespace {

constexpr uint32 kRecord = 1024;

// Each "Created:\t2026-12-06 22:28:18.758029000 (UTC)" line and its three
// siblings, as FILETIME and as the report's MM/DD/YY HH:MM:SS.mmm. Zero times
// print without a fraction and are left out.
std::map<uint64, std::string> istat_times(const std::string& report) {
  std::map<uint64, std::string> out;
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find(":\t");
    const std::string label = line.substr(0, tab == std::string::npos ? 0 : tab);
    int y, mo, d, h, mi, s;
    long ns;
    if ((label != "Created" && label != "File Modified" && label != "MFT Modified" &&
         label != "Accessed") ||
        std::sscanf(line.c_str() + tab + 2, "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &ns) != 7)
      continue;
    tm fields = make_tm(y, mo, d, h, mi, s);
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d.%03ld", mo, d, y % 100, h, mi, s,
                  ns / 1000000);
    out[kEpoch + static_cast<uint64>(timegm(&fields)) * kSecond + static_cast<uint64>(ns / 100)] = text;
  }
  return out;
}

}  // namespace

TEST(TimeHitsVolume, MftRecordsHoldTheTimesIstatPrints) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("icat"))
    GTEST_SKIP() << "The Sleuth Kit's istat and icat are not installed";
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture default.img is missing";

  std::string mft;
  ASSERT_EQ(quor_test::run_command("icat -f ntfs '" + image + "' 0", mft), 0);
  ASSERT_GE(mft.size(), 480u * kRecord);
  std::vector<byte> records(mft.begin(), mft.begin() + 480 * kRecord);
  // Each sector's last two bytes back from the update-sequence array.
  for (byte* rec = records.data(); rec < records.data() + records.size(); rec += kRecord) {
    const uint16 usa = load_u16(rec + 4), count = load_u16(rec + 6);
    if (rec[0] != 'F' || count != 3 || usa + 6u > kRecord) continue;
    for (int i = 1; i < count; ++i) std::memcpy(rec + i * 512 - 2, rec + usa + 2 * i, 2);
  }

  std::ostringstream report;
  ASSERT_GT(zq::scan_time_hits(report, records, 157469184000000000ULL /* 2100 */,
                               125911584000000000ULL /* 2000 */, 0, zq::type_filetime),
            0);
  // Every little-endian FILETIME hit by (record, FILETIME read from its
  // bytes column), with its line.
  std::map<std::pair<uint64, uint64>, std::string> hits;
  std::istringstream in(report.str());
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long offset = 0;
    unsigned b[8];
    if (std::sscanf(line.c_str(), "%llx, LE, filetime  , %*s %*s UTC, %x %x %x %x %x %x %x %x",
                    &offset, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 9)
      continue;
    uint64 ft = 0;
    for (int i = 7; i >= 0; --i) ft = ft << 8 | b[i];
    hits[{offset / kRecord, ft}] = line;
  }

  for (uint64 entry : {5, 64, 70, 71, 72, 474}) {
    std::string text;
    ASSERT_EQ(quor_test::run_command("TZ=UTC istat -f ntfs '" + image + "' " + std::to_string(entry), text), 0);
    const std::map<uint64, std::string> times = istat_times(text);
    ASSERT_FALSE(times.empty()) << entry;
    for (const auto& t : times) {
      const auto hit = hits.find({entry, t.first});
      ASSERT_NE(hit, hits.end()) << "entry " << entry << " time " << t.second;
      EXPECT_NE(hit->second.find(", " + t.second + " UTC, "), std::string::npos) << hit->second;
    }
  }
}
