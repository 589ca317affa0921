#pragma once
// The volume quor has open knows its own files. A mount of it (ntfs-3g, or
// bindfs over that) shows a file's record number as its inode number, the
// root as record 5 and the record's creation time; a view that numbers
// files its own way (mergerfs, avfs, rclone) still shows their names. Every
// NTFS root is record 5 and fresh volumes look alike, so what only this
// volume holds (the creation time, or a folder's names with their numbers)
// must agree too: an examiner's own NTFS case drive takes its listing.
#include <string>

#include "utils/types.h"

class CNtfs;

// True when the file or folder open at `fd`, or for a file the folder it
// lies in, is one of `volume`'s: its record, and its path in the volume
// ("\Documents\draft.txt"). Records are read fresh, as the listing reads
// them; a damaged one never matches. Running out of memory throws.
bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path);

// From the first to the second, the output guard asks `volume` of every
// output checked against its sources (uni::volume_opened).
void volume_answers_outputs(CNtfs& volume);
void volume_stops_answering(CNtfs& volume);
