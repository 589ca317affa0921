#include "app/run_sequence.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <vector>

#include "app/dir_tree.h"
#include "app/evidence_guard.h"
#include "app/indx_file.h"
#include "app/source_open.h"
#include "app/standard_output.h"
#include "app/usage.h"
#include "app/user_ctx.h"
#include "app/work_loop.h"
#include "time/time_format.h"
#include "time/zq_time.h"
#include "utils/cmdline_options.h"
#include "utils/file_handle.h"
#include "utils/number_parse.h"
#include "utils/status_line.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

// Every directory of the all-directories road is queued at this level, so
// that none recurses unless -level lifts the limit above it.
const ulong64 kAllDirsLevel = 999999;
// The index-record-file road carves with no volume to bound entry numbers.
const ulong64 kIndxFileEntryCount = 0x10000000;

// A value that is not valid UTF-8 is taken one character per byte, not dropped.
std::wstring to_wide(const std::string& text) {
  std::wstring wide = utf8_to_wstring(text);
  if (wide.empty() && !text.empty()) widen_string(text, wide);
  return wide;
}

std::string echo_prefix() {
  std::ostringstream out;
  out << "[" << zq::time::now() << " UTC] : ";
  return out.str();
}

void prefix_echo(user_ctx& ctx, const std::string& prefix) {
  ctx.cmdline = to_wide(prefix + wstring_to_utf8(ctx.cmdline));
}

bool is_help_request(int argc, char** argv) {
  if (argc <= 1) return true;
  static const char* const kHelp[] = {"-h", "-help", "/?", "--help"};
  for (const char* option : kHelp)
    if (get_arg_flag(option, &argc, argv, true)) return true;
  return false;
}

void queue_entry_road(dir_work_map& work, user_ctx& ctx, const std::string& value) {
  ulong64 entry = 0;
  if (!text_to_u64(value, entry)) entry = 0;
  dir_tree_map cache;
  build_inode_path(ctx.path_w, entry, ctx, cache);
  if (!ctx.path_w.empty() && ctx.path_w.back() != L'\\') ctx.path_w += L'\\';
  ctx.path = wstring_to_utf8(ctx.path_w);
  add_dir_work_item(work, ctx.path, 0, entry);
}

bool queue_path_road(dir_work_map& work, user_ctx& ctx, const std::string& typed) {
  std::string queued;
  std::string lookup;
  ulong64 entry = 0;
  if (!settle_dir_path(typed, queued, lookup) ||
      !find_inode_by_path(entry, to_wide(lookup), ctx, false)) {
    std::fflush(stdout);
    std::printf("prob finding corresponding MFT entry, aborting\n");
    return false;
  }
  ctx.path_w = to_wide(queued);
  ctx.path = queued;
  add_dir_work_item(work, queued, 0, entry);
  return true;
}

bool queue_all_directories(dir_work_map& work, user_ctx& ctx) {
  print_status("preping directories... [pls wait]");
  dir_tree_map files;
  dir_tree_map dirs;
  if (!scan_dir_inodes(files, dirs, ctx, true)) {
    std::fflush(stdout);
    std::printf("prob finding inodes that are dirs, aborting\n");
    return false;
  }
  std::vector<ulong64> entries;
  entries.reserve(dirs.size());
  for (const auto& kv : dirs) entries.push_back(kv.first);
  std::wstring path;
  for (ulong64 entry : entries) {
    path.clear();
    build_inode_path(path, entry, ctx, dirs);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    add_dir_work_item(work, wstring_to_utf8(path), kAllDirsLevel, entry);
  }
  return true;
}

int run_indx_file_road(user_ctx& ctx, const std::string& prefix) {
  prefix_echo(ctx, prefix);
  ctx.mft_entry_count = kIndxFileEntryCount;
  switch (analyze_indx_file(ctx)) {
    case indx_file_done:
      break;
    case indx_file_unreadable:
      std::fflush(stdout);
      std::printf("prob reading file: %s\n", ctx.indxfile.c_str());
      return -1;
    case indx_file_empty:
    case indx_file_refused:
      return -1;
    case indx_file_unparsable:
      std::cout.flush();
      std::printf("prob analyzing file: %s\n", ctx.indxfile.c_str());
      return -1;
  }
  std::cout.flush();
  return 0;
}

}  // namespace

