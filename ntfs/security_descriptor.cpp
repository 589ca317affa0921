#include "ntfs/security_descriptor.h"

#include <cstdio>
#include <ostream>

#include "ntfs/zq_hex_view.h"
#include "utils/sid_text.h"

namespace {

const uint8 k_object_ace_first = 5;
const uint8 k_object_ace_last = 8;
const uint32 k_object_type_present = 0x1;
const uint32 k_inherited_object_type_present = 0x2;
const uint32 k_guid_size = 16;
const uint32 k_record_column = 15;

// The SID at `off` of `view`, when its fixed part and every sub-authority its
// count announces lie inside the view.
bool sid_at(const byte_view& view, uint64 off, byte_view& sid) {
  uint8 count = 0;
  if (!view.has(off, SID_SUB_AUTHORITIES) || !view.u8(off + SID_COUNT, count)) return false;
  sid = view.sub(off, SID_SUB_AUTHORITIES + 4ull * count);
  return sid.data != nullptr;
}

// The length a SID announces for itself.
uint64 own_sid_length(const byte* sid) { return SID_SUB_AUTHORITIES + 4ull * sid[SID_COUNT]; }

std::string sid_text(const byte_view& sid) {
  std::string text;
  byte_view checked;
  if (sid_at(sid, 0, checked)) sid_to_string_into(text, checked.data);
  return text;
}

std::string account_name(const byte_view& view) {
  std::string name = "unk";
  byte_view sid;
  if (!sid_at(view, 0, sid)) return name;
  const uint8 count = sid.data[SID_COUNT];
  const uint8 authority = sid.data[SID_AUTHORITY + 5];
  if (count == 1) {
    sub_authority_name(authority, 0, load_u32(sid.data, SID_SUB_AUTHORITIES), name);
  } else if (count > 1) {
    if (!rid_name(load_u32(sid.data, SID_SUB_AUTHORITIES + 4ull * (count - 1)), name)) name = "unk";
  }
  return name;
}

// Object ACEs carry a flags word and up to two GUIDs before their SID.
uint64 ace_sid_offset(const byte_view& ace, uint8 type) {
  uint32 object_flags = 0;
  if (type < k_object_ace_first || type > k_object_ace_last || !ace.u32(ACE_SID, object_flags)) return ACE_SID;
  uint64 off = ACE_SID + 4;
  if (object_flags & k_object_type_present) off += k_guid_size;
  if (object_flags & k_inherited_object_type_present) off += k_guid_size;
  return off;
}

// Adds the ACEs of `acl`, which is already bounded by the ACL's size and the
// descriptor. False when an ACE does not fit.
bool add_acl_entries(ace_record_map& out, const byte_view& acl) {
  uint16 count = 0;
  if (!acl.u16(ACL_ACE_COUNT, count)) return false;
  uint64 off = ACL_HEADER_SIZE;
  for (uint32 i = 0; i < count; ++i) {
    uint16 ace_size = 0;
    if (!acl.u16(off + ACE_SIZE, ace_size) || ace_size < ACE_SID || !acl.has(off, ace_size)) return false;
    const byte_view ace = acl.sub(off, ace_size);
    off += ace_size;
    const uint8 type = ace.data[ACE_TYPE];
    byte_view sid;
    // A SID that runs past its own ACE is damage inside one entry: the size
    // chain still holds, so the next ACE is read.
    if (!sid_at(ace, ace_sid_offset(ace, type), sid)) continue;
    ace_record record;
    ace_type_name(type, record.type_name, true);
    access_mask_names(load_u32(ace.data, ACE_MASK), record.mask_names);
    sid_to_string_into(record.sid_text, sid.data);
    record.account_name = account_name(sid);
    auto placed = out.emplace(record.sid_text + record.type_name, record);
    if (!placed.second) placed.first->second.mask_names += " | " + record.mask_names;
  }
  return true;
}

// The ACL at `acl_offset`, cut to its own size and to the descriptor.
bool acl_view(const byte_view& sd, int acl_offset, byte_view& acl) {
  uint16 acl_size = 0;
  if (acl_offset < 0 || !sd.has(static_cast<uint64>(acl_offset), ACL_HEADER_SIZE) ||
      !sd.u16(static_cast<uint64>(acl_offset) + ACL_SIZE, acl_size))
    return false;
  const uint64 start = static_cast<uint64>(acl_offset);
  const uint64 room = sd.size - start;
  acl = sd.sub(start, acl_size < room ? acl_size : room);
  return true;
}

std::string column(const std::string& text) {
  std::string padded = text;
  if (padded.size() < k_record_column) padded.append(k_record_column - padded.size(), ' ');
  return padded;
}

void print_acl(std::ostream& out, const byte_view& sd, uint32 acl_offset, const char* heading, const std::string& p) {
  // No descriptor comes near 2 GiB: an offset that large is damage.
  if (acl_offset == 0 || acl_offset > 0x7FFFFFFFu) return;
  ace_record_map records;
  parse_security_descriptor_acl(records, sd, static_cast<int>(acl_offset));
  if (records.empty()) return;
  std::string text = "\n" + p + heading + "\n";
  for (const auto& entry : records) {
    const ace_record& r = entry.second;
    text += p + column(r.type_name) + " " + column(r.account_name) + " " + r.mask_names + "\n";
  }
  out << text << std::right;
}

std::string sid_heading(const char* label, const byte_view& sd, uint32 off) {
  std::string text;
  if (off < sd.size) text = sid_to_string(sd.data + off, static_cast<uint32>(sd.size - off));
  return std::string(label) + text + "]";
}

// "(0x" position ") " label value, without a line end; false and nothing
// written when the field does not fit.
bool field(std::ostream& out, const byte_view& record, uint32 off, uint64 base, const char* label, int width) {
  if (!record.has(off, static_cast<uint64>(width) / 2)) return false;
  uint64 value = 0;
  for (int i = width / 2 - 1; i >= 0; --i) value = (value << 8) | record.data[off + i];
  char text[64];
  std::snprintf(text, sizeof text, "(0x%08llx) %s%0*llx", static_cast<unsigned long long>(base + off), label, width,
                static_cast<unsigned long long>(value));
  out << text;
  return true;
}

bool field_line(std::ostream& out, const byte_view& record, uint32 off, uint64 base, const char* label, int width) {
  if (!field(out, record, off, base, label, width)) return false;
  out << "\n";
  return true;
}

byte_view ace_own_view(const byte* ace) {
  if (!ace) return byte_view();
  const uint16 size = load_u16(ace + ACE_SIZE);
  return byte_view(ace, size < 4 ? 4 : size);
}

}  // namespace

