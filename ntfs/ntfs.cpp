// The CNtfs engine object: construction, the source, validation of the
// volume and the factories.
#include "ntfs/ntfs.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <exception>
#include <new>

#include "disk/disk_handle.h"
#include "disk/zq_disk_structs.h"
#include "ntfs/attribute_pump.h"
#include "ntfs/mft_record.h"
#include "ntfs/own_files.h"
#include "utils/assertion.h"
#include "utils/file_handle.h"
#include "utils/utf_convert.h"

namespace {

const uint32 MIN_RECORD_SIZE = 256;
const uint32 MAX_CLUSTER_SIZE = 2u << 20;

bool power_of_two(ulong64 v) { return v != 0 && (v & (v - 1)) == 0; }

// Sectors per cluster: values above 0x80 are a negative exponent, so that
// clusters of 128 KiB to 2 MiB fit in one byte.
ulong64 sectors_per_cluster_from(uint8 v) {
  if (v <= 0x80) return v;
  const uint32 shift = 256u - v;
  return shift < 32 ? (1ULL << shift) : 0;
}

}  // namespace

void CNtfs::init_members() {
  m_cluster_size = 0;
  m_total_clusters = 0;
  m_mft_cluster_per_record_fixed = 0;
  m_mft_file_pos = 0;
  m_sectors_per_cluster = 0;
  m_volume_offset = 0;
  m_mft_record_size = 0;
  m_tree_map_first.clear();
  m_mft_file_name.clear();
  m_mft_file = nullptr;
  m_tree_map_second.clear();
  m_disk = nullptr;
  m_boot.clear();
  m_mft_record0 = nullptr;
  m_mft_stats.reset();
  m_mft_record_alloc_size = 0;
  m_Validated = false;
  m_num_inodes = 0;
  m_last_fixup = RECORD_FIXUP_NONE;
  m_mft_cache.clear();
  m_mft_cache_pos = 0;
  m_mft_cache_len = 0;
  m_mft_run_vcns.clear();
  m_last_inode_read = ~0ULL;
}

CNtfs::CNtfs() { init_members(); }

CNtfs::CNtfs(uint32 drive_number, ulong64 volume_offset, bool writable, bool as_device) {
  init_members();
  open(NTFS_SOURCE_DRIVE, std::wstring(), drive_number, volume_offset, writable, as_device);
}

CNtfs::CNtfs(const wchar_t* path, ulong64 volume_offset, bool writable, bool as_device) {
  init_members();
  open(NTFS_SOURCE_FILE, std::wstring(path), 0, volume_offset, writable, as_device);
}

CNtfs::CNtfs(const char* path, ulong64 volume_offset, bool writable, bool as_device) {
  init_members();
  open(NTFS_SOURCE_FILE, utf8_to_wstring(std::string(path)), 0, volume_offset, writable, as_device);
}

CNtfs::CNtfs(const wchar_t* path, bool writable, bool as_device) {
  init_members();
  open(NTFS_SOURCE_FILE, std::wstring(path), 0, 0, writable, as_device);
}

CNtfs::CNtfs(const char* path, bool writable, bool as_device) {
  init_members();
  open(NTFS_SOURCE_FILE, utf8_to_wstring(std::string(path)), 0, 0, writable, as_device);
}

CNtfs::CNtfs(const wchar_t* path, bool writable) {
  init_members();
  bool as_device = false;
  open(NTFS_SOURCE_DEVICE, std::wstring(path), 0, 0, writable, as_device);
}

CNtfs::CNtfs(const char* path, bool writable) {
  init_members();
  bool as_device = false;
  open(NTFS_SOURCE_DEVICE, utf8_to_wstring(std::string(path)), 0, 0, writable, as_device);
}

CNtfs::~CNtfs() {
  volume_stops_answering(*this);
  delete[] m_mft_record0;
  m_mft_record0 = nullptr;
  delete m_disk;
  m_disk = nullptr;
  release_mft_file();
}

