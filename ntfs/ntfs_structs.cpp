#include "ntfs/ntfs_structs.h"

#include <cstring>

#include "utils/byte_order.h"

void NTFS_BOOT::clear() {
  std::memset(boot_loader_routine, 0, sizeof boot_loader_routine);
  std::memset(keyword, 0, sizeof keyword);
  bytes_per_sector = 0;
  sectors_per_cluster = 0;
  reserved_sectors = 0;
  num_copies_of_fat = 0;
  max_root_dir_entries = 0;
  num_sectors_in_partition_smaller_than_32M = 0;
  media_descriptor = 0;
  sectors_per_fat = 0;
  sectors_per_track = 0;
  number_of_heads = 0;
  hidden_sectors_in_partition = 0;
  num_sectors_in_partition = 0;
  drive_num = 0;
  std::memset(unk3, 0, sizeof unk3);
  total_sectors = 0;
  mft_start_lcn = 0;
  mftmirr_start_lcn = 0;
  num_clusters_for_mft = 0;
  std::memset(unk4, 0, sizeof unk4);
  clusters_per_index_allocated = 0;
  std::memset(unk5, 0, sizeof unk5);
  volume_serial_number = 0;
  checksum = 0;
  std::memset(boot_code, 0, sizeof boot_code);
  end_marker = 0;
}

void NTFS_BOOT::load(const byte* p) {
  std::memcpy(boot_loader_routine, p, 3);
  std::memcpy(keyword, p + 3, 8);
  bytes_per_sector = load_u16(p, 11);
  sectors_per_cluster = p[13];
  reserved_sectors = load_u16(p, 14);
  num_copies_of_fat = p[16];
  max_root_dir_entries = load_u16(p, 17);
  num_sectors_in_partition_smaller_than_32M = load_u16(p, 19);
  media_descriptor = p[21];
  sectors_per_fat = load_u16(p, 22);
  sectors_per_track = load_u16(p, 24);
  number_of_heads = load_u16(p, 26);
  hidden_sectors_in_partition = load_u32(p, 28);
  num_sectors_in_partition = load_u32(p, 32);
  drive_num = load_u16(p, 36);
  std::memcpy(unk3, p + 38, 2);
  total_sectors = load_u64(p, 40);
  mft_start_lcn = load_u64(p, 48);
  mftmirr_start_lcn = load_u64(p, 56);
  num_clusters_for_mft = static_cast<int8_t>(p[64]);
  std::memcpy(unk4, p + 65, 3);
  clusters_per_index_allocated = static_cast<int8_t>(p[68]);
  std::memcpy(unk5, p + 69, 3);
  volume_serial_number = load_u64(p, 72);
  checksum = load_u32(p, 80);
  std::memcpy(boot_code, p + 84, 426);
  end_marker = load_u16(p, 510);
}

void NTFS_BOOT::store(byte* p) const {
  std::memcpy(p, boot_loader_routine, 3);
  std::memcpy(p + 3, keyword, 8);
  store_u16(p + 11, bytes_per_sector);
  p[13] = sectors_per_cluster;
  store_u16(p + 14, reserved_sectors);
  p[16] = num_copies_of_fat;
  store_u16(p + 17, max_root_dir_entries);
  store_u16(p + 19, num_sectors_in_partition_smaller_than_32M);
  p[21] = media_descriptor;
  store_u16(p + 22, sectors_per_fat);
  store_u16(p + 24, sectors_per_track);
  store_u16(p + 26, number_of_heads);
  store_u32(p + 28, hidden_sectors_in_partition);
  store_u32(p + 32, num_sectors_in_partition);
  store_u16(p + 36, drive_num);
  std::memcpy(p + 38, unk3, 2);
  store_u64(p + 40, total_sectors);
  store_u64(p + 48, mft_start_lcn);
  store_u64(p + 56, mftmirr_start_lcn);
  p[64] = static_cast<byte>(num_clusters_for_mft);
  std::memcpy(p + 65, unk4, 3);
  p[68] = static_cast<byte>(clusters_per_index_allocated);
  std::memcpy(p + 69, unk5, 3);
  store_u64(p + 72, volume_serial_number);
  store_u32(p + 80, checksum);
  std::memcpy(p + 84, boot_code, 426);
  store_u16(p + 510, end_marker);
}

bool NTFS_BOOT::has_ntfs_keyword() const { return std::memcmp(keyword, "NTFS    ", 8) == 0; }

void FILE_RECORD_HEADER::clear() {
  std::memset(signature, 0, sizeof signature);
  update_sequence_offset = 0;
  update_sequence_count = 0;
  log_sequence_number = 0;
  sequence_number = 0;
  hard_link_count = 0;
  first_attribute_offset = 0;
  flags = 0;
  bytes_in_use = 0;
  bytes_allocated = 0;
  base_record_reference = 0;
  next_attribute_id = 0;
}

bool FILE_RECORD_HEADER::load(const byte* r, uint64 size) {
  clear();
  if (!r || size < FRH_SIZE) return false;
  std::memcpy(signature, r, 4);
  update_sequence_offset = load_u16(r, FRH_USA_OFFSET);
  update_sequence_count = load_u16(r, FRH_USA_COUNT);
  log_sequence_number = load_u64(r, FRH_LSN);
  sequence_number = load_u16(r, FRH_SEQUENCE);
  hard_link_count = load_u16(r, FRH_LINK_COUNT);
  first_attribute_offset = load_u16(r, FRH_FIRST_ATTRIBUTE);
  flags = load_u16(r, FRH_FLAGS);
  bytes_in_use = load_u32(r, FRH_BYTES_IN_USE);
  bytes_allocated = load_u32(r, FRH_BYTES_ALLOCATED);
  base_record_reference = load_u64(r, FRH_BASE_RECORD);
  next_attribute_id = load_u16(r, FRH_NEXT_ATTRIBUTE_ID);
  return true;
}
