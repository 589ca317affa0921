#pragma once
// An independent view of INDX slack for the carver's tests: it takes a
// directory's $I30 allocation as ntfscat (or icat) extracts it, undoes the
// update sequence of each record itself, and looks for whole old entries of
// given names beyond each record's used length. It shares no code with the
// engine's index parser.
#include <cstdint>
#include <string>
#include <vector>

namespace quor_test {

struct slack_name {
  uint64_t record_offset = 0;  // the record's offset in the allocation
  uint32_t entry_offset = 0;   // the old entry's offset in its record
  std::string name;            // UTF-8
};

// The raw $INDEX_ALLOCATION:$I30 bytes of MFT entry `inode`; false when no
// extraction tool is installed or the directory has no allocation.
bool extract_index_allocation(const std::string& image, uint64_t inode, std::vector<uint8_t>& out);

// In each "INDX" record of `record_size` bytes, the entries of `names` that
// lie whole after the record's used part (from its last-entry record on):
// the name's UTF-16LE bytes, its length byte 2 bytes before them, and the
// parent directory `dir` at entry offset 16.
std::vector<slack_name> find_slack_names(std::vector<uint8_t> allocation, uint32_t record_size, uint64_t dir,
                                         const std::vector<std::string>& names);

// Undoes a record's update sequence when every 512-byte stride still ends
// in the check value; leaves it alone otherwise. Written apart from the
// engine's fixup so that tests do not build expected bytes with it.
void undo_update_sequence(uint8_t* record, uint32_t size);

}  // namespace quor_test
