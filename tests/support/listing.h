#pragma once
// Parsers for the files the fixture kit writes beside each image (see
// tests/fixtures/README.md): the listing of live names, the names that left
// an index, and the pattern writes that fix each file's data.
#include <cstdint>
#include <string>
#include <vector>

namespace quor_test {

struct listing_entry {
  uint64_t inode = 0;
  uint64_t sequence = 0;  // 0 when the listing gives "-" (not known)
  char kind = 'f';        // 'd' folder, 'f' file
  uint64_t size = 0;      // 0 for folders
  std::string path;       // from the root, '/' separators, UTF-8
};

struct deleted_entry {
  uint64_t inode = 0;
  std::string path;  // the path the name had when it left its index
  bool renamed = false;
};

struct content_range {
  std::string path;
  uint32_t seed = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Each reads tests/fixtures/<image>.<kind>; `image` may be given with or
// without ".img" ("default" or "default.img"). The result is empty when the
// file is missing or any line is malformed, so a damaged kit cannot pass for
// a short one.
std::vector<listing_entry> read_listing(const std::string& image);
std::vector<deleted_entry> read_deleted(const std::string& image);
std::vector<content_range> read_content(const std::string& image);
// <image>.slack: the removed names whose index key (parent reference, times,
// sizes, name) survives whole in the slack of one of their folder's index
// records, in the form of .deleted except that `inode` is 0 where later
// writes lie over the entry's header. A slack carver must find these.
std::vector<deleted_entry> read_slack(const std::string& image);

// One line of each file (without its newline); false when malformed.
bool parse_listing_line(const std::string& line, listing_entry& e);
bool parse_deleted_line(const std::string& line, deleted_entry& e);
bool parse_content_line(const std::string& line, content_range& r);

// The kit's data pattern: the byte at file offset o is (o*7 + seed) % 251.
uint8_t pattern_byte(uint64_t offset, uint32_t seed);

// The whole data a file of the image must read as: its listed size, zeros
// except where its pattern ranges lie. False when the path is not a file of
// the listing or has no pattern ranges.
bool expected_file_data(const std::string& image, const std::string& path, std::string& out);

// One line of The Sleuth Kit's `fls -r -p [-l]` listing:
// "r/r [* ]29-128-2:<TAB>dir/name[:stream][<TAB>...]".
struct fls_line {
  char kind = 'r';        // 'r' file, 'd' folder, other letters as fls gives
  bool deleted = false;   // the name no longer belongs to a live entry
  uint64_t inode = 0;
  uint32_t attribute = 0;  // the attribute type after the entry, 0 when not given
  std::string path;        // as listed: no leading '/', a named stream after ':'
};

// Every line of an fls listing file (a path of its own, or a name of the
// fixture folder); empty when the file is missing.
std::vector<fls_line> read_fls(const std::string& file);

}  // namespace quor_test
