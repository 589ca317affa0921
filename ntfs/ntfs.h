#pragma once
// CNtfs: the engine object for one NTFS volume. It owns the source the volume
// is read from (a disk_handle, or an extracted $MFT file), the boot sector and
// the geometry computed from it, and the $MFT's own record 0 whose $DATA runs
// locate every other MFT record.
//
// The class is declared here whole; its members are defined in the file of
// their subject (ntfs.cpp, mft_record.cpp, inode_stats.cpp, index_*.cpp ...).
#include <iosfwd>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ntfs/data_runs.h"
#include "ntfs/inode_stats.h"
#include "ntfs/ntfs_structs.h"
#include "ntfs/tree_node.h"
#include "utils/output_file.h"
#include "utils/types.h"

class disk_handle;
namespace uni {
class file_handle;
}
struct INDX_ENTRY_INFO;
struct inode_info;

// Valid index entries keyed by parent and lower-cased name; carved entries
// keyed by a 64-bit number (INDX_ENTRY_INFO is defined with the index parser).
typedef std::map<std::string, INDX_ENTRY_INFO> string_indx_map;
typedef std::multimap<ulong64, INDX_ENTRY_INFO> inode_indx_mmap;

enum ntfs_source_kind {
  NTFS_SOURCE_DEFAULT = 32,
  NTFS_SOURCE_FILE = 33,
  NTFS_SOURCE_DRIVE = 34,
  NTFS_SOURCE_DEVICE = 35,
};

// How the update-sequence protection of the last record read was found.
enum record_fixup_state {
  RECORD_FIXUP_APPLIED = 0,  // every sector carried the check value and was restored
  RECORD_FIXUP_NONE = 1,     // no sectors to fix (count below 2), or not read
  RECORD_FIXUP_TORN = 2,     // a sector did not carry the check value: torn write
  RECORD_FIXUP_INVALID = 3,  // array or count out of range: left as read
};

typedef std::vector<std::pair<ulong64, std::wstring>> entry_name_list;

class CNtfs {
 public:
  // Volume geometry and source, in the order the engine has always kept them.
  uint32 m_cluster_size;
  ulong64 m_total_clusters;
  uint32 m_mft_cluster_per_record_fixed;
  ulong64 m_mft_file_pos;
  uint32 m_sectors_per_cluster;
  ulong64 m_volume_offset;
  uint32 m_mft_record_size;
  tree_node_map m_tree_map_first;
  std::string m_mft_file_name;
  uni::file_handle* m_mft_file;
  tree_node_map m_tree_map_second;
  disk_handle* m_disk;
  NTFS_BOOT m_boot;
  byte* m_mft_record0;
  INODE_STATS m_mft_stats;
  uint32 m_mft_record_alloc_size;
  bool m_Validated;
  ulong64 m_num_inodes;

  // Fixup outcome of the most recent read_mft_record.
  mutable record_fixup_state m_last_fixup;
  // Read-ahead window over the $MFT for callers that walk it in order.
  mutable std::vector<byte> m_mft_cache;
  mutable ulong64 m_mft_cache_pos;
  mutable uint32 m_mft_cache_len;

  // ---- construction, source, validation ----
  CNtfs(uint32 drive_number, ulong64 volume_offset, bool writable, bool as_device);
  CNtfs(const wchar_t* path, ulong64 volume_offset, bool writable, bool as_device);
  CNtfs(const char* path, ulong64 volume_offset, bool writable, bool as_device);
  CNtfs(const wchar_t* path, bool writable, bool as_device);
  CNtfs(const char* path, bool writable, bool as_device);
  CNtfs(const wchar_t* path, bool writable);
  CNtfs(const char* path, bool writable);
  // An engine without a source (the in-place factories start from it).
  CNtfs();
  ~CNtfs();
  CNtfs(const CNtfs&) = delete;
  CNtfs& operator=(const CNtfs&) = delete;

  bool open(ntfs_source_kind kind, const std::wstring& path, uint32 drive_number, ulong64 volume_offset,
            bool writable, bool& as_device);
  void close();
  bool initialise(ulong64& mft_pos);
  bool is_valid();
  INODE_STATS get_inode_stats() const;

  // ---- boot sector, raw transfers, record write-back ----
  NTFS_BOOT get_boot_sector() const;
  void hex_dump_boot_sector(std::ostream& os);
  std::ostream& dump_computed_values(std::ostream& os);
  ulong64 get_partition_start();
  ulong64 get_partition_start_sector();
  bool is_disk_device();
  bool is_disk_writable();
  bool write_record(ulong64 pos, byte* record, uint32& len, bool protect);
  bool write_lcn(ulong64 lcn, const void* buf, int& len);

