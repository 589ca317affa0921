#pragma once
// The walker's timeline groups one MFT entry's timestamps by instant: for
// each instant, which of the entry's three time sources ($STANDARD_INFORMATION,
// a long-name $FILE_NAME, an 8.3 $FILE_NAME) carry it, as MACB letters.
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "utils/types.h"

// Slots of the three time sources.
const uint32 MACB_SLOT_SI = 1;
const uint32 MACB_SLOT_FN = 2;
const uint32 MACB_SLOT_FN83 = 3;

// The letters of one instant per source: "...." with m, a, c, b at
// positions 0 to 3 for the times that fall on it.
struct macb_flags {
  std::string si;
  std::string fn;
  std::string fn83;
  bool has_si;
  bool has_fn;
  bool has_fn83;

  macb_flags() { clear(); }
  void clear();

  void set_si_m() { set(MACB_SLOT_SI, 0); }
  void set_si_a() { set(MACB_SLOT_SI, 1); }
  void set_si_c() { set(MACB_SLOT_SI, 2); }
  void set_si_b() { set(MACB_SLOT_SI, 3); }
  void set_fn_m() { set(MACB_SLOT_FN, 0); }
  void set_fn_a() { set(MACB_SLOT_FN, 1); }
  void set_fn_c() { set(MACB_SLOT_FN, 2); }
  void set_fn_b() { set(MACB_SLOT_FN, 3); }
  void set_fn83_m() { set(MACB_SLOT_FN83, 0); }
  void set_fn83_a() { set(MACB_SLOT_FN83, 1); }
  void set_fn83_c() { set(MACB_SLOT_FN83, 2); }
  void set_fn83_b() { set(MACB_SLOT_FN83, 3); }
  // By slot; a slot other than 1, 2 or 3 changes nothing.
  void set_m(uint32 slot) { set(slot, 0); }
  void set_a(uint32 slot) { set(slot, 1); }
  void set_c(uint32 slot) { set(slot, 2); }
  void set_b(uint32 slot) { set(slot, 3); }
  // Letter 0..3 (m, a, c, b) in the slot's text.
  void set(uint32 slot, int position);

  // "si:[....]; fn:[....]; fn8.3[....]" for the sources present; nothing at
  // all when none is. `end_line` ends a line that was written.
  void print(std::ostream& out, bool end_line) const;
};

// What the timeline keeps per instant.
struct macb_time_entry {
  macb_flags flags;
  std::set<std::string> names;        // long names, UTF-8 (may hold "")
  std::set<std::string> short_names;  // 8.3 names, UTF-8 (may hold "")
  std::string path;                   // put before the name by the writers
  std::string stream;                 // appended after ":" by the writers

  macb_time_entry() { clear(); }
  void clear();
};

// FILETIME to the entry's letters and names at that instant, earliest first.
typedef std::map<ulong64, macb_time_entry> macb_time_map;

// Adds one attribute's four times (in MACB order; a zero time is absent)
// under `slot`, with its name (null for none) as a long or an 8.3 name.
void add_macb_times(macb_time_map& map, uint32 slot, ulong64 m_time, ulong64 a_time, ulong64 c_time,
                    ulong64 b_time, const wchar_t* name, bool is_short);
