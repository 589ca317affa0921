#pragma once
// MACB grouping: an entry's four times (modified, accessed, MFT entry
// changed, created) become one event per distinct instant, each marked with
// the letters of the times that fall on it.
#include <map>
#include <string>

#include "time/timeline_record.h"
#include "time/zq_time.h"

struct macb_event {
  uint32 kind = 0;  // the record's time kind
  ulong64 value = 0;  // raw time of the event's first time in M, A, C, B order
  zq::time time;  // that time converted
  std::string macb;  // "MACB" with '.' for the times not on this instant
  std::string type;
  uint32 aux = 0;  // the record's event option, copied
};

// Ordered by raw time; equal keys keep their insertion order.
typedef std::multimap<ulong64, macb_event> macb_event_map;

namespace zq {

// Adds the record's events to `out` (not cleared first), the four times
// converted in base `kind`. A time that is zero or not a valid time is in no
// event; times group only when their FILETIMEs are exactly equal.
void make_macb_events(macb_event_map& out, const timeline_record& rec, type_time kind);

}  // namespace zq
