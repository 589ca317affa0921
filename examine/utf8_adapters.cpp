#include "examine/utf8_adapters.h"

#include "ntfs/dir_children.h"
#include "ntfs/ntfs.h"
#include "ntfs/open_resolve.h"
#include "ntfs/path_lookup.h"
#include "utils/utf_convert.h"

namespace {

// The resolved name goes out only when it was asked for and found.
bool with_name(bool ok, bool want_name, const std::wstring& wide, std::string& name) {
  if (ok && want_name) name = wstring_to_utf8(wide);
  return ok;
}

}  // namespace

bool record_has_file_name(std::map<ulong64, std::wstring>& names, const byte* record, int size, const char* name) {
  return name && record_has_file_name(names, record, size, std::string(name));
}

bool get_record_names_and_parents(const byte* record, std::string& name, ulong64_set& parents, uint32& value) {
  name.clear();
  std::wstring wide;
  if (!get_record_names_and_parents(record, wide, parents, value)) return false;
  name = wstring_to_utf8(wide);
  return true;
}

bool get_record_names_and_parents(const byte* record, std::string& name, ulong64_set& parents) {
  uint32 dropped = 0;
  return get_record_names_and_parents(record, name, parents, dropped);
}

bool get_record_ads_names(const byte* record, std::set<std::string>& names, ulong64& parent) {
  std::set<std::wstring> wide;
  if (!get_record_ads_names(record, wide, parent)) return false;
  for (const std::wstring& n : wide) names.insert(wstring_to_utf8(n));
  return !names.empty();
}

bool open_ntfs_by_drive_number_resolve_path(uint32 drive_number, ulong64 volume_offset, const std::string& path,
                                            std::string& name, ulong64& entry, CNtfs*& ntfs, bool want_name,
                                            bool writable, bool as_device) {
  std::wstring wide;
  return with_name(open_ntfs_by_drive_number_resolve_path(drive_number, volume_offset, utf8_to_wstring(path), wide,
                                                          entry, ntfs, want_name, writable, as_device),
                   want_name, wide, name);
}

bool open_ntfs_by_drive_letter_resolve_path(const std::string& path, std::string& name, ulong64& entry, CNtfs*& ntfs,
                                            bool want_name, bool writable, bool as_device) {
  ntfs = nullptr;
  if (path.empty()) return false;
  std::wstring wide;
  return with_name(open_ntfs_by_drive_letter_resolve_path(utf8_to_wstring(path), wide, entry, ntfs, want_name,
                                                          writable, as_device),
                   want_name, wide, name);
}

bool open_ntfs_by_drive_letter_resolve_path(const std::string& path, ulong64& entry, CNtfs*& ntfs, bool writable,
                                            bool as_device) {
  std::string unused;
  return open_ntfs_by_drive_letter_resolve_path(path, unused, entry, ntfs, false, writable, as_device);
}

bool open_ntfs_image_resolve_path(const std::string& image, ulong64 volume_offset, const std::string& path,
                                  std::string& name, ulong64& entry, CNtfs*& ntfs, bool want_name, bool writable,
                                  bool as_device) {
  std::wstring wide;
  return with_name(open_ntfs_image_resolve_path(utf8_to_wstring(image), volume_offset, utf8_to_wstring(path), wide,
                                                entry, ntfs, want_name, writable, as_device),
                   want_name, wide, name);
}

bool open_ntfs_image_resolve_path(const std::string& image, const std::string& path, ulong64& entry, CNtfs*& ntfs,
                                  bool writable, bool as_device) {
  return open_ntfs_image_resolve_path(image, 0, path, entry, ntfs, writable, as_device);
}

bool open_ntfs_image_resolve_path(const std::string& image, ulong64 volume_offset, const std::string& path,
                                  ulong64& entry, CNtfs*& ntfs, bool writable, bool as_device) {
  std::string unused;
  return open_ntfs_image_resolve_path(image, volume_offset, path, unused, entry, ntfs, false, writable, as_device);
}

bool open_ntfs_vmdk_chain_resolve_path(const std::vector<std::string>& vmdk_files, ulong64 volume_offset,
                                       const std::string& path, std::string& name, ulong64& entry, CNtfs*& ntfs,
                                       bool want_name, bool writable, bool as_device) {
  std::vector<std::wstring> files;
  utf8_to_wstrings(files, vmdk_files);
  std::wstring wide;
  return with_name(open_ntfs_vmdk_chain_resolve_path(files, volume_offset, utf8_to_wstring(path), wide, entry, ntfs,
                                                     want_name, writable, as_device),
                   want_name, wide, name);
}
