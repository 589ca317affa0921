#include "ntfs/reparse_names.h"

uint64 zero_units_at(const byte_view& value, uint64 at) {
  uint64 skipped = 0;
  for (uint16 unit = 0; value.u16(at + skipped, unit) && unit == 0;) skipped += 2;
  return skipped;
}

bool locate_reparse_names(const byte_view& v, reparse_names& n) {
  n = reparse_names();
  if (!v.has(8, 8)) return false;
  n.target = REPARSE_NAMES_START + load_u16(v.data, 8);
  n.target_length = load_u16(v.data, 10);
  n.print = REPARSE_NAMES_START + load_u16(v.data, 12);
  n.print_length = load_u16(v.data, 14);
  // A character where the target would begin (a relative link's flag, or the
  // end of a print name written first, as Windows writes links) puts both
  // names past the link's flags word; a zero there is an absolute link's
  // word, which the zero units below step over.
  uint32 tag = 0;
  uint16 unit = 0;
  const bool readable = v.u16(n.target, unit);
  if (readable && unit != 0 && v.u32(0, tag) && tag == REPARSE_TAG_SYMLINK) {
    n.target += 4;
    n.print += 4;
    return true;
  }
  if (readable && unit == 0) {
    const uint64 skipped = zero_units_at(v, n.target);
    n.target += skipped;
    n.print += skipped;
  }
  return true;
}
