#pragma once
// The volume quor has open knows its own files, whoever mounted it and through
// whatever view, but only by what no copy and no other volume can hold: the
// record numbers a mount shows with the record's name, parent and a creation
// time to the tick, or a folder's names with their numbers; through a view that
// numbers files its own way, every live entry of a folder with its size and
// time to the tick. What the check needs of the volume is read once a run.
#include <string>
#include "utils/types.h"

class CNtfs;

// True when the file or folder open at `fd`, or for a file the folder it lies in, is
// one of `volume`'s: its record, and its path in the volume ("\Documents\a.txt").
// A damaged record never matches. A check that cannot finish (a read that fails
// for any cause but damage) throws std::runtime_error; memory, std::bad_alloc.
bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path);
// The same for the file or folder at the path `at`, as the system names it.
bool volume_holds(CNtfs& volume, const std::string& at, uint64& record, std::string& path);

// From the first to the second, the guard asks `volume` of each output checked against it.
void volume_answers_outputs(CNtfs& volume);
void volume_stops_answering(CNtfs& volume);
