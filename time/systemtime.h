#pragma once
// The plain calendar record laid out as the Windows SYSTEMTIME, and the one
// place where calendar fields are read as UTC seconds.
#include <ctime>

#include "time/calendar.h"
#include "time/type_time.h"
#include "utils/types.h"

namespace zq {

struct _windows_systemtime {
  uint16 wYear = 0;
  uint16 wMonth = 0;  // 1-12
  uint16 wDayOfWeek = 0;  // 0 = Sunday
  uint16 wDay = 0;
  uint16 wHour = 0;
  uint16 wMinute = 0;
  uint16 wSecond = 0;
  uint16 wMilliseconds = 0;

  _windows_systemtime() = default;
  // Fields in `tm` order: month 0-11 and year counted from 1900.
  _windows_systemtime(uint16 second, uint16 minute, uint16 hour, uint16 day, uint16 month0,
                      uint16 year1900);
  // Base 1 (FILETIME) or 8 (Unix seconds); any other base stops the program.
  // A negative value leaves the record all zero.
  _windows_systemtime(long64 value, type_time base);
};

// The FILETIME of the fields read as UTC, milliseconds included; 0 when the
// fields give no positive Unix time. Returns `out`.
uint64& systemtime_to_filetime(uint64& out, const _windows_systemtime& st);
// Unix seconds of the FILETIME of the fields read as UTC (milliseconds of
// 1000 or more add their whole seconds); false when the fields give no
// positive Unix time or lie past the last signed FILETIME.
bool systemtime_to_unix(_windows_systemtime st, uint64& seconds);

// The first eight fields of `filetime_to_tm`. The (out, FILETIME) forms
// clear the output first; the (FILETIME, out) form leaves it alone on failure.
bool filetime_to_systemtime(_windows_systemtime& out, uint64 filetime);
bool filetime_to_systemtime(_windows_systemtime* out, uint64 filetime);
bool filetime_to_systemtime(uint64 filetime, _windows_systemtime& out);

}  // namespace zq

// Seconds since 1970 of the fields read as UTC, normalised as `mktime` does
// (a minute of 60 is the next hour); true when the result is positive. The
// host's zone plays no part.
bool tm_to_unix_utc(const tm& fields, long64& seconds);
// Local time minus UTC, in seconds, at the moment of the call.
int32 local_utc_offset();
