#pragma once
// Self-relative security descriptors, as a file's security-descriptor
// attribute and the $SDS stream of $Secure store them: the owner and group
// SIDs and the system and discretionary ACLs turned into text, and
// field-by-field dumps of a descriptor header, an ACL header, an ACE and a SID.
//
// Every offset, count and size inside a descriptor comes from the evidence.
// The forms that take a byte_view read only inside it; the forms that take a
// bare pointer trust the structure's own length (the ACL's size, the ACE's
// size, the SID's sub-authority count) and are for structures already checked.
#include <iosfwd>
#include <map>
#include <string>

#include "ntfs/security_names.h"
#include "utils/byte_order.h"
#include "utils/types.h"

// The stored bytes of a self-relative security descriptor. Never defined: a
// pointer to it points at the descriptor's first byte, which is read field by
// field like any other evidence.
struct security_descriptor;

inline const security_descriptor* as_security_descriptor(const byte* bytes) {
  return reinterpret_cast<const security_descriptor*>(bytes);
}

// Descriptor header offsets; an owner, group or ACL offset of 0 means absent.
const uint32 SD_REVISION = 0;
const uint32 SD_PADDING = 1;
const uint32 SD_CONTROL = 2;
const uint32 SD_OWNER_OFFSET = 4;
const uint32 SD_GROUP_OFFSET = 8;
const uint32 SD_SACL_OFFSET = 12;
const uint32 SD_DACL_OFFSET = 16;
const uint32 SD_HEADER_SIZE = 20;

// ACL header offsets; the ACEs follow the header one after another.
const uint32 ACL_REVISION = 0;
const uint32 ACL_SIZE = 2;
const uint32 ACL_ACE_COUNT = 4;
const uint32 ACL_UNUSED = 6;
const uint32 ACL_HEADER_SIZE = 8;

// ACE offsets.
const uint32 ACE_TYPE = 0;
const uint32 ACE_FLAGS = 1;
const uint32 ACE_SIZE = 2;
const uint32 ACE_MASK = 4;
const uint32 ACE_SID = 8;

// SID offsets: 8 fixed bytes, then a u32 per sub-authority.
const uint32 SID_REVISION = 0;
const uint32 SID_COUNT = 1;
const uint32 SID_AUTHORITY = 2;
const uint32 SID_SUB_AUTHORITIES = 8;

// One named ACE.
struct ace_record {
  std::string sid_text;
  std::string type_name;   // short form
  std::string mask_names;  // access rights, " | " between them
  std::string account_name;
};

// ACEs keyed by SID text followed directly by the short type name.
typedef std::map<std::string, ace_record> ace_record_map;

// "Security Identifiers", the owner and group SIDs, then the system and
// discretionary ACLs one ACE line each; every line starts with `prefix`
// (null counts as ""). `size` is the descriptor's stored length: nothing
// outside it is read.
std::ostream& print_security_descriptor(std::ostream& out, const security_descriptor* sd, uint32 size,
                                        const char* prefix);
std::ostream& print_security_descriptor(std::ostream& out, const byte* sd, uint32 size, const char* prefix);

// Adds the ACEs of the ACL at `acl_offset` of the descriptor to `out`; an ACE
// whose SID and type are already there adds its rights to that record. The
// list ends at the first ACE that does not fit in the ACL. False when the ACL
// header lies outside the descriptor or the ACE list was cut short by damage;
// the ACEs read before stay added.
bool parse_security_descriptor_acl(ace_record_map& out, const byte_view& sd, int acl_offset);
// Bounded by the ACL's own size only.
bool parse_security_descriptor_acl(ace_record_map& out, const byte* sd, int acl_offset);

// The SID's account name: a SID of one sub-authority by that sub-authority's
// well-known name, any other by its last sub-authority as a relative
// identifier; "unk" when unnamed or unreadable.
void write_sid_name(std::ostream& out, const byte_view& sid);
void write_sid_name(std::ostream& out, const byte* sid);

// "sid [S-...]", with `names` also " : " and the name of every sub-authority,
// ", " between them; no line end.
void write_sid_line(std::ostream& out, const byte_view& sid, bool names);
void write_sid_line(std::ostream& out, const byte* sid, bool names);

// Field dumps: one labelled line per field, each showing `offset` plus the
// field's place. A field that does not fit in the record is not shown, nor any
// after it.
void dump_security_descriptor_header(std::ostream& out, const byte_view& record, uint32 offset);
void dump_security_descriptor_header(std::ostream& out, const byte* record, uint32 offset);
void dump_security_descriptor_header(std::ostream& out, const byte* record);
void dump_acl_header(std::ostream& out, const byte_view& record, uint32 offset);
void dump_acl_header(std::ostream& out, const byte* record, uint32 offset);
void dump_acl_header(std::ostream& out, const byte* record);
void dump_ace(std::ostream& out, const byte_view& record, uint32 offset);
void dump_ace(std::ostream& out, const byte* record, uint32 offset);
void dump_ace(std::ostream& out, const byte* record);
void dump_sid(std::ostream& out, const byte_view& record, uint32 offset);
void dump_sid(std::ostream& out, const byte* record, uint32 offset);
void dump_sid(std::ostream& out, const byte* record);
