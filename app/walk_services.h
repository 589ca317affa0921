#pragma once
// What the application engine offers the directory walker: the test of one
// MFT entry against the walker's filters, and the copy of one attribute's
// data to a stream with its MD5 digest.
#include <ostream>

#include "app/record_reader.h"
#include "app/user_ctx.h"

// True when the entry passes every filter that is set: a name filter
// (substring of a lower-cased name), an extension filter (the whole
// lower-cased extension of the first name holding a '.') and a time window
// (any of the four times of any $STANDARD_INFORMATION or $FILE_NAME in it).
bool inode_passes_filters(const inode_attributes& rec, const user_ctx& ctx);

// Writes the attribute's data to `out`: a resident value as stored; a
// non-resident one through the engine's data pump (compressed data decoded
// unit by unit, $INDEX_ALLOCATION records fixed up) unless ctx.raw asks for
// the clusters as stored. With ctx.copy_md5 the digest of the bytes written
// is left in ctx.copy_digest. With ctx.verbose a non-resident copy shows
// "copy chunk: %d" (64 KiB chunks done, paced) on the status line and
// clears it at the end. False when no source is open, the attribute is
// missing or cannot be mapped, at once when a run that is no hole lies past
// the volume, and also when the copy stops part way (a read
// that fails, runs that end before the data does, a stream that refuses a
// write): what was written then is not the whole data.
bool copy_file_data(std::ostream& out, const inode_attributes& rec, user_ctx& ctx, const attribute_record* attr);