void CNtfs::release_mft_file() {
  delete m_mft_file;
  m_mft_file = nullptr;
}

bool CNtfs::open(ntfs_source_kind kind, const std::wstring& path, uint32 drive_number, ulong64 volume_offset,
                 bool writable, bool& as_device) {
  if (kind < NTFS_SOURCE_DEFAULT || kind > NTFS_SOURCE_DEVICE) return false;
  if (kind == NTFS_SOURCE_DEFAULT) kind = NTFS_SOURCE_FILE;
  close();
  as_device = false;
  try {
    switch (kind) {
      case NTFS_SOURCE_FILE:
        if (path.empty()) return false;
        m_disk = new disk_handle(path.c_str(), writable, false, DISK_KIND_FILE);
        break;
      case NTFS_SOURCE_DRIVE:
        m_disk = new disk_handle(drive_number, writable, false, DISK_KIND_PHYSICAL_DRIVE);
        break;
      default:
        m_disk = new disk_handle(path.c_str(), writable, false, DISK_KIND_DEVICE);
        break;
    }
  } catch (const std::exception&) {
    m_disk = nullptr;
    return false;
  }
  if (m_disk->m_is_open) {
    m_volume_offset = volume_offset;
    return true;
  }
  delete m_disk;
  m_disk = nullptr;
  m_mft_record0 = nullptr;
  return false;
}

void CNtfs::close() {
  volume_stops_answering(*this);
  m_boot.clear();
  m_cluster_size = 0;
  m_total_clusters = 0;
  m_mft_cluster_per_record_fixed = 0;
  m_mft_file_pos = 0;
  m_sectors_per_cluster = 0;
  m_volume_offset = 0;
  m_mft_record_size = 0;
  m_mft_record0 = nullptr;
  m_mft_record_alloc_size = 0;
  m_Validated = false;
  m_num_inodes = 0;
  m_disk = nullptr;
  m_mft_file_name.clear();
  m_mft_file = nullptr;
  m_tree_map_first.clear();
  m_tree_map_second.clear();
  m_mft_cache_len = 0;
  m_mft_run_vcns.clear();
  m_last_inode_read = ~0ULL;
}

