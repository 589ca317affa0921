// Text reports of VMDK sparse extents and of the extents of a snapshot chain:
// what an examiner reads when a chain will not open. They show the fields of
// the loaded extent as stored; nothing here reads the file again.
#include "disk/vmdk_dump.h"

#include <iomanip>
#include <ostream>

#include "disk/vmdk_disk.h"
#include "disk/vmdk_extent.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

const ulong64 sector = 512;

// A value in exactly `width` digits (more when it needs them).
std::ostream& hex_field(std::ostream& os, ulong64 value, int width) { return os << std::setw(width) << value; }

// "0x<sectors> sectors, 0x<sectors x 512><unit>": the header counts most
// positions and sizes in sectors; the byte value saves the reader a sum.
void sectors_line(std::ostream& os, uint32 at, const char* label, ulong64 sectors, const char* unit) {
  write_vmdk_prefix(os, at) << label;
  hex_field(os, sectors, 16) << " sectors, 0x";
  hex_field(os, sectors * sector, 16) << unit << '\n';
}

void value_line(std::ostream& os, uint32 at, const char* label, ulong64 value, int width) {
  write_vmdk_prefix(os, at) << label;
  hex_field(os, value, width) << '\n';
}

// Each extent of the chain, base first, under a rule and its file name.
template <typename Report>
bool dump_chain(const std::vector<vmdk_extent*>& chain, std::ostream& os, Report report) {
  for (const vmdk_extent* extent : chain) {
    if (!extent) continue;
    os << " ------------------------------------------------------- " << '\n';
    os << wstring_to_utf8(extent->m_wpath) << '\n';
    report(*extent);
    os << '\n';
  }
  return true;
}

}  // namespace

std::ostream& write_vmdk_prefix(std::ostream& os, ulong64 position) {
  os << std::hex << std::nouppercase << std::setfill('0') << "0x";
  return hex_field(os, position, 8) << " : ";
}

void write_vmdk_rows(std::ostream& os, const uint32* entries, size_t count, ulong64 first, ulong64 row_step) {
  write_vmdk_prefix(os, first);
  for (size_t i = 0; i < count; ++i) {
    hex_field(os, entries[i], 8) << ' ';
    if ((i + 1) % 8 == 0) {
      os << '\n';
      if (i + 1 < count) write_vmdk_prefix(os, first + (i + 1) / 8 * row_step);
    }
  }
  os << '\n';
}

std::ostream& vmdk_extent::dump_header(std::ostream& os) const {
  const byte* h = m_header;
  write_vmdk_prefix(os, 0) << "magic number:            0x";
  hex_field(os, header_u32(0), 8) << " [" << static_cast<char>(h[0]) << static_cast<char>(h[1])
                                  << static_cast<char>(h[2]) << static_cast<char>(h[3]) << "]\n";
  value_line(os, 4, "version:                 0x", header_u32(4), 8);
  value_line(os, 8, "flags:                   0x", flags(), 8);
  if (flags() & 1u) os << "\t- valid new line detection\n";
  if (flags() & 2u) os << "\t- redundant grain table present\n";
  if (flags() & flag_compressed) os << "\t- grains are compressed\n";
  if (flags() & flag_markers) os << "\t- markers exist\n";
  sectors_line(os, 12, "capacity:                0x", capacity_sectors(), " bytes");
  sectors_line(os, 20, "grain size:              0x", grain_sectors(), " bytes");
  sectors_line(os, 28, "descriptor offset:       0x", descriptor_offset(), " abs offset");
  sectors_line(os, 36, "descriptor size:         0x", descriptor_sectors(), " bytes");
  value_line(os, 44, "grain entries per table: 0x", entries_per_table(), 8);
  sectors_line(os, 48, "dup grain dir offset:    0x", header_u64(48), " abs offset");
  sectors_line(os, 56, "grain dir offset:        0x", directory_offset(), " abs offset");
  sectors_line(os, 64, "overhead for metadata:   0x", overhead_sectors(), " abs offset");
  value_line(os, 72, "unclean shutdown:        0x", h[72], 2);
  value_line(os, 73, "signal EOL character:    0x", h[73], 2);
  value_line(os, 74, "non EOL character:       0x", h[74], 2);
  value_line(os, 75, "double EOL char (1st):   0x", h[75], 2);
  value_line(os, 76, "double EOL char (2nd):   0x", h[76], 2);
  value_line(os, 77, "compression algorithm:   0x", load_u16(h, 77), 4);
  write_vmdk_prefix(os, 79) << "pad for 433 (0x1b1) bytes\n";
  return os;
}

bool vmdk_extent::dump_grain_directory(std::ostream& os) const {
  if (!m_valid) return false;
  os << "---- Grain Directory [offsets in sectors] ----\n";
  write_vmdk_rows(os, m_grain_directory.data(), m_grain_directory.size(), directory_offset() * sector, 32);
  return true;
}

bool vmdk_extent::dump_grain_table(uint32 table, std::ostream& os) const {
  if (!m_valid || table >= m_grain_tables.size()) return false;
  const ulong64 entries = entries_per_table();
  const ulong64 first = m_first_table_offset + table * entries * 4;
  const std::vector<uint32>& stored = m_grain_tables[table];
  // An unused directory slot stands for a table that holds no grain.
  if (stored.empty()) {
    const std::vector<uint32> none(static_cast<size_t>(entries), 0);
    write_vmdk_rows(os, none.data(), none.size(), first, 32);
  } else {
    write_vmdk_rows(os, stored.data(), stored.size(), first, 32);
  }
  return true;
}

bool vmdk_extent::dump_descriptor(std::ostream& os) const {
  for (size_t i = 0; i < m_descriptor_lines.size(); ++i)
    os << std::setw(2) << i << " : " << wstring_to_utf8(m_descriptor_lines[i]) << '\n';
  return true;
}

bool vmdk_extent::dump(std::ostream& os) const {
  if (!m_valid) return false;
  dump_header(os) << '\n';
  dump_descriptor(os);
  if (m_mbr_offset == 0) return true;
  os << "\nMBR offset: ";
  hex_field(os, m_mbr_offset, 8) << '\n';
  for (size_t i = 0; i < m_volume_offsets.size(); ++i) {
    os << "Volume " << std::dec << std::setw(2) << i << std::hex;
    hex_field(os, m_mbr_offset + m_volume_offsets[i], 8) << '\n';
  }
  return true;
}

bool vmdk_disk::dump_grain_directories(std::ostream& os) const {
  if (!m_open) return false;
  return dump_chain(m_chain, os, [&os](const vmdk_extent& e) { e.dump_grain_directory(os); });
}

bool vmdk_disk::dump_grain_tables(uint32 table, std::ostream& os) const {
  if (!m_open) return false;
  return dump_chain(m_chain, os, [&os, table](const vmdk_extent& e) { e.dump_grain_table(table, os); });
}

bool vmdk_disk::dump_descriptors(std::ostream& os) const {
  if (!m_open) return false;
  return dump_chain(m_chain, os, [&os](const vmdk_extent& e) { e.dump_descriptor(os); });
}

bool vmdk_disk::dump_extents(std::ostream& os) const {
  if (!m_open) return false;
  return dump_chain(m_chain, os, [&os](const vmdk_extent& e) { e.dump(os); });
}
