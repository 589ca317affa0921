#pragma once
// Summary items: small binary records that summarise an MFT entry or one of
// its attributes, each in an unpacked form (the bytes as held in memory) and
// a packed form (fields cut to the bits they need). Packers append to a
// vector; unpackers take the length of what they read and answer 0 (or
// false) when it ends before the item does.
#include <vector>

#include "ntfs/data_runs.h"
#include "utils/types.h"

const uint32 ITEM_HEADER_UNPACKED = 17;
const uint32 ITEM_HEADER_PACKED = 4;
const uint32 ITEM_BODY_SIZE = 50;
const uint32 ITEM_SIZE = ITEM_HEADER_UNPACKED + ITEM_BODY_SIZE;  // 67
const uint32 ENTRY_SUMMARY_TYPE = 0x110;
const uint32 ENTRY_SUMMARY_UNPACKED = 17;
const uint32 ATTRIBUTE_SUMMARY_UNPACKED = 38;
const uint32 ATTRIBUTE_SUMMARY_PACKED = 20;

struct item_header {
  uint32 type = 0;  // an attribute type, or ENTRY_SUMMARY_TYPE
  uint16 small_value = 0;
  uint16 word_value = 0;
  ulong64 key = 0;  // not stored in the packed form
  uint8 flag = 0;
};

// One item in memory: its header and the 50-byte body area (the unpacked
// body of its kind, zero-filled).
struct summary_item {
  item_header header;
  byte body[ITEM_BODY_SIZE];

  summary_item() : header(), body{} {}
};
// Sets the 67 bytes of an item in its unpacked form (header and body area)
// to 0; a null item is left alone.
void clear_item_buffer(byte* item);
// The same for an item held as its header and body.
void clear_item_buffer(summary_item& item);

struct entry_summary {
  uint32 reference_low = 0;   // MFT entry number bits 0-31
  uint16 reference_high = 0;  // bits 32-47
  uint16 sequence = 0;
  uint8 flags = 0;  // 1 not in use, 2 directory, 4 built, bits 3-6 link count, 0x80 base reference present
  ulong64 base_reference = 0;

  void load(const byte* body);   // from the 17 unpacked bytes
  void store(byte* body) const;  // into 17 bytes
};

struct attribute_summary {
  uint32 words[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};  // the nine u32 at 0 .. 32
  uint8 low_bit = 0;                               // byte 36: only bit 0 is kept
  uint8 has_runs = 0;                              // byte 37

  void load(const byte* body);   // from the 38 unpacked bytes
  void store(byte* body) const;  // into 38 bytes
};

// Little-endian appenders the packers of items and of entry records share.
void append_u16(std::vector<byte>& out, uint16 v);
void append_u32(std::vector<byte>& out, uint32 v);
void append_u64(std::vector<byte>& out, ulong64 v);

uint32 item_header_size(bool packed);
uint32 unpack_item_header(item_header& out, const byte* src, uint32 length, bool packed);
uint32 pack_item_header(const item_header& header, std::vector<byte>& out, bool packed);

uint32 unpack_entry_summary(entry_summary& out, const byte* src, uint32 length, bool packed);
uint32 pack_entry_summary(const entry_summary& summary, std::vector<byte>& out, bool packed);
// An entry-summary item for the FILE record header `header` (`length`
// bytes, at least 42) of the entry with this reference.
bool build_entry_summary_item(summary_item& out, ulong64 reference, const byte* header, uint32 length);

// The run list follows the summary when its has-runs flag is set; a stored
// run count or run that reaches past `length` fails the whole unpack.
uint32 unpack_attribute_summary(attribute_summary& out, const byte* src, uint32 length, std::vector<data_run>& runs,
                                bool packed);
uint32 pack_attribute_summary(const attribute_summary& summary, std::vector<byte>& out,
                              const std::vector<data_run>& runs, bool packed);

// The same unpackers and builder for a caller whose buffer holds the whole
// item (or the whole 42-byte FILE record header) but gives no length: each
// reads the bytes its form, flags or run count say the item has, and no
// more.
uint32 unpack_item_header(item_header& out, const byte* src, bool packed);
uint32 unpack_entry_summary(entry_summary& out, const byte* src, bool packed);
bool build_entry_summary_item(summary_item& out, ulong64 reference, const byte* header);
uint32 unpack_attribute_summary(attribute_summary& out, const byte* src, std::vector<data_run>& runs,
                                bool packed);

// Four- and sixteen-byte items, the same bytes in both forms.
uint32 unpack_word_item(byte* out, const byte* src, uint32 length);
uint32 pack_word_item(const byte* item, std::vector<byte>& out);
uint32 unpack_quad_item(byte* out, const byte* src, uint32 length);
uint32 pack_quad_item(const byte* item, std::vector<byte>& out);

// Header plus the unpacked body of the item's kind.
uint32 item_size(const item_header& header, bool packed);
