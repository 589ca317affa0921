// The option parser: fills user_ctx from the program's arguments, chooses
// one input source and settles the NTFS volume offset before anything opens.
#include <cstdio>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "app/user_ctx.h"
#include "disk/disk_handle.h"
#include "disk/full_path.h"
#include "disk/vmdk_disk.h"
#include "disk/volume_select.h"
#include "ntfs/ntfs_structs.h"
#include "time/systemtime.h"
#include "time/time_text.h"
#include "time/zq_time.h"
#include "utils/cmdline_options.h"
#include "utils/case_text.h"
#include "utils/file_handle.h"
#include "utils/trim_join.h"
#include "utils/utf16le.h"
#include "utils/utf_convert.h"

namespace {

// One hour in FILETIME units: $FILE_NAME times later than the start of the
// run plus this are noted "future".
const ulong64 kOneHour = 36000000000ULL;

int hex_digit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

// Numbers on the command line: with an 'x' hexadecimal (the digits after
// it), with an 'o' octal, else decimal starting with a digit. Read as 64 bits
// so that volume offsets beyond 2 GiB work; overflow is refused, not clamped.
bool parse_number(const std::wstring& value, ulong64& out) {
  std::wstring text = value;
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  unsigned base = 10;
  size_t pos = 0;
  const size_t x = text.find(L'x');
  const size_t o = text.find(L'o');
  if (x != std::wstring::npos) {
    base = 16;
    pos = x + 1;
  } else if (o != std::wstring::npos) {
    base = 8;
    pos = o + 1;
  }
  ulong64 result = 0;
  size_t digits = 0;
  for (; pos < text.size(); ++pos, ++digits) {
    const int d = hex_digit(text[pos]);
    if (d < 0 || static_cast<unsigned>(d) >= base) break;
    if (result > (~0ULL - static_cast<ulong64>(d)) / base) return false;
    result = result * base + static_cast<ulong64>(d);
  }
  if (digits == 0) return false;
  out = result;
  return true;
}

// "%S" in the system's messages is a wide string; it reaches the terminal
// as UTF-8.
void print_wide_message(const char* format, const std::wstring& value) {
  std::fprintf(stderr, format, wstring_to_utf8(value).c_str());
}

// The echo of the command line: program name bare, every other argument in
// double quotes unless it starts with '-', each followed by a blank.
std::wstring build_echo(int argc, char** argv) {
  std::wstring echo;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    std::wstring wide = utf8_to_wstring(arg);
    if (wide.empty() && !arg.empty()) widen_string(arg, wide);
    const bool quote = i > 0 && (arg.empty() || arg[0] != '-');
    if (quote) echo += L'"';
    echo += wide;
    if (quote) echo += L'"';
    echo += L' ';
  }
  return echo;
}

// Splits a filter time at its first blank into date and time texts and
// converts them to a FILETIME (UTC). False when the texts do not parse.
bool filter_time_value(const std::wstring& value, const std::wstring& default_time,
                       ulong64& out) {
  std::wstring date = value;
  std::wstring time = default_time;
  const size_t blank = value.find(L' ');
  if (blank != std::wstring::npos) {
    date = value.substr(0, blank);
    time = value.substr(blank + 1);
  }
  zq::_windows_systemtime st;
  if (!zq::parse_systemtime_w(date.c_str(), time.empty() ? nullptr : time.c_str(), st)) return false;
  zq::systemtime_to_filetime(out, st);
  return true;
}

int choose_image(user_ctx& ctx, const std::wstring& value) {
  const std::wstring full = get_full_path_w(value, L'/');
  if (full.empty()) {
    print_wide_message("prob understanding destination of %s aborting\n,", value);
    return -1;
  }
  ctx.image = full;
  std::ostringstream messages;
  bool found = false;
  if (ctx.volume_offset != 0) {
    if (!select_ntfs_volume_on_image(messages, ctx.image, ctx.volume_offset, found)) {
      std::fprintf(stderr, "%s\n", messages.str().c_str());
      return -1;
    }
    return 0;
  }
  if (select_ntfs_volume_on_image(messages, ctx.image, ctx.volume_offset, found)) return 0;
  if (!found) {
    // No partition table, or none with NTFS: the image is the volume itself.
    ctx.resolved_image = ctx.image;
    ctx.image.clear();
    ctx.volume_offset = 0;
    return 0;
  }
  std::fprintf(stderr, "%s\n", messages.str().c_str());
  return -1;
}

