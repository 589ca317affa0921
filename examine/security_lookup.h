#pragma once
// Security descriptors through $Secure (MFT entry 9): the $SII index from
// security id to the descriptor's place in the $SDS stream, the descriptors'
// texts (SIDs as "S-" text), process-wide caches of both; and object ids
// through the $O index of $ObjId (MFT entry 25).
//
// Two caches, each for the volume last asked about: the drive-letter form
// keeps its tables under the letter and opens the volume only when another
// letter is asked for (or its last load failed); the form handed an open
// volume knows it by its serial number, its source and its offset, never by
// the address of the engine object, which a later volume may reuse. One
// caller at a time.
#include <iosfwd>
#include <map>
#include <string>

#include "ntfs/index_reports.h"
#include "utils/types.h"

class CNtfs;

typedef std::map<uint32, security_id_entry> security_id_map;
typedef std::map<ulong64, std::string> security_text_map;

// Both maps emptied first; true when both end up non-empty.
bool load_security_tables(CNtfs* ntfs, security_id_map& ids, security_text_map& texts);
// The descriptor text of the id and a newline; false when the id or its
// descriptor is unknown. By drive: the first character of `drive` is the
// letter.
bool print_security_id(const std::string& drive, uint32 security_id, std::ostream& out);
bool print_security_id(CNtfs* ntfs, uint32 security_id, std::ostream& out);
// The MFT reference and sequence number of the entry carrying the 16-byte
// object id, as its object id or its birth object id.
bool find_object_id(CNtfs* ntfs, const byte* object_id, ulong64& reference, uint16& sequence);

// What the cache keys a volume by.
std::string volume_identity(CNtfs* ntfs);
