// The clock's NTP time and the reports of an NTP timestamp.
#include <sys/time.h>

#include <iomanip>

#include "time/ntp.h"
#include "time/zq_time.h"

namespace zq {

ntp_timestamp ntp_now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const zq::time t(static_cast<uint64>(tv.tv_sec), type_unix);
  return filetime_to_ntp(t.m_filetime);
}

std::ostream& write_ntp_age(ntp_timestamp ts, std::ostream& os) {
  return os << ntp_difference_seconds(ts, ntp_now()) << " secs ";
}

void write_ntp_time(std::ostream& os, const ntp_timestamp& ts) {
  const uint32 seconds = ntp_seconds(ts);
  const uint32 fraction = ntp_fraction(ts);
  os << std::setfill('0') << std::right << std::hex << std::setw(8) << seconds << "."
     << std::setw(8) << fraction;
  uint64 filetime = 0, whole_seconds = 0;
  double fraction_ticks = 0;
  ntp_to_filetime(ts, filetime, whole_seconds, fraction_ticks);
  const zq::time t(whole_seconds, fraction_ticks);
  std::string date, clock;
  format_time(date, clock, t, true, false, false, true);
  if (!date.empty()) os << " : [" << date << " " << clock << " UTC]";
}

std::ostream& operator<<(std::ostream& os, const ntp_timestamp& ts) {
  write_ntp_time(os, ts);
  return os;
}

}  // namespace zq