  // ---- volume probes ----
  bool has_users_public_dir();
  bool has_default_user_dir();
  bool is_directory(ulong64 entry);

  // ---- MFT records ----
  bool read_mft_record(ulong64 inode, byte*& buf, ulong64& pos, int& size, bool alloc) const;
  bool read_mft_record_to_vector(std::vector<byte>& out, bool& flag, ulong64 inode) const;
  ulong64 get_inode_file_pos(ulong64 inode) const;
  bool get_inode_lcn(ulong64 inode, ulong64& lcn, uint32& offset) const;
  uint32 get_data_cluster_count(const INODE_STATS& stats) const;
  long64 get_lcn_for_inode(ulong64 inode, std::ostream& out);
  bool get_data_attribute_sizes(ulong64 inode, ulong64& size, ulong64& compressed_size, bool& flagged);
  bool get_stream_sizes(ulong64 inode, ulong64& allocated, ulong64& size, const uint16* name);
  bool get_base_reference(ulong64 inode, ulong64& base);
  bool read_record_cluster(ulong64 inode, byte*& buf, int& size, ulong64& lcn, ulong64& pos);
  bool write_mft_record(ulong64 inode, byte* buf, int& size);
  bool rewrite_mft_record(ulong64 inode);
  bool read_clusters(ulong64 lcn, byte*& buf, int& size, ulong64& pos);
  bool read_lcn(ulong64 lcn, void* buf, int& size);
  bool read_lcn(ulong64 lcn, byte* buf, uint32& size);
  // Whether the last record read had a torn (mismatched) update sequence.
  bool last_record_torn() const { return m_last_fixup == RECORD_FIXUP_TORN; }
  // Drops the $MFT read-ahead window; every write to the volume calls it.
  void invalidate_read_cache() const { m_mft_cache_len = 0; }

  bool is_validated() const { return (m_disk || m_mft_file) ? m_Validated : false; }
  // The volume's clusters that the source holds: the boot sector's count,
  // cut to what the image, VMDK chain or device holds past the volume's
  // offset (a cluster it holds in part counts). The boot sector's count is
  // never checked against the evidence, so every walk whose length comes
  // from the volume or a run list is bounded by this instead.
  ulong64 held_clusters() const;
  // The bytes the source holds past the volume's offset, to the byte: where
  // a read of a cut image comes back short. 0 without a disk.
  ulong64 held_bytes() const;
  ulong64 get_inode_count() const { return m_Validated ? m_num_inodes : 0; }
  disk_handle* get_disk_handle() const;
  // The files the volume is read from (its disk, or its extracted $MFT),
  // added to `out`; false when none is open.
  bool source_identities(uni::file_identities& out) const;
  uint16 get_bytes_per_sector() const { return m_boot.bytes_per_sector; }
  uint8 get_sectors_per_cluster() const { return m_boot.sectors_per_cluster; }
  uint16 get_sectors_per_track() const { return m_boot.sectors_per_track; }
  uint16 get_number_of_heads() const { return m_boot.number_of_heads; }
  uint16 get_boot_word_36() const { return m_boot.drive_num; }
  ulong64 get_total_sectors() const { return m_boot.total_sectors; }
  ulong64 get_mft_lcn() const { return m_boot.mft_start_lcn; }
  ulong64 get_mftmirr_lcn() const { return m_boot.mftmirr_start_lcn; }
  int8_t get_clusters_per_mft_record() const { return m_boot.num_clusters_for_mft; }

  // ---- data runs ----
  bool decode_mapping_pairs(const byte* pairs, std::vector<run_record>& out, uint32 attribute_type,
                            bool clear);

  // ---- INODE_STATS and attribute data readers ----
  bool parse_file_record(const byte* record, INODE_STATS& out);
  bool read_attribute_value(const byte* record, uint32 type, void* buf, uint32 capacity, byte*& cursor, bool);
  bool read_attribute_range(const byte* record, uint32 type, uint32 offset, int length, void* buf, int& size,
                            byte*& cursor, bool raw);
  bool write_attribute_value(const byte* record, uint32 type, std::ostream& out, byte*& cursor, bool raw);
  bool read_run_records_data(const std::vector<run_record>& runs, byte* buf, int capacity);
  bool read_run_records_range(const std::vector<run_record>& runs, uint32 offset, int length, byte* buf,
                              int& size);
  void write_run_records_data(const std::vector<run_record>& runs, std::ostream& out, bool decompress);
  bool read_range_by_lcn_list(const lcn_run_list& list, ulong64 offset, byte* buf, int& size);
  void dump_runs_with_sample(const std::vector<run_record>& runs, std::ostream& out);
  bool get_data_size(ulong64 inode, ulong64& total);
  bool get_data_size_incl_attribute_list(ulong64 inode, ulong64& total);
  void scan_unused_entries(entry_name_list& names, entry_name_list& parents);