bool CNtfs::initialise(ulong64& mft_pos) {
  if (!m_disk && !m_mft_file) {
    m_Validated = false;
    return false;
  }
  if (m_Validated) {
    mft_pos = m_mft_file_pos;
    return true;
  }
  if (!m_disk) return false;

  byte sector[NTFS_BOOT_SIZE];
  std::memset(sector, 0, sizeof sector);
  uint32 len = NTFS_BOOT_SIZE;
  if (!read_volume(0, sector, len) || len != NTFS_BOOT_SIZE) return false;
  m_boot.load(sector);
  if (!m_boot.has_ntfs_keyword()) return false;

  const uint32 bytes_per_sector = m_boot.bytes_per_sector;
  if (!power_of_two(bytes_per_sector) || bytes_per_sector < 256 || bytes_per_sector > 4096) return false;
  const ulong64 sectors = sectors_per_cluster_from(m_boot.sectors_per_cluster);
  if (!power_of_two(sectors)) return false;
  const ulong64 cluster = sectors * bytes_per_sector;
  if (cluster > MAX_CLUSTER_SIZE) return false;
  m_cluster_size = static_cast<uint32>(cluster);

  // Record size: a negative count is a power of two in bytes. It is checked
  // before anything is read with it.
  const int n = m_boot.num_clusters_for_mft;
  ulong64 record_size = 0;
  if (n < 0) {
    const int shift = -n;
    record_size = shift < 32 ? (1ULL << shift) : 0;
  } else {
    record_size = cluster * static_cast<ulong64>(n);
  }
  if (!power_of_two(record_size) || record_size < MIN_RECORD_SIZE || record_size > MAX_MFT_RECORD_SIZE) return false;
  m_mft_record_size = static_cast<uint32>(record_size);
  m_mft_cluster_per_record_fixed = n < 0 ? m_mft_record_size / m_cluster_size : static_cast<uint32>(n);

  m_total_clusters = m_boot.total_sectors / sectors;
  if (m_boot.mft_start_lcn > ~0ULL / cluster) return false;
  m_mft_file_pos = cluster * m_boot.mft_start_lcn;
  mft_pos = m_mft_file_pos;
  m_sectors_per_cluster = static_cast<uint32>(sectors);

  // Memory that runs out throws: an engine short of it is no volume found not to be NTFS.
  byte* record = new byte[m_mft_record_size];
  ulong64 pos = 0;
  int size = static_cast<int>(m_mft_record_size);
  if (!read_mft_record(0, record, pos, size, false)) {
    delete[] record;
    return false;
  }
  clear_cut_record_tail(record, static_cast<uint32>(size), m_mft_record_size);
  delete[] m_mft_record0;
  m_mft_record0 = record;

  m_mft_record_alloc_size = load_u32(m_mft_record0, FRH_BYTES_ALLOCATED);
  // Every record is read at the size the boot sector gives; a record that
  // claims another size is not one this volume wrote.
  if (m_mft_record_alloc_size != m_mft_record_size) return false;

  if (!parse_file_record(m_mft_record0, m_mft_stats)) return false;
  build_mft_run_index();
  if (!load_mft_extension_runs()) return false;

  // The run list is evidence too, and so is the boot sector's size: an
  // entry exists only where the source holds its clusters. A run past the
  // image's end (a cut image, a run list that claims more) or a hole holds
  // no entry, and its entries read as missing, but the runs after it still
  // count: an $MFT often starts far into its volume and grows where there
  // is room, so a cut inside its first run may leave the later runs whole.
  // The count ends with the last cluster the source holds, and never passes
  // the clusters it holds at all, as no sound $MFT is larger than its
  // volume: whatever the runs claim, no walk goes further than the image.
  const ulong64 held = held_clusters();
  ulong64 usable = 0;
  ulong64 vcn = 0;
  if (!m_mft_stats.data_runs.empty() && m_mft_stats.data_runs[0].resident) usable = 1;
  for (const run_record& run : m_mft_stats.data_runs) {
    if (run.resident) break;
    if (!run.is_sparse_lcn() && run.lcn < held) usable = vcn + std::min<ulong64>(run.num_clusters, held - run.lcn);
    vcn += run.num_clusters;
  }
  usable = std::min(usable, held);
  // Both sizes are powers of two; dividing first keeps a huge count from wrapping.
  if (m_mft_record_alloc_size >= m_cluster_size) {
    m_num_inodes = usable / (m_mft_record_alloc_size / m_cluster_size);
  } else {
    const ulong64 per_cluster = m_cluster_size / m_mft_record_alloc_size;
    m_num_inodes = usable > ~0ULL / per_cluster ? ~0ULL : usable * per_cluster;
  }
  // Clusters past the $MFT's data size hold no records (the allocation runs
  // ahead of use): the data size, when known, gives the true count.
  const byte* data = nullptr;
  if (find_attribute_by_name(m_mft_record0, m_mft_record_alloc_size, ATTR_DATA, data, nullptr, 0) &&
      data[AH_NON_RESIDENT] && load_u32(data, AH_LENGTH) >= AH_NON_RESIDENT_SIZE) {
    const ulong64 in_use = load_u64(data, AH_DATA_SIZE) / m_mft_record_alloc_size;
    if (in_use > 0 && in_use < m_num_inodes) m_num_inodes = in_use;
  }
  // From now on an output is asked whether it is one of this volume's files.
  if (m_disk) volume_answers_outputs(*this);
  m_Validated = true;
  m_last_inode_read = ~0ULL;
  return true;
}

