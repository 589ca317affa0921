// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/run_sequence.h"
#include "utils/file_handle.h"
#include "utils/output_file.h"

namespace {

// The options whose values name files the run reads as evidence.
const char* const kEvidenceOptions[] = {"-image", "-vmdk", "-indxfile", "-mftfile", "-partition"};

// The file an evidence option's value names: a partition is the file named
// by its letter and a colon.
std::string evidence_file(const char* option, const char* value) {
  if (::strcasecmp(option, "-partition") != 0) return value;
  return value[0] != '\0' ? std::string(1, value[0]) + ":" : std::string();
}

// True when standard output is a file the command line names as evidence,
// by any name, or a loop device over it, or the file behind it; `name` is
// that file's name as given. Standard output is checked before anything is
// written to it, so that not even the banner lands on the evidence.
bool output_is_evidence(int argc, char** argv, std::string& name) {
  struct stat st;
  if (::fstat(STDOUT_FILENO, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) return false;
  uni::file_identities output;
  if (!uni::identities_of_descriptor(STDOUT_FILENO, output)) return false;
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == nullptr || argv[i + 1] == nullptr) continue;
    for (const char* option : kEvidenceOptions) {
      if (::strcasecmp(argv[i], option) != 0) continue;
      const std::string file = evidence_file(option, argv[i + 1]);
      const int fd = file.empty() ? -1 : uni::open_source_descriptor(file, false, true);
      if (fd < 0) continue;
      uni::file_identities source;
      uni::identities_of_descriptor(fd, source);
      ::close(fd);
      for (const uni::file_identity& id : output)
        if (uni::is_one_of(id, source)) {
          name = file;
          return true;
        }
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string evidence;
  if (output_is_evidence(argc, argv, evidence)) {
    std::fprintf(stderr, "refused to write to the evidence: %s\n", evidence.c_str());
    return -1;
  }
  return run_quor(argc, argv);
}
