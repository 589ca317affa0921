#include "ntfs/security_names.h"

namespace {

struct bit_name {
  uint32 mask;
  const char* text;
};

const char k_separator[] = " | ";

template <size_t N>
void join_set_bits(const bit_name (&table)[N], uint32 value, std::string& out) {
  out.clear();
  for (const bit_name& b : table) {
    if (value & b.mask) {
      out += b.text;
      out += k_separator;
    }
  }
  if (!out.empty()) out.resize(out.size() - (sizeof k_separator - 1));
}

// Generic rights first, then the standard rights; the low sixteen bits mean
// something different for every kind of object, so they stay unnamed.
const bit_name k_access_rights[] = {
    {0x80000000u, "GENERIC_READ"},   {0x40000000u, "GENERIC_WRITE"},         {0x20000000u, "GENERIC_EXECUTE"},
    {0x10000000u, "GENERIC_ALL"},    {0x00010000u, "DELETE"},                {0x00020000u, "READ_CONTROL"},
    {0x00040000u, "WRITE_DAC"},      {0x00080000u, "WRITE_OWNER"},           {0x00100000u, "SYNCHRONIZE"},
    {0x01000000u, "ACCESS_SYSTEM_SECURITY"}, {0x02000000u, "MAXIMUM_ALLOWED"},
};

const bit_name k_ace_flags[] = {
    {0x01, "OBJECT_INHERIT_ACE"}, {0x02, "CONTAINER_INHERIT_ACE"}, {0x04, "NO_PROPAGATE_INHERIT_ACE"},
    {0x80, "FAILED_ACCESS_ACE_FLAG"}, {0x08, "INHERIT_ONLY_ACE"},  {0x10, "INHERITED_ACE"},
    {0x40, "SUCCESSFUL_ACCESS_ACE_FLAG"},
};

const bit_name k_control_flags[] = {
    {0x0001, "SE_OWNER_DEFAULTED"},       {0x0002, "SE_GROUP_DEFAULTED"},       {0x0004, "SE_DACL_PRESENT"},
    {0x0008, "SE_DACL_DEFAULTED"},        {0x0010, "SE_SACL_PRESENT"},          {0x0020, "SE_SACL_DEFAULTED"},
    {0x0100, "SE_DACL_AUTO_INHERIT_REQ"}, {0x0200, "SE_SACL_AUTO_INHERIT_REQ"}, {0x0400, "SE_DACL_AUTO_INHERITED"},
    {0x0800, "SE_SACL_AUTO_INHERITED"},   {0x1000, "SE_DACL_PROTECTED"},        {0x2000, "SE_SACL_PROTECTED"},
    {0x4000, "SE_RM_CONTROL_VALID"},      {0x8000, "SE_SELF_RELATIVE"},
};

struct ace_type_names {
  const char* long_name;
  const char* short_name;
};

const ace_type_names k_ace_types[] = {
    {"ACCESS_ALLOWED_ACE_TYPE", "access allowed"},
    {"ACCESS_DENIED_ACE_TYPE", "access denied"},
    {"SYSTEM_AUDIT_ACE_TYPE", "system audit"},
    {"SYSTEM_ALARM_ACE_TYPE", "system alarm"},
    {"ACCESS_ALLOWED_COMPOUND_ACE_TYPE", "access allowed"},
    {"ACCESS_ALLOWED_OBJECT_ACE_TYPE", "access allowed"},
    {"ACCESS_DENIED_OBJECT_ACE_TYPE", "access denied"},
    {"SYSTEM_AUDIT_OBJECT_ACE_TYPE", "system audit"},
    {"SYSTEM_ALARM_OBJECT_ACE_TYPE", "system alarm"},
};

const char* const k_authorities[] = {"Null Authority",       "World Authority", "Local Authority",
                                     "Creator Authority",    "Non Unique Authority", "NT Authority"};

const char* const k_creator_groups[] = {"Owner", "Group", "Owner Server", "Group Server"};

// Well-known groups of the NT authority, by their first sub-authority.
const char* const k_nt_groups[] = {
    "unk",                     // 0
    "Dialup",                  // 1
    "Network",                 // 2
    "Batch",                   // 3
    "Interactive",             // 4
    "Logon Ids",               // 5
    "Service",                 // 6
    "Anonymous Logon",         // 7
    "Proxy",                   // 8
    "Server Logon [Domain Controllers]",  // 9
    "Principal Self",          // 10
    "Authenticated User",      // 11
    "Restricted Code",         // 12
    "Terminal Server Users",   // 13
    "unk", "unk", "unk", "unk",  // 14 to 17
    "Local System",            // 18
    "Local Service",           // 19
    "Network Service",         // 20
    "NT Non Unique",           // 21
    "unk", "unk", "unk", "unk", "unk", "unk", "unk", "unk", "unk", "unk",  // 22 to 31
    "Builtin Domain",          // 32
};

static_assert(sizeof k_nt_groups / sizeof k_nt_groups[0] == 33, "NT groups run from 0 to 32");

const uint8 k_creator_authority = 3;
const uint8 k_nt_authority = 5;

}  // namespace

