#pragma once
// The one record that carries a run: every option the command line gave, the
// open evidence source, the output choices and the command-line echo. The
// directory walker shares the option parser, so its options live here too.
#include <string>
#include <vector>

#include "utils/types.h"

class CNtfs;
namespace uni {
class file_handle;
}

class user_ctx {
 public:
  user_ctx();
  // Adopts a validated engine; a null or unvalidated one stays with the caller.
  user_ctx(CNtfs* engine, bool owns);
  ~user_ctx();
  user_ctx(const user_ctx&) = delete;
  user_ctx& operator=(const user_ctx&) = delete;

  // Gives every field its default. Forgets (does not delete) the sources, so
  // it is meant for a fresh context.
  void set_defaults();
  // Fills the context from the program's arguments (UTF-8, program name
  // first). -2: program name only; -1: a problem, already reported on
  // standard error; 0: filled with one input source chosen.
  int parse_cmdline(int argc, char** argv);
  bool source_ready();
  void close_source();
  // Reads one MFT entry: as stored from an extracted $MFT file, with the
  // update-sequence fixups from a volume.
  bool read_mft_entry(std::vector<byte>& out, ulong64 entry);
  void clear_copy_result();
  // Sets filters_active when any record filter is given (deleted files,
  // extension, name, or either end of the time window); returns it.
  bool update_filtering();

  // Output format (at most one of the three is true after parsing).
  bool csv = false;
  bool bodyfile = false;
  bool csvl2t = false;
  std::wstring out_file;
  bool hex_sizes = true;
  bool header_pending = true;
  bool verbose = true;
  bool hide_dos_fntimes = false;
  bool omit_clusterinfo = true;

  // Source and MFT geometry.
  ulong64 mft_entry_count = 0;
  ulong64 mft_start = 0;
  ulong64 mft_count = 0;
  std::wstring mftfile;
  uni::file_handle* mft_reader = nullptr;
  ulong64 mft_pos = 0;
  CNtfs* ntfs = nullptr;
  bool owns_ntfs = true;
  ulong64 volume_offset = 0;
  std::wstring image;
  std::wstring resolved_image;
  std::wstring partition;
  int32 drivenum = -1;
  std::vector<std::wstring> vmdk_files;

  // Walker listing details and filters.
  bool include_header = false;
  ulong64 header_offset = 0;
  uint32 header_length = 0;
  bool filters_active = false;
  std::wstring filter_ext;
  std::wstring filter_name;
  ulong64 filter_start_time = 0;
  ulong64 filter_stop_time = 0;
  bool filter_deleted_files = false;
  bool note_time_sources = true;
  ulong64 future_limit = 0;

  // Directory named with -mft or -path; during the work loop `path` is the
  // directory being written, ending in a backslash.
  std::wstring path_w;
  std::string path;

  // Walker copies.
  bool copy_files = false;
  std::wstring copy_dir;
  // The copy folder, held open once it is made (-1 before): copies are made
  // in it by this descriptor, whatever becomes of its path meanwhile.
  int copy_dir_fd = -1;
  bool raw = false;
  bool copy_md5 = true;
  byte copy_digest[16] = {};
  std::wstring copy_dest;
  bool all_streams = false;
  bool unnamed_stream = false;
  bool named_streams = false;

  // Record geometry used for reads.
  uint32 record_size = 1024;
  uint32 sector_size = 512;
  bool record_size_known = false;

  std::wstring source_desc;
  std::wstring csv_separator = L",";
  std::wstring cmdline;
  // The program's arguments as the parser was given them: the evidence guard
  // checks what they name.
  std::vector<std::string> arguments;
  bool is_open = false;

  // Entry selection, read by the run sequence.
  bool rawfile = false;
  bool slack = false;
  bool all = false;
  bool nodups = false;
  bool valid = true;
  int32 level = 0;
  std::string indxfile;
  std::string username;
  std::string hostname;
  std::string tool_name;
};