  // ---- INDX records ----
  bool read_index_allocation(std::vector<byte>& out, const std::vector<data_run>& runs);
  bool read_and_fix_indexrecord(lcn_run_list& clusters, ulong64 vcn, ulong64& next_vcn, byte*& buffer,
                                int& size) const;

  // ---- index nodes, children, names ----
  bool find_children_w_carve(string_indx_map& valid, inode_indx_mmap& carved, ulong64 dir_entry,
                             ulong64 file_offset) const;
  bool find_children(ulong64 dir_entry, ulong64_set& children) const;
  bool collect_unused_record_names(entry_name_list& out);

  // ---- attribute data through runs ----
  bool read_attribute_data(const std::vector<data_run>& runs, ulong64 offset, byte* out, int& size);
  bool write_attribute_data(ulong64 entry, const byte* data, int& size, uint32 offset);
  bool write_attribute_data(ulong64 entry, const byte* data, uint32& size, uint32 offset);
  bool find_data_runs(ulong64 entry, std::vector<data_run>& runs, byte*& resident_data, uint32& resident_size,
                      bool unnamed_only);
  bool find_data_cluster_list(ulong64 entry, lcn_run_list& list, bool unnamed_only);
  bool find_named_data_runs(ulong64 entry, const std::string& stream_name, std::vector<data_run>& runs);
  bool find_named_data_cluster_list(ulong64 entry, const std::string& stream_name, lcn_run_list& list);

  // ---- path lookup ----
  bool get_inode_from_path(const std::wstring& path, std::wstring& resolved_path, ulong64& inode,
                           bool follow_links);
  bool get_inode_from_path(const std::string& path, std::string& resolved_path, ulong64& inode,
                           bool follow_links);
  bool find_child_by_name_w(ulong64 directory, const std::wstring& name, ulong64& child);
  bool find_child_by_name(ulong64 directory, const std::string& name, ulong64& child);
  bool get_inode_from_relative_path_w(ulong64 start_directory, const std::wstring& relative_path, ulong64& inode,
                                      FILE_RECORD_HEADER& header);
  bool get_inode_from_relative_path(ulong64 start_directory, const std::string& relative_path, ulong64& inode,
                                    FILE_RECORD_HEADER& header);

  // ---- entry tree maps ----
  bool scan_mft_entries(ulong64& progress, ulong64& total, tree_node_map& directories, tree_node_map& files);
  bool link_tree_children(ulong64& progress, ulong64& total, tree_node_map& directories, tree_node_map& files);
  bool build_entry_tree(ulong64& progress, ulong64& total);
  bool find_deleted_entries(ulong64& progress, ulong64& total, tree_node_mmap& deleted_by_parent,
                            tree_node_map& orphans);
  bool find_orphan_entries(ulong64& progress, ulong64& total, tree_node_map& orphans);

  // ---- entry information, listing and paths ----
  bool get_inode_info(ulong64 inode, inode_info& out, ulong64 parent_filter);
  bool get_inode_info(ulong64 inode, inode_info& out, ulong64 parent_filter, ulong64 reserved);
  bool get_path_list_w(ulong64 inode, std::vector<std::wstring> components, std::vector<std::wstring>& paths);
  bool get_path_list(ulong64 inode, const std::vector<std::string>& components, std::vector<std::string>& paths);
  bool get_inode_and_parent_names(ulong64 inode, std::wstring& name, std::wstring& parent_name);
  bool get_inode_and_parent_names(ulong64 inode, std::string& name, std::string& parent_name);
  bool get_inode_name_and_header(ulong64 inode, std::wstring& name, ulong64& parent, FILE_RECORD_HEADER& header);
  bool get_inode_name_and_header(ulong64 inode, std::string& name, ulong64& parent, FILE_RECORD_HEADER& header);

  // ---- examination library services ----
  void dump_mft_record0(std::ostream& os);
  bool collect_unused_entries(std::map<ulong64, inode_info>& out);

