#include "examine/cluster_copy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <memory>
#include <new>
#include <ostream>

#include "disk/disk_handle.h"
#include "ntfs/ntfs.h"
#include "utils/file_streams.h"
#include "utils/output_file.h"
#include "utils/utf_convert.h"

namespace {

void hex(std::ostream& os, ulong64 value, int digits) { os << std::hex << std::setw(digits) << value; }

void write_header(std::ostream& log, const cluster_copy_volume& v, ulong64 first_lcn, ulong64 count) {
  log << std::setfill('0') << "drive/partition:       " << v.source << "\n";
  log << "volume_offset:         0x";
  hex(log, v.volume_offset, 12);
  log << "\nstart of partition:    0x";
  hex(log, v.partition_start, 12);
  log << " bytes [0x" << (v.bytes_per_sector ? v.partition_start / v.bytes_per_sector : 0) << " sectors]\n";
  log << "starting LCN           0x";
  hex(log, first_lcn, 12);
  log << "\nnum clusters           0x";
  hex(log, count, 12);
  log << std::dec << " [" << count << "]\n\n";
}

void say_write_failed(const std::string& name) { std::fprintf(stderr, "write failed: %s\n", name.c_str()); }

void log_failed(std::ostream* log, ulong64 lcn) {
  if (!log || !log->good()) return;
  *log << "clusters               0x";
  hex(*log, lcn, 12);
  *log << " [failed]\n";
}

// `out_name` and `log_name` name the two files in what is said of them.
bool copy_from_volume(CNtfs* opened, const std::string& source, ulong64 first_lcn, ulong64 count,
                      std::ofstream& out, std::ofstream& log, const std::string& out_name,
                      const std::string& log_name) {
  std::unique_ptr<CNtfs> ntfs(opened);
  if (!out.is_open()) return false;
  cluster_copy_volume v;
  v.source = source;
  v.volume_offset = ntfs->m_volume_offset;
  const disk_handle* disk = ntfs->get_disk_handle();
  v.partition_start = disk ? disk->get_start_offset() : 0;
  v.bytes_per_sector = ntfs->get_bytes_per_sector();
  v.cluster_size = ntfs->m_cluster_size;
  CNtfs* engine = ntfs.get();
  const cluster_reader read = [engine](ulong64 lcn, byte* buffer, uint32& length) {
    return engine->read_lcn(lcn, buffer, length);
  };
  const bool logged = log.is_open();
  const bool ok = copy_cluster_range(read, v, first_lcn, count, out, logged ? &log : nullptr);
  out.close();
  if (out.fail()) say_write_failed(out_name);
  if (logged) {
    log.close();
    if (log.fail()) say_write_failed(log_name);
  }
  return ok && !out.fail();
}

// What the file `name` is, for telling later whether it is still the file
// this copy made; false when nothing of that name is there.
bool identity_of_name(const std::string& name, uni::file_identity& id) {
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) return false;
  id.device = static_cast<uint64>(st.st_dev);
  id.inode = static_cast<uint64>(st.st_ino);
  return true;
}

bool open_image_source(const std::vector<std::wstring>& vmdk_files, const std::wstring& image, ulong64 offset,
                       CNtfs*& ntfs) {
  if (!vmdk_files.empty()) return open_ntfs_vmdk_chain(vmdk_files, offset, ntfs, false);
  return open_ntfs_image(image, offset, ntfs, false, false) || open_ntfs_by_drive_number(0, offset, ntfs, false, false);
}

// The copy and its log opened (both truncated), then the copy made. Neither
// may be a file the volume is read from: the copy is refused, with false.
// Both are checked before either is emptied, so a refusal leaves the other
// file as it was: the log is first opened without truncation. A log made
// for a copy that is then not made is removed again.
template <typename Path>
bool copy_to_files(CNtfs* opened, const std::string& source, ulong64 first_lcn, ulong64 count, const Path& out_path,
                   const Path& log_path) {
  uni::file_identities sources;
  opened->source_identities(sources);
  std::string out_name, log_name;
  uni::path_to_utf8(out_name, out_path);
  uni::path_to_utf8(log_name, log_path);
  std::ofstream out, log;
  uni::output_result logged =
      log_path.empty() ? uni::output_result::failed : uni::open_output(log, log_path, sources, uni::output_open::create_new);
  uni::file_identity made;
  const bool log_made = logged == uni::output_result::opened && identity_of_name(log_name, made);
  if (logged == uni::output_result::exists) logged = uni::open_output(log, log_path, sources, uni::output_open::append);
  if (uni::refused(logged)) {
    delete opened;
    return false;
  }
  uni::open_output(out, out_path, sources, uni::output_open::truncate);
  if (!out.is_open() && log.is_open()) {
    log.close();
    uni::file_identity now;
    if (log_made && identity_of_name(log_name, now) && uni::is_one_of(now, {made})) ::unlink(log_name.c_str());
  }
  if (out.is_open() && log.is_open()) uni::open_output(log, log_path, sources, uni::output_open::truncate);
  return copy_from_volume(opened, source, first_lcn, count, out, log, out_name, log_name);
}

}  // namespace