ulong64 CNtfs::held_clusters() const {
  if (m_cluster_size == 0) return 0;
  if (!m_disk) return m_total_clusters;
  const ulong64 bytes = held_bytes();
  return std::min<ulong64>(m_total_clusters, bytes / m_cluster_size + (bytes % m_cluster_size != 0));
}

ulong64 CNtfs::held_bytes() const {
  if (!m_disk) return 0;
  const ulong64 size = m_disk->get_size();
  return size > m_volume_offset ? size - m_volume_offset : 0;
}

bool CNtfs::is_valid() {
  ulong64 pos = 0;
  return initialise(pos);
}

// Both are read only from a validated engine; before validation they hold
// nothing read from the volume.
INODE_STATS CNtfs::get_inode_stats() const {
  QUOR_ASSERT(m_Validated, "INODE_STATS CNtfs::get_inode_stats() const");
  return m_mft_stats;
}

NTFS_BOOT CNtfs::get_boot_sector() const {
  QUOR_ASSERT(m_Validated, "NTFS_BOOT CNtfs::get_boot_sector() const");
  return m_boot;
}

// A large or fragmented $MFT keeps the later pieces of its $DATA in
// extension records named by its $ATTRIBUTE_LIST; without them the entry
// count and every record beyond the first piece would be lost.
bool CNtfs::load_mft_extension_runs() {
  const byte* list_attr = nullptr;
  if (!find_attribute(m_mft_record0, m_mft_record_alloc_size, ATTR_ATTRIBUTE_LIST, list_attr)) return true;
  std::vector<byte> list;
  if (!read_attribute_list_value(list_attr, load_u32(list_attr, AH_LENGTH), list)) return true;

  std::vector<byte> record(m_mft_record_alloc_size);
  ulong64 next_vcn = 0;
  for (const run_record& run : m_mft_stats.data_runs) next_vcn += run.num_clusters;
  uint32 offset = 0;
  const uint32 list_len = static_cast<uint32>(list.size());
  while (find_attribute_list_entry(list.data(), list_len, ATTR_DATA, offset)) {
    const byte* entry = list.data() + offset;
    const ulong64 first_vcn = load_u64(entry, ALE_FIRST_VCN);
    const ulong64 ref = mft_reference_entry(load_u64(entry, ALE_REFERENCE));
    const bool unnamed = entry[ALE_NAME_LENGTH] == 0;
    offset += load_u16(entry, ALE_LENGTH);
    if (!unnamed || first_vcn == 0 || ref == 0) continue;
    if (first_vcn != next_vcn) break;  // pieces must continue the runs known so far
    ulong64 pos = 0;
    uint32 got = 0;
    if (!read_mft_bytes(ref, record.data(), m_mft_record_alloc_size, pos, got) || got != m_mft_record_alloc_size)
      break;
    if (std::memcmp(record.data(), "FILE", 4) != 0) break;
    apply_update_sequence(record.data(), m_mft_record_alloc_size);
    const byte* attr = nullptr;
    bool found = false;
    bool have = find_attribute(record.data(), m_mft_record_alloc_size, ATTR_DATA, attr);
    while (have && !found) {
      const uint32 len = load_u32(attr, AH_LENGTH);
      if (attr[AH_NON_RESIDENT] && attr[AH_NAME_LENGTH] == 0 && len >= AH_NON_RESIDENT_SIZE &&
          load_u64(attr, AH_FIRST_VCN) == first_vcn) {
        found = true;
        break;
      }
      have = find_next_attribute(record.data(), m_mft_record_alloc_size, attr, ATTR_DATA);
    }
    if (!found) break;
    byte_view pairs;
    std::vector<run_record> piece;
    if (!mapping_pairs(attr, load_u32(attr, AH_LENGTH), pairs) ||
        !decode_mapping_pairs_bounded(pairs.data, pairs.size, piece, ATTR_DATA, true))
      break;
    for (const run_record& r : piece) {
      m_mft_stats.data_runs.push_back(r);
      next_vcn += r.num_clusters;
    }
    build_mft_run_index();
  }
  return true;
}

