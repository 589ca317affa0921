#pragma once
// A file seen through an overlay mount is, under another device number, one
// of a layer (the upper folder, or a lower one until written through the
// overlay): writing either writes the other. Found from the mount table.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "utils/mount_sources.h"

namespace uni {

// The layers an overlay mount's options name, the upper first, then the
// lower from the top, then the data-only: "upperdir=", "lowerdir=" (split at
// ':', a backslash taking the next character as it is), "lowerdir+=" and
// "datadir+=" one each. Names stay as mounted: one may be relative.
std::vector<std::string> overlay_layers(const std::vector<std::string>& options);

// The upper folder of the overlay `mount`, which takes all written through it,
// found as overlay_layer_file finds one; false where none (read-only) is found.
bool overlay_upper_folder(const mount_entry& mount, std::string& folder);

// The layer file of the overlay `mount` that the file seen at `path` (status
// `seen`) stands for: the topmost of that name with the type, size and times
// shown. A relative layer is looked for beside the mount point, then in the
// working folder. False for none or no overlay; may throw bad_alloc.
bool overlay_layer_file(const std::string& path, const struct stat& seen, const mount_entry& mount, std::string& name,
                        struct stat& status);

}  // namespace uni
