#pragma once
// The one data pump of the engine: every read of a non-resident attribute's
// data through its runs, and every write back in place, goes through here.
//
// An attribute is described by an `attribute_layout` (its runs in VCN order,
// its data and initialized sizes, its compression unit). A read delivers the
// bytes [offset, offset + length) in order, in pieces of at most 1 MiB (one
// compression unit when compressed), to a sink: a callback, a caller's buffer
// or an output stream. Holes (sparse runs, and everything at or past the
// initialized size) arrive as zeros, or as lengths to a hole sink when one is
// given; a compressed attribute is decoded unit by unit (a unit whose
// clusters are all sparse is zeros, one with no sparse cluster is stored as
// is, any other is LZNT1 in its leading clusters).
//
// Every result says why the pump stopped; `delivered` always counts the bytes
// handed on, all of them correct and at their true offset: a failed or short
// read stops the pump where it happened and never shifts later bytes.
#include <functional>
#include <iosfwd>
#include <vector>

#include "ntfs/data_runs.h"
#include "utils/types.h"

class CNtfs;

enum pump_status {
  PUMP_DONE = 0,          // the whole range was delivered
  PUMP_END_OF_RUNS = 1,   // a VCN of the range is mapped by no run: delivered up to it
  PUMP_READ_FAILED = 2,   // a read failed or came back short, or a run lies outside the volume
  PUMP_BAD_UNIT = 3,      // a compression unit that does not decode
  PUMP_SINK_STOPPED = 4,  // the sink refused a piece
  PUMP_REFUSED = 5,       // nothing done: engine not ready, bad layout, or a write not allowed
  PUMP_WRITE_FAILED = 6,  // a write failed part way
};

// Whether a status counts as reading the range (the range ending with the
// runs is not a failure for a caller that reads "as far as the runs go").
inline bool pump_ok(pump_status s) { return s == PUMP_DONE; }

// No size known: the data goes as far as the runs.
const ulong64 PUMP_UNBOUNDED = ~0ULL;

struct attribute_layout {
  std::vector<data_run> runs;                 // ascending, non-overlapping VCNs
  ulong64 data_size = PUMP_UNBOUNDED;         // bytes of data
  ulong64 initialized_size = PUMP_UNBOUNDED;  // bytes past this read as zeros
  uint32 unit_clusters = 0;                   // clusters per compression unit; 0 = not compressed

  // From run records as the engine's decoders give them (either sparse
  // marker), taken as one stream from VCN 0 in list order.
  bool set_run_records(const std::vector<run_record>& records);
  // From compact runs (sorted by VCN; false when two overlap).
  bool set_data_runs(const std::vector<data_run>& runs);
  // From a cluster list (one entry per cluster), merged into runs.
  bool set_cluster_list(const lcn_run_list& list);
  // From a non-resident attribute header of `length` bytes: runs, sizes and,
  // when the attribute is compressed, its unit. False for a resident one or
  // runs that do not decode.
  bool set_attribute(const byte* attr, uint32 length);
  // Bytes the runs cover; all ones when that does not fit in 64 bits.
  ulong64 mapped_bytes(uint32 cluster_size) const;
  // True when every run that is no hole lies inside the clusters the
  // volume has, as far as its source holds them (CNtfs::held_clusters).
  // A run past them is damage, wherever it lies in the data: also past the
  // initialized size, where the pump reads nothing and hands on zeros.
  bool held_by(const CNtfs& ntfs) const;
};

// Takes one piece; false stops the pump (PUMP_SINK_STOPPED).
typedef std::function<bool(const byte* data, uint32 length)> pump_sink;
// Takes a run of `length` zero bytes that the pump knew without reading
// them; false stops the pump (PUMP_SINK_STOPPED).
typedef std::function<bool(ulong64 length)> pump_hole_sink;

// Reads [offset, offset + length) of the attribute's data, cut at its data
// size, into the sink. PUMP_UNBOUNDED as length reads to the end of the data
// (or of the runs when the size is not known).
pump_status pump_attribute_data(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, ulong64 length,
                                const pump_sink& sink, ulong64& delivered);
// The same, but the holes (sparse clusters, compression units without
// clusters, everything at or past the initialized size) go to `holes` as
// their lengths, however long, instead of as zero bytes: a copy can leave
// them unwritten. An empty `holes` delivers them as bytes. `delivered`
// counts the holes too.
pump_status pump_attribute_data(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, ulong64 length,
                                const pump_sink& sink, const pump_hole_sink& holes, ulong64& delivered);
// The same into a caller's buffer of `length` bytes.
pump_status pump_attribute_to_buffer(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset,
                                     ulong64 length, byte* out, ulong64& delivered);
// The same onto an output stream (a failing stream stops it as a sink would).
pump_status pump_attribute_to_stream(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset,
                                     ulong64 length, std::ostream& out, ulong64& delivered);

// Writes `length` bytes over the attribute's data at `offset`, in place. Only
// on an engine whose disk was opened for writing, only into a plain
// (uncompressed) attribute, and only when every cluster of the range is
// mapped to a real cluster (not sparse, not cluster 0, inside the volume) and
// the range lies inside the data size: otherwise PUMP_REFUSED and nothing is
// written. `written` counts the bytes that reached the disk.
pump_status pump_write_in_place(const CNtfs& ntfs, const attribute_layout& layout, ulong64 offset, const byte* data,
                                ulong64 length, ulong64& written);
