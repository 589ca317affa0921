#include "tests/support/slack_oracle.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "tests/support/fixture.h"

namespace quor_test {

namespace {

uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

// UTF-8 to UTF-16LE bytes; well-formed input assumed (names come from the kit).
std::vector<uint8_t> utf16le(const std::string& s) {
  std::vector<uint8_t> out;
  auto unit = [&](uint32_t u) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) cp = c & 0x07, n = 4;
    else if (c >= 0xE0) cp = c & 0x0F, n = 3;
    else if (c >= 0xC0) cp = c & 0x1F, n = 2;
    for (size_t k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace

// A tool may hand the record over already fixed: then nothing is undone.
void undo_update_sequence(uint8_t* r, uint32_t size) {
  const uint32_t usa = le16(r + 4), count = le16(r + 6);
  if (count < 2 || (count - 1) * 512 != size || usa + 2 * count > size) return;
  for (uint32_t i = 1; i < count; ++i)
    if (std::memcmp(r + i * 512 - 2, r + usa, 2) != 0) return;
  for (uint32_t i = 1; i < count; ++i) std::memcpy(r + i * 512 - 2, r + usa + 2 * i, 2);
}

bool extract_index_allocation(const std::string& image, uint64_t inode, std::vector<uint8_t>& out) {
  out.clear();
  const std::string file = scratch_dir() + "/i30-" + std::to_string(inode) + ".bin";
  std::string cmd;
  if (have_program("ntfscat"))
    cmd = "ntfscat -f -a 0xA0 -n '$I30' -i " + std::to_string(inode) + " '" + image + "' > '" + file + "' 2>/dev/null";
  else if (have_program("icat"))
    cmd = "icat '" + image + "' " + std::to_string(inode) + "-160 > '" + file + "' 2>/dev/null";
  else
    return false;
  std::string ignored;
  if (run_command(cmd, ignored) != 0) return false;
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return !out.empty();
}

std::vector<slack_name> find_slack_names(std::vector<uint8_t> allocation, uint32_t record_size, uint64_t dir,
                                         const std::vector<std::string>& names) {
  std::vector<slack_name> found;
  // UTF-16LE bytes of each wanted name -> the name.
  std::unordered_map<std::string, std::string> wanted;
  for (const std::string& name : names) {
    const std::vector<uint8_t> u = utf16le(name);
    if (!u.empty() && u.size() / 2 <= 255) wanted[std::string(u.begin(), u.end())] = name;
  }
  for (uint64_t off = 0; off + record_size <= allocation.size(); off += record_size) {
    uint8_t* r = allocation.data() + off;
    if (std::memcmp(r, "INDX", 4) != 0) continue;
    undo_update_sequence(r, record_size);
    // The used part ends with a 16-byte last-entry record; what follows it
    // (and the header it overwrote) is slack.
    const uint64_t used_end = 24 + static_cast<uint64_t>(le32(r + 28));
    if (used_end < 40 || used_end > record_size) continue;
    const uint64_t slack = used_end - 16;
    // Index entries are 8-byte aligned within their record, old ones too.
    for (uint64_t e = slack & ~7ULL; e + 82 <= record_size; e += 8) {
      const uint8_t* p = r + e;
      const uint32_t units = p[80];
      if (units == 0 || e + 82 + 2ULL * units > record_size) continue;
      if ((le64(p + 16) & 0xFFFFFFFFFFFFULL) != dir) continue;
      auto hit = wanted.find(std::string(reinterpret_cast<const char*>(p + 82), 2 * units));
      if (hit != wanted.end()) found.push_back({off, static_cast<uint32_t>(e), hit->second});
    }
  }
  return found;
}

}  // namespace quor_test
