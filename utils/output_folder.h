#pragma once
// Making the folders quor writes into (the walker's copy folder) off the
// evidence: the folder twin of utils/output_file. Links in a path may be
// switched between check and mkdir, so it is walked once: each missing
// folder is made relative to its checked parent's descriptor, no link followed.
#include <string>

#include "utils/output_file.h"

namespace uni {

enum class folder_result { made, is_source, failed };

// Makes the folder `path` and those missing above it as mkdir -p would ("."
// and ".." taken as the system takes them, a link in the way followed):
// `made` also when it was there. Where a folder something would be made in,
// or `path` when there, is not clear (folder_descriptor_reach): is_source,
// "refused to write: <path>: <why>" on standard error, nothing made there.
// Any other failure (a file in the way, no permission) is `failed`. On
// `made`, `dirfd` holds the folder open to read, closed on exec (the caller
// closes it), for files made in it whatever becomes of its path; else -1.
folder_result make_output_folder(const std::string& path, const file_identities& sources, int& dirfd);

// A name leading to the folder open at `dirfd` while it is open, whatever
// becomes of its path: its link under /proc, or `path` where that fails.
std::string held_folder_name(int dirfd, const std::string& path);

}  // namespace uni