std::ostream& print_security_descriptor(std::ostream& out, const security_descriptor* sd, uint32 size,
                                        const char* prefix) {
  return print_security_descriptor(out, reinterpret_cast<const byte*>(sd), size, prefix);
}

std::ostream& print_security_descriptor(std::ostream& out, const byte* sd, uint32 size, const char* prefix) {
  const std::string p = prefix ? prefix : "";
  out << p << "Security Identifiers\n";
  // Shorter than its own header, the value holds no offsets worth trusting.
  if (!sd || size < SD_HEADER_SIZE) return out;
  const byte_view view(sd, size);
  uint32 owner = 0, group = 0, sacl = 0, dacl = 0;
  if (view.u32(SD_OWNER_OFFSET, owner) && owner != 0) out << p << sid_heading("owner sid [", view, owner) << "\n";
  if (view.u32(SD_GROUP_OFFSET, group) && group != 0) out << p << sid_heading("group sid [", view, group) << "\n";
  if (view.u32(SD_SACL_OFFSET, sacl)) print_acl(out, view, sacl, "System Access Control List", p);
  if (view.u32(SD_DACL_OFFSET, dacl)) print_acl(out, view, dacl, "Discretionary Access Control List", p);
  return out;
}

bool parse_security_descriptor_acl(ace_record_map& out, const byte_view& sd, int acl_offset) {
  byte_view acl;
  if (!acl_view(sd, acl_offset, acl)) return false;
  return add_acl_entries(out, acl);
}

bool parse_security_descriptor_acl(ace_record_map& out, const byte* sd, int acl_offset) {
  if (!sd || acl_offset < 0) return false;
  const byte* acl = sd + acl_offset;
  return add_acl_entries(out, byte_view(acl, load_u16(acl + ACL_SIZE)));
}

void write_sid_name(std::ostream& out, const byte_view& sid) { out << account_name(sid); }

void write_sid_name(std::ostream& out, const byte* sid) {
  write_sid_name(out, sid ? byte_view(sid, own_sid_length(sid)) : byte_view());
}

void write_sid_line(std::ostream& out, const byte_view& sid, bool names) {
  std::string text = "sid [" + sid_text(sid) + "]";
  byte_view checked;
  if (names && sid_at(sid, 0, checked)) {
    text += " : ";
    const uint8 count = checked.data[SID_COUNT];
    const uint8 authority = checked.data[SID_AUTHORITY + 5];
    std::string name;
    for (uint32 i = 0; i < count; ++i) {
      sub_authority_name(authority, i, load_u32(checked.data, SID_SUB_AUTHORITIES + 4ull * i), name);
      if (i) text += ", ";
      text += name;
    }
  }
  out << text;
}

void write_sid_line(std::ostream& out, const byte* sid, bool names) {
  write_sid_line(out, sid ? byte_view(sid, own_sid_length(sid)) : byte_view(), names);
}

void dump_security_descriptor_header(std::ostream& out, const byte_view& record, uint32 offset) {
  out << "- Security Descriptor -\n";
  if (!field_line(out, record, SD_REVISION, offset, "rev:                0x", 2)) return;
  if (!field_line(out, record, SD_PADDING, offset, "pad:                0x", 2)) return;
  if (!field(out, record, SD_CONTROL, offset, "control:            0x", 4)) return;
  std::string names;
  sd_control_names(load_u16(record.data, SD_CONTROL), names);
  out << " [ " << names << " ] \n";
  if (!field_line(out, record, SD_OWNER_OFFSET, offset, "owner:              0x", 8)) return;
  if (!field_line(out, record, SD_GROUP_OFFSET, offset, "group:              0x", 8)) return;
  if (!field_line(out, record, SD_SACL_OFFSET, offset, "sacl:               0x", 8)) return;
  field_line(out, record, SD_DACL_OFFSET, offset, "dacl:               0x", 8);
}

