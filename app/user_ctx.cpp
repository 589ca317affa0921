#include "app/user_ctx.h"

#include <unistd.h>

#include <cstring>

#include "ntfs/ntfs.h"
#include "utils/byte_order.h"
#include "utils/file_handle.h"

namespace {

// Largest MFT record we accept when learning the size from record 0 of an
// extracted $MFT file: a corrupt update-sequence count must not become a
// multi-megabyte read per entry.
const uint32 kMaxRecordSize = 65536;

}  // namespace

user_ctx::user_ctx() { set_defaults(); }

user_ctx::user_ctx(CNtfs* engine, bool owns) {
  set_defaults();
  if (engine != nullptr && engine->is_validated()) {
    is_open = true;
    ntfs = engine;
    mft_entry_count = engine->get_inode_count();
    owns_ntfs = owns;
  }
}

user_ctx::~user_ctx() {
  if (copy_dir_fd >= 0) ::close(copy_dir_fd);
  delete mft_reader;
  mft_reader = nullptr;
  if (ntfs != nullptr && owns_ntfs) delete ntfs;
  ntfs = nullptr;
}

void user_ctx::set_defaults() {
  csv = false;
  bodyfile = false;
  csvl2t = false;
  out_file.clear();
  hex_sizes = true;
  header_pending = true;
  verbose = true;
  hide_dos_fntimes = false;
  omit_clusterinfo = true;
  mft_entry_count = 0;
  mft_start = 0;
  mft_count = 0;
  mftfile.clear();
  mft_reader = nullptr;
  mft_pos = 0;
  ntfs = nullptr;
  owns_ntfs = true;
  volume_offset = 0;
  image.clear();
  resolved_image.clear();
  partition.clear();
  drivenum = -1;
  vmdk_files.clear();
  include_header = false;
  header_offset = 0;
  header_length = 0;
  filters_active = false;
  filter_ext.clear();
  filter_name.clear();
  filter_start_time = 0;
  filter_stop_time = 0;
  filter_deleted_files = false;
  note_time_sources = true;
  future_limit = 0;
  path_w.clear();
  path.clear();
  copy_files = false;
  copy_dir.clear();
  // The folder is the context's own, unlike the sources.
  if (copy_dir_fd >= 0) ::close(copy_dir_fd);
  copy_dir_fd = -1;
  raw = false;
  copy_md5 = true;
  std::memset(copy_digest, 0, sizeof copy_digest);
  copy_dest.clear();
  all_streams = false;
  unnamed_stream = false;
  named_streams = false;
  record_size = 1024;
  sector_size = 512;
  record_size_known = false;
  source_desc.clear();
  csv_separator = L",";
  cmdline.clear();
  arguments.clear();
  is_open = false;
  rawfile = false;
  slack = false;
  all = false;
  nodups = false;
  valid = true;
  level = 0;
  indxfile.clear();
  username.clear();
  hostname.clear();
  tool_name.clear();
}

bool user_ctx::source_ready() {
  if (mft_reader != nullptr && mft_reader->is_open()) return true;
  if (ntfs != nullptr) return ntfs->initialise(mft_pos);
  return false;
}

void user_ctx::close_source() {
  if (!is_open) return;
  delete mft_reader;
  mft_reader = nullptr;
  if (ntfs != nullptr && owns_ntfs) delete ntfs;
  ntfs = nullptr;
  is_open = false;
}

bool user_ctx::read_mft_entry(std::vector<byte>& out, ulong64 entry) {
  out.clear();
  if (mft_reader != nullptr && mft_reader->is_open()) {
    if (!record_size_known) {
      // Set before the attempt: a record 0 we cannot learn from leaves the
      // default size for every later read instead of retrying each time.
      record_size_known = true;
      std::vector<byte> first;
      if (!mft_reader->read_bytes_at(first, record_size, 0) || first.size() < 8) return false;
      const uint32 count = load_u16(first.data(), 6);
      if (count == 0) return false;
      const uint64 learnt = static_cast<uint64>(count - 1) * sector_size;
      if (learnt == 0 || learnt > kMaxRecordSize) return false;
      record_size = static_cast<uint32>(learnt);
    }
    const ulong64 pos = static_cast<ulong64>(record_size) * entry;
    if (entry != 0 && pos / entry != record_size) return false;  // would wrap
    return mft_reader->read_bytes_at(out, record_size, pos);
  }
  if (ntfs != nullptr && ntfs->initialise(mft_pos)) {
    bool flag = false;
    return ntfs->read_mft_record_to_vector(out, flag, entry);
  }
  return false;
}

void user_ctx::clear_copy_result() {
  std::memset(copy_digest, 0, sizeof copy_digest);
  copy_dest.clear();
}

bool user_ctx::update_filtering() {
  filters_active = filter_deleted_files || !filter_ext.empty() || !filter_name.empty() || filter_start_time != 0 ||
                   filter_stop_time != 0;
  return filters_active;
}
