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
  const long double unit = 1.0L / 4294967296.0L;
  const ntp_timestamp now = ntp_now();
  const long double given = ntp_seconds(ts) + ntp_fraction(ts) * unit;
  const long double current = ntp_seconds(now) + ntp_fraction(now) * unit;
  const long double age = given > current ? given - current : current - given;
  return os << static_cast<double>(age) << " secs ";
}

void write_ntp_time(std::ostream& os, const ntp_timestamp& ts) {
  const uint32 seconds = ntp_seconds(ts);
  const uint32 fraction = ntp_fraction(ts);
  os << std::setfill('0') << std::right << std::hex << std::setw(8) << seconds << "."
     << std::setw(8) << fraction;
  const zq::time t(static_cast<uint64>(seconds) * ticks_per_second + ntp_epoch_ticks,
                   static_cast<double>(fraction) * 10000000.0 / 4294967296.0);
  std::string date, clock;
  format_time(date, clock, t, true, false, false, true);
  if (!date.empty()) os << " : [" << date << " " << clock << " UTC]";
}

std::ostream& operator<<(std::ostream& os, const ntp_timestamp& ts) {
  write_ntp_time(os, ts);
  return os;
}

}  // namespace zq
