// Open-and-resolve entry points and the small probes of a volume's folders.
#include "ntfs/open_resolve.h"

#include <cstring>
#include <functional>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/path_lookup.h"
#include "utils/string_lists.h"

namespace {

// The path alone as "." names the root without a lookup.
bool names_root_only(const std::wstring& path) {
  std::vector<std::wstring> parts;
  split_w(path, path.find(L'/') != std::wstring::npos ? L'/' : L'\\', parts);
  return parts.size() == 1 && parts[0] == L".";
}

bool open_and_resolve(const std::function<bool(CNtfs*&)>& open, const std::wstring& path,
                      std::wstring& resolved_path, ulong64& inode, CNtfs*& out, bool follow_links,
                      bool on_volume) {
  out = nullptr;
  CNtfs* engine = nullptr;
  if (!open(engine) || !engine) return false;
  bool ok = true;
  if (names_root_only(path)) {
    resolved_path = path;
    inode = ROOT_DIRECTORY_ENTRY;
  } else if (on_volume) {
    ok = resolve_path_on_volume(inode, resolved_path, engine, path, follow_links);
  } else {
    ok = engine->get_inode_from_path(std::wstring(path), resolved_path, inode, follow_links);
  }
  // The volume stays open whatever the lookup found: the caller owns it and
  // may go on with it after a path that names nothing.
  out = engine;
  return ok;
}

}  // namespace

bool open_ntfs_by_drive_number_resolve_path(uint32 drive_number, ulong64 volume_offset, const std::wstring& path,
                                            std::wstring& resolved_path, ulong64& inode, CNtfs*& out,
                                            bool follow_links, bool writable, bool as_device) {
  return open_and_resolve(
      [&](CNtfs*& e) { return open_ntfs_by_drive_number(drive_number, volume_offset, e, writable, as_device); }, path,
      resolved_path, inode, out, follow_links, false);
}

bool open_ntfs_by_drive_letter_resolve_path(const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                                            CNtfs*& out, bool follow_links, bool writable, bool as_device) {
  return open_and_resolve([&](CNtfs*& e) { return open_ntfs_by_drive_letter(path, e, writable, as_device); }, path,
                          resolved_path, inode, out, follow_links, false);
}

bool open_ntfs_image_resolve_path(const std::wstring& image, ulong64 volume_offset, const std::wstring& path,
                                  std::wstring& resolved_path, ulong64& inode, CNtfs*& out, bool follow_links,
                                  bool writable, bool as_device) {
  return open_and_resolve(
      [&](CNtfs*& e) { return open_ntfs_image(image, volume_offset, e, writable, as_device); }, path, resolved_path,
      inode, out, follow_links, false);
}

bool open_ntfs_image_resolve_path_on_volume(ulong64& inode, CNtfs*& out, std::wstring& resolved_path, uint32,
                                            const std::wstring& image, ulong64 volume_offset,
                                            const std::wstring& path, bool follow_links, bool writable,
                                            bool as_device) {
  return open_and_resolve(
      [&](CNtfs*& e) { return open_ntfs_image(image, volume_offset, e, writable, as_device); }, path, resolved_path,
      inode, out, follow_links, true);
}

bool open_ntfs_vmdk_chain_resolve_path(const std::vector<std::wstring>& vmdk_files, ulong64 volume_offset,
                                       const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                                       CNtfs*& out, bool follow_links, bool writable, bool) {
  return open_and_resolve(
      [&](CNtfs*& e) { return open_ntfs_vmdk_chain(vmdk_files, volume_offset, e, writable); }, path, resolved_path,
      inode, out, follow_links, false);
}

bool CNtfs::has_users_public_dir() {
  ulong64 child = 0, grandchild = 0;
  return find_child_by_name_w(ROOT_DIRECTORY_ENTRY, L"Users", child) &&
         find_child_by_name_w(child, L"Public", grandchild);
}

bool CNtfs::has_default_user_dir() {
  ulong64 child = 0, grandchild = 0;
  return find_child_by_name_w(ROOT_DIRECTORY_ENTRY, L"documents and settings", child) &&
         find_child_by_name_w(child, L"Default User", grandchild);
}

bool CNtfs::is_directory(ulong64 entry) {
  std::vector<byte> record;
  bool torn = false;
  if (!read_mft_record_to_vector(record, torn, entry) || record.size() < FRH_SIZE) return false;
  return (load_u16(record.data(), FRH_FLAGS) & FILE_RECORD_DIRECTORY) != 0;
}