// The file options name evidence to open. A name that is not UTF-8 cannot
// travel the wide-string road to the open, and a FIFO or character device
// would block or read without end: either ends the run here, saying which.
const char* const kSourceOptions[] = {"-image", "-vmdk", "-indxfile", "-mftfile"};

bool source_names_usable(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == nullptr || argv[i + 1] == nullptr) continue;
    std::string option = argv[i];
    to_lower(option);
    for (const char* known : kSourceOptions) {
      if (option != known) continue;
      const std::string name = argv[i + 1];
      if (!name.empty() && utf8_to_wstring(name).empty()) {
        std::fprintf(stderr, "%s: the file name is not valid UTF-8 and cannot be opened, aborting\n", known);
        return false;
      }
      if (!uni::is_source_kind(name, true)) {
        std::fprintf(stderr, "%s: %s is not a regular file or block device, aborting\n", known, name.c_str());
        return false;
      }
    }
  }
  return true;
}

// A disk holding a bare volume (no partition table, the boot sector in its
// first sector) is read at offset 0, as an image of a bare volume is.
bool snapshots_hold_bare_volume(const std::vector<std::wstring>& files) {
  disk_handle disk(files, false, false);
  byte sector[NTFS_BOOT_SIZE];
  uint32 len = sizeof sector;
  if (!disk.m_is_open || !disk.read(sector, len, 0) || len != sizeof sector) return false;
  NTFS_BOOT boot;
  boot.load(sector);
  return boot.has_ntfs_keyword();
}

int choose_vmdk(user_ctx& ctx) {
  std::ostringstream messages;
  std::vector<std::wstring> suggested;
  vmdk_disk chain(false);
  if (!chain.open_chain(ctx.vmdk_files, messages, suggested)) {
    chain.close();
    std::fprintf(stderr, "%s\n", messages.str().c_str());
    if (!suggested.empty()) {
      std::fprintf(stderr, "suggested array: ");
      for (const std::wstring& f : suggested)
        std::fprintf(stderr, "-vmdk \"%s\" ", wstring_to_utf8(f).c_str());
      std::fprintf(stderr, "\n");
    }
    return -1;
  }
  bool found = false;
  const ulong64 requested = ctx.volume_offset;
  select_ntfs_volume_in_snapshots(messages, ctx.vmdk_files, ctx.volume_offset, found);
  chain.close();
  if (!found && requested == 0 && snapshots_hold_bare_volume(ctx.vmdk_files)) {
    ctx.volume_offset = 0;
    return 0;
  }
  if (!found) {
    std::fprintf(stderr, "looking at vmdk files and found no NTFS volume, aborting\n");
    return -1;
  }
  return 0;
}

// The source option the parser takes, and its value (every value, for
// "-vmdk"), as it takes them from what the other options left.
enum source_kind { no_source, image_source, drivenum_source, partition_source, vmdk_source, mftfile_source,
                   indxfile_source };
struct source_pick {
  source_kind kind = no_source;
  std::vector<std::wstring> values;
};

void take_source(std::vector<std::wstring>& args, source_pick& pick) {
  static const struct {
    const char* option;
    source_kind kind;
  } kOrder[] = {{"-image", image_source},     {"-drivenum", drivenum_source}, {"-partition", partition_source},
                {"-vmdk", vmdk_source},       {"-mftfile", mftfile_source},   {"-indxfile", indxfile_source}};
  pick = source_pick();
  std::wstring value;
  for (const auto& o : kOrder) {
    while (get_arg_option_value_vw(o.option, value, args)) {
      pick.values.push_back(value);
      if (o.kind != vmdk_source) break;
    }
    if (pick.values.empty()) continue;
    pick.kind = o.kind;
    return;
  }
}

