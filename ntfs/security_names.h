#pragma once
// Names of the parts of a Windows security descriptor: ACE types, access
// rights, ACE flags, descriptor control flags, identifier authorities and the
// well-known and built-in relative identifiers.
#include <map>
#include <string>

#include "utils/types.h"

// Flag-name builders: `out` receives the names of the set bits in table order,
// joined by " | "; "" when no named bit is set.
void access_mask_names(uint32 mask, std::string& out);
void ace_flag_names(uint8 flags, std::string& out);
void sd_control_names(uint16 control, std::string& out);

// The long ("ACCESS_ALLOWED_ACE_TYPE") or short ("access allowed") name of an
// ACE type; "unknown" for types 9 and above.
void ace_type_name(uint8 type, std::string& out, bool short_form);

// Relative identifiers of well-known domain and built-in accounts, built on
// first use.
const std::map<uint32, std::string>& rid_names();
// True and the name when `rid` is in rid_names(); otherwise false and "".
bool rid_name(uint32 rid, std::string& out);

// The name of an identifier authority, selected by the authority's last byte.
const char* identifier_authority_name(uint8 authority);

// The name of sub-authority `index` (value `value`) of a SID whose identifier
// authority ends in `authority`: the first names the authority's well-known
// group, the later ones are relative identifiers; "unk" when unnamed.
void sub_authority_name(uint8 authority, uint32 index, uint32 value, std::string& out);
