#pragma once
// The volume quor has open knows its own files, whoever mounted it and through
// whatever view, by what no copy and no other volume holds: a record's change
// or creation time to the 100 ns tick, found by the number a mount shows or by
// a name its folder's index holds, looked up through the view. Names, sizes and
// modification times prove nothing and disprove nothing.
#include <string>
#include "utils/types.h"

class CNtfs;

// True when the file or folder open at `fd` is one of `volume`'s, or lies at or below a folder
// proven so: its record, and its path in the volume ("\Documents\a.txt"). A damaged record never
// matches. A check that cannot finish (a read that fails for any cause but damage) throws
// std::runtime_error; memory, std::bad_alloc.
bool volume_holds(CNtfs& volume, int fd, uint64& record, std::string& path);
// The same for the file or folder at the path `at`, as the system names it.
bool volume_holds(CNtfs& volume, const std::string& at, uint64& record, std::string& path);

// From the first to the second, the guard asks `volume` of each output checked against it.
void volume_answers_outputs(CNtfs& volume);
void volume_stops_answering(CNtfs& volume);