  // index members (added by the index parser's owner when something is missing)
  // The allocation as one stream in VCN order, `record_size` bytes a record
  // (from the $INDEX_ROOT), bounded by the attribute's allocated size when
  // that is not 0; the two-argument form uses 4096-byte records.
  bool read_index_allocation(std::vector<byte>& out, const std::vector<data_run>& runs, uint32 record_size,
                             ulong64 attribute_size) const;
  // The same stream read a piece at a time, so that a large folder is never
  // held whole: the records from byte `first` (a record boundary), at most
  // `most` bytes of them; `total` learns the stream's length. False past
  // the end, and for every piece of an allocation the whole read refuses.
  bool read_index_allocation_piece(std::vector<byte>& out, const std::vector<data_run>& runs,
                                   uint32 record_size, ulong64 attribute_size, ulong64 first, ulong64 most,
                                   ulong64& total) const;
  // end index members

  // The value of an $ATTRIBUTE_LIST attribute of `attr_length` bytes,
  // resident or read through its runs; lists are small, larger ones refused.
  bool read_attribute_list_value(const byte* attr, uint32 attr_length, std::vector<byte>& out) const;

  // Reads len bytes at a position of the volume (the volume offset added);
  // len becomes the bytes delivered.
  bool read_volume(ulong64 pos, void* buf, uint32& len) const;

 private:
  // First VCN of each $DATA run of the $MFT, parallel to m_mft_stats.data_runs.
  std::vector<ulong64> m_mft_run_vcns;
  mutable ulong64 m_last_inode_read;

  void init_members();
  void build_mft_run_index();
  bool map_mft_offset(ulong64 mft_offset, ulong64& pos, ulong64& contiguous) const;
  // Up to `length` bytes of a record; `got` the bytes there (fewer where the
  // image ends inside the record).
  bool read_mft_bytes(ulong64 inode, byte* buf, uint32 length, ulong64& pos, uint32& got) const;
  bool read_volume_cached(ulong64 pos, byte* buf, uint32& len, ulong64 readahead) const;
  bool read_mft_file(ulong64 pos, byte* buf, uint32& len) const;
  void release_mft_file();
  bool load_mft_extension_runs();
};

// Factories: each sets `out` to null first and hands back a validated engine
// that the caller owns, or false with nothing left allocated.
bool open_ntfs_by_drive_number(uint32 drive_number, ulong64 volume_offset, CNtfs*& out, bool writable,
                               bool as_device);
bool open_ntfs_by_drive_letter(const wchar_t* letter, CNtfs*& out, bool writable, bool as_device);
bool open_ntfs_by_drive_letter(const std::wstring& letter, CNtfs*& out, bool writable, bool as_device);
bool open_ntfs_by_drive_letter(const char* letter, CNtfs*& out, bool writable, bool as_device);
bool open_ntfs_by_path(std::wstring path, CNtfs*& out, bool writable);
bool open_ntfs_by_path(const char* path, CNtfs*& out, bool writable);
bool open_ntfs_image(const wchar_t* path, ulong64 volume_offset, CNtfs*& out, bool writable, bool as_device);
bool open_ntfs_image(const std::wstring& path, ulong64 volume_offset, CNtfs*& out, bool writable,
                     bool as_device);
bool open_ntfs_image(const char* path, ulong64 volume_offset, CNtfs*& out, bool writable, bool as_device);
bool open_ntfs_mft_file(const char* path, CNtfs*& out);
// VMDK chain factories (defined with the VMDK support).
bool open_ntfs_vmdk_chain(std::vector<std::wstring> vmdk_files, ulong64 volume_offset, CNtfs*& out,
                          bool writable);
bool open_ntfs_vmdk_chain(const std::vector<std::string>& vmdk_files, ulong64 volume_offset, CNtfs*& out,
                          bool writable, bool as_device);

// The NTFS volumes on `disk` (a bare one at offset 0, one at each start its partition table
// names), each start once and `except` never, into `out` (cleared first; with `first_only`, the
// first found alone). Each reads through `disk` itself (disk_handle's DISK_BORROWED): no descriptor
// of its own, nothing said on any stream, nothing written; `disk` must outlive them. Memory that
// runs out throws std::bad_alloc, so that no volume is passed over for want of it.
void open_ntfs_disk_volumes(disk_handle& disk, ulong64 except, std::vector<std::unique_ptr<CNtfs>>& out,
                            bool first_only = false);

// Raw reads at base + offset of a disk handle.
bool read_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, void* buf, uint32& len);
bool read_disk_at(disk_handle* disk, ulong64 offset, ulong64 base, byte* buf, int& size);
bool write_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, const void* buf, uint32& len);
bool read_open_disk_at(disk_handle* disk, ulong64 base, ulong64 offset, void* buf, int& size);
bool read_physical_drive_at(byte drive_number, ulong64 base, ulong64 offset, void* buf, int& size);
