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

namespace {

// [lo, lo + span] as one unsigned subtraction and comparison. The filters
// below hold every raw value that could read as a time inside the window
// (and a few that do not); each candidate that passes one goes through the
// exact tests, so the filters only decide how often those run.
struct raw_range {
  uint64 lo = 1;
  uint64 span = 0;  // empty ranges keep lo 1, span 0: one stray value, tested exactly
  bool has(uint64 v) const { return v - lo <= span; }
  void set(long64 from, long64 to) {
    if (from < 0) from = 0;
    if (to < from) return;
    lo = static_cast<uint64>(from);
    span = static_cast<uint64>(to - from);
  }
};

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
  raw_range filetime, chrome, firefox, unix_seconds, ntp_seconds, dos_date, guid_stamp;
  bool possible = false;

  hit_filters(uint64 upper, uint64 lower) {
    // A hit is a valid time, so its FILETIME also lies in the valid range.
    const long64 lo = std::max(static_cast<long64>(lower), static_cast<long64>(zq::first_valid_filetime));
    const long64 hi = std::min(static_cast<long64>(upper), static_cast<long64>(zq::last_valid_filetime));
    if (lo > hi) return;
    possible = true;
    const long64 epoch = static_cast<long64>(zq::unix_epoch_ticks);
    const long64 second = static_cast<long64>(zq::ticks_per_second);
    const long64 ntp_epoch = static_cast<long64>(zq::ntp_epoch_ticks);
    filetime.set(lo, hi);
    chrome.set(ceil_div(lo, 10), hi / 10);
    firefox.set(ceil_div(lo - epoch, 10), (hi - epoch) / 10);
    unix_seconds.set(ceil_div(lo - epoch, second), (hi - epoch) / second);
    // The fraction adds up to one second below the next whole one.
    ntp_seconds.set((lo - ntp_epoch) / second - 1, std::min<long64>((hi - ntp_epoch) / second, 0xFFFFFFFFLL));
    // A day past the month's end (31 February) rolls into the next month,
    // at most three days on; start the dates four days early.
    const uint64 early = static_cast<uint64>(lo) - 4 * 86400 * zq::ticks_per_second;
    dos_date.set(dos_day(early), std::min<long64>(dos_day(static_cast<uint64>(hi)), 0xFFFF));
    guid_stamp.set(lo + static_cast<long64>(zq::guid_epoch_ticks), hi + static_cast<long64>(zq::guid_epoch_ticks));
  }
};

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
  const hit_filters f(upper, lower);
  if (!f.possible) return 0;
  const uint8 kinds4 = kinds & (type_unix | type_dos);
  const uint8 kinds8 = kinds & (type_filetime | type_chrome | type_firefox | type_ntp);
  const bool guids = (kinds & type_guid) != 0;
  const bool unix4 = (kinds4 & type_unix) != 0, dos4 = (kinds4 & type_dos) != 0;
  const bool ft8 = (kinds8 & type_filetime) != 0, chrome8 = (kinds8 & type_chrome) != 0;
  const bool firefox8 = (kinds8 & type_firefox) != 0, ntp8 = (kinds8 & type_ntp) != 0;
  auto pass4 = [&](uint32 v) {
    return (unix4 && f.unix_seconds.has(v)) || (dos4 && f.dos_date.has(v & 0xFFFF));
  };
  auto pass8 = [&](uint64 v) {
    if ((v >> 32) == 0) return false;
    return (ft8 && f.filetime.has(v)) || (chrome8 && f.chrome.has(v)) ||
           (firefox8 && f.firefox.has(v)) || (ntp8 && f.ntp_seconds.has(ntp_word_swap(static_cast<uint32>(v))));
  };

  // All probes of one offset are made before the next offset's, so the hits
  // come out in offset order, and at one offset in probe order, without
  // holding the hits of the whole buffer.
  const uint64 n = static_cast<uint64>(len);
  time_hit_map pending;
  int count = 0;
  for (uint64 i = 0; i < n; ++i) {
    const byte* p = buf + i;
    const uint64 at = base_offset + i;
    if (kinds4 && i + 4 <= n) {
      const uint32 le = load_u32(p);
      if (pass4(le) && match_time_kinds(pending, le, upper, lower, at, true, false, kinds4)) ++count;
      const uint32 be = load_be32(p);
      if (pass4(be) && match_time_kinds(pending, be, upper, lower, at, false, false, kinds4)) ++count;
    }
    if (kinds8 && i + 8 <= n) {
      const uint64 le = load_u64(p);
      if (pass8(le) && match_time_kinds(pending, le, upper, lower, at, true, false, kinds8)) ++count;
      const uint64 be = load_be64(p);
      if (pass8(be) && match_time_kinds(pending, be, upper, lower, at, false, false, kinds8)) ++count;
    }
    if (guids && i + 16 <= n && (p[7] >> 4) == 1) {
      const uint64 stamp = (static_cast<uint64>(load_u16(p + 6) & 0x0FFF) << 48) |
                           (static_cast<uint64>(load_u16(p + 4)) << 32) | load_u32(p);
      if (f.guid_stamp.has(stamp) && match_guid_time(pending, p, upper, lower, at, false)) ++count;
    }
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
  static const char digits[] = "0123456789abcdef";
  try {
    for (int i = 0; i < rec.size; ++i) {
      const byte b = rec.bytes.at(static_cast<size_t>(i));
      line += digits[b >> 4];
      line += digits[b & 15];
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
