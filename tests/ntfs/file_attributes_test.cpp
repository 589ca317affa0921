// File-attribute flag names as the entry writers print them.
#include "ntfs/file_attributes.h"

#include <gtest/gtest.h>

TEST(FileAttributes, NamesInTableOrder) {
  struct row {
    uint32 flags;
    const char* text;
  } rows[] = {
      {0, "none set"},
      {0x8, "unk"},
      {0x8000, "unk"},
      {0x20000000, "unk"},
      {0x28, "ARCHIVE"},
      {0x21, "READ_ONLY, ARCHIVE"},
      {0x10000000, "DIRECTORY"},
      {0x10000010, "DIRECTORY, DIRECTORY"},
      {0x10000026, "HIDDEN, SYSTEM, ARCHIVE, DIRECTORY"},
      {0xFFFFFFFF,
       "READ_ONLY, HIDDEN, SYSTEM, DIRECTORY, ARCHIVE, DEVICE, NORMAL, TEMPORARY, SPARSE_FILE, REPARSE_PT, "
       "COMPRESSED, OFFLINE, CONTENT_NOT_INDEXED, ENCRYPTED, VIRTUAL, DIRECTORY"},
  };
  for (const row& r : rows) {
    std::string out = "left over";
    file_attributes_to_string(out, r.flags);
    EXPECT_EQ(out, r.text) << std::hex << r.flags;
  }
}
