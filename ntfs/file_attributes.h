#pragma once
// Names of the file-attribute flags kept in $STANDARD_INFORMATION and in every
// $FILE_NAME key, as the entry writers and the attribute reports print them.
#include <string>

#include "utils/types.h"

// Replaces `out` with the names of the flags set in `attributes`, in table
// order, joined by ", "; "unk" when only unnamed bits are set, "none set" for 0.
void file_attributes_to_string(std::string& out, uint32 attributes);
