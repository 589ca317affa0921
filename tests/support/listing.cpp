#include "tests/support/listing.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace quor_test {
namespace {

std::string kit_file(std::string image, const std::string& kind) {
  const std::string img = ".img";
  if (image.size() > img.size() && image.compare(image.size() - img.size(), img.size(), img) == 0)
    image.resize(image.size() - img.size());
  return std::string(QUOR_FIXTURE_DIR) + "/" + image + "." + kind;
}

std::vector<std::string> split_tabs(const std::string& line, size_t max_fields) {
  std::vector<std::string> f;
  size_t start = 0;
  while (f.size() + 1 < max_fields) {
    size_t tab = line.find('\t', start);
    if (tab == std::string::npos) break;
    f.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  f.push_back(line.substr(start));
  return f;
}

bool parse_u64(const std::string& s, uint64_t& v) {
  v = 0;
  if (s.empty() || s.size() > 20) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  return true;
}

// Rooted, no empty component, no trailing separator.
bool well_formed_path(const std::string& p) {
  if (p.size() < 2 || p[0] != '/' || p.back() == '/') return false;
  return p.find("//") == std::string::npos && p.find('\t') == std::string::npos;
}

// Calls `parse` on every line; any false empties the result.
template <typename T, typename F>
std::vector<T> read_lines(const std::string& file, F parse) {
  std::vector<T> out;
  std::ifstream in(file, std::ios::binary);
  if (!in) return out;
  std::string line;
  while (std::getline(in, line)) {
    T row;
    if (!parse(line, row)) return {};
    out.push_back(std::move(row));
  }
  return out;
}

}  // namespace

bool parse_listing_line(const std::string& line, listing_entry& e) {
  e = listing_entry();
  std::vector<std::string> f = split_tabs(line, 5);
  if (f.size() != 5 || !parse_u64(f[0], e.inode) || !parse_u64(f[3], e.size)) return false;
  if (f[1] != "-" && !parse_u64(f[1], e.sequence)) return false;
  if (f[2] != "d" && f[2] != "f") return false;
  if (f[2] == "d" && e.size != 0) return false;
  e.kind = f[2][0];
  e.path = f[4];
  return well_formed_path(e.path);
}

bool parse_deleted_line(const std::string& line, deleted_entry& e) {
  e = deleted_entry();
  std::vector<std::string> f = split_tabs(line, 3);
  if (f.size() != 3 || !parse_u64(f[0], e.inode)) return false;
  if (f[2] != "deleted" && f[2] != "renamed") return false;
  e.renamed = f[2] == "renamed";
  e.path = f[1];
  return well_formed_path(e.path);
}

bool parse_content_line(const std::string& line, content_range& r) {
  r = content_range();
  std::vector<std::string> f = split_tabs(line, 4);
  uint64_t seed = 0;
  if (f.size() != 4 || !parse_u64(f[1], seed) || seed > 250) return false;
  if (!parse_u64(f[2], r.offset) || !parse_u64(f[3], r.length)) return false;
  r.seed = static_cast<uint32_t>(seed);
  r.path = f[0];
  return r.offset <= UINT64_MAX - r.length && well_formed_path(r.path);
}

std::vector<listing_entry> read_listing(const std::string& image) {
  return read_lines<listing_entry>(kit_file(image, "listing"), parse_listing_line);
}

std::vector<deleted_entry> read_deleted(const std::string& image) {
  return read_lines<deleted_entry>(kit_file(image, "deleted"), parse_deleted_line);
}

std::vector<deleted_entry> read_slack(const std::string& image) {
  return read_lines<deleted_entry>(kit_file(image, "slack"), parse_deleted_line);
}

std::vector<content_range> read_content(const std::string& image) {
  return read_lines<content_range>(kit_file(image, "content"), parse_content_line);
}

uint8_t pattern_byte(uint64_t offset, uint32_t seed) {
  return static_cast<uint8_t>(((offset % 251) * 7 + seed) % 251);
}

bool expected_file_data(const std::string& image, const std::string& path, std::string& out) {
  // The kit's files are small; refuse what a 32-bit string cannot hold.
  const uint64_t data_limit = uint64_t(256) << 20;
  out.clear();
  uint64_t size = 0;
  bool found = false;
  for (const listing_entry& e : read_listing(image)) {
    if (e.path == path && e.kind == 'f') {
      size = e.size;
      found = true;
      break;
    }
  }
  if (!found || size > data_limit) return false;
  bool any = false;
  std::string data(static_cast<size_t>(size), '\0');
  for (const content_range& r : read_content(image)) {
    if (r.path != path) continue;
    if (r.offset > size || r.length > size - r.offset) return false;
    for (uint64_t o = r.offset; o < r.offset + r.length; ++o)
      data[static_cast<size_t>(o)] = static_cast<char>(pattern_byte(o, r.seed));
    any = true;
  }
  if (!any) return false;
  out.swap(data);
  return true;
}

std::vector<fls_line> read_fls(const std::string& file) {
  std::vector<fls_line> out;
  std::ifstream in(file.find('/') == std::string::npos ? std::string(QUOR_FIXTURE_DIR) + "/" + file : file);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find(":\t");
    if (line.size() < 5 || tab == std::string::npos) continue;
    fls_line f;
    f.kind = line[2];
    size_t at = 4;
    // fls marks a name whose entry is gone with "*", and with a name type of
    // '-' one that survives only in its index.
    const bool star = line.compare(at, 2, "* ") == 0;
    if (star) at += 2;
    f.deleted = star || line[0] == '-';
    char* end = nullptr;
    f.inode = std::strtoull(line.c_str() + at, &end, 10);
    if (*end == '-') f.attribute = static_cast<uint32_t>(std::strtoul(end + 1, nullptr, 10));
    f.path = line.substr(tab + 2, line.find('\t', tab + 2) - tab - 2);
    out.push_back(f);
  }
  return out;
}

}  // namespace quor_test
