#pragma once
// The live names The Sleuth Kit's `fls -r -p` lists in each folder of an
// image, keyed by the folder's MFT entry number: the oracle of the tests that
// gather or write a folder's entries.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "utils/types.h"

namespace quor_test {

// Every live name by the entry number of its folder (the root is 5), and the
// folders' entry numbers by path ("" for the root). A name counts as live
// unless fls marks it "*": on 64 KiB clusters fls takes records of a live
// index for unused ones and gives their names the type '-'. A named stream
// stands for its file; fls's own orphan folder is left out. False when fls
// fails or lists a name in a folder it does not list.
inline bool fls_folders(const std::string& image, std::map<ulong64, std::set<std::string>>& names,
                        std::map<std::string, ulong64>& folders) {
  std::string text;
  if (run_command("fls -r -p '" + image + "'", text) != 0) return false;
  struct line_of_fls {
    char kind;
    ulong64 inode;
    std::string path;
  };
  std::vector<line_of_fls> lines;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const size_t tab = line.find(":\t");
    if (line.size() < 6 || tab == std::string::npos || line.compare(4, 2, "* ") == 0) continue;
    const std::string path = line.substr(tab + 2, line.find('\t', tab + 2) - tab - 2);
    lines.push_back({line[2], std::stoull(line.substr(4)), path.substr(0, path.find(':'))});
  }
  folders[""] = 5;
  for (const line_of_fls& f : lines)
    if (f.kind == 'd') folders[f.path] = f.inode;
  for (const line_of_fls& f : lines) {
    if (f.kind == 'V') continue;
    const size_t slash = f.path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : f.path.substr(0, slash);
    if (!folders.count(folder)) return false;
    names[folders[folder]].insert(f.path.substr(slash == std::string::npos ? 0 : slash + 1));
  }
  return !lines.empty();
}

}  // namespace quor_test
