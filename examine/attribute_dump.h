#pragma once
// Field-by-field text dumps of attributes and whole FILE records for an
// examiner, and a short summary of one attribute. Every read stays inside
// the attribute (the bytes its length field claims, cut to the bytes the
// caller says are there) and the record's limit: a resident value is read
// at its stored offset and never past the attribute's end.
#include <iosfwd>

#include "utils/types.h"

// `available`: the bytes readable from `attr`. 0, and the forms without it,
// trust the attribute's length field, when it covers the attribute's header
// and fits in a FILE record (in the record at hand, for dump_attribute_at:
// its own size where the record's header bears it out, whatever its
// signature, else 1 KiB, or a smaller size it declares; the buffer must hold
// that much; record_own_size, ntfs/mft_record.h); an attribute that claims
// any other length is not dumped.
void dump_attribute(std::ostream& os, const byte* attr, uint32 available);
void dump_attribute(std::ostream& os, const byte* attr);
void dump_attribute_at(const byte* record, uint32 offset, std::ostream& os);
// Every attribute from `offset` that starts and ends before `limit`, numbered.
void dump_record_attributes(const byte* record, uint32 offset, uint32 limit, std::ostream& os);
// The record header, then its attributes.
void dump_mft_record(const byte* record, uint32 limit, std::ostream& os);
void summarize_attribute(std::ostream& os, const byte* attr, uint32 available);
void summarize_attribute(std::ostream& os, const byte* attr);
