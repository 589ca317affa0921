#include "app/work_loop.h"

#include <cstdio>
#include <set>
#include <vector>

#include "app/entry_fields.h"
#include "app/entry_output.h"
#include "app/gather_entries.h"
#include "ntfs/index_node.h"
#include "utils/status_line.h"

namespace {

const size_t kStatusWidth = 50;
// Valid subdirectories of the current directory go to the map; slack
// entries are never followed, and a directory already written is not
// queued again.
void queue_children(dir_work_map& work, const inode_indx_mmap& entries, const dir_work_item& item,
                    const std::set<ulong64>& done) {
  for (const auto& kv : entries) {
    const INDX_ENTRY_INFO& e = kv.second;
    if (e.valid == 0 || e.is_dir == 0) continue;
    const ulong64 child = entry_fields::entry_number(e);
    if (child == item.entry || done.count(child) != 0) continue;
    std::string path = item.path;
    if (e.name != ".") path += e.name + "\\";
    add_dir_work_item(work, path, item.level + 1, child);
  }
}

}  // namespace

void add_dir_work_item(dir_work_map& work, const std::string& path, ulong64 level, ulong64 entry) {
  auto it = work.find(entry);
  if (it == work.end()) {
    dir_work_item item;
    item.path = path;
    item.level = level;
    item.entry = entry;
    work.emplace(entry, item);
  } else if (it->second.path.size() < path.size()) {
    it->second.path = path;
  }
}

std::string dir_status_text(const std::string& path) {
  std::string shown;
  if (path.size() <= kStatusWidth) {
    shown = path;
  } else {
    const size_t cut = path.rfind('\\', path.size() - 2);
    if (cut != std::string::npos)
      shown = "...\\" + path.substr(cut + 1, kStatusWidth);
    else
      shown = path.substr(0, kStatusWidth);
  }
  std::string text = "parsing: " + shown;
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (c != '%') clean += c;
  return clean;
}

int run_dir_work_loop(dir_work_map& work, user_ctx& ctx) {
  std::vector<byte> root_buffer;
  std::vector<byte> alloc_buffer;
  inode_indx_mmap all_entries;
  string_indx_map nodup_entries;
  std::set<ulong64> done;
  // The depth limit compared as unsigned: a negative -level means none.
  const ulong64 limit = static_cast<ulong64>(static_cast<long64>(ctx.level));

  while (!work.empty()) {
    root_buffer.clear();
    alloc_buffer.clear();
    all_entries.clear();
    nodup_entries.clear();

    const dir_work_item item = work.begin()->second;
    work.erase(work.begin());
    done.insert(item.entry);
    ctx.path = item.path;
    print_status("%s", dir_status_text(item.path).c_str());

    bool gathered = false;
    try {
      gathered = collect_dir_entries(alloc_buffer, root_buffer, all_entries, nodup_entries, ctx,
                                     item.entry);
    } catch (...) {
      std::fflush(stdout);
      std::printf("exception caught\n");
      gathered = true;
    }
    if (!gathered) continue;

    if (item.level < limit) queue_children(work, all_entries, item, done);
    write_dir_entries(all_entries, nodup_entries, ctx);
  }
  print_status(" ");
  std::printf("\n");
  return 0;
}
