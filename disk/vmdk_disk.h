#pragma once
// vmdk_disk: the sparse extents of one VMware virtual disk and its snapshots
// joined into one readable disk. Each extent names its own content id and its
// parent's; the one whose parent id is "ffffffff" is the base. A read asks,
// grain by grain, the newest extent that holds the grain, and reads zeros
// where none does.
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "disk/vmdk_extent.h"
#include "utils/types.h"

class vmdk_disk {
 public:
  std::map<std::string, vmdk_extent*> m_extents;  // owned, keyed by content id
  vmdk_extent* m_head;
  vmdk_extent* m_base;
  bool m_writable;
  bool m_open;
  std::vector<vmdk_extent*> m_chain;  // base first, head last

  explicit vmdk_disk(bool writable);
  ~vmdk_disk();
  vmdk_disk(const vmdk_disk&) = delete;
  vmdk_disk& operator=(const vmdk_disk&) = delete;

  bool add_extent(const wchar_t* path);
  bool add_extent(const char* path);
  // An extent already open: the extent works on its own duplicate of `fd`.
  bool add_extent(int fd);
  bool add_extents(const std::vector<std::wstring>& paths);
  bool add_extents(const std::vector<std::string>& paths);
  bool link_chain();

  // Checks that the files form one whole chain, finding missing parents
  // through their file-name hints. True only when the list given was already
  // whole; otherwise the reasons are in msgs and chain_files holds the list
  // to suggest (the files given, then the parents found).
  bool open_chain(const std::vector<std::wstring>& files, std::ostream& msgs,
                  std::vector<std::wstring>& chain_files);
  bool open_chain(const std::vector<std::string>& files, std::ostream& msgs, std::vector<std::string>& chain_files);

  bool read(void* buf, ulong64 offset, uint32& len);
  bool write(const void* buf, ulong64 offset, uint32& len);
  bool read_volume(uint32 volume, void* buf, ulong64 offset, uint32& len);
  bool write_volume(uint32 volume, const void* buf, ulong64 offset, uint32& len);
  vmdk_extent* find_extent(ulong64 offset);

  void close();
  void reset();

  bool is_open() const { return m_open; }

  // Each extent's report, base first (vmdk_dump.cpp); false when not open.
  bool dump_grain_directories(std::ostream& os) const;
  bool dump_grain_tables(uint32 table, std::ostream& os) const;
  bool dump_descriptors(std::ostream& os) const;
  bool dump_extents(std::ostream& os) const;

 private:
  bool check_chain(const std::vector<std::wstring>& files, std::ostream& msgs,
                   std::vector<std::wstring>& chain_files);
  bool enter(vmdk_extent* extent);
  void delete_extents();
  // Sets the parent and child links from the content ids and finds the base;
  // returns the first extent (in key order) whose parent is missing, or null.
  vmdk_extent* link_parents();
  bool walk_from_base();
};