int choose_source(user_ctx& ctx, const source_pick& pick) {
  switch (pick.kind) {
    case image_source:
      return choose_image(ctx, pick.values[0]);
    case drivenum_source: {
      ulong64 number = 0;
      if (!parse_number(pick.values[0], number)) number = 0;
      ctx.drivenum = static_cast<int32>(static_cast<uint32>(number));
      std::ostringstream messages;
      bool found = false;
      if (!select_ntfs_volume_on_drive(messages, static_cast<uint32>(ctx.drivenum), ctx.volume_offset, found,
                                       true)) {
        std::fprintf(stderr, "%s\n", messages.str().c_str());
        return -1;
      }
      return 0;
    }
    case partition_source:
      ctx.partition = pick.values[0];
      return 0;
    case vmdk_source:
      ctx.vmdk_files = pick.values;
      return choose_vmdk(ctx);
    case mftfile_source:
      ctx.mftfile = pick.values[0];
      return 0;
    case indxfile_source:
      ctx.indxfile = wstring_to_utf8(pick.values[0]);
      return 0;
    case no_source:
      break;
  }
  std::fprintf(stderr,
               "error: need to specify at least an input source [-mftfile, -image, -drivenum, "
               "-partition, -vmdk]\n");
  return -1;
}

// Takes from `args` every option but the source, as the parser reads them,
// into `ctx`. Acting, a problem is said and ends the taking with -1; not
// acting (to learn which source the rest leaves), nothing is said and every
// option is taken. The copy folder is only named here: it is made once the
// source is open and checked (make_copy_folder), so that a run that never
// opens its source makes nothing, and the folder is checked against the
// files the run really holds.
int take_options(user_ctx& ctx, std::vector<std::wstring>& args, bool act) {
  if (get_arg_flag_vw("-raw", args, false)) ctx.raw = true;
  if (get_arg_flag_vw("-hide_dos_fntimes", args, false)) ctx.hide_dos_fntimes = true;
  if (get_arg_flag_vw("-action_include_clusterinfo", args, false)) ctx.omit_clusterinfo = false;
  if (get_arg_flag_vw("-base10", args, false)) ctx.hex_sizes = false;
  if (get_arg_flag_vw("-csv", args, false)) ctx.csv = true;
  if (get_arg_flag_vw("-csvl2t", args, false)) {
    ctx.csvl2t = true;
    ctx.csv = false;
    ctx.bodyfile = false;
  }
  if (get_arg_flag_vw("-bodyfile", args, false)) {
    ctx.bodyfile = true;
    ctx.csv = false;
    ctx.csvl2t = false;
  }
  if (get_arg_flag_vw("-quiet", args, false)) ctx.verbose = false;
  if (get_arg_flag_vw("-verbose", args, false)) ctx.verbose = true;
  if (get_arg_flag_vw("-filter_deleted_files", args, false)) ctx.filter_deleted_files = true;
  if (get_arg_flag_vw("-action_include_header", args, false)) {
    ctx.include_header = true;
    ctx.header_length = 32;
    ctx.omit_clusterinfo = false;
  }

  std::wstring value;
  if (get_arg_option_value_vw("-action_copy_files", value, args)) {
    ctx.copy_dir = value;
    trim_w(ctx.copy_dir);
    ctx.copy_files = true;
    if (get_arg_flag_vw("-all", args, false)) {
      ctx.all_streams = true;
    } else if (get_arg_flag_vw("-named_data", args, false)) {
      ctx.named_streams = true;
    } else {
      get_arg_flag_vw("-normal_data", args, false);
      ctx.unnamed_stream = true;
    }
  }
  if (get_arg_option_value_vw("-filter_start_time", value, args)) {
    ulong64 when = 0;
    if (filter_time_value(value, L"", when)) ctx.filter_start_time = when;
    if (ctx.filter_start_time == 0 && act) {
      std::fprintf(stderr, "Error: invalid filter start time\n");
      return -1;
    }
    ctx.filter_stop_time = ~0ULL;
  }
  if (get_arg_option_value_vw("-filter_stop_time", value, args)) {
    ulong64 when = 0;
    if (filter_time_value(value, L"23:59:59", when)) ctx.filter_stop_time = when;
  }
  if (get_arg_option_value_vw("-filter_name", value, args)) {
    to_lower_w(value);
    ctx.filter_name = value;
  }
  if (get_arg_option_value_vw("-filter_ext", value, args)) {
    to_lower_w(value);
    remove_char_w(value, L'.');
    ctx.filter_ext = value;
  }
  if (get_arg_option_value_vw("-mftstart", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) ctx.mft_start = number;
    ctx.mft_count = 1;
  }
  if (get_arg_option_value_vw("-mftrange", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) ctx.mft_count = number;
  }
  if (get_arg_option_value_vw("-out", value, args) ||
      get_arg_option_value_vw("-outfile", value, args)) {
    const std::wstring full = get_full_path_w(value, L'/');
    if (full.empty() && act) {
      print_wide_message("prob understanding destination of %s aborting\n,", value);
      return -1;
    }
    ctx.out_file = full;
  }
  if (get_arg_option_value_vw("-offset", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) ctx.volume_offset = number;
  }
  if (get_arg_option_value_vw("-username", value, args)) ctx.username = wstring_to_utf8(value);
  if (get_arg_option_value_vw("-hostname", value, args)) ctx.hostname = wstring_to_utf8(value);

  return 0;
}

}  // namespace

