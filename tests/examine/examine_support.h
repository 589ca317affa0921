#pragma once
// Helpers of the examination tests: a kit volume opened for one test, the
// records of a path, files read whole, icat's output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "examine/entry_records.h"
#include "ntfs/ntfs.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"

namespace examine_test {

// The record of `type` named `name` of the entry, read through `engine`, or null.
inline const entry_record* find_record(CNtfs* engine, std::vector<entry_record>& records, ulong64 entry, uint32 type,
                                       const std::string& name = "") {
  if (!engine || !collect_entry_records(engine, entry, records)) return nullptr;
  for (const entry_record& r : records)
    if (r.item.header.type == type && r.name == name) return &r;
  return nullptr;
}

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
    return find_record(ntfs, records, entry, type, name);
  }
};

inline bool icat(const std::string& image, const std::string& address, std::string& out) {
  return quor_test::run_command("icat " + image + " " + address, out) == 0;
}

// The first 32 characters md5sum prints for icat's bytes of `address`.
inline std::string icat_md5(const std::string& image, const std::string& address) {
  std::string sum;
  quor_test::run_command("icat " + image + " " + address + " | md5sum", sum);
  return sum.substr(0, 32);
}

// Where the 1 KiB record of `entry` lies in a kit image, whose $MFT is one run.
inline ulong64 record_position(CNtfs* ntfs, ulong64 entry) {
  return ntfs->get_mft_lcn() * ntfs->m_cluster_size + entry * 1024;
}

// A copy of default.img, named `as`, whose /sparse.bin claims `before`
// clusters of hole, its first two clusters of data, then `after` clusters
// of hole; "" when it cannot be made. `entry` takes the file's entry.
inline std::string holed_copy(const std::string& as, ulong64 before, ulong64 after, ulong64& entry) {
  volume v("default.img");
  entry = v.entry_of("/sparse.bin");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, entry, 0x80, "");
  if (!rec) return "";
  ulong64 lcn = 0;
  for (const data_run& r : rec->runs)
    if (!r.sparse && r.num_clusters >= 2 && lcn == 0) lcn = r.lcn;
  const std::string copy = quor_test::copy_fixture("default.img", as);
  std::vector<std::pair<ulong64, ulong64>> runs;
  if (before) runs.push_back({before, quor_test::SPARSE_RUN});
  runs.push_back({2, lcn});
  if (after) runs.push_back({after, quor_test::SPARSE_RUN});
  const ulong64 size = (before + 2 + after) * v.ntfs->m_cluster_size;
  if (lcn == 0 || copy.empty() || !quor_test::rewrite_mft_runs(copy, record_position(v.ntfs, entry), runs, size))
    return "";
  return copy;
}

// A node in the scratch folder for the memory device `minor` (3 the null
// device, 5 the zero device); "" when it cannot be made.
inline std::string memory_device(const std::string& name, unsigned minor) {
  const std::string node = quor_test::scratch_dir() + "/" + name;
  ::unlink(node.c_str());
  return ::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, minor)) == 0 ? node : "";
}

// Bytes of disk a file takes.
inline ulong64 disk_use(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<ulong64>(st.st_blocks) * 512 : ~0ULL;
}

}  // namespace examine_test
