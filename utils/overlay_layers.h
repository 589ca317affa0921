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

// The upper folder of the overlay mount `mount`, where all written through
// it goes, found as overlay_layer_file finds a relative layer; false for a
// read-only overlay, which has none, or where it is not found.
bool overlay_upper_folder(const mount_entry& mount, std::string& folder);

// The file of a layer of the overlay mount `mount` that the file seen at
// `path` through it, with the status `seen`, stands for: the topmost of that
// name whose type, size and times the overlay shows. A relative layer is
// looked for from the folder holding the mount point, then the working
// folder. False for none or no overlay; memory running out throws bad_alloc.
bool overlay_layer_file(const std::string& path, const struct stat& seen, const mount_entry& mount, std::string& name,
                        struct stat& status);

}  // namespace uni