void access_mask_names(uint32 mask, std::string& out) { join_set_bits(k_access_rights, mask, out); }

void ace_flag_names(uint8 flags, std::string& out) { join_set_bits(k_ace_flags, flags, out); }

void sd_control_names(uint16 control, std::string& out) { join_set_bits(k_control_flags, control, out); }

void ace_type_name(uint8 type, std::string& out, bool short_form) {
  if (type >= sizeof k_ace_types / sizeof k_ace_types[0]) {
    out = "unknown";
    return;
  }
  out = short_form ? k_ace_types[type].short_name : k_ace_types[type].long_name;
}

const std::map<uint32, std::string>& rid_names() {
  static const std::map<uint32, std::string> names = {
      {500, "User Admin"},
      {501, "User Guest"},
      {502, "KRBTGT [key distrib center]"},
      {512, "Domain Admin"},
      {513, "Domain Users"},
      {514, "Domain Guests"},
      {515, "Domain Computers"},
      {516, "Domain Controllers"},
      {517, "Domain Certificate Publishers"},
      {518, "Domain Schema Admins"},
      {519, "Domain Server Admins"},
      {520, "Domain Policy Creater/Owner"},
      {533, "Domain RAS & IAS Servers"},
      {544, "Admins"},
      {545, "Users"},
      {546, "Guests"},
      {547, "Power Users"},
      {548, "Account Operators"},
      {549, "Server Operators"},
      {550, "Print Operators"},
      {551, "Backup Operators"},
      {552, "Replicators"},
      {553, "RAS Services"},
      {554, "Pre Win2k Compatible Access"},
      {555, "Remote Desktop Users"},
      {556, "Network Configuration Operators"},
      {557, "Incoming Trust Forest Builders"},
      {558, "Performance Monitor Users"},
      {559, "Performance Log Users"},
      {560, "Windows Authorization Access Group"},
      {561, "Terminal Server License Servers"},
  };
  return names;
}

bool rid_name(uint32 rid, std::string& out) {
  out.clear();
  const std::map<uint32, std::string>& names = rid_names();
  auto it = names.find(rid);
  if (it == names.end()) return false;
  out = it->second;
  return true;
}

const char* identifier_authority_name(uint8 authority) {
  return authority < sizeof k_authorities / sizeof k_authorities[0] ? k_authorities[authority] : "unk";
}

void sub_authority_name(uint8 authority, uint32 index, uint32 value, std::string& out) {
  out = "unk";
  if (index > 0) {
    if (!rid_name(value, out)) out = "unk";
    return;
  }
  switch (authority) {
    case 0:
      out = "null";
      break;
    case 1:
      out = "World";
      break;
    case 2:
      out = "Local";
      break;
    case k_creator_authority:
      if (value < sizeof k_creator_groups / sizeof k_creator_groups[0]) out = k_creator_groups[value];
      break;
    case k_nt_authority:
      if (value < sizeof k_nt_groups / sizeof k_nt_groups[0]) out = k_nt_groups[value];
      break;
    default:
      break;
  }
}
