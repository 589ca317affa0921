#include "examine/entry_report.h"

#include <iomanip>
#include <memory>
#include <ostream>

#include "disk/disk_handle.h"
#include "examine/attribute_extract.h"
#include "examine/attribute_writer.h"
#include "examine/entry_record_report.h"
#include "examine/entry_records.h"
#include "ntfs/ntfs.h"
#include "ntfs/open_resolve.h"
#include "utils/byte_order.h"
#include "utils/case_text.h"
#include "utils/output_file.h"
#include "utils/utf_convert.h"

namespace {

std::vector<std::wstring> path_components(const std::wstring& path) {
  const wchar_t sep = path.find(L'/') != std::wstring::npos ? L'/' : L'\\';
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : path) {
    if (c == sep) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string stream_name_of(const std::wstring& path) {
  const std::vector<std::wstring> parts = path_components(path);
  if (parts.empty()) return "";
  const size_t colon = parts.back().find(L':');
  return colon == std::wstring::npos ? "" : wstring_to_utf8(parts.back().substr(colon + 1));
}

// The path without the stream name: the name resolver knows names only.
std::wstring entry_path_of(const std::wstring& path) {
  const size_t last = path.find_last_of(L"/\\");
  const size_t colon = path.find(L':', last == std::wstring::npos ? 0 : last + 1);
  if (colon == std::wstring::npos || (last == std::wstring::npos && colon == 1)) return path;
  return path.substr(0, colon);
}

bool open_source(const entry_report_request& r, bool by_path, CNtfs*& ntfs, ulong64& entry) {
  ntfs = nullptr;
  entry = r.entry;
  if (by_path || r.entry == ENTRY_FROM_PATH) {
    const std::wstring path = entry_path_of(r.path);
    std::wstring name;
    if (!r.vmdk_files.empty())
      return open_ntfs_vmdk_chain_resolve_path(r.vmdk_files, r.volume_offset, path, name, entry, ntfs, true, false,
                                               false);
    if (!r.image_path.empty())
      return open_ntfs_image_resolve_path(r.image_path, r.volume_offset, path, name, entry, ntfs, true, false,
                                          false);
    if (r.drive_number != NO_DRIVE_NUMBER)
      return open_ntfs_by_drive_number_resolve_path(r.drive_number, r.volume_offset, path, name, entry, ntfs, true,
                                                    false, false);
    return open_ntfs_by_drive_letter_resolve_path(path, name, entry, ntfs, true, false, false);
  }
  if (!r.vmdk_files.empty()) return open_ntfs_vmdk_chain(r.vmdk_files, r.volume_offset, ntfs, false);
  if (!r.image_path.empty()) return open_ntfs_image(r.image_path, r.volume_offset, ntfs, false, false);
  if (r.drive_number != NO_DRIVE_NUMBER)
    return open_ntfs_by_drive_number(r.drive_number, r.volume_offset, ntfs, false, false);
  return open_ntfs_by_drive_letter(r.drive_letter, ntfs, false, false);
}

enum class report_outcome { written, left_out, refused };

// Refused when the report file is a file the volume is read from or a FIFO
// nobody reads; a report that cannot be written for any other reason is
// left out.
report_outcome write_report(const entry_report_request& r, CNtfs* ntfs, ulong64 entry,
                            const std::vector<entry_record>& recs) {
  uni::file_identities sources;
  ntfs->source_identities(sources);
  std::ofstream out;
  const uni::output_result opened = uni::open_output(out, r.report_path, sources, uni::output_open::truncate);
  if (uni::refused(opened)) return report_outcome::refused;
  if (opened != uni::output_result::opened) return report_outcome::left_out;
  out << std::setfill('0') << wstring_to_utf8(r.path) << "\n\nMisc stats:\n";
  out << "  cluster size:         0x" << std::hex << std::setw(8) << ntfs->m_cluster_size << "\n";
  out << "  sectors/cluster:      0x" << std::setw(8) << ntfs->m_sectors_per_cluster << "\n";
  ulong64 lcn = 0;
  uint32 offset = 0;
  if (ntfs->is_validated() && ntfs->get_inode_lcn(entry, lcn, offset)) {
    out << "  MFT entry LCN:offset: 0x" << std::setw(8) << lcn << ":0x" << std::setw(4) << offset << " ["
        << std::dec << lcn << ":" << offset << "]\n";
    const disk_handle* disk = ntfs->get_disk_handle();
    const ulong64 start = disk ? disk->get_start_offset() : 0;
    const uint32 bps = ntfs->get_bytes_per_sector();
    out << "  start of partition:   0x" << std::hex << std::setw(12) << start << " bytes [0x"
        << (bps ? start / bps : 0) << " sectors]\n";
  }
  out << "\n" << std::hex;
  for (const entry_record& rec : recs) {
    write_entry_record_report(rec, out, nullptr);
    out << "\n";
  }
  out.close();
  return out ? report_outcome::written : report_outcome::left_out;
}

// Data goes somewhere: to standard output, to the caller's stream or to a file.
bool data_asked(const entry_report_request& r) { return r.to_stdout || r.to_stream || !r.extract_path.empty(); }

const entry_record* select_attribute(const std::vector<entry_record>& recs, const std::string& stream) {
  for (const entry_record& rec : recs) {
    if (!rec.name.empty() && !stream.empty() && compare(rec.name.c_str(), stream.c_str(), true) == 0) return &rec;
    if (stream.empty() && rec.item.header.type == 0x80 && rec.name.empty()) return &rec;
  }
  return nullptr;
}

bool act(const entry_report_request& r, CNtfs* ntfs, entry_record rec, ulong64 stamp) {
  if (r.compact_runs) compact_data_runs(rec.runs);
  if (r.to_stdout) return write_entry_data_to_stdout(ntfs, rec, r.raw) == 1;
  if (r.to_stream) return r.data_out && write_entry_data(*r.data_out, ntfs, rec, r.raw, r.show_progress) == 1;
  if (r.hash_and_rename)
    return extract_attribute_hashed(r.extract_path.c_str(), static_cast<const wchar_t*>(nullptr), ntfs, rec, r.raw,
                                    stamp);
  return extract_attribute(r.extract_path.c_str(), static_cast<const wchar_t*>(nullptr), ntfs, rec, r.raw);
}

bool run(const entry_report_request& r, bool by_path) {
  if (r.data_out && !r.data_out->good()) return false;
  CNtfs* opened = nullptr;
  ulong64 entry = 0;
  bool ok = false;
  try {
    ok = open_source(r, by_path, opened, entry);
  } catch (const std::exception&) {
    ok = false;
  }
  std::unique_ptr<CNtfs> ntfs(opened);
  if (!ok || !ntfs) return false;
  std::vector<entry_record> recs;
  if (!collect_entry_records(ntfs.get(), entry, recs)) return false;
  report_outcome report = report_outcome::left_out;
  if (!r.report_path.empty()) report = write_report(r, ntfs.get(), entry, recs);
  if (report == report_outcome::refused) return false;
  // A call that asked for the report alone is done once it is written,
  // whatever stream the path names.
  if (!data_asked(r)) return report == report_outcome::written;
  ulong64 stamp = 0;
  for (const entry_record& rec : recs) {
    if (rec.item.header.type == 0x10) {
      stamp = load_u64(rec.item.body, 8);
      break;
    }
  }
  const entry_record* selected = select_attribute(recs, stream_name_of(r.path));
  return selected && act(r, ntfs.get(), *selected, stamp);
}

}  // namespace

bool report_entry(const entry_report_request& request) { return run(request, false); }

bool report_entry_by_path(const entry_report_request& request) { return run(request, true); }
