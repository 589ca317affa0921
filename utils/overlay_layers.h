#pragma once
// A file seen through an overlay mount is a file of one of its layers (the
// upper folder, or a lower one while it was never written through the
// overlay), under another device number: writing either writes what the
// other shows. These find that file from what the mount table says.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "utils/mount_sources.h"

namespace uni {

// The layers the options of an overlay mount name, the upper one first,
// then the lower ones from the top (and the data-only ones): "upperdir=",
// "lowerdir=" with its layers separated by ':' and a backslash taking the
// character after it as it is, "lowerdir+=" and "datadir+=" one layer each.
// Names stay as given when the overlay was mounted: one may be relative.
std::vector<std::string> overlay_layers(const std::vector<std::string>& options);

// The upper folder of the overlay mount `mount`, where everything written
// through it goes, found as overlay_layer_file finds a layer named relative
// to a folder; false when it has none (a read-only overlay) or it is not
// found.
bool overlay_upper_folder(const mount_entry& mount, std::string& folder);

// The file in a layer of the overlay mount `mount` that the file seen at
// `path` through it, with the status `seen`, stands for: the topmost layer's
// file of that name whose type, size and times are those the overlay shows of
// it. A layer named relative to a folder is looked for from the folder that
// holds the mount point, then from the working folder. False when there is
// none, or `mount` is no overlay. Memory that runs out throws std::bad_alloc.
bool overlay_layer_file(const std::string& path, const struct stat& seen, const mount_entry& mount, std::string& name,
                        struct stat& status);

}  // namespace uni
