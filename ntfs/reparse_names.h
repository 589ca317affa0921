#pragma once
// Where the target and print names of a reparse point's value begin. Name
// offsets count from value offset 16; a symbolic link keeps a flags word
// there before its names, which the reports and the summary text must step
// over or every name comes out shifted by two characters.
#include "utils/byte_order.h"
#include "utils/types.h"

// Reparse tags of the links a path lookup follows.
const uint32 REPARSE_TAG_MOUNT_POINT = 0xA0000003;
const uint32 REPARSE_TAG_SYMLINK = 0xA000000C;

const uint32 REPARSE_NAMES_START = 16;

struct reparse_names {
  uint64 target = 0, print = 0;  // value offsets
  uint32 target_length = 0, print_length = 0;
};

// Bytes of zero units from value offset `at` on: a name that begins with
// them is read, with the name stored after it, that many bytes further on.
uint64 zero_units_at(const byte_view& value, uint64 at);

// False when the value is too short to hold the name offsets and lengths.
// The offsets found are not checked against the value: read through it.
bool locate_reparse_names(const byte_view& value, reparse_names& names);
