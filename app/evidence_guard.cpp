#include "app/evidence_guard.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "app/standard_output.h"
#include "app/user_ctx.h"
#include "disk/full_path.h"
#include "ntfs/ntfs.h"
#include "utils/binary_head.h"
#include "utils/file_handle.h"
#include "utils/output_folder.h"
#include "utils/utf_convert.h"

namespace {

// What the file behind a standard stream holds, as far as quor may write to
// it: quor writes text, so a file that holds anything else is no earlier
// listing or log of ours.
enum class stream_content { text, evidence, unreadable };

// Any block device is a disk; a regular file that is not empty and holds a
// NUL byte or a volume's or container's signature in its head is an image,
// a container, an extracted record or some other binary file, never quor's
// text. Pipes, terminals and character devices hold nothing to judge.
stream_content judged_by_content(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return stream_content::text;
  if (S_ISBLK(st.st_mode)) return stream_content::evidence;
  std::string what;
  switch (uni::content_of(fd, what)) {
    case uni::head_content::text:
      return stream_content::text;
    case uni::head_content::binary:
      return stream_content::evidence;
    case uni::head_content::unreadable:
      break;
  }
  return stream_content::unreadable;
}

// The name of the file behind the standard stream `stream` (1 or 2), really
// at `fd`, as the system knows it.
std::string descriptor_name(int stream, int fd) {
  char name[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof name)
    return "standard " + std::string(stream == STDOUT_FILENO ? "output" : "error");
  return std::string(name, static_cast<size_t>(n));
}

std::string evidence_refusal(const std::string& name) { return "refused to write to the evidence: " + name + "\n"; }

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

// A name with only the blanks and quotes around it cut, its path left for
// the system to follow: through a linked folder, "L/../x" is the file the
// user pointed at, while the cleaned name climbs out of the link itself.
std::string trimmed_name(const std::string& typed) {
  const char* const kCut = " \t\"'";
  const size_t first = typed.find_first_not_of(kCut);
  if (first == std::string::npos) return std::string();
  return typed.substr(first, typed.find_last_not_of(kCut) - first + 1);
}

// The file `name` when it exists as a regular file or a block device: only
// those are looked at, and nothing else is opened (opening some devices has
// effects of its own).
void add_if_file(const std::string& name, std::vector<evidence_file_ids>& found) {
  struct stat st;
  if (!name.empty() && ::stat(name.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    add_named(name, found);
}

// Every value of a source option, as typed, as cleaned the way an image's
// name is, and with only its blanks and quotes cut (a second source the
// parser passes over is named as evidence all the same, and a stray blank
// must not make a name miss the file the user meant), then the source as
// the parser will have the run open it, from the command line as typed and
// with every argument that is no option cleaned: the parser may take a
// later argument as the value, or follow a VMDK extent to the parents it
// names, and either may be a name the run would not open as typed. Last,
// any argument that names a file, typed, cleaned and trimmed: an image
// named with a slip in its option (forgotten, misspelt, or passed over as
// another option's value) is still the file the user means to read.
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
      const std::string trimmed = trimmed_name(typed);
      if (trimmed != typed && trimmed != cleaned_value) add_named(trimmed, found);
    }
  }
  for (const std::string& file : cmdline_source_files(argc, argv)) add_named(file, found);
  std::vector<char*> cleaned_argv;
  for (std::string& arg : cleaned_args) cleaned_argv.push_back(&arg[0]);
  for (const std::string& file : cmdline_source_files(argc, cleaned_argv.data())) add_named(file, found);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    add_if_file(arg, found);
    const std::string cleaned = cleaned_name(arg);
    if (cleaned != arg) add_if_file(cleaned, found);
    const std::string trimmed = trimmed_name(arg);
    if (trimmed != arg && trimmed != cleaned) add_if_file(trimmed, found);
  }
  return found;
}

// Every identity of the files the command line names as evidence.
uni::file_identities named_identities(int argc, char** argv) {
  uni::file_identities ids;
  for (const evidence_file_ids& e : named_evidence(argc, argv)) ids.insert(ids.end(), e.ids.begin(), e.ids.end());
  return ids;
}

