#pragma once
// The tool's run from start to end: help, banner, options, source, one of
// the four roads (-mft, -path, every directory, -indxfile) and the work loop.
#include <string>

// The whole run; returns the exit status, 0 or -1.
int run_quor(int argc, char** argv);

// Settles a -path value as typed: `queued` is the path written with the
// entries (ending in a backslash), `lookup` the path resolved on the volume
// (a single backslash for the root, no doubled backslashes, no trailing
// one). False for an empty value.
bool settle_dir_path(const std::string& typed, std::string& queued, std::string& lookup);