bool settle_dir_path(const std::string& typed, std::string& queued, std::string& lookup) {
  queued.clear();
  lookup.clear();
  if (typed.empty()) return false;
  queued = typed;
  if (queued.back() == '\\') {
    std::string bare = queued;
    while (!bare.empty() && bare.back() == '\\') bare.pop_back();
    const bool drive_only = bare.size() == 2 && bare[1] == ':';
    if (bare.empty() || drive_only) {
      lookup = "\\";
    } else {
      queued.pop_back();
      lookup = queued;
    }
  } else {
    lookup = queued;
  }
  if (lookup == "\"") lookup = "\\";
  for (size_t pos; (pos = lookup.find("\\\\")) != std::string::npos;) lookup.erase(pos, 1);
  // Trailing backslashes left after the first one was cut name the same
  // directory, not the root.
  while (lookup.size() > 1 && lookup.back() == '\\') lookup.pop_back();
  if (queued.back() != '\\') queued += '\\';
  return true;
}

bool command_line_settles(int argc, char** argv) {
  if (is_help_request(argc, argv)) return true;
  user_ctx ctx;
  return ctx.parse_cmdline(argc, argv) == 0;
}

int run_quor(int argc, char** argv) {
  user_ctx ctx;
  const std::string prefix = echo_prefix();

  if (is_help_request(argc, argv)) {
    usage(argc > 0 ? argv[0] : kToolName);
    return 0;
  }

  // Made whole before it is written: memory that runs out half-way must
  // not leave a line cut short.
  std::ostringstream banner;
  banner << banner_line() << "\n"
         << "run time: " << zq::time::now() << " [GMT]\n\n";
  std::cout << banner.str();
  std::cout.flush();

  const int parsed = ctx.parse_cmdline(argc, argv);
  if (parsed == -2) {
    usage(argv[0]);
    return -1;
  }
  if (parsed == -1) return -1;

  ctx.tool_name = kToolName;
  if (get_arg_flag("-all", &argc, argv, false)) {
    ctx.all = true;
    ctx.valid = false;
    ctx.slack = false;
  }
  if (get_arg_flag("-slack", &argc, argv, false)) ctx.slack = true;
  if (get_arg_flag("-nodups", &argc, argv, false)) ctx.nodups = true;
  if (get_arg_flag("-valid", &argc, argv, false)) ctx.valid = true;

  if (ctx.indxfile.empty()) {
    if (!initialize_mft(ctx)) {
      std::printf("prob calling initialize_mft, aborting\n");
      return -1;
    }
    // The files the run holds are the evidence, whatever their names.
    if (outputs_on_opened_evidence(open_source_ids(ctx))) return -1;
    release_standard_streams();
    // Standard output that takes nothing (closed, a full disk) would lose
    // every line: stop before the work.
    if (standard_output_failed()) return -1;
    if (!ctx.source_ready() || ctx.ntfs == nullptr) {
      std::printf("user_ctx not valid, aborting\n");
      return -1;
    }
    if (make_copy_folder(ctx) != 0) return -1;
  }

  std::string value;
  if (get_arg_option_value("-level", value, &argc, argv)) {
    int level = 0;
    if (parse_int(value, &level)) ctx.level = level;
  }
  std::string mft_value;
  const bool by_entry = get_arg_option_value("-mft", mft_value, &argc, argv);

  if (by_entry && !ctx.indxfile.empty()) {
    // An entry number means nothing without a volume; refusing beats
    // reporting success for a run that wrote nothing.
    std::fprintf(stderr, "-mft cannot be used with -indxfile, aborting\n");
    return -1;
  }
  if (!ctx.indxfile.empty()) return run_indx_file_road(ctx, prefix);

  dir_work_map work;
  std::string path_value;
  if (by_entry) {
    queue_entry_road(work, ctx, mft_value);
  } else if (get_arg_option_value("-path", path_value, &argc, argv)) {
    if (!queue_path_road(work, ctx, path_value)) return -1;
  } else if (!queue_all_directories(work, ctx)) {
    return -1;
  }

  if (get_arg_flag("-rawfile", &argc, argv, false)) ctx.rawfile = true;
  prefix_echo(ctx, prefix);
  return run_dir_work_loop(work, ctx);
}
