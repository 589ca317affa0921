#pragma once
// Helpers of the examination tests: a kit volume opened for one test, the
// records of a path, files read whole, icat's output.
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "examine/entry_records.h"
#include "ntfs/ntfs.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"

namespace examine_test {

struct volume {
  std::string image;
  std::unique_ptr<CNtfs> engine;
  CNtfs* ntfs;
  explicit volume(const std::string& name)
      : image(quor_test::fixture(name)), engine(quor_test::open_engine_at(image)), ntfs(engine.get()) {}

  ulong64 entry_of(const std::string& path) {
    std::string resolved;
    ulong64 entry = 0;
    return ntfs && ntfs->get_inode_from_path(path, resolved, entry, false) ? entry : ~0ULL;
  }
  // The record of `type` named `name` of the entry, or null.
  const entry_record* find(std::vector<entry_record>& records, ulong64 entry, uint32 type, const std::string& name) {
    if (!collect_entry_records(ntfs, entry, records)) return nullptr;
    for (const entry_record& r : records)
      if (r.item.header.type == type && r.name == name) return &r;
    return nullptr;
  }
};

inline bool icat(const std::string& image, const std::string& address, std::string& out) {
  return quor_test::run_command("icat " + image + " " + address, out) == 0;
}


}  // namespace examine_test
