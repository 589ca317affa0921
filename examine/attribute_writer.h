#pragma once
// One attribute's bytes as an examiner saves them: the resident value, or
// the non-resident data read through the engine's data pump (compressed
// data decoded unit by unit, holes as zeros), the update sequence of every
// 4096-byte index record undone unless the stored bytes are asked for
// (`raw`: no decoding, no fixups, the allocated size). The bytes go to a
// stream or a caller's sink and can be digested with MD5 on the way.
//
// A call succeeds only when every byte it set out to deliver was read and
// written: a read that fails part way, a run list that stops short or a
// failing output make it false, and no digest is given for partial data.
// The whole data of a run list with a run past the volume (a hole may pass
// it) is refused before a byte is delivered.
#include <iosfwd>
#include <string>
#include <vector>

#include "ntfs/attribute_pump.h"
#include "ntfs/entry_record.h"
#include "utils/types.h"

class CNtfs;

typedef void (*attribute_sink)(const byte* data, uint32 length, uint32 value);

// The core: every byte of the record's data to `sink`, in order. Past the
// initialized size the data is zeros (the stored clusters only with `raw`).
// An attribute of 0 bytes is delivered whole: nothing to the sink, and true.
bool pump_entry_record(CNtfs* ntfs, const entry_record& rec, bool raw, const pump_sink& sink);
// The same, runs of zeros known without reading going to `holes` as lengths.
bool pump_entry_record(CNtfs* ntfs, const entry_record& rec, bool raw, const pump_sink& sink,
                       const pump_hole_sink& holes);
// True when the core refuses the record's data as damage before a byte (a
// run past the volume, runs that overlap): known from the runs alone, before
// a caller opens anything to write the data to.
bool entry_data_damaged(const CNtfs* ntfs, const entry_record& rec, bool raw);
// How many bytes the core delivers for the record (0 when it would refuse).
ulong64 entry_data_length(const CNtfs* ntfs, const entry_record& rec, bool raw);
// Bytes [offset, offset + length) of what the core delivers (not raw) into
// `out`, for a reader that wants a piece of a stream, not all of it;
// `delivered` counts those that arrived, all correct. True only when the
// range lies inside the data and all of it arrived.
bool read_entry_range(CNtfs* ntfs, const entry_record& rec, ulong64 offset, ulong64 length, byte* out,
                      ulong64& delivered);

// `md5` is emptied first and receives 32 lower-case hexadecimal digits only
// when hashing and the whole data was delivered (for an empty stream, the
// digest of no bytes). `messages` must be good; it is left untouched. Into a
// file written at its end, holes of the data stay holes (utils/sparse_output.h).
bool write_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages, bool raw,
                          bool hash, std::string& md5);
bool copy_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages, bool raw);
// As write_attribute_data, each piece going to `sink` (with `sink_value`)
// instead of `out` when a sink is given.
bool stream_attribute_data(CNtfs* ntfs, const entry_record& rec, std::ostream& out, std::ostream& messages,
                           attribute_sink sink, uint32 sink_value, bool raw, bool hash, std::string& md5);
bool feed_attribute_data(CNtfs* ntfs, const entry_record& rec, attribute_sink sink, uint32 sink_value, bool raw);
// The entry's unnamed $DATA.
bool write_unnamed_data(CNtfs* ntfs, ulong64 entry, std::ostream& out);

// The same data for a viewer: 1 when every byte reached the output, else 0.
// With `show_progress` the status line counts pieces of sixteen clusters.
int write_entry_data(std::ostream& out, CNtfs* ntfs, const entry_record& rec, bool raw, bool show_progress);
int write_entry_data_to_stdout(CNtfs* ntfs, const entry_record& rec, bool raw);