bool copy_cluster_range(const cluster_reader& read, const cluster_copy_volume& volume, ulong64 first_lcn,
                        ulong64 count, std::ostream& out, std::ostream* log) {
  const uint32 cluster = volume.cluster_size;
  if (cluster == 0) return false;
  std::unique_ptr<byte[]> buffer(new (std::nothrow) byte[cluster]);
  if (!buffer) return false;
  if (log) write_header(*log, volume, first_lcn, count);
  ulong64 written = 0;
  for (ulong64 i = 0; i < count; ++i) {
    const ulong64 lcn = first_lcn + i;
    uint32 length = cluster;
    const bool fits = lcn <= ~0ULL / cluster;
    if (!fits || !read(lcn, buffer.get(), length) || length == 0 || length > cluster) {
      log_failed(log, lcn);
      continue;
    }
    // Each cluster at its own place in the copy, whatever came before it:
    // a hole where the stream allows one, zeros where it does not.
    const ulong64 at = i * cluster;
    if (at != written) {
      out.seekp(static_cast<std::streamoff>(at));
      if (out.fail()) {
        out.clear();
        out.seekp(static_cast<std::streamoff>(written));
        for (ulong64 n = written; n < at; ++n) out.put('\0');
      }
    }
    out.write(reinterpret_cast<const char*>(buffer.get()), length);
    // The log says a cluster was copied only once the output took it (a
    // FIFO whose reader went takes nothing more), so each is handed on
    // before it is logged.
    if (log) out.flush();
    if (!out) {
      log_failed(log, lcn);
      return false;
    }
    if (log && log->good()) {
      *log << "cluster num            0x";
      hex(*log, lcn, 12);
      *log << ",   physical addr:  0x";
      hex(*log, volume.partition_start + lcn * cluster, 16);
      *log << (length == cluster ? " [ok]\n" : "\n");
    }
    written = at + length;
  }
  return true;
}

bool copy_drive_clusters_w(uint32 drive_number, ulong64 volume_offset, ulong64 first_lcn, ulong64 count,
                           const std::wstring& out_path, const std::wstring& log_path) {
  CNtfs* ntfs = nullptr;
  if (!open_ntfs_by_drive_number(drive_number, volume_offset, ntfs, false, false)) return false;
  return copy_to_files(ntfs, std::to_string(drive_number), first_lcn, count, out_path, log_path);
}

bool copy_drive_clusters(uint32 drive_number, ulong64 volume_offset, ulong64 first_lcn, ulong64 count,
                         const std::string& out_path, const std::string& log_path) {
  CNtfs* ntfs = nullptr;
  if (!open_ntfs_by_drive_number(drive_number, volume_offset, ntfs, false, false)) return false;
  return copy_to_files(ntfs, std::to_string(drive_number), first_lcn, count, out_path, log_path);
}

bool copy_image_clusters_w(const std::vector<std::wstring>& vmdk_files, const std::wstring& image,
                           ulong64 volume_offset, ulong64 first_lcn, ulong64 count, const std::wstring& out_path,
                           const std::wstring& log_path) {
  CNtfs* ntfs = nullptr;
  if (!open_image_source(vmdk_files, image, volume_offset, ntfs)) return false;
  return copy_to_files(ntfs, wstring_to_utf8(image), first_lcn, count, out_path, log_path);
}

bool copy_image_clusters(const std::vector<std::string>& vmdk_files, const std::string& image, ulong64 volume_offset,
                         ulong64 first_lcn, ulong64 count, const std::string& out_path, const std::string& log_path) {
  std::vector<std::wstring> wide_files;
  utf8_to_wstrings(wide_files, vmdk_files);
  CNtfs* ntfs = nullptr;
  if (!open_image_source(wide_files, utf8_to_wstring(image), volume_offset, ntfs)) return false;
  return copy_to_files(ntfs, image, first_lcn, count, out_path, log_path);
}
