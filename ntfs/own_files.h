#pragma once
// The volume quor has open knows its own files, whoever mounted it and through
// whatever view: by the record numbers and names a mount shows (ntfs-3g's, bindfs's
// over it) with what only this volume holds (the creation time, or a folder's names
// with their numbers), or by names through a view that numbers files its own way.
#include <string>
#include "utils/types.h"

class CNtfs;

// True when the file or folder open at `fd`, or for a file the folder it lies in, is
// one of `volume`'s: its record, and its path in the volume ("\Documents\a.txt").
// Records are read fresh, as the listing reads them; a damaged one never matches.
bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path);

// From the first to the second, the guard asks `volume` of each output checked against it.
void volume_answers_outputs(CNtfs& volume);
void volume_stops_answering(CNtfs& volume);
