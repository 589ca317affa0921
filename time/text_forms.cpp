#include "time/text_forms.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "time/zq_time.h"

namespace {

const char* const day_names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string underscore_stamp(uint64 filetime, bool with_time) {
  const zq::time t(filetime, zq::type_filetime);
  char buf[64];
  if (with_time) {
    std::snprintf(buf, sizeof buf, "%04d_%02d_%02d_%02d%02d_%02d_%03d", t.year(), t.month(),
                  t.day(), t.hour(), t.minute(), t.second(), t.milliseconds());
  } else {
    std::snprintf(buf, sizeof buf, "%04d_%02d_%02d", t.year(), t.month(), t.day());
  }
  return buf;
}

std::string systemtime_text(const zq::_windows_systemtime& st, bool date_only) {
  char buf[96];
  if (date_only) {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", st.wMonth, st.wDay, st.wYear);
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d : %02d:%02d:%02d [ %03d ms ]", st.wMonth,
                  st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
  }
  return buf;
}

// The texts here are ASCII; a wide stream takes them one character a byte.
std::wostream& put_wide(std::wostream& os, const std::string& text) {
  for (unsigned char c : text) os.put(static_cast<wchar_t>(c));
  return os;
}

std::ostream& put_narrow(std::ostream& os, const std::string& text) {
  return os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

namespace zq {

bool format_iso8601(long64 seconds, std::string& out, float zone) {
  out.clear();
  if (seconds < 0) return false;
  tm fields{};
  if (!seconds_to_tm(seconds, fields, zone)) return false;
  // The same truncation the calendar step used, so the suffix names exactly
  // the shift that was applied to the fields.
  const int32 shift = static_cast<int32>(zone * 3600.0f);
  char suffix[16] = "Z";
  if (shift != 0) {
    const int32 magnitude = shift < 0 ? -shift : shift;
    std::snprintf(suffix, sizeof suffix, "%c%02d:%02d", shift < 0 ? '-' : '+', magnitude / 3600,
                  (magnitude % 3600) / 60);
  }
  char buf[500] = {};
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%s", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                suffix);
  out = buf;
  return true;
}

bool format_mail_date(std::string& out, long64 seconds, int zone_minutes) {
  out.clear();
  if (seconds == 0) seconds = static_cast<long64>(std::time(nullptr));
  tm fields{};
  if (!seconds_to_tm(seconds, fields, 0.0f)) return false;
  // Minutes west of UTC: the offset east is its negation. Sign and digits are
  // written apart so that a zone under one hour keeps its sign.
  const long64 east = -static_cast<long64>(zone_minutes);
  const long64 magnitude = east < 0 ? -east : east;
  char buf[512] = {};
  std::snprintf(buf, sizeof buf, "%s; %02d %s %d %02d:%02d:%02d %c%02lld%02lld",
                day_names[fields.tm_wday], fields.tm_mday, month_names[fields.tm_mon],
                fields.tm_year + 1900, fields.tm_hour, fields.tm_min, fields.tm_sec,
                east < 0 ? '-' : '+', static_cast<long long>(magnitude / 60),
                static_cast<long long>(magnitude % 60));
  out = buf;
  return true;
}

bool format_filetime_text(std::string& out, uint64 filetime) {
  if (filetime == 0 || static_cast<long64>(filetime) < 0) return false;
  const _windows_systemtime st(static_cast<long64>(filetime), type_filetime);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", st.wMonth, st.wDay, st.wYear,
                st.wHour, st.wMinute, st.wSecond);
  out = buf;
  return true;
}

bool format_systemtime_text(std::string& out, const _windows_systemtime& st) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d : %02d:%02d:%02d:%02d", st.wMonth, st.wDay,
                st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
  out = buf;
  return true;
}

std::wostream& write_underscore_stamp(std::wostream& os, uint64 filetime, bool with_time) {
  return put_wide(os, underscore_stamp(filetime, with_time));
}

std::ostream& write_underscore_stamp(std::ostream& os, uint64 filetime, bool with_time) {
  return put_narrow(os, underscore_stamp(filetime, with_time));
}

std::ostream& write_systemtime(std::ostream& os, _windows_systemtime st, bool date_only) {
  return put_narrow(os, systemtime_text(st, date_only));
}

std::wostream& write_systemtime(std::wostream& os, _windows_systemtime st, bool date_only) {
  return put_wide(os, systemtime_text(st, date_only));
}

std::ostream& write_systemtime_date(std::ostream& os, _windows_systemtime st) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", st.wYear, st.wMonth, st.wDay);
  return put_narrow(os, buf);
}

std::ostream& write_hex_pair(std::ostream& os, uint32 first, uint32 second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%x%08x", second, first);
  return put_narrow(os, buf);
}

}  // namespace zq

void write_lines(std::ostream& os, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) os << line << std::endl;
}
