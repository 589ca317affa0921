#include "examine/attribute_extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "examine/attribute_writer.h"
#include "examine/entry_record_report.h"
#include "ntfs/indx_record_dump.h"
#include "ntfs/mft_record.h"
#include "utils/descriptor_stream.h"
#include "utils/file_streams.h"
#include "utils/output_file.h"
#include "utils/path_split.h"
#include "utils/random_text.h"
#include "utils/unique_output.h"

namespace {

// False only when the report file is a file the volume is read from or a
// FIFO nobody reads; a report that cannot be written for any other reason
// is left out.
bool append_report(const std::string& report_path, const uni::file_identities& sources, const std::string& data_path,
                   const entry_record& rec, bool raw, const std::string& messages) {
  std::ofstream report;
  const uni::output_result opened = uni::open_output(report, report_path, sources, uni::output_open::append);
  if (opened != uni::output_result::opened) return !uni::refused(opened);
  report << "Parsed output from the following attribute: \n\n";
  write_entry_record_report(rec, report, nullptr);
  report << "\n" << messages << "\n";
  if (rec.item.header.type != 0xA0 || raw) return true;
  std::ifstream saved(data_path, std::ios::in | std::ios::binary);
  std::vector<byte> block(4096);
  bool first = true;
  while (saved.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()))) {
    dump_indx_record_short(rec.name.c_str(), block.data(), 4096, UPDATE_SEQUENCE_STRIDE, report, first);
    first = false;
  }
  return true;
}

uni::file_identities sources_of(const CNtfs* ntfs) {
  uni::file_identities sources;
  ntfs->source_identities(sources);
  return sources;
}

// The attribute's data through the one handle `fd` (taken over and closed
// here), whole in a regular file as the system answers (uni::close_whole).
bool write_through(int fd, CNtfs* ntfs, const entry_record& rec, bool raw, bool hash, bool made_here,
                   std::string& md5, std::ostringstream& messages, uni::closed_file& made) {
  uni::descriptor_ostream out(fd);
  return uni::close_whole(out, write_attribute_data(ntfs, rec, out, messages, raw, hash, md5), made_here, made);
}

// Removes `path` when it leads to the file `made` still.
void remove_written(const std::string& path, const uni::closed_file& made) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && static_cast<uint64>(st.st_dev) == made.device &&
      static_cast<uint64>(st.st_ino) == made.inode)
    ::unlink(path.c_str());
}

bool extract_plain(const std::string& path, const std::string* report_path, CNtfs* ntfs, const entry_record& rec,
                   bool raw) {
  // Damage the runs show fails before anything is opened: a file already
  // there keeps its bytes.
  if (!ntfs || entry_data_damaged(ntfs, rec, raw)) return false;
  const uni::file_identities sources = sources_of(ntfs);
  // Made new where the name is free, so that a failed extract leaves no
  // file behind; a file already there (a device, a FIFO, an earlier
  // extract) is written as it is.
  int fd = -1;
  uni::output_result opened = uni::open_output(fd, path, sources, uni::output_open::create_new);
  const bool made_new = opened == uni::output_result::opened;
  if (opened == uni::output_result::exists) opened = uni::open_output(fd, path, sources, uni::output_open::truncate);
  if (opened != uni::output_result::opened) return false;
  std::ostringstream messages;
  std::string md5;
  uni::closed_file made;
  const bool ok = write_through(fd, ntfs, rec, raw, false, made_new, md5, messages, made);
  if (!ok) {
    if (made_new) remove_written(path, made);
    return false;
  }
  if (!report_path) return true;
  return append_report(*report_path, sources, path, rec, raw, messages.str());
}

// A new file of a random name in `dir`, made exclusively: an existing file
// is never opened, let alone truncated.
bool create_temporary(const std::string& dir, const uni::file_identities& sources, int& fd, std::string& name) {
  return uni::create_unique_output(fd, [&dir] { return dir + "/_" + random_hex_string(5); }, sources, 64, name);
}

bool extract_hashed(const std::string& path, const std::string* report_path, CNtfs* ntfs, const entry_record& rec,
                    bool raw, ulong64 stamp) {
  if (!ntfs || path.find_first_of("/\\") == std::string::npos || entry_data_damaged(ntfs, rec, raw)) return false;
  std::string dir, leaf;
  if (!split_path(path, dir, leaf) || dir.empty() || leaf.empty()) return false;
  char stamp_text[17];
  std::snprintf(stamp_text, sizeof stamp_text, "%016llx", static_cast<unsigned long long>(stamp));
  const uni::file_identities sources = sources_of(ntfs);
  std::string temporary;
  int fd = -1;
  if (!create_temporary(dir, sources, fd, temporary)) return false;
  std::ostringstream messages;
  std::string md5;
  uni::closed_file made;
  bool ok = write_through(fd, ntfs, rec, raw, true, true, md5, messages, made) && !md5.empty();
  const std::string final_name = dir + "/" + stamp_text + "_" + leaf + "_" + md5;
  // The rename would take the name from the evidence when it has this name.
  if (ok && uni::names_source(final_name, sources)) ok = false;
  if (ok) ok = std::rename(temporary.c_str(), final_name.c_str()) == 0;
  std::remove(temporary.c_str());
  // Named, the copy must be whole there; else the name is taken back.
  if (ok && !uni::names_whole(final_name, made)) {
    std::remove(final_name.c_str());
    ok = false;
  }
  if (!ok || !report_path) return ok;
  return append_report(*report_path, sources, final_name, rec, raw, messages.str());
}

bool narrow_path(const wchar_t* wide, std::string& out) { return wide && uni::path_to_utf8(out, std::wstring(wide)); }

}  // namespace

bool extract_attribute(const char* path, const char* report_path, CNtfs* ntfs, const entry_record& rec, bool raw) {
  if (!path) return false;
  const std::string report = report_path ? report_path : "";
  return extract_plain(path, report_path ? &report : nullptr, ntfs, rec, raw);
}

bool extract_attribute(const wchar_t* path, const wchar_t* report_path, CNtfs* ntfs, const entry_record& rec,
                       bool raw) {
  std::string p, r;
  if (!narrow_path(path, p) || (report_path && !narrow_path(report_path, r))) return false;
  return extract_plain(p, report_path ? &r : nullptr, ntfs, rec, raw);
}

bool extract_attribute_hashed(const char* path, const char* report_path, CNtfs* ntfs, const entry_record& rec,
                              bool raw, ulong64 stamp) {
  if (!path) return false;
  const std::string report = report_path ? report_path : "";
  return extract_hashed(path, report_path ? &report : nullptr, ntfs, rec, raw, stamp);
}

bool extract_attribute_hashed(const wchar_t* path, const wchar_t* report_path, CNtfs* ntfs, const entry_record& rec,
                              bool raw, ulong64 stamp) {
  std::string p, r;
  if (!narrow_path(path, p) || (report_path && !narrow_path(report_path, r))) return false;
  return extract_hashed(p, report_path ? &r : nullptr, ntfs, rec, raw, stamp);
}
