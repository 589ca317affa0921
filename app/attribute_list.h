#pragma once
// $ATTRIBUTE_LIST: an entry whose attributes do not fit in one FILE record
// names, for each attribute, the record that holds it. Attributes kept in
// other records are fetched and filed into the same inode_attributes as if
// they stood in the base record.
#include <functional>

#include "app/record_reader.h"
#include "app/user_ctx.h"
#include "utils/types.h"

// Reads the list of the $ATTRIBUTE_LIST attribute at `attribute` (its own
// length `length`, already checked to lie in its record), resident or
// through the volume's clusters, and files what it names.
bool read_attribute_list(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* attribute,
                         uint32 length);

// The same for a caller that holds only the attribute's header: the list
// attribute is taken as long as its header says (attribute_own_length), so
// the caller's buffer must hold it whole.
bool read_attribute_list(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* attribute);

// Walks the list entries in [list, list + length) and files every attribute
// that lives in a record other than the base record.
bool parse_attribute_list_entries(inode_attributes& out, user_ctx& ctx, ulong64 base_entry, const byte* list,
                                  uint32 length);

// What a list names in another record: that record's entry number, the
// record (fixed up), the bytes of it an attribute walk may visit, and the
// attribute.
typedef std::function<void(ulong64 holder, const byte* record, uint32 limit, const byte* attribute)>
    listed_attribute_sink;

// The same two walks handing each listed attribute to `sink` instead of
// filing it: a reader that needs a few attributes parses only those.
bool visit_attribute_list(user_ctx& ctx, ulong64 base_entry, const byte* attribute, uint32 length,
                          const listed_attribute_sink& sink);
bool visit_attribute_list_entries(user_ctx& ctx, ulong64 base_entry, const byte* list, uint32 length,
                                  const listed_attribute_sink& sink);
