#include "app/evidence_guard.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/cmdline_parser.h"
#include "app/source_open.h"
#include "app/standard_output.h"
#include "app/user_ctx.h"
#include "disk/full_path.h"
#include "ntfs/ntfs.h"
#include "utils/binary_head.h"
#include "utils/file_handle.h"
#include "utils/output_folder.h"
#include "utils/output_reach.h"
#include "utils/utf_convert.h"

namespace {

// The options whose values name files the run reads as evidence.
const char* const kEvidenceOptions[] = {"-image", "-vmdk", "-indxfile", "-mftfile", "-partition"};

// The file an evidence option's value names; a partition's: letter and colon.
std::string evidence_file(const char* option, const char* value) {
  if (::strcasecmp(option, "-partition") != 0) return value;
  return value[0] != '\0' ? std::string(1, value[0]) + ":" : std::string();
}

// What stands for `file` as a source, named as typed (refusals say it): opened, or else by its status.
void add_named(const std::string& file, uni::file_identities& found) {
  const uni::held_descriptor fd(uni::open_source_descriptor(file, false, true));
  const size_t first = found.size();
  struct stat st;
  if (fd.fd >= 0)
    uni::identities_of_source(fd.fd, found);
  else if (::stat(file.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    found.push_back(uni::identity_from(st));
  for (size_t i = first; i < found.size(); ++i) found[i].name = file;
}

// A name as the parser cleans an image's: quotes and blanks around it dropped,
// made absolute; "" for none.
std::string cleaned_name(const std::string& typed) {
  const std::wstring wide = utf8_to_wstring(typed);
  return wide.empty() ? std::string() : wstring_to_utf8(get_full_path_w(wide, L'/'));
}

// A name with only the blanks and quotes around it cut, its path left for
// the system to follow: through a linked folder, "L/../x" is the file the
// user pointed at, while the cleaned name climbs out of the link itself.
std::string trimmed_name(const std::string& typed) {
  const char* const kCut = " \t\"'";
  const size_t first = typed.find_first_not_of(kCut);
  if (first == std::string::npos) return std::string();
  return typed.substr(first, typed.find_last_not_of(kCut) - first + 1);
}

// The file `name` when it is a regular file or a block device: nothing else is
// opened (opening some devices has effects of its own).
void add_if_file(const std::string& name, uni::file_identities& found) {
  struct stat st;
  if (!name.empty() && ::stat(name.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    add_named(name, found);
}

// Adds `typed` by `add` in each spelling outputs_hold_evidence names: a stray
// blank must not make a name miss the file the user meant.
void add_spellings(const std::string& typed, void (*add)(const std::string&, uni::file_identities&),
                   uni::file_identities& found) {
  add(typed, found);
  const std::string cleaned = cleaned_name(typed);
  if (cleaned != typed) add(cleaned, found);
  const std::string trimmed = trimmed_name(typed);
  if (trimmed != typed && trimmed != cleaned) add(trimmed, found);
}

// What the command line names as evidence (outputs_hold_evidence), a second
// source the parser passes over too. The parser may take a later argument as
// the value, or follow a VMDK extent to its parents, maybe a name the run would
// not open as typed: the command line is also read with every argument that is
// no option cleaned. A file named with a slip in its option (forgotten,
// misspelt, or taken as another option's value) is still the image meant.
uni::file_identities named_evidence(int argc, char** argv) {
  uni::file_identities found;
  std::vector<std::string> cleaned_args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    const std::string cleaned = i > 0 && !arg.empty() && arg[0] != '-' ? cleaned_name(arg) : arg;
    cleaned_args.push_back(cleaned.empty() ? arg : cleaned);
    if (i == 0 || i + 1 >= argc || argv[i + 1] == nullptr) continue;
    for (const char* option : kEvidenceOptions)
      if (::strcasecmp(arg.c_str(), option) == 0) add_spellings(evidence_file(option, argv[i + 1]), add_named, found);
  }
  for (const std::string& file : cmdline_source_files(argc, argv)) add_named(file, found);
  std::vector<char*> cleaned_argv;
  for (std::string& arg : cleaned_args) cleaned_argv.push_back(&arg[0]);
  for (const std::string& file : cmdline_source_files(argc, cleaned_argv.data())) add_named(file, found);
  for (int i = 1; i < argc; ++i) add_spellings(argv[i] != nullptr ? argv[i] : "", add_if_file, found);
  return found;
}

// Only a regular file or a block device can be evidence: a run whose outputs
// are pipes or terminals opens no evidence before its work. A stream whose
// status is kept from the run (another user's FUSE mount without allow_other
// takes writes through a descriptor handed in) may be; a closed one is none.
bool may_be_evidence(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno != EBADF;
  return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
}

// The refusals of standard output and error (by descriptor) put off for a layer
// nothing tells, till the run's volume answers, or where none opens its source's.
std::string put_off[3];

// The refusal of the standard stream `fd` (1 or 2), empty when it may be
// written. `first`: the check before the source opens, which puts off an
// unknown layer. What it holds is read only once nothing refuses it (a read
// through a layer only a volume tells may write there: an access time).
std::string stream_refusal(int fd, const uni::file_identities& sources, bool first, bool volume_to_come = false) {
  const bool by_head = first || !put_off[fd].empty();
  put_off[fd].clear();
  struct stat st;
  const int status_error = ::fstat(fd, &st) == 0 ? 0 : errno;
  if (status_error == EBADF || (status_error == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)))
    return std::string();
  std::string name = uni::descriptor_path(fd), why;
  if (name.empty()) name = fd == STDOUT_FILENO ? "standard output" : "standard error";
  if (status_error != 0)
    return "refused to write: " + name + ": what it is cannot be read (" + std::strerror(status_error) +
           "), so it cannot be told from the evidence; write the listing elsewhere\n";
  uni::reach_answer answer = uni::stream_reach(fd, sources, why, volume_to_come);
  if (answer == uni::reach_answer::unknown && first) {
    put_off[fd] = "refused to write: " + name + ": " + why + "\n";
    answer = uni::reach_answer::clear;
  }
  if (answer == uni::reach_answer::clear) {
    if (!by_head || (!S_ISBLK(st.st_mode) && !put_off[fd].empty())) return std::string();
    if (S_ISBLK(st.st_mode)) {
      why = "it is a block device and may be evidence; name another file";
    } else {
      const uni::head_content held = uni::content_of(fd, why);
      if (held == uni::head_content::text) return std::string();
      if (held == uni::head_content::binary) return uni::binary_refusal(name, why);
      why = "it cannot be read to tell what it holds";
    }
  }
  return "refused to write: " + name + ": " + why + "\n";
}

// Says the streams' refusals (empty: none) as the header tells; true if any.
bool refuse(const std::string& on_out, const std::string& on_err) {
  if (on_out.empty() && on_err.empty()) return false;
  release_standard_streams(on_out.empty(), on_err.empty());
  if (on_err.empty()) {
    std::fputs(on_out.c_str(), stderr);
  } else if (on_out.empty()) {
    std::fputs(on_err.c_str(), stdout);
    std::fflush(stdout);
  }
  return true;
}

}  // namespace

uni::file_identities open_source_ids(const user_ctx& ctx) {
  uni::file_identities opened;
  if (ctx.ntfs != nullptr) ctx.ntfs->source_identities(opened);
  if (ctx.mft_reader != nullptr && ctx.mft_reader->is_open())
    uni::identities_of_source(ctx.mft_reader->descriptor(), opened);
  return opened;
}

bool outputs_hold_evidence(int argc, char** argv, bool& error_cleared) {
  error_cleared = !may_be_evidence(STDOUT_FILENO) && !may_be_evidence(STDERR_FILENO);
  if (error_cleared) return false;
  const uni::file_identities evidence = named_evidence(argc, argv);
  // A stream on a mount only a volume can tell waits for the run's volume.
  bool volume_to_come = false;
  for (int i = 1; i + 1 < argc; ++i)
    for (const char* option : {"-image", "-vmdk", "-partition"})
      volume_to_come = volume_to_come || (argv[i] != nullptr && ::strcasecmp(argv[i], option) == 0);
  std::string on_out = stream_refusal(STDOUT_FILENO, evidence, true, volume_to_come);
  std::string on_err = stream_refusal(STDERR_FILENO, evidence, true, volume_to_come);
  // A run refused now opens no volume to answer for what was put off.
  if (!on_out.empty() || !on_err.empty()) {
    if (on_out.empty()) on_out.swap(put_off[STDOUT_FILENO]);
    if (on_err.empty()) on_err.swap(put_off[STDERR_FILENO]);
  }
  error_cleared = on_err.empty() && put_off[STDERR_FILENO].empty();
  return refuse(on_out, on_err);
}

bool stream_put_off(int fd) { return fd > 0 && fd < 3 && !put_off[fd].empty(); }

bool outputs_left_unknown(int argc, char** argv) {
  if (put_off[STDOUT_FILENO].empty() && put_off[STDERR_FILENO].empty()) return false;
  reopened_source held;
  uni::file_identities sources = named_evidence(argc, argv);
  if (reopen_source(argc, argv, held, sources))
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
      if (!put_off[fd].empty()) put_off[fd] = stream_refusal(fd, sources, false);
  return refuse(put_off[STDOUT_FILENO], put_off[STDERR_FILENO]);
}

bool outputs_on_opened_evidence(const uni::file_identities& opened) {
  return refuse(stream_refusal(STDOUT_FILENO, opened, false), stream_refusal(STDERR_FILENO, opened, false));
}

int make_copy_folder(user_ctx& ctx, const uni::file_identities& held) {
  if (!ctx.copy_files || ctx.copy_dir_fd >= 0) return 0;
  uni::file_identities sources = held;
  const uni::file_identities opened = open_source_ids(ctx);
  sources.insert(sources.end(), opened.begin(), opened.end());
  std::vector<std::string> args = ctx.arguments;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  const uni::file_identities named = named_evidence(static_cast<int>(argv.size()), argv.data());
  sources.insert(sources.end(), named.begin(), named.end());
  const std::string folder = wstring_to_utf8(ctx.copy_dir);
  // The results folder is open to every user, as the file layer always made it;
  // only that is made without the mask: later copies and reports keep it.
  const mode_t mask = ::umask(0);
  int fd = -1;
  const uni::folder_result made = uni::make_output_folder(folder, sources, fd);
  ::umask(mask);
  if (made == uni::folder_result::made) ctx.copy_dir_fd = fd;
  if (made == uni::folder_result::failed) std::fprintf(stderr, "prob creating results directory, %s\n", folder.c_str());
  return made == uni::folder_result::made ? 0 : -1;
}