bool CNtfs::read_attribute_list_value(const byte* attr, uint32 attr_length, std::vector<byte>& out) const {
  out.clear();
  if (!attr) return false;
  if (!attr[AH_NON_RESIDENT]) {
    byte_view value;
    if (!resident_value(attr, attr_length, value)) return false;
    out.assign(value.data, value.data + value.size);
    return true;
  }
  attribute_layout layout;
  if (!layout.set_attribute(attr, attr_length)) return false;
  // A list names at most one entry per attribute of the file: 256 KiB is far
  // beyond any real one, and keeps a corrupt size from sizing an allocation.
  const ulong64 length = layout.data_size;
  if (length > (256u << 10) || m_cluster_size == 0) return false;
  out.assign(static_cast<size_t>(length), 0);
  ulong64 done = 0;
  const pump_status s = pump_attribute_to_buffer(*this, layout, 0, length, out.data(), done);
  if (s != PUMP_DONE && s != PUMP_END_OF_RUNS) {
    out.clear();
    return false;
  }
  if (done != length) out.resize(static_cast<size_t>(done));
  return true;
}

// ---- factories ----

namespace {

template <typename Make>
bool make_validated(CNtfs*& out, Make make) {
  out = nullptr;
  CNtfs* engine = nullptr;
  try {
    engine = make();
  } catch (const std::exception&) {
    return false;
  }
  if (!engine) return false;
  out = engine;
  ulong64 pos = 0;
  bool ok = false;
  try {
    ok = engine->initialise(pos);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    delete engine;
    out = nullptr;
  }
  return ok;
}

}  // namespace

bool open_ntfs_by_drive_number(uint32 drive_number, ulong64 volume_offset, CNtfs*& out, bool writable,
                               bool as_device) {
  return make_validated(out, [&] { return new CNtfs(drive_number, volume_offset, writable, as_device); });
}

bool open_ntfs_by_drive_letter(const wchar_t* letter, CNtfs*& out, bool writable, bool as_device) {
  out = nullptr;
  if (!letter || !letter[0]) return false;
  std::wstring path;
  path += letter[0];
  path += L':';
  return make_validated(out, [&] { return new CNtfs(path.c_str(), writable, as_device); });
}

bool open_ntfs_by_drive_letter(const std::wstring& letter, CNtfs*& out, bool writable, bool as_device) {
  return open_ntfs_by_drive_letter(letter.c_str(), out, writable, as_device);
}

bool open_ntfs_by_drive_letter(const char* letter, CNtfs*& out, bool writable, bool as_device) {
  out = nullptr;
  if (!letter) return false;
  std::wstring wide = utf8_to_wstring(std::string(letter));
  return open_ntfs_by_drive_letter(wide.c_str(), out, writable, as_device);
}

bool open_ntfs_by_path(std::wstring path, CNtfs*& out, bool writable) {
  out = nullptr;
  if (path.empty()) return false;
  return make_validated(out, [&] { return new CNtfs(path.c_str(), writable); });
}

bool open_ntfs_by_path(const char* path, CNtfs*& out, bool writable) {
  out = nullptr;
  if (!path) return false;
  return open_ntfs_by_path(utf8_to_wstring(std::string(path)), out, writable);
}

bool open_ntfs_image(const wchar_t* path, ulong64 volume_offset, CNtfs*& out, bool writable, bool as_device) {
  out = nullptr;
  if (!path || !path[0]) return false;
  return make_validated(out, [&] {
    return volume_offset != 0 ? new CNtfs(path, volume_offset, writable, as_device)
                              : new CNtfs(path, writable, as_device);
  });
}

bool open_ntfs_image(const std::wstring& path, ulong64 volume_offset, CNtfs*& out, bool writable,
                     bool as_device) {
  return open_ntfs_image(path.c_str(), volume_offset, out, writable, as_device);
}

