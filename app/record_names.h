#pragma once
// The few fields of one MFT record that the pre-scan of every entry needs:
// whether it is a directory, its first name and its parent references. The
// record's other attributes are passed over unparsed, and of the records an
// $ATTRIBUTE_LIST names only their $FILE_NAME attributes are read.
#include <string>
#include <utility>
#include <vector>

#include "app/user_ctx.h"
#include "ntfs/tree_node.h"
#include "utils/types.h"

class record_names_reader {
 public:
  // The entry's first name (its $FILE_NAME with the smallest key, as
  // read_inode files them), parent references of its non-DOS names and the
  // directory flag; true when it has at least one parent. The same answer as
  // get_inode_parents. With dirs_only, the names of a record that is not a
  // directory are not read, and the answer is false.
  bool read(std::wstring& name, ulong64_set& parents, bool& is_dir, ulong64 entry, user_ctx& ctx,
            bool dirs_only = false);

 private:
  // Files one attribute of record `holder` when it is a $FILE_NAME; false
  // where the full reader's walk would stop. `is_list` tells an
  // $ATTRIBUTE_LIST.
  bool file_attribute(ulong64 holder, const byte* record, uint32 limit, const byte* attr, bool& is_list);

  std::vector<byte> record_;
  std::vector<uint16> units_;
  std::vector<ulong64> keys_;
  std::vector<std::pair<ulong64, ulong64>> filed_;  // holder and id of each name of another record
  ulong64 entry_ = 0;                                // the entry being read
  std::vector<std::pair<ulong64, ulong64>> parents_;  // entry, reference; first one kept
  bool named_ = false;
  ulong64 first_key_ = 0;
};
