#pragma once
// Time hits: values in raw bytes that read as a valid time inside a window
// of FILETIMEs under one of the time bases. The tests of single candidates,
// the buffer scan that runs them at every byte offset (4-, 8- and 16-byte
// candidates, little- and big-endian), and the report line of a hit.
//
// Windows are given upper bound first, then lower bound; both inclusive and
// compared as signed 64-bit numbers.
#include <map>
#include <ostream>
#include <vector>

#include "utils/types.h"

struct time_hit_record {
  std::vector<byte> bytes;  // the candidate's bytes in buffer order
  uint64 filetime = 0;  // the FILETIME it reads as
  uint64 offset = 0;
  uint32 kind = 0;  // the zq::type_time bit it was read under
  bool little_endian = true;  // also true for a GUID
  int size = 0;  // 4, 8 or 16

  time_hit_record() = default;
  // `src` holds the candidate with its least significant byte first; a
  // big-endian candidate's bytes are reversed so they come back in buffer
  // order.
  time_hit_record(const byte* src, uint64 filetime, uint64 offset, uint32 kind,
                  bool little_endian, int size);
};

// Keyed by offset; hits at one offset keep the order they were found in.
typedef std::multimap<ulong64, time_hit_record> time_hit_map;

// State of a block-by-block scan.
struct time_scan_context {
  std::ostream* out = nullptr;
  uint64 upper = 0;
  uint64 lower = 0;
  uint32 kinds = 0;  // low byte: the kind mask
  int hits = 0;
};

namespace zq {

// Tests one integer: with its high half non-zero as FILETIME, Chrome,
// Firefox, NTP and Unix seconds, otherwise as Unix seconds and a DOS date
// (low word) and time (high word), each when its bit is in `kinds`. Every
// reading that is a valid time inside the window adds a record under
// `offset`; true when this call added one. `clear` empties the map first.
bool match_time_kinds(time_hit_map& hits, uint64 value, uint64 upper, uint64 lower,
                      uint64 offset, bool little_endian, bool clear, uint8 kinds);
// The 16 bytes at `guid` as a version-1 GUID's time.
bool match_guid_time(time_hit_map& hits, const byte* guid, uint64 upper, uint64 lower,
                     uint64 offset, bool clear);
// The FILETIME of a lone 64-bit value of unknown base and byte order lying
// between 1 January of the two years: the first of FILETIME, Chrome,
// Firefox and NTP that fits, little-endian first.
bool guess_filetime(uint64& filetime, uint64 value, int upper_year, int lower_year);

// Probes every byte offset of `buf`, writes one line per hit in offset order
// (at one offset: 4-byte LE, 4-byte BE, 8-byte LE, 8-byte BE, GUID) and
// returns the number of probes that hit. Kinds: 8 and 32 for 4-byte
// candidates; 1, 2, 4 and 64 for 8-byte ones; 128 for GUIDs.
int scan_time_hits(std::ostream& out, const byte* buf, int len, uint64 upper, uint64 lower,
                   uint64 base_offset, uint8 kinds);
int scan_time_hits(std::ostream& out, const std::vector<byte>& data, uint64 upper, uint64 lower,
                   uint64 base_offset, uint8 kinds);
// One block of a longer scan; a candidate straddling two blocks is not
// seen. -1 for a null buffer or context or an empty block; otherwise adds
// the hit count to the context and returns 0.
int scan_time_hits_block(uint32, time_scan_context* ctx, const byte* buf, int len, uint32,
                         uint64 offset);

// "001005, LE, filetime  , 06/15/20 13:45:30.250 UTC, 00 11 ... " and a
// line end. The stream is left in hexadecimal with fill '0'.
void write_time_hit(const time_hit_record& rec, std::ostream& out);

}  // namespace zq
