#pragma once
// Labelled text reports of NTFS attribute values: $STANDARD_INFORMATION,
// $ATTRIBUTE_LIST, $FILE_NAME, $OBJECT_ID, $VOLUME_INFORMATION with the NTFS
// version names, and $REPARSE_POINT.
//
// The forms that take a byte_view or a size read only inside it, and stop
// at the first field that does not fit; the names and raw bytes a value
// points at are cut to it. The bare-pointer forms trust the value's own
// lengths (its name length, its data length) and are for values already
// checked.
#include <iosfwd>

#include "utils/byte_order.h"
#include "utils/types.h"

std::ostream& dump_standard_information(std::ostream& os, const byte* value, uint32 base, uint32 size);
std::ostream& dump_standard_information(std::ostream& os, const byte* value);  // 48 bytes

// "MACE times: " with the times at 8, 24, 0 and 16, then the attribute names.
std::ostream& print_mace_times(std::ostream& os, const byte_view& value);
std::ostream& print_mace_times(std::ostream& os, const byte* value);  // 36 bytes

std::ostream& dump_file_name_attribute(std::ostream& os, const byte_view& value, uint32 base);
std::ostream& dump_file_name_attribute(std::ostream& os, const byte* value, uint32 base);
std::ostream& dump_file_name_attribute(std::ostream& os, const byte* value);

std::ostream& dump_object_id(std::ostream& os, const byte* value, uint32 size, uint32 base);
std::ostream& dump_object_id(std::ostream& os, const byte* value);  // 64 bytes
std::ostream& print_object_id_short(std::ostream& os, const byte* value, uint32 size);
// "{ ", the 16-byte GUID's text, " }".
std::ostream& print_guid(std::ostream& os, const byte* guid);

std::ostream& dump_volume_information(std::ostream& os, const byte_view& value, uint32 base);
std::ostream& dump_volume_information(std::ostream& os, const byte* value, uint32 base);  // 12 bytes
std::ostream& dump_volume_information(std::ostream& os, const byte* value);
// "ver = ", major:minor in decimal and the version name.
std::ostream& print_ntfs_version(std::ostream& os, const byte_view& value);
std::ostream& print_ntfs_version(std::ostream& os, const byte* value);
// " (WinNT)", " (Win2k)", " (WinXP)" or " (unk version)".
const char* ntfs_version_name(uint32 major, uint32 minor);

std::ostream& dump_reparse_point(std::ostream& os, const byte_view& value, uint32 base);
std::ostream& dump_reparse_point(std::ostream& os, const byte* value, uint32 base);
std::ostream& dump_reparse_point(std::ostream& os, const byte* value);
std::ostream& print_reparse_print_name(std::ostream& os, const byte_view& value);
std::ostream& print_reparse_print_name(std::ostream& os, const byte* value);

// Every $ATTRIBUTE_LIST entry of the `size` bytes at `entries`.
std::ostream& dump_attribute_list(std::ostream& os, const byte* entries, uint32 base, uint32 size);
