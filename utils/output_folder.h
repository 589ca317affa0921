#pragma once
// Making the folders quor writes into (the walker's copy folder) so that none
// of them lands on the evidence: the folder twin of the guarded opener
// (utils/output_file). A path may lead through links that someone switches
// between the check and the mkdir, so it is walked once: each missing folder
// is made relative to the descriptor of the folder it goes into, after that
// was checked, and opened without following a link.
#include <string>

#include "utils/output_file.h"

namespace uni {

enum class folder_result { made, is_source, failed };

// Makes the folder `path` with the folders missing above it, as mkdir -p
// would ("." and ".." taken as the system takes them, a link in the way
// followed): `made` also when it was there already. A folder something would
// be made in, or `path` itself when there already, that
// folder_descriptor_reach does not find clear is refused with is_source,
// "refused to write: <path>: <why>" on standard error, and nothing made in
// it. Any other failure (a file in the way, no permission) is `failed`. On
// `made`, `dirfd` holds the folder open for reading (closed on exec; the
// caller closes it), for the files to be made in it whatever becomes of its
// path; -1 on any other result.
folder_result make_output_folder(const std::string& path, const file_identities& sources, int& dirfd);

// A name that leads to the folder open at `dirfd` for as long as it is
// open, whatever becomes of the path it was reached by: its link under
// /proc, or `path` where /proc does not lead there.
std::string held_folder_name(int dirfd, const std::string& path);

}  // namespace uni
