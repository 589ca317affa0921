#pragma once
// The tool's run from start to end: help, banner, options, source, one of
// the four roads (-mft, -path, every directory, -indxfile) and the work loop.
#include <string>

// The whole run; returns the exit status, 0 or -1.
int run_quor(int argc, char** argv);

// Reads the command line as a run does, up to the volume its source holds,
// and does nothing more: false when the run would end there, having said
// on standard error why and, where it can tell, how to run again (the
// -vmdk list to give, the -offset of the volume).
bool command_line_settles(int argc, char** argv);

// Settles a -path value as typed: `queued` is the path written with the
// entries (ending in a backslash), `lookup` the path resolved on the volume
// (a single backslash for the root, no doubled backslashes, no trailing
// one). False for an empty value.
bool settle_dir_path(const std::string& typed, std::string& queued, std::string& lookup);
