#pragma once
// One MFT entry read from the open source (an extracted $MFT file or a
// volume) and sorted by attribute kind into an inode_attributes record.
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/user_ctx.h"
#include "ntfs/data_runs.h"
#include "ntfs/tree_node.h"
#include "utils/byte_order.h"
#include "utils/types.h"

// The first 72 bytes of a $STANDARD_INFORMATION value (bytes past a shorter
// value are 0): created at 0, modified 8, MFT changed 16, accessed 24.
struct si_record {
  byte data[72] = {};
  bool time_suspect = false;
  std::string note;
};

// The first 68 bytes of a $FILE_NAME value: parent reference at 0, times at
// 8 (created), 16 (modified), 24 (MFT changed), 32 (accessed), allocated
// size 40, real size 48, flags 56, name length 64, namespace 65.
struct filename_record {
  byte data[68] = {};
  std::wstring name;
  bool dos_name = false;
  bool time_suspect = false;
  std::string note;
  bool present = true;
};

struct objid_record {
  byte data[64] = {};  // object id, birth volume id, birth object id, domain id
  uint32 value_length = 0;
  std::string name;  // the attribute's own name
};

struct volinfo_record {
  byte data[12] = {};  // 8 reserved, major, minor, flags
  std::string version;
};

struct parent_record {
  ulong64 reference = 0;  // entry and sequence
  std::wstring path;      // filled by the directory walker
  std::wstring name;
};

// One attribute as stored: its whole bytes, and the decoded runs of a
// non-resident one.
class attribute_record {
 public:
  attribute_record() = default;
  // `length` is the attribute's own length, already checked to lie inside
  // the record that holds it.
  attribute_record(const byte* attribute, uint32 length);
  // The same for a caller that holds only the header: the attribute is taken
  // as long as its header says, so the caller's buffer must hold it whole
  // (see attribute_own_length).
  explicit attribute_record(const byte* attribute);

  std::wstring name;  // the attribute's name: its UTF-8 bytes, one per character
  std::string label;
  std::vector<byte> raw;
  std::string text;
  std::vector<byte> value;  // not filled here
  bool is_ads = false;
  bool is_data = false;
  // A resident security descriptor's text, each line indented by two
  // blanks; empty for any other attribute.
  std::string detail;
  std::vector<data_run> runs;

  uint32 type() const;
};

class inode_attributes {
 public:
  inode_attributes() { clear(); }

  void clear();
  // Files one attribute of the record [record, record + length). False when
  // the header is not wholly inside the record; `is_attr_list` says that the
  // attribute is an $ATTRIBUTE_LIST for the caller to follow.
  //
  // Attribute ids are numbered per FILE record, so the records of one
  // attribute list repeat them: an attribute is known by the record holding
  // it (`holder`), its type and its id, and filed once. It takes the key the
  // maps' rules give it. An attribute of the entry's own record whose key is
  // held already is a second one of that id and is dropped; one of another
  // record takes the next free key above it (the attribute key's bits 32 to
  // 47, the high 16 bits of a $FILE_NAME key, an id key's bits 16 to 31), so
  // the entry's own record is to be filed first. A non-resident piece of an
  // attribute from another record (same type and name, a later first VCN)
  // joins the piece already filed: its runs are added to that record's.
  bool parse_attribute(user_ctx& ctx, ulong64 entry_number, ulong64 holder, const byte* record, uint32 length,
                       const byte* header, bool& is_attr_list);
  // The same with the holder read from the record: the record `entry_number`
  // names, unless the record is an extension record that gives its own
  // number (u32 at 0x2C of an NTFS 3.1 record header).
  bool parse_attribute(user_ctx& ctx, ulong64 entry_number, const byte* record, uint32 length,
                       const byte* header, bool& is_attr_list);
  // Takes the entry number and the record header (at least FRH_SIZE bytes);
  // returns the offset of the first attribute.
  uint16 set_record_header(ulong64 entry_number, const byte* record_header);
  // False for an entry in use when only deleted entries are asked for.
  bool passes_deleted_filter(const user_ctx& ctx) const;

