// libFuzzer target: arbitrary bytes through the structure reports, each
// given a buffer exactly as long as the input so that any read past it is
// caught: INDX record dumps of every index kind (with and without the
// fixup), index roots and entries, FILE record headers and attribute values.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "ntfs/attribute_value_reports.h"
#include "ntfs/index_reports.h"
#include "ntfs/indx_record_dump.h"
#include "ntfs/record_header_reports.h"
#include "ntfs/zq_hex_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const names[] = {"$I30", "$SII", "$SDH", "$O", "$R", "$Q"};
  static const int sectors[] = {0, 512, 4096, 2};
  const uint8_t pick = data[0];
  const std::vector<byte> input(data + 1, data + size);
  const byte_view view(input.data(), input.size());
  const uint32 n = static_cast<uint32>(input.size());
  const char* name = names[pick % 6];
  static std::ostringstream out;
  out.str("");

  // As an INDX record of at least 4096 bytes, signed so that the entry walks
  // are reached; the caller's bytes must stay as they were.
  std::vector<byte> record(input);
  if (record.size() < 4096) record.resize(4096, 0);
  std::memcpy(record.data(), "INDX", 4);
  const std::vector<byte> before(record);
  dump_indx_record(name, record.data(), static_cast<int>(record.size()), sectors[(pick >> 3) & 3], out, pick);
  dump_indx_record_short(name, record.data(), static_cast<int>(record.size()), sectors[(pick >> 5) & 3], out,
                         true);
  if (record != before) __builtin_trap();

  // The same bytes as the structures a report is handed directly.
  dump_indx_header(out, view, 0);
  dump_index_root(out, input.data(), static_cast<int>(n), 0);
  dump_index_root_all(out, view);
  dump_dir_entry(nullptr, out, view, 0);
  dump_index_entries(name, out, view, 0);
  print_index_entry_line(name, out, view, true);
  print_view_index_entry_line(name, out, view, true);
  security_id_entry(view).print(out);
  dump_mft_record_header(out, view);
  dump_standard_information(out, input.data(), 0, n);
  print_mace_times(out, view);
  dump_file_name_attribute(out, view, 0);
  dump_object_id(out, input.data(), n, 0);
  print_object_id_short(out, input.data(), n);
  dump_volume_information(out, view, 0);
  print_ntfs_version(out, view);
  dump_reparse_point(out, view, 0);
  print_reparse_print_name(out, view);
  dump_attribute_list(out, input.data(), 0, n);
  dump_sector_hex(input.data(), n, out);

  zq::binary_data bytes(input.data(), n, false);
  bytes.set_mode(static_cast<uint16>(pick & 7));
  bytes.print(out, pick, n, pick);
  zq::binary_data::print_ascii(out, bytes, pick, n);
  return 0;
}
