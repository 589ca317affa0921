#include "app/evidence_guard.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "app/user_ctx.h"
#include "disk/full_path.h"
#include "ntfs/ntfs.h"
#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

// The options whose values name files the run reads as evidence.
const char* const kEvidenceOptions[] = {"-image", "-vmdk", "-indxfile", "-mftfile", "-partition"};

// The file an evidence option's value names: a partition is the file named
// by its letter and a colon.
std::string evidence_file(const char* option, const char* value) {
  if (::strcasecmp(option, "-partition") != 0) return value;
  return value[0] != '\0' ? std::string(1, value[0]) + ":" : std::string();
}

// A file the command line names as evidence, with its identities.
struct evidence_file_ids {
  std::string name;
  uni::file_identities ids;
};

void add_named(const std::string& file, std::vector<evidence_file_ids>& found) {
  const int fd = file.empty() ? -1 : uni::open_source_descriptor(file, false, true);
  if (fd < 0) return;
  evidence_file_ids e;
  e.name = file;
  uni::identities_of_source(fd, e.ids);
  ::close(fd);
  found.push_back(e);
}

// A name as the parser cleans an image's: quotes and the blanks around it
// dropped, made absolute. "" when nothing is left.
std::string cleaned_name(const std::string& typed) {
  const std::wstring wide = utf8_to_wstring(typed);
  return wide.empty() ? std::string() : wstring_to_utf8(get_full_path_w(wide, L'/'));
}

// Every value of a source option, as typed and as cleaned the way an
// image's name is (a second source the parser passes over is named as
// evidence all the same, and a stray blank must not make a name miss the
// file the user meant), then the source as the parser will have the run
// open it, from the command line as typed and with every argument that is
// no option cleaned: the parser may take a later argument as the value, or
// follow a VMDK extent to the parents it names, and either may be a name
// the run would not open as typed.
std::vector<evidence_file_ids> named_evidence(int argc, char** argv) {
  std::vector<evidence_file_ids> found;
  std::vector<std::string> cleaned_args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    const std::string cleaned = i > 0 && !arg.empty() && arg[0] != '-' ? cleaned_name(arg) : arg;
    cleaned_args.push_back(cleaned.empty() ? arg : cleaned);
    if (i == 0 || i + 1 >= argc || argv[i + 1] == nullptr) continue;
    for (const char* option : kEvidenceOptions) {
      if (::strcasecmp(arg.c_str(), option) != 0) continue;
      const std::string typed = evidence_file(option, argv[i + 1]);
      add_named(typed, found);
      const std::string cleaned_value = cleaned_name(typed);
      if (cleaned_value != typed) add_named(cleaned_value, found);
    }
  }
  for (const std::string& file : cmdline_source_files(argc, argv)) add_named(file, found);
  std::vector<char*> cleaned_argv;
  for (std::string& arg : cleaned_args) cleaned_argv.push_back(&arg[0]);
  for (const std::string& file : cmdline_source_files(argc, cleaned_argv.data())) add_named(file, found);
  return found;
}

// Only a regular file or a block device can be evidence: a run whose
// outputs are pipes or terminals opens no evidence file before its work.
bool may_be_evidence(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// True when the descriptor `fd` is one of the `evidence`; `name` is then
// that file's name.
bool is_evidence(int fd, const std::vector<evidence_file_ids>& evidence, std::string& name) {
  for (const evidence_file_ids& e : evidence)
    if (uni::descriptor_is_source(fd, e.ids)) {
      name = e.name;
      return true;
    }
  return false;
}

// Says the refusal where it does not land on the evidence; true when there
// is one.
bool refuse(bool out_hit, bool err_hit, const std::string& name) {
  if (!out_hit && !err_hit) return false;
  const std::string message = "refused to write to the evidence: " + name + "\n";
  if (!err_hit) {
    std::fputs(message.c_str(), stderr);
  } else if (!out_hit) {
    std::fputs(message.c_str(), stdout);
    std::fflush(stdout);
  }
  return true;
}

}  // namespace

bool outputs_on_named_evidence(int argc, char** argv) {
  if (!may_be_evidence(STDOUT_FILENO) && !may_be_evidence(STDERR_FILENO)) return false;
  const std::vector<evidence_file_ids> evidence = named_evidence(argc, argv);
  std::string on_out, on_err;
  const bool out_hit = is_evidence(STDOUT_FILENO, evidence, on_out);
  const bool err_hit = is_evidence(STDERR_FILENO, evidence, on_err);
  return refuse(out_hit, err_hit, out_hit ? on_out : on_err);
}

bool folder_on_named_evidence(int argc, char** argv, const std::string& folder) {
  uni::file_identities evidence;
  for (const evidence_file_ids& e : named_evidence(argc, argv))
    evidence.insert(evidence.end(), e.ids.begin(), e.ids.end());
  return uni::folder_writes_source(folder, evidence);
}

bool outputs_on_opened_evidence(const uni::file_identities& opened, const std::string& name) {
  return refuse(uni::descriptor_is_source(STDOUT_FILENO, opened), uni::descriptor_is_source(STDERR_FILENO, opened),
                name);
}

bool outputs_on_open_source(const user_ctx& ctx) {
  uni::file_identities opened;
  if (ctx.ntfs != nullptr) ctx.ntfs->source_identities(opened);
  if (ctx.mft_reader != nullptr && ctx.mft_reader->is_open())
    uni::identities_of_source(ctx.mft_reader->descriptor(), opened);
  return outputs_on_opened_evidence(opened, wstring_to_utf8(ctx.source_desc));
}
