#pragma once
// The usage text as the user sees it on standard error, written out line by
// line, for the program file name `file`.
#include <string>

#include "app/usage.h"

namespace quor_test {

inline std::string expected_usage(const std::string& file) {
  return "-----------------------------------------------------------------------------\n\n" + banner_line() +
         "\n\n"
         "usage\n"
         " " + file + " [source of NTFS volume] [item to analyze] [output options]\n"
         "\n"
         " [source of NTFS volume options]\n"
         "  -image <dd image name | raw device> [-offset <vol offset>]\n"
         "  -vmdk <VMWare disk#1> [-vmdk <VMWare disk#2>]\n"
         "  -indxfile <indx datafile>\n"
         "\n"
         " [item to analyze options - these cannot be used with (-indxfile)]\n"
         "  -mft <MFT Entry to analyze>\n"
         "  -path <directory to analyze>\n"
         "\n"
         " [output options (only one option allowed)]\n"
         "  -valid        = output only valid entries (default)\n"
         "  -slack        = output only slack entries\n"
         "  -all          = output both valid and slack entries\n"
         "\n"
         " [additional misc options (multiple options can be used)]\n"
         "  -csv          = csv output\n"
         "  -csvl2t       = log2timeline output [needs validation]\n"
         "  -bodyfile     = sleuthkit output [needs validation]\n"
         "  -level <num>  = recurse # levels [default is 0 levels]\n"
         "  -base10       = use base10 for file size instead of hexadecimal\n"
         "  -nodups       = output w/ no duplicate records\n"
         "  -username <name> = output will contain this username\n"
         "  -hostname <name> = output will contain this hostname\n"
         "\n";
}

}  // namespace quor_test
