#pragma once
// What a mounted file system was mounted from, as the system's mount table
// (/proc/self/mountinfo) names it: a block device, or for a FUSE file system
// such as ntfs-3g over an image, often the image file itself.
#include <string>
#include <vector>

#include "utils/types.h"

namespace uni {

// Adds to `out` the source of every mount whose device number is `device`
// (the st_dev of a file stored there), with the table's escapes (\040 for a
// blank, ...) undone. False when the table cannot be read or no mount has
// that number.
bool mount_sources_of(uint64 device, std::vector<std::string>& out);

// The source field of one line of the mount table when its device number
// (the major:minor field) is `device`; false for any other line or one not
// in the table's form.
bool mount_source_in_line(const std::string& line, uint64 device, std::string& source);

}  // namespace uni
