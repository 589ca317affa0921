#include "examine/macb_flags.h"

#include "utils/utf_convert.h"

namespace {

const char k_letters[] = "macb";

}  // namespace

void macb_flags::clear() {
  si = fn = fn83 = "....";
  has_si = has_fn = has_fn83 = false;
}

void macb_flags::set(uint32 slot, int position) {
  if (position < 0 || position > 3) return;
  const char letter = k_letters[position];
  switch (slot) {
    case MACB_SLOT_SI:
      si[position] = letter;
      has_si = true;
      break;
    case MACB_SLOT_FN:
      fn[position] = letter;
      has_fn = true;
      break;
    case MACB_SLOT_FN83:
      fn83[position] = letter;
      has_fn83 = true;
      break;
    default:
      break;
  }
}

void macb_flags::print(std::ostream& out, bool end_line) const {
  bool written = false;
  auto item = [&](bool present, const char* label, const std::string& text) {
    if (!present) return;
    if (written) out << "; ";
    out << label << text << "]";
    written = true;
  };
  item(has_si, "si:[", si);
  item(has_fn, "fn:[", fn);
  item(has_fn83, "fn8.3[", fn83);
  if (end_line && written) out << std::endl;
}

void macb_time_entry::clear() {
  flags.clear();
  names.clear();
  short_names.clear();
  path.clear();
  stream.clear();
}

void add_macb_times(macb_time_map& map, uint32 slot, ulong64 m_time, ulong64 a_time, ulong64 c_time,
                    ulong64 b_time, const wchar_t* name, bool is_short) {
  std::string long_name, short_name;
  if (name != nullptr) (is_short ? short_name : long_name) = wstring_to_utf8(name);
  const ulong64 times[4] = {m_time, a_time, c_time, b_time};
  for (int position = 0; position < 4; ++position) {
    if (times[position] == 0) continue;
    auto found = map.find(times[position]);
    if (found == map.end()) {
      macb_time_entry& entry = map[times[position]];
      entry.flags.set(slot, position);
      if (name != nullptr) (is_short ? entry.short_names : entry.names).insert(is_short ? short_name : long_name);
      continue;
    }
    // An instant reached a second time: letters accumulate, and both name
    // texts join their sets (one is empty, so the sets may hold "").
    macb_time_entry& entry = found->second;
    entry.flags.set(slot, position);
    entry.names.insert(long_name);
    entry.short_names.insert(short_name);
  }
}
