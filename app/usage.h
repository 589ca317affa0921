#pragma once
// The tool's name, version, banner line and usage text.
#include <string>

extern const char* const kToolName;     // "quor"
extern const char* const kToolVersion;  // "0.14"

// One line naming the tool and its version, without a line end.
std::string banner_line();

// Writes the usage text to standard error; argv0 is the program path as
// started, of which only the file name is shown.
void usage(const char* argv0);