  std::wstring source_desc;
  bool has_attr_list = false;
  bool attr_list_nonresident = false;
  bool time_note_set = false;
  std::string time_note;
  ulong64 entry = 0;
  uint32 sequence = 0;
  byte header[40] = {};
  uint16 next_attr_id = 0;
  bool has_base_record = false;
  ulong64 base_record = 0;

  std::map<ulong64, si_record> si_records;
  std::map<ulong64, filename_record> filename_records;
  std::map<ulong64, objid_record> objid_records;
  std::map<ulong64, std::wstring> volume_names;
  std::map<ulong64, volinfo_record> volume_infos;
  std::map<ulong64, std::wstring> reparse_names;
  std::map<ulong64, attribute_record> attributes;
  std::map<ulong64, parent_record> parents;
  std::map<std::wstring, ulong64> names;

 private:
  // Every attribute filed from a record other than the entry's own: its
  // holder's entry number, and its type (high 48 bits) and id (low 16 bits).
  std::set<std::pair<ulong64, ulong64>> filed_;
  // Once an attribute of another record comes, the key of each non-resident
  // attribute by type and name, for the pieces that continue it.
  std::map<std::pair<uint32, std::wstring>, ulong64> pieces_;
  bool pieces_indexed_ = false;
  // Files `rec` under `key` (when `other_record`, under the next free key),
  // or joins it to the attribute it is a piece of; the record filed, or null
  // when it joined or its key was held.
  attribute_record* file_record(ulong64& key, attribute_record&& rec, bool other_record);

  // The last few security descriptors rendered, most recent first, with
  // their texts: a walker reuses one record for every entry, and on volumes
  // that keep a descriptor in each file's record neighbours share a handful
  // (one for files, one for folders ...). Survives clear().
  std::vector<std::pair<std::vector<byte>, std::string>> descriptors_;
  const std::string& descriptor_text(const byte_view& value);
};

// `key`, or, while `taken(key)` holds, the next key up by `step`: what an
// attribute of another record gets when one filed before holds its key. At
// most 65535 steps are taken (a field's worth); the key then found may
// still be taken.
template <class Taken>
ulong64 first_free_key(ulong64 key, ulong64 step, const Taken& taken) {
  for (uint32 n = 0; n < 0xFFFF && taken(key); ++n) key += step;
  return key;
}

// The key of a $FILE_NAME among filename_records: the parent's entry number
// in the low 48 bits, (id x 16 + name space) mod 65536 in the high 16.
inline ulong64 file_name_key(ulong64 parent, ulong64 id, uint8 name_space) {
  return (parent & 0x0000FFFFFFFFFFFFULL) | (((id * 16 + name_space) & 0xFFFF) << 48);
}
const ulong64 FILE_NAME_KEY_STEP = 1ULL << 48;

// The length an attribute header gives itself (u32 at byte 4), for the forms
// handed a header without a byte count: an attribute lies inside one FILE
// record, so a length beyond the largest record the engine reads is damage
// and gives 0, as does a null header. Only the header's first 8 bytes are
// read here.
uint32 attribute_own_length(const byte* attribute);

// Reads the FILE record of `entry` with its update-sequence fixups. A record
// marked "BAAD" is delivered as read with is_baad set.
bool read_source_record(std::vector<byte>& out, bool& is_baad, user_ctx& ctx, ulong64 entry);

// Clears `out` and fills it from the entry, following an attribute list.
bool read_inode(inode_attributes& out, user_ctx& ctx, ulong64 entry);

// Files the attributes of the entry's FILE record [record, record + size)
// from the first-attribute offset `offset` (0: none) up to where a header
// fails its checks, then follows the record's $ATTRIBUTE_LIST: the entry's
// own attributes are filed first, as parse_attribute asks.
void parse_record_attributes(inode_attributes& out, user_ctx& ctx, ulong64 entry, const byte* record, uint32 size,
                             uint32 offset);

// The entry's first name, its parent references and whether it is a
// directory; true when it has at least one parent.
bool get_inode_parents(std::wstring& name, ulong64_set& parents, bool& is_dir, ulong64 entry, user_ctx& ctx);