bool open_ntfs_image(const char* path, ulong64 volume_offset, CNtfs*& out, bool writable, bool as_device) {
  out = nullptr;
  if (!path) return false;
  std::wstring wide = utf8_to_wstring(std::string(path));
  return open_ntfs_image(wide.c_str(), volume_offset, out, writable, as_device);
}

void open_ntfs_disk_volumes(disk_handle& disk, ulong64 except, std::vector<std::unique_ptr<CNtfs>>& out,
                            bool first_only) {
  out.clear();
  // A table may name one start many times over: each is opened once.
  std::set<ulong64> starts = {0};
  std::deque<partition_record> parts;
  if (scan_partitions(&disk, parts, false))
    for (const partition_record& p : parts)
      if (p.m_sector_size != 0 && p.m_start <= ~0ULL / p.m_sector_size) starts.insert(p.m_start * p.m_sector_size);
  starts.erase(except);
  for (const ulong64 start : starts) {
    std::unique_ptr<CNtfs> volume(new CNtfs());
    volume->m_disk = new disk_handle(disk, DISK_BORROWED);
    volume->m_disk->set_start_offset(start);
    volume->m_volume_offset = start;
    ulong64 mft_pos = 0;
    bool valid = false;
    try {
      valid = volume->initialise(mft_pos);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
    }
    if (valid) out.push_back(std::move(volume));
    if (first_only && !out.empty()) return;
  }
}

bool open_ntfs_mft_file(const char* path, CNtfs*& out) {
  out = nullptr;
  if (!path) return false;
  CNtfs* engine = nullptr;
  try {
    engine = new CNtfs();
    engine->close();
    engine->m_mft_file_name = path;
    uni::file_handle* file = new uni::file_handle(engine->m_mft_file_name, false, false);
    if (!file->is_open() || file->current_size() < 1024) {
      delete file;
      delete engine;
      return false;
    }
    engine->m_mft_file = file;
    engine->m_boot.sectors_per_cluster = 8;
    engine->m_boot.bytes_per_sector = 512;
    engine->m_mft_record_size = 1024;
    engine->m_cluster_size = 4096;
    engine->m_sectors_per_cluster = 8;
    // No boot sector tells the record size: record 0 gives it, as the size
    // allocated to itself, and every record sits at N x that size.
    byte head[FRH_SIZE];
    uint32 got = sizeof head;
    bool ok = file->read_at(head, got, 0) && got == sizeof head && std::memcmp(head, "FILE", 4) == 0;
    const uint32 record_size = ok ? load_u32(head, FRH_BYTES_ALLOCATED) : 0;
    ok = ok && power_of_two(record_size) && record_size >= 1024 && record_size <= MAX_MFT_RECORD_SIZE &&
         static_cast<ulong64>(file->current_size()) >= record_size;
    if (ok) {
      engine->m_mft_record_size = engine->m_mft_record_alloc_size = record_size;
      if (record_size > engine->m_cluster_size) engine->m_cluster_size = record_size;
      engine->m_mft_record0 = new byte[record_size];
      got = record_size;
      ok = file->read_at(engine->m_mft_record0, got, 0) && got == record_size;
    }
    if (ok) {
      // Record 0 is fixed up like every record read from the file after it.
      ok = apply_update_sequence(engine->m_mft_record0, record_size) != RECORD_FIXUP_INVALID &&
           engine->parse_file_record(engine->m_mft_record0, engine->m_mft_stats);
    }
    if (!ok) {
      delete engine;
      return false;
    }
    engine->m_num_inodes = static_cast<ulong64>(file->current_size()) / engine->m_mft_record_alloc_size;
    engine->m_Validated = true;
  } catch (const std::exception&) {
    delete engine;
    return false;
  }
  out = engine;
  return true;
}

bool CNtfs::read_mft_file(ulong64 pos, byte* buf, uint32& len) const {
  if (!m_mft_file || !m_mft_file->is_open()) return false;
  return m_mft_file->read_at(buf, len, pos);
}
