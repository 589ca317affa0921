// quor: lists the live entries of NTFS directory indexes and the older
// entries carved from the slack of their INDX records.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

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

// The evidence files the command line names, each with its identities.
struct evidence_file_ids {
  std::string name;
  uni::file_identities ids;
};

std::vector<evidence_file_ids> named_evidence(int argc, char** argv) {
  std::vector<evidence_file_ids> found;
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == nullptr || argv[i + 1] == nullptr) continue;
    for (const char* option : kEvidenceOptions) {
      if (::strcasecmp(argv[i], option) != 0) continue;
      const std::string file = evidence_file(option, argv[i + 1]);
      const int fd = file.empty() ? -1 : uni::open_source_descriptor(file, false, true);
      if (fd < 0) continue;
      evidence_file_ids e;
      e.name = file;
      uni::identities_of_descriptor(fd, e.ids);
      ::close(fd);
      found.push_back(e);
    }
  }
  return found;
}

// Only a regular file or a block device can be evidence: a run whose
// outputs are pipes or terminals opens no evidence file before its work.
bool may_be_evidence(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// True when the descriptor `fd` is a file the command line names as
// evidence, by any name, or a loop device over it, or the file behind it,
// or a file stored on one of these; `name` is that file's name as given.
bool is_evidence(int fd, const std::vector<evidence_file_ids>& evidence, std::string& name) {
  for (const evidence_file_ids& e : evidence)
    if (uni::descriptor_is_source(fd, e.ids)) {
      name = e.name;
      return true;
    }
  return false;
}

}  // namespace

// Standard output and standard error are checked before anything is written
// to either, so that not even the banner or a status line lands on the
// evidence. The refusal goes to standard error, or to standard output when
// standard error is the evidence; when both are, it is not written at all.
int main(int argc, char** argv) {
  if (!may_be_evidence(STDOUT_FILENO) && !may_be_evidence(STDERR_FILENO)) return run_quor(argc, argv);
  const std::vector<evidence_file_ids> evidence = named_evidence(argc, argv);
  std::string on_out, on_err;
  const bool out_hit = is_evidence(STDOUT_FILENO, evidence, on_out);
  const bool err_hit = is_evidence(STDERR_FILENO, evidence, on_err);
  if (!out_hit && !err_hit) return run_quor(argc, argv);
  const std::string message = "refused to write to the evidence: " + (out_hit ? on_out : on_err) + "\n";
  if (!err_hit) {
    std::fputs(message.c_str(), stderr);
  } else if (!out_hit) {
    std::fputs(message.c_str(), stdout);
  }
  return -1;
}
