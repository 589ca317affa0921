#pragma once
// The name of a locale the system accepts, for the date formatter's
// locale mode: the environment's own (""), then LC_TIME, then LANG.
#include <string>

// True with a usable name (possibly empty, meaning the environment's
// locale); false with an empty name when none constructs.
bool locale_from_env(std::string& name);
// True when a std::locale of that name can be made.
bool locale_exists(const char* name);
