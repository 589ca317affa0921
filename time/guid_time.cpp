#include "time/guid_time.h"

#include "utils/byte_order.h"

namespace zq {

bool guid_to_filetime(uint64& filetime, uint16& clock_sequence, std::vector<byte>& node,
                      const byte* guid) {
  filetime = 0;
  clock_sequence = 0;
  if (!guid) return false;
  const uint16 data3 = load_u16(guid + 6);
  if ((data3 >> 12) != 1) return false;
  const uint64 stamp = (static_cast<uint64>(data3 & 0x0FFF) << 48) |
                       (static_cast<uint64>(load_u16(guid + 4)) << 32) | load_u32(guid);
  if (stamp < guid_epoch_ticks) return false;
  filetime = stamp - guid_epoch_ticks;
  clock_sequence = static_cast<uint16>(((guid[8] << 8) | guid[9]) & 0x3FFF);
  node.insert(node.end(), guid + 10, guid + 16);
  return true;
}

bool guid_to_filetime(uint64& filetime, uint16& clock_sequence, std::vector<byte>& node,
                      const GUID& guid) {
  byte stored[16];
  guid_to_bytes(guid, stored);
  return guid_to_filetime(filetime, clock_sequence, node, stored);
}

}  // namespace zq
