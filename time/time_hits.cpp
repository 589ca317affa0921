// The buffer scan for time hits and its report line.
#include "time/time_hits.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <string>

#include "time/guid_time.h"
#include "time/ntp.h"
#include "time/zq_time.h"
#include "utils/byte_order.h"
#include "utils/number_append.h"

namespace {

// [lo, lo + span] as one unsigned subtraction and comparison. The filters
// below hold every raw value that could read as a time inside the window
// (and a few that do not); each candidate that passes one goes through the
// exact tests, so the filters only decide how often those run.
struct raw_range {
  uint64 lo = ~0ULL;
  uint64 span = 0;  // empty: only all bits set passes, and no time reads so
  bool has(uint64 v) const { return v - lo <= span; }
  void set(long64 from, long64 to) {
    if (from < 0) from = 0;
    if (to < from) return;
    lo = static_cast<uint64>(from);
    span = static_cast<uint64>(to - from);
  }
};

uint64 byte_swap64(uint64 v) {
  v = ((v & 0x00FF00FF00FF00FFULL) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFULL);
  v = ((v & 0x0000FFFF0000FFFFULL) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFULL);
  return (v << 32) | (v >> 32);
}

long64 ceil_div(long64 a, long64 b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

// DOS date value of a FILETIME's UTC calendar day, clamped to what 16 bits
// hold (1980-2107); -1 before 1980, 65536 after 2107.
long64 dos_day(uint64 filetime) {
  systemtime_ex st;
  filetime_to_tm(filetime, st);
  if (st.wYear < 1980) return -1;
  if (st.wYear > 2107) return 65536;
  return ((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay;
}

struct hit_filters {
  raw_range filetime, chrome, firefox, unix_seconds, ntp_seconds, dos_date;
  // A version-1 GUID's first eight bytes read little-endian: the version
  // nibble 1 on top of the 60-bit stamp.
  raw_range guid_word;
  bool possible = false;

  // Ranges of kinds not asked for stay empty.
  hit_filters(uint64 upper, uint64 lower, uint8 kinds) {
    // A hit is a valid time, so its FILETIME also lies in the valid range.
    const long64 lo = std::max(static_cast<long64>(lower), static_cast<long64>(zq::first_valid_filetime));
    const long64 hi = std::min(static_cast<long64>(upper), static_cast<long64>(zq::last_valid_filetime));
    if (lo > hi) return;
    possible = true;
    const long64 epoch = static_cast<long64>(zq::unix_epoch_ticks);
    const long64 second = static_cast<long64>(zq::ticks_per_second);
    const long64 ntp_epoch = static_cast<long64>(zq::ntp_epoch_ticks);
    if (kinds & zq::type_filetime) filetime.set(lo, hi);
    if (kinds & zq::type_chrome) chrome.set(ceil_div(lo, 10), hi / 10);
    if (kinds & zq::type_firefox) firefox.set(ceil_div(lo - epoch, 10), (hi - epoch) / 10);
    if (kinds & zq::type_unix) unix_seconds.set(ceil_div(lo - epoch, second), (hi - epoch) / second);
    // The fraction adds up to one second below the next whole one.
    if (kinds & zq::type_ntp)
      ntp_seconds.set((lo - ntp_epoch) / second - 1, std::min<long64>((hi - ntp_epoch) / second, 0xFFFFFFFFLL));
    if (kinds & zq::type_dos) {
      // A day past the month's end (31 February) rolls into the next month,
      // at most three days on; start the dates four days early.
      const uint64 early = static_cast<uint64>(lo) - 4 * 86400 * zq::ticks_per_second;
      dos_date.set(dos_day(early), std::min<long64>(dos_day(static_cast<uint64>(hi)), 0xFFFF));
    }
    if (kinds & zq::type_guid) {
      const long64 version = 1LL << 60;
      const long64 g = static_cast<long64>(zq::guid_epoch_ticks);
      guid_word.set(version + lo + g, version + hi + g);
    }
  }

  bool pass4(uint32 v) const { return unix_seconds.has(v) || dos_date.has(v & 0xFFFF); }
  bool pass8(uint64 v) const {
    return filetime.has(v) || chrome.has(v) || firefox.has(v) ||
           ntp_seconds.has(zq::ntp_word_swap(static_cast<uint32>(v)));
  }

  // Whether any probe at an offset with 16 bytes ahead may hit, from its
  // first eight bytes alone: the 4-byte candidates are their low half and
  // its byte swap, an NTP candidate's seconds the other half swapped. Only
  // the groups of kinds asked for are tested.
  template <bool Ticks, bool Ntp, bool Four, bool Guid>
  bool any(uint64 le) const {
    const uint64 be = byte_swap64(le);
    const uint64 le_high = le >> 32, be_high = be >> 32;
    bool hit = false;
    if (Ticks)
      hit |= filetime.has(le) | filetime.has(be) | chrome.has(le) | chrome.has(be) |
             firefox.has(le) | firefox.has(be);
    if (Ntp) hit |= ntp_seconds.has(be_high) | ntp_seconds.has(le_high);
    if (Four)
      hit |= unix_seconds.has(le & 0xFFFFFFFFu) | unix_seconds.has(be_high) |
             dos_date.has(le & 0xFFFF) | dos_date.has(be_high & 0xFFFF);
    if (Guid) hit |= guid_word.has(le);
    return hit;
  }
};

typedef uint64 (*candidate_finder)(const byte*, uint64, uint64, const hit_filters&);

// The first offset from `i` below `end` at which a probe may hit; every
// offset below `end` has 16 bytes ahead of it.
template <bool Ticks, bool Ntp, bool Four, bool Guid>
uint64 next_candidate(const byte* buf, uint64 i, uint64 end, const hit_filters& f) {
  for (; i < end; ++i)
    if (f.any<Ticks, Ntp, Four, Guid>(load_u64(buf + i))) break;
  return i;
}

template <bool Ticks, bool Ntp, bool Four>
candidate_finder finder_for(bool guid) {
  return guid ? next_candidate<Ticks, Ntp, Four, true> : next_candidate<Ticks, Ntp, Four, false>;
}

template <bool Ticks, bool Ntp>
candidate_finder finder_for(bool four, bool guid) {
  return four ? finder_for<Ticks, Ntp, true>(guid) : finder_for<Ticks, Ntp, false>(guid);
}

template <bool Ticks>
candidate_finder finder_for(bool ntp, bool four, bool guid) {
  return ntp ? finder_for<Ticks, true>(four, guid) : finder_for<Ticks, false>(four, guid);
}

candidate_finder finder_for(uint8 kinds) {
  const bool ticks = (kinds & (zq::type_filetime | zq::type_chrome | zq::type_firefox)) != 0;
  const bool ntp = (kinds & zq::type_ntp) != 0;
  const bool four = (kinds & (zq::type_unix | zq::type_dos)) != 0;
  const bool guid = (kinds & zq::type_guid) != 0;
  return ticks ? finder_for<true>(ntp, four, guid) : finder_for<false>(ntp, four, guid);
}

uint32 load_be32(const byte* p) {
  return (static_cast<uint32>(p[0]) << 24) | (static_cast<uint32>(p[1]) << 16) |
         (static_cast<uint32>(p[2]) << 8) | p[3];
}

uint64 load_be64(const byte* p) {
  return (static_cast<uint64>(load_be32(p)) << 32) | load_be32(p + 4);
}

const char* kind_name(uint32 kind) {
  switch (kind) {
    case zq::type_filetime: return "filetime";
    case zq::type_chrome: return "chrome";
    case zq::type_firefox: return "firefox3";
    case zq::type_unix: return "unix time";
    case zq::type_dos: return "dos time";
    case zq::type_ntp: return "ntp";
    case zq::type_guid: return "guid";
    default: return "";
  }
}

}  // namespace

namespace zq {

int scan_time_hits(std::ostream& out, const byte* buf, int len, uint64 upper, uint64 lower,
                   uint64 base_offset, uint8 kinds) {
  if (!buf || len <= 0) return 0;
  const hit_filters f(upper, lower, kinds);
  if (!f.possible) return 0;
  const uint8 kinds4 = kinds & (type_unix | type_dos);
  const uint8 kinds8 = kinds & (type_filetime | type_chrome | type_firefox | type_ntp);
  const bool guids = (kinds & type_guid) != 0;

  // All probes of one offset are made before the next offset's, so the hits
  // come out in offset order, and at one offset in probe order, without
  // holding the hits of the whole buffer. Offsets no probe can hit are
  // passed over by the filter loop; the last 15 are probed one by one.
  const uint64 n = static_cast<uint64>(len);
  const uint64 filtered_end = n >= 16 ? n - 15 : 0;
  const candidate_finder next_candidate = finder_for(kinds);
  time_hit_map pending;
  int count = 0;
  for (uint64 i = next_candidate(buf, 0, filtered_end, f); i < n;
       i = i + 1 < filtered_end ? next_candidate(buf, i + 1, filtered_end, f) : i + 1) {
    const byte* p = buf + i;
    const uint64 at = base_offset + i;
    if (kinds4 && i + 4 <= n) {
      const uint32 le = load_u32(p);
      if (f.pass4(le) && match_time_kinds(pending, le, upper, lower, at, true, false, kinds4)) ++count;
      const uint32 be = load_be32(p);
      if (f.pass4(be) && match_time_kinds(pending, be, upper, lower, at, false, false, kinds4)) ++count;
    }
    if (kinds8 && i + 8 <= n) {
      const uint64 le = load_u64(p);
      if (f.pass8(le) && match_time_kinds(pending, le, upper, lower, at, true, false, kinds8)) ++count;
      const uint64 be = load_be64(p);
      if (f.pass8(be) && match_time_kinds(pending, be, upper, lower, at, false, false, kinds8)) ++count;
    }
    if (guids && i + 16 <= n && f.guid_word.has(load_u64(p)) &&
        match_guid_time(pending, p, upper, lower, at, false))
      ++count;
    if (pending.empty()) continue;
    for (const auto& hit : pending) write_time_hit(hit.second, out);
    pending.clear();
  }
  return count;
}

int scan_time_hits(std::ostream& out, const std::vector<byte>& data, uint64 upper, uint64 lower,
                   uint64 base_offset, uint8 kinds) {
  if (data.empty()) return 0;
  // A vector past the int range is scanned up to it; the rest is for
  // further calls with their own base offset.
  const size_t len = std::min<size_t>(data.size(), 0x7FFFFFFF);
  return scan_time_hits(out, data.data(), static_cast<int>(len), upper, lower, base_offset, kinds);
}

int scan_time_hits_block(uint32, time_scan_context* ctx, const byte* buf, int len, uint32,
                         uint64 offset) {
  if (!buf || len <= 0 || !ctx || !ctx->out) return -1;
  ctx->hits += scan_time_hits(*ctx->out, buf, len, ctx->upper, ctx->lower, offset,
                              static_cast<uint8>(ctx->kinds & 0xFF));
  return 0;
}

void write_time_hit(const time_hit_record& rec, std::ostream& out) {
  char head[64];
  std::snprintf(head, sizeof head, "%06llx, %s, %-10s, ", static_cast<unsigned long long>(rec.offset),
                rec.little_endian ? "LE" : "BE", kind_name(rec.kind));
  std::string line = head;
  append_time(line, zq::time(rec.filetime, type_filetime));
  line += rec.kind == type_dos ? " LOC, " : " UTC, ";
  try {
    for (int i = 0; i < rec.size; ++i) {
      append_hex_digits(line, rec.bytes.at(static_cast<size_t>(i)), 2, '0');
      line += ' ';
    }
  } catch (...) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out << std::hex << std::setfill('0');
    throw;
  }
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out << std::hex << std::setfill('0') << std::endl;
}

}  // namespace zq