void dump_security_descriptor_header(std::ostream& out, const byte* record, uint32 offset) {
  dump_security_descriptor_header(out, byte_view(record, record ? SD_HEADER_SIZE : 0), offset);
}

void dump_security_descriptor_header(std::ostream& out, const byte* record) {
  dump_security_descriptor_header(out, record, 0);
}

void dump_acl_header(std::ostream& out, const byte_view& record, uint32 offset) {
  if (!field_line(out, record, ACL_REVISION, offset, "rev:                0x", 2)) return;
  if (!field_line(out, record, 1, offset, "pad:                0x", 2)) return;
  if (!field_line(out, record, ACL_SIZE, offset, "size:               0x", 4)) return;
  if (!field_line(out, record, ACL_ACE_COUNT, offset, "count:              0x", 4)) return;
  field_line(out, record, ACL_UNUSED, offset, "unk:                0x", 4);
}

void dump_acl_header(std::ostream& out, const byte* record, uint32 offset) {
  dump_acl_header(out, byte_view(record, record ? ACL_HEADER_SIZE : 0), offset);
}

void dump_acl_header(std::ostream& out, const byte* record) { dump_acl_header(out, record, 0); }

void dump_ace(std::ostream& out, const byte_view& record, uint32 offset) {
  out << "- ACE -\n";
  std::string names;
  if (!field(out, record, ACE_TYPE, offset, "type:               0x", 2)) return;
  const uint8 type = record.data[ACE_TYPE];
  ace_type_name(type, names, true);
  out << " (" << names << ")\n";
  if (!field(out, record, ACE_FLAGS, offset, "flags:              0x", 2)) return;
  ace_flag_names(record.data[ACE_FLAGS], names);
  out << " ( " << names << " )\n";
  if (!field_line(out, record, ACE_SIZE, offset, "size:               0x", 4)) return;
  // Only the ACE's own bytes are shown, and only those inside the record.
  const uint16 declared = load_u16(record.data, ACE_SIZE);
  const byte_view ace = record.sub(0, declared < record.size ? declared : record.size);
  if (type <= 3) {
    if (field(out, ace, ACE_MASK, offset, "access_mask:        0x", 8)) {
      access_mask_names(load_u32(ace.data, ACE_MASK), names);
      out << " ( " << names << ") \n";
      dump_sid(out, ace.size > ACE_SID ? ace.sub(ACE_SID, ace.size - ACE_SID) : byte_view(), offset + ACE_SID);
    }
  } else if (ace.size > 4) {
    zq::hex_dump_limited(ace.data + 4, static_cast<uint32>(ace.size - 4), out, 0, static_cast<ulong64>(offset) + 4);
  }
  out << "\n";
}

void dump_ace(std::ostream& out, const byte* record, uint32 offset) { dump_ace(out, ace_own_view(record), offset); }

void dump_ace(std::ostream& out, const byte* record) { dump_ace(out, record, 0); }

void dump_sid(std::ostream& out, const byte_view& record, uint32 offset) {
  out << "sid [" << sid_text(record) << "]\n";
  if (!field_line(out, record, SID_REVISION, offset, "SID rev:            0x", 2)) return;
  if (!field_line(out, record, SID_COUNT, offset, "subauthority count: 0x", 2)) return;
  if (!record.has(SID_AUTHORITY, 6)) return;
  char text[64];
  std::snprintf(text, sizeof text, "(0x%08llx) ident authority:    0x",
                static_cast<unsigned long long>(static_cast<uint64>(offset) + SID_AUTHORITY));
  std::string line = text;
  for (uint32 i = 0; i < 6; ++i) {
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(record.data[SID_AUTHORITY + i]));
    line += text;
  }
  const uint8 authority = record.data[SID_AUTHORITY + 5];
  out << line << ": " << identifier_authority_name(authority) << "\n";
  const uint32 count = record.data[SID_COUNT];
  std::string name;
  for (uint32 i = 0; i < count; ++i) {
    const uint64 at = SID_SUB_AUTHORITIES + 4ull * i;
    if (!record.has(at, 4)) return;
    const uint32 value = load_u32(record.data, at);
    sub_authority_name(authority, i, value, name);
    std::snprintf(text, sizeof text, "(0x%08llx) sub_authority[%x]:   0x%08x: ",
                  static_cast<unsigned long long>(offset + at), i, static_cast<unsigned>(value));
    out << text << name << "\n";
  }
}

void dump_sid(std::ostream& out, const byte* record, uint32 offset) {
  dump_sid(out, record ? byte_view(record, own_sid_length(record)) : byte_view(), offset);
}

void dump_sid(std::ostream& out, const byte* record) { dump_sid(out, record, 0); }
