#include "app/work_loop.h"

#include <cstdio>
#include <set>
#include <vector>

#include "app/entry_fields.h"
#include "app/entry_output.h"
#include "app/dir_listing.h"
#include "app/gather_entries.h"
#include "app/standard_output.h"
#include "ntfs/index_node.h"
#include "utils/status_line.h"

namespace {

const size_t kStatusWidth = 50;
// Valid subdirectories of the current directory go to the map; slack
// entries are never followed, and a directory already written is not
// queued again.
void queue_children(dir_work_map& work, const dir_listing& listing, const dir_work_item& item,
                    const std::set<ulong64>& done) {
  INDX_ENTRY_INFO scratch;
  for (size_t i = 0; i < listing.row_count(); ++i) {
    const INDX_ENTRY_INFO& e = listing.row(i, scratch);
    if (e.valid == 0 || e.is_dir == 0) continue;
    const ulong64 child = entry_fields::entry_number(e);
    if (child == item.entry || done.count(child) != 0) continue;
    std::string path = item.path;
    if (e.name != ".") path += e.name + "\\";
    add_dir_work_item(work, path, item.level + 1, child);
  }
}

// An exception cut the gathering short: what it gathered by then is still
// the directory's, merged, followed and written like a whole listing. When
// the merge runs out again, the rows it filed so far stand.
void keep_gathered(dir_listing& listing, ulong64 mft_entry_count) {
  try {
    listing.merge_gathered(mft_entry_count);
  } catch (...) {
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
  std::vector<byte> buffer;
  dir_listing listing;
  std::set<ulong64> done;
  status_pacer pacer;
  const bool keep_carved = writes_carved(ctx);
  // The depth limit compared as unsigned: a negative -level means none.
  const ulong64 limit = static_cast<ulong64>(static_cast<long64>(ctx.level));
  // Whether an exception cut a gathering short: the other directories are
  // still worth their rows, but the run must not pass for a whole one.
  bool lost = false;

  while (!work.empty()) {
    const dir_work_item item = work.begin()->second;
    work.erase(work.begin());
    done.insert(item.entry);
    ctx.path = item.path;
    // The status is shown now and then, and cleared before the entries are
    // written below it.
    const bool shown = pacer.due();
    if (shown) print_status("%s", dir_status_text(item.path).c_str());

    bool gathered = false;
    try {
      gathered = gather_dir_listing(listing, buffer, ctx, item.entry, keep_carved) &&
                 listing.merge(ctx.mft_entry_count) &&
                 listing.row_count() != 0;
    } catch (...) {
      std::fflush(stdout);
      std::printf("exception caught\n");
      keep_gathered(listing, ctx.mft_entry_count);
      gathered = true;
      lost = true;
    }
    if (!gathered) continue;

    if (item.level < limit) queue_children(work, listing, item, done);
    if (shown) print_status(" ");
    write_dir_listing(listing, ctx);
    // What standard output no longer takes is lost: the rest of the work
    // would be too.
    if (standard_output_failed()) return -1;
  }
  print_status(" ");
  std::printf("\n");
  if (lost) {
    std::fflush(stdout);
    std::fputs("exception caught: listing incomplete, aborting\n", stderr);
    return -1;
  }
  return 0;
}
