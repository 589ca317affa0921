#include "ntfs/file_attributes.h"

namespace {

struct flag_name {
  uint32 mask;
  const char* text;
};

// The order is the printed order. 0x10000000 is how NTFS marks a directory in
// $FILE_NAME values and index keys, so it reads "DIRECTORY" as well.
const flag_name k_flag_names[] = {
    {0x1, "READ_ONLY, "},
    {0x2, "HIDDEN, "},
    {0x4, "SYSTEM, "},
    {0x10, "DIRECTORY, "},
    {0x20, "ARCHIVE, "},
    {0x40, "DEVICE, "},
    {0x80, "NORMAL, "},
    {0x100, "TEMPORARY, "},
    {0x200, "SPARSE_FILE, "},
    {0x400, "REPARSE_PT, "},
    {0x800, "COMPRESSED, "},
    {0x1000, "OFFLINE, "},
    {0x2000, "CONTENT_NOT_INDEXED, "},
    {0x4000, "ENCRYPTED, "},
    {0x10000, "VIRTUAL, "},
    {0x10000000, "DIRECTORY, "},
};

}  // namespace

void file_attributes_to_string(std::string& out, uint32 attributes) {
  out.clear();
  for (const flag_name& f : k_flag_names) {
    if (attributes & f.mask) out += f.text;
  }
  if (out.size() > 2) out.resize(out.size() - 2);
  if (out.empty()) out = attributes ? "unk" : "none set";
}
