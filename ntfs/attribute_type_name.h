#pragma once
// Display names of NTFS attribute type values, as every report prints them.
#include <string>

// Replaces `out` with the name of the attribute type ("unk" when unknown).
void attribute_type_name(std::string& out, int type);
std::string attribute_type_name(int type);
