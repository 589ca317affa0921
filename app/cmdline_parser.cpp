// The option parser: fills user_ctx from the program's arguments, chooses
// one input source and settles the NTFS volume offset before anything opens.
#include <cstdio>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

#include "app/user_ctx.h"
#include "disk/fs_ops.h"
#include "disk/full_path.h"
#include "disk/vmdk_disk.h"
#include "disk/volume_select.h"
#include "time/systemtime.h"
#include "time/time_text.h"
#include "time/zq_time.h"
#include "utils/cmdline_options.h"
#include "utils/case_text.h"
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

int choose_vmdk(user_ctx& ctx, std::vector<std::wstring>& args) {
  std::wstring value;
  while (get_arg_option_value_vw("-vmdk", value, args)) ctx.vmdk_files.push_back(value);
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
  select_ntfs_volume_in_snapshots(messages, ctx.vmdk_files, ctx.volume_offset, found);
  chain.close();
  if (!found) {
    std::fprintf(stderr, "looking at vmdk files and found no NTFS volume, aborting\n");
    return -1;
  }
  return 0;
}

int choose_source(user_ctx& ctx, std::vector<std::wstring>& args) {
  std::wstring value;
  if (get_arg_option_value_vw("-image", value, args)) return choose_image(ctx, value);
  if (get_arg_option_value_vw("-drivenum", value, args)) {
    ulong64 number = 0;
    if (!parse_number(value, number)) number = 0;
    ctx.drivenum = static_cast<int32>(static_cast<uint32>(number));
    std::ostringstream messages;
    bool found = false;
    if (!select_ntfs_volume_on_drive(messages, static_cast<uint32>(ctx.drivenum),
                                     ctx.volume_offset, found, true)) {
      std::fprintf(stderr, "%s\n", messages.str().c_str());
      return -1;
    }
    return 0;
  }
  if (get_arg_option_value_vw("-partition", value, args)) {
    ctx.partition = value;
    return 0;
  }
  // Peek without consuming: choose_vmdk takes every "-vmdk" in order.
  {
    std::vector<std::wstring> probe = args;
    if (get_arg_option_value_vw("-vmdk", value, probe)) return choose_vmdk(ctx, args);
  }
  if (get_arg_option_value_vw("-mftfile", value, args)) {
    ctx.mftfile = value;
    return 0;
  }
  if (get_arg_option_value_vw("-indxfile", value, args)) {
    ctx.indxfile = wstring_to_utf8(value);
    return 0;
  }
  std::fprintf(stderr,
               "error: need to specify at least an input source [-mftfile, -image, -drivenum, "
               "-partition, -vmdk]\n");
  return -1;
}

}  // namespace

int user_ctx::parse_cmdline(int argc, char** argv) {
  set_defaults();
  if (argc < 2 || argv == nullptr) return -2;

  future_limit = zq::time::now().m_filetime + kOneHour;
  cmdline = build_echo(argc, argv);

  std::vector<std::wstring> args;
  args_to_wstrings(args, argc, argv);

  if (get_arg_flag_vw("-raw", args, false)) raw = true;
  if (get_arg_flag_vw("-hide_dos_fntimes", args, false)) hide_dos_fntimes = true;
  if (get_arg_flag_vw("-action_include_clusterinfo", args, false)) omit_clusterinfo = false;
  if (get_arg_flag_vw("-base10", args, false)) hex_sizes = false;
  if (get_arg_flag_vw("-csv", args, false)) csv = true;
  if (get_arg_flag_vw("-csvl2t", args, false)) {
    csvl2t = true;
    csv = false;
    bodyfile = false;
  }
  if (get_arg_flag_vw("-bodyfile", args, false)) {
    bodyfile = true;
    csv = false;
    csvl2t = false;
  }
  if (get_arg_flag_vw("-quiet", args, false)) verbose = false;
  if (get_arg_flag_vw("-verbose", args, false)) verbose = true;
  if (get_arg_flag_vw("-filter_deleted_files", args, false)) filter_deleted_files = true;
  if (get_arg_flag_vw("-action_include_header", args, false)) {
    include_header = true;
    header_length = 32;
    omit_clusterinfo = false;
  }

  std::wstring value;
  if (get_arg_option_value_vw("-action_copy_files", value, args)) {
    copy_dir = value;
    trim_w(copy_dir);
    if (!make_dirs_w(copy_dir)) {
      print_wide_message("prob creating results directory, %s\n", copy_dir);
      return -1;
    }
    copy_files = true;
    if (get_arg_flag_vw("-all", args, false)) {
      all_streams = true;
    } else if (get_arg_flag_vw("-named_data", args, false)) {
      named_streams = true;
    } else {
      get_arg_flag_vw("-normal_data", args, false);
      unnamed_stream = true;
    }
  }
  if (get_arg_option_value_vw("-filter_start_time", value, args)) {
    ulong64 when = 0;
    if (filter_time_value(value, L"", when)) filter_start_time = when;
    if (filter_start_time == 0) {
      std::fprintf(stderr, "Error: invalid filter start time\n");
      return -1;
    }
    filter_stop_time = ~0ULL;
  }
  if (get_arg_option_value_vw("-filter_stop_time", value, args)) {
    ulong64 when = 0;
    if (filter_time_value(value, L"23:59:59", when)) filter_stop_time = when;
  }
  if (get_arg_option_value_vw("-filter_name", value, args)) {
    to_lower_w(value);
    filter_name = value;
  }
  if (get_arg_option_value_vw("-filter_ext", value, args)) {
    to_lower_w(value);
    remove_char_w(value, L'.');
    filter_ext = value;
  }
  if (get_arg_option_value_vw("-mftstart", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) mft_start = number;
    mft_count = 1;
  }
  if (get_arg_option_value_vw("-mftrange", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) mft_count = number;
  }
  if (get_arg_option_value_vw("-out", value, args) ||
      get_arg_option_value_vw("-outfile", value, args)) {
    const std::wstring full = get_full_path_w(value, L'/');
    if (full.empty()) {
      print_wide_message("prob understanding destination of %s aborting\n,", value);
      return -1;
    }
    out_file = full;
  }
  if (get_arg_option_value_vw("-offset", value, args)) {
    ulong64 number = 0;
    if (parse_number(value, number)) volume_offset = number;
  }
  if (get_arg_option_value_vw("-username", value, args)) username = wstring_to_utf8(value);
  if (get_arg_option_value_vw("-hostname", value, args)) hostname = wstring_to_utf8(value);

  const int source = choose_source(*this, args);
  if (source != 0) return source;

  update_filtering();
  return 0;
}
