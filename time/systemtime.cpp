#include "time/systemtime.h"

#include <cstdint>

namespace zq {

_windows_systemtime::_windows_systemtime(uint16 second, uint16 minute, uint16 hour, uint16 day,
                                         uint16 month0, uint16 year1900)
    : wYear(static_cast<uint16>(year1900 + 1900)),
      wMonth(static_cast<uint16>(month0 + 1)),
      wDay(day),
      wHour(hour),
      wMinute(minute),
      wSecond(second) {}

uint64& systemtime_to_filetime(uint64& out, const _windows_systemtime& st) {
  out = 0;
  long64 seconds = 0;
  if (!tm_to_unix_utc(tm_fields_of(st), seconds)) return out;
  out = static_cast<uint64>(seconds) * ticks_per_second + unix_epoch_ticks +
        static_cast<uint64>(st.wMilliseconds) * ticks_per_ms;
  return out;
}

bool systemtime_to_unix(_windows_systemtime st, uint64& seconds) {
  long64 s = 0;
  if (!tm_to_unix_utc(tm_fields_of(st), s)) return false;
  // Through the FILETIME, so whole seconds of milliseconds count as they do
  // there; fields past the last signed FILETIME (in 30828) are no time, not
  // a count wrapped round.
  const uint64 rest = unix_epoch_ticks + static_cast<uint64>(st.wMilliseconds) * ticks_per_ms;
  const uint64 limit = static_cast<uint64>(INT64_MAX);
  if (static_cast<uint64>(s) > (limit - rest) / ticks_per_second) return false;
  const uint64 filetime = static_cast<uint64>(s) * ticks_per_second + rest;
  seconds = (filetime - unix_epoch_ticks) / ticks_per_second;
  return true;
}

bool filetime_to_systemtime(_windows_systemtime& out, uint64 filetime) {
  out = _windows_systemtime();
  return filetime_to_systemtime(filetime, out);
}

bool filetime_to_systemtime(_windows_systemtime* out, uint64 filetime) {
  return out && filetime_to_systemtime(*out, filetime);
}

bool filetime_to_systemtime(uint64 filetime, _windows_systemtime& out) {
  systemtime_ex st;
  if (!filetime_to_tm(filetime, st)) return false;
  out.wYear = st.wYear;
  out.wMonth = st.wMonth;
  out.wDayOfWeek = st.wDayOfWeek;
  out.wDay = st.wDay;
  out.wHour = st.wHour;
  out.wMinute = st.wMinute;
  out.wSecond = st.wSecond;
  out.wMilliseconds = st.wMilliseconds;
  return true;
}

}  // namespace zq

bool tm_to_unix_utc(const tm& fields, long64& seconds) {
  // The month carries into the year first, as mktime does; day, hour,
  // minute and second then add up as plain counts, so out-of-range fields
  // roll over into their neighbours.
  const long64 month = fields.tm_mon;
  const long64 year = static_cast<long64>(fields.tm_year) + 1900 + zq::floor_div(month, 12);
  const long64 month0 = month - zq::floor_div(month, 12) * 12;
  const long64 days = zq::days_from_civil(year, month0 + 1, 1) + fields.tm_mday - 1;
  seconds = days * 86400 + static_cast<long64>(fields.tm_hour) * 3600 +
            static_cast<long64>(fields.tm_min) * 60 + fields.tm_sec;
  return seconds > 0;
}

int32 local_utc_offset() {
  const time_t now = ::time(nullptr);
  tm local{};
  tm utc{};
  if (!localtime_r(&now, &local) || !gmtime_r(&now, &utc)) return 0;
  return static_cast<int32>(mktime(&local) - mktime(&utc));
}