int user_ctx::parse_cmdline(int argc, char** argv) {
  set_defaults();
  if (argc < 2 || argv == nullptr) return -2;

  future_limit = zq::time::now().m_filetime + kOneHour;
  cmdline = build_echo(argc, argv);
  for (int i = 0; i < argc; ++i) arguments.push_back(argv[i] != nullptr ? argv[i] : "");

  if (!source_names_usable(argc, argv)) return -1;
  std::vector<std::wstring> args;
  args_to_wstrings(args, argc, argv);

  const int taken = take_options(*this, args, true);
  if (taken != 0) return taken;
  source_pick pick;
  take_source(args, pick);
  const int source = choose_source(*this, pick);
  if (source != 0) return source;

  update_filtering();
  return 0;
}

std::vector<std::string> cmdline_source_files(int argc, char** argv, source_reading* reading) {
  std::vector<std::string> files;
  if (reading != nullptr) *reading = source_reading::not_a_disk;
  if (argc < 2 || argv == nullptr) return files;
  std::vector<std::wstring> args;
  args_to_wstrings(args, argc, argv);
  user_ctx scratch;
  take_options(scratch, args, false);
  source_pick pick;
  take_source(args, pick);
  if (reading != nullptr && (pick.kind == image_source || pick.kind == partition_source || pick.kind == vmdk_source))
    *reading = pick.kind == vmdk_source ? source_reading::vmdk_chain : source_reading::disk;
  switch (pick.kind) {
    case image_source: {
      const std::wstring full = get_full_path_w(pick.values[0], L'/');
      if (!full.empty()) files.push_back(wstring_to_utf8(full));
      break;
    }
    case partition_source:
      // A drive letter is opened as the file named by the letter and a colon.
      if (!pick.values[0].empty()) files.push_back(wstring_to_utf8(std::wstring(1, pick.values[0][0]) + L":"));
      break;
    case vmdk_source: {
      // A chain given in part is followed, as choose_vmdk follows it, to the
      // parents its extents name: those are opened too.
      std::ostringstream ignored;
      std::vector<std::wstring> chain;
      vmdk_disk disk(false);
      disk.open_chain(pick.values, ignored, chain);
      disk.close();
      for (const std::wstring& value : chain.empty() ? pick.values : chain) files.push_back(wstring_to_utf8(value));
      break;
    }
    case mftfile_source:
    case indxfile_source:
      for (const std::wstring& value : pick.values) files.push_back(wstring_to_utf8(value));
      break;
    case drivenum_source:
    case no_source:
      break;
  }
  return files;
}