// Only a regular file or a block device can be evidence: a run whose
// outputs are pipes or terminals opens no evidence file before its work.
bool may_be_evidence(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

// The refusal of the standard stream `stream`, really at `fd`, that says
// what could not be read or told of it.
std::string cannot_tell_refusal(int stream, int fd, const std::string& why) {
  return "refused to write: " + descriptor_name(stream, fd) + ": " + why + "\n";
}

// The refusal of the standard stream `stream`, really at `fd`, when
// writing it writes one of the `evidence`, or when that cannot be told as
// stream_reach takes it; empty otherwise. Where only a FUSE server out of
// sight hides what is under it, it is left to be judged by what it holds:
// a standard stream that holds text is an examiner's file, wherever it is
// stored. Asked of all the evidence at once first, so that a stream that
// writes none of it, as nearly every one does, is walked once.
std::string named_refusal(int stream, int fd, const std::vector<evidence_file_ids>& evidence) {
  std::string why;
  uni::file_identities all;
  for (const evidence_file_ids& e : evidence) all.insert(all.end(), e.ids.begin(), e.ids.end());
  if (uni::stream_reach(fd, all, why) == uni::reach_answer::clear) return std::string();
  std::string untold;
  for (const evidence_file_ids& e : evidence) {
    const uni::reach_answer reach = uni::stream_reach(fd, e.ids, why);
    if (reach == uni::reach_answer::source) return evidence_refusal(e.name);
    if (reach == uni::reach_answer::untold && untold.empty()) untold = cannot_tell_refusal(stream, fd, why);
  }
  return untold;
}

// Says a refusal where it does not land on what is refused: `on_out` and
// `on_err` are the refusals of standard output and error, empty for one
// that may be written. What the run held for either is dropped first, so
// that not a byte of it reaches the refused file. True when there is one.
bool refuse(const std::string& on_out, const std::string& on_err) {
  if (on_out.empty() && on_err.empty()) return false;
  discard_standard_streams();
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

namespace {

// The refusal of the standard stream `stream` (1 or 2) when it is one of
// the `evidence`, or, with `by_head`, when what it holds is no text quor
// may add to; empty when it may be written.
std::string output_refusal(int stream, const std::vector<evidence_file_ids>& evidence, bool by_head) {
  const int fd = real_standard_descriptor(stream);
  const std::string named = named_refusal(stream, fd, evidence);
  if (!named.empty() || !by_head) return named;
  switch (judged_by_content(fd)) {
    case stream_content::text:
      break;
    case stream_content::evidence:
      return evidence_refusal(descriptor_name(stream, fd));
    case stream_content::unreadable:
      return cannot_tell_refusal(stream, fd, "it cannot be read to tell what it holds");
  }
  return std::string();
}

// The check of both standard outputs against the named evidence, and with
// `by_head` against what they already hold; the refusal said.
bool outputs_refused(int argc, char** argv, bool by_head) {
  if (!may_be_evidence(real_standard_descriptor(STDOUT_FILENO)) &&
      !may_be_evidence(real_standard_descriptor(STDERR_FILENO)))
    return false;
  const std::vector<evidence_file_ids> evidence = named_evidence(argc, argv);
  return refuse(output_refusal(STDOUT_FILENO, evidence, by_head), output_refusal(STDERR_FILENO, evidence, by_head));
}

// The refusal of the standard stream `stream` when writing it would write
// one of `opened`, the files behind the source open as `name`, or when
// that cannot be told (stream_reach). Where only a FUSE server out of
// sight hides what is under it, what it holds was judged before the first
// byte was written (outputs_hold_evidence), and text it was.
std::string opened_refusal(int stream, const uni::file_identities& opened, const std::string& name) {
  std::string why;
  const int fd = real_standard_descriptor(stream);
  switch (uni::stream_reach(fd, opened, why)) {
    case uni::reach_answer::source:
      return evidence_refusal(name);
    case uni::reach_answer::untold:
      return cannot_tell_refusal(stream, fd, why);
    case uni::reach_answer::clear:
      break;
  }
  return std::string();
}

}  // namespace

bool outputs_hold_evidence(int argc, char** argv) { return outputs_refused(argc, argv, true); }

bool outputs_on_named_evidence(int argc, char** argv) { return outputs_refused(argc, argv, false); }

bool folder_on_named_evidence(int argc, char** argv, const std::string& folder) {
  return uni::folder_writes_source(folder, named_identities(argc, argv));
}

bool outputs_on_opened_evidence(const uni::file_identities& opened, const std::string& name) {
  return refuse(opened_refusal(STDOUT_FILENO, opened, name), opened_refusal(STDERR_FILENO, opened, name));
}

bool outputs_on_open_source(const user_ctx& ctx) {
  return outputs_on_opened_evidence(open_source_ids(ctx), wstring_to_utf8(ctx.source_desc));
}

int make_copy_folder(user_ctx& ctx, const uni::file_identities& held) {
  if (!ctx.copy_files || ctx.copy_dir_fd >= 0) return 0;
  uni::file_identities sources = held;
  const uni::file_identities opened = open_source_ids(ctx);
  sources.insert(sources.end(), opened.begin(), opened.end());
  std::vector<std::string> args = ctx.arguments;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  const uni::file_identities named = named_identities(static_cast<int>(argv.size()), argv.data());
  sources.insert(sources.end(), named.begin(), named.end());
  const std::string folder = wstring_to_utf8(ctx.copy_dir);
  // The results folder is open to every user, as the file layer's folder
  // maker has always left it; the mask is off for its making only, so that
  // the copies of evidence data and the reports made after keep the
  // examiner's mask.
  const mode_t mask = ::umask(0);
  int fd = -1;
  const uni::folder_result made = uni::make_output_folder(folder, sources, fd);
  ::umask(mask);
  switch (made) {
    case uni::folder_result::made:
      ctx.copy_dir_fd = fd;
      return 0;
    case uni::folder_result::is_source:
      return -1;
    case uni::folder_result::failed:
      break;
  }
  std::fprintf(stderr, "prob creating results directory, %s\n", folder.c_str());
  return -1;
}
