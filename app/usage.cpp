#include "app/usage.h"

#include <cstdio>

#include "utils/path_split.h"

const char* const kToolName = "quor";
const char* const kToolVersion = "0.14";

std::string banner_line() {
  return std::string(kToolName) + " ver: " + kToolVersion +
         " - NTFS $I30 index entries, live and carved from INDX slack";
}

void usage(const char* argv0) {
  std::string dir;
  std::string file;
  if (argv0 == nullptr) argv0 = kToolName;
  if (!split_path(argv0, dir, file) || file.empty()) file = argv0;

  std::fprintf(stderr,
               "-----------------------------------------------------------------------------\n\n");
  std::fprintf(stderr, "%s\n\n", banner_line().c_str());
  std::fprintf(stderr, "usage\n");
  std::fprintf(stderr, " %s [source of NTFS volume] [item to analyze] [output options]\n", file.c_str());
  std::fputs("\n"
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
             "\n",
             stderr);
}
