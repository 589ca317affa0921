#include "examine/walk_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iomanip>
#include <set>
#include <sstream>
#include <string>

#include "app/evidence_guard.h"
#include "app/walk_services.h"
#include "disk/fs_ops.h"
#include "examine/walk_entry_report.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "time/text_forms.h"
#include "utils/byte_order.h"
#include "utils/descriptor_stream.h"
#include "utils/file_handle.h"
#include "utils/file_streams.h"
#include "utils/output_file.h"
#include "utils/output_folder.h"
#include "utils/unique_output.h"
#include "utils/hex_text.h"
#include "utils/utf_convert.h"

namespace {

// The longest file-name part (UTF-8 bytes) a copy's name keeps, so that the
// stamp, the digest and it stay inside the 255 bytes a file name may have.
const size_t MAX_NAME_PART_BYTES = 190;

// Characters that must not reach the copy's file name as they are: the
// blank and the comma (kept out of CSV reports), separators and control
// characters (a name from the evidence must not lead out of the copy
// directory, nor cut the path short).
wchar_t cleaned(wchar_t c) {
  if (c == L' ' || c == L',' || c == L'/' || c == L'\\' || c < 0x20) return L'_';
  return c;
}

std::wstring clean_name_part(const std::wstring& part) {
  std::wstring out;
  out.reserve(part.size());
  for (wchar_t c : part) out.push_back(cleaned(c));
  while (!out.empty() && wstring_to_utf8(out).size() > MAX_NAME_PART_BYTES) out.pop_back();
  return out;
}

// The copy folder by the descriptor held since it was made, so that a link
// switched in its path meanwhile cannot lead the copies elsewhere.
std::wstring copy_folder_held(const user_ctx& ctx) {
  if (ctx.copy_dir_fd < 0) return ctx.copy_dir;
  std::string path;
  uni::path_to_utf8(path, ctx.copy_dir);
  return utf8_to_wstring(uni::held_folder_name(ctx.copy_dir_fd, path));
}

// True, after the refusal naming `shown`, when the name `target` itself (a
// link there, not what it leads to) is one of `sources`: a copy renamed onto
// it would take the evidence's name away, and one found there is no copy.
bool name_is_source(const std::wstring& target, const std::wstring& shown, const uni::file_identities& sources) {
  std::string name;
  return uni::path_to_utf8(name, target) && uni::names_source(name, sources, wstring_to_utf8(shown));
}

// The most names a copy's temporary tries before the copy is given up.
const unsigned MAX_TEMPORARY_TRIES = 100;

// A new file in the copy directory under a name of its own, made
// exclusively: what is already there, a temporary an interrupted walk left
// or a link planted to send the data elsewhere, is passed over and left as
// it is. The process id keeps two walks into one folder apart. When every
// name tried is taken the copy is given up, as any copy that cannot be made
// is: the report shows no copy.
bool create_copy_temporary(const std::wstring& dir, const uni::file_identities& sources, int& fd,
                           std::wstring& temp) {
  static unsigned serial = 0;
  const std::wstring stem = dir + L"/__temp__" + std::to_wstring(static_cast<long>(::getpid())) + L"_";
  const std::function<std::string()> next_name = [&] {
    temp = stem + std::to_wstring(++serial) + L".bin";
    std::string name;
    uni::path_to_utf8(name, temp);
    return name;
  };
  std::string made;
  if (uni::create_unique_output(fd, next_name, sources, MAX_TEMPORARY_TRIES, made)) return true;
  temp.clear();
  return false;
}

// True when the name `path` leads to the copy `made`, whole there.
bool holds_copy(const std::wstring& path, const uni::closed_file& made) {
  std::string name;
  return uni::path_to_utf8(name, path) && uni::names_whole(name, made);
}

bool stream_choice_takes(const user_ctx& ctx, const attribute_record& attr) {
  if (ctx.all_streams) return true;
  if (ctx.named_streams) return !attr.name.empty();
  if (ctx.unnamed_stream) return attr.name.empty() && attr.label == "unnamed data";
  return false;
}

}  // namespace

std::ostream& write_hex_bytes(std::ostream& out, const byte* data, unsigned count) {
  out << std::hex << std::setfill('0');
  if (data == nullptr || count == 0) return out;
  for (unsigned i = 0; i < count; ++i) out << std::setw(2) << static_cast<unsigned>(data[i]) << " ";
  return out;
}

bool extract_stream_copy(const inode_attributes& rec, user_ctx& ctx, const si_record* si,
                         const attribute_record* attr) {
  if (si == nullptr || attr == nullptr || attr->raw.empty() || walk_stored_size(*attr) == 0) return false;
  if (make_copy_folder(ctx) != 0) return false;
  const uni::file_identities sources = open_source_ids(ctx);
  const std::wstring folder = copy_folder_held(ctx);
  int fd = -1;
  std::wstring temp;
  if (!create_copy_temporary(folder, sources, fd, temp)) return false;

  // Written through the temporary's one handle, and whole in it as the
  // system answers, or closed to be removed.
  uni::closed_file made;
  bool done = false;
  {
    uni::descriptor_ostream file(fd);
    done = uni::close_whole(file, copy_file_data(file, rec, ctx, attr), true, made);
  }
  if (!done) {
    // A partial copy must not pass for the data under a digest-bearing name.
    remove_file_w(temp);
    ctx.copy_dest.clear();
    return false;
  }

  std::wostringstream name;
  zq::write_underscore_stamp(name, load_u64(si->data + 8), true);
  std::string digest;
  bytes_to_hex(digest, ctx.copy_digest, 16);
  name << L"_" << utf8_to_wstring(digest) << L"_";
  std::wstring part = ctx.copy_dest;
  if (!attr->name.empty()) part += L"." + attr->name;
  if (!attr->label.empty()) part += L"_" + utf8_to_wstring(attr->label);
  name << clean_name_part(part) << L".bin";

  // The report names the copy by the folder's path as given.
  ctx.copy_dest = ctx.copy_dir + L"/" + name.str();
  const std::wstring target = folder + L"/" + name.str();
  // The name holds the time and the digest: a file already under it is a
  // copy of the same data made before, and stays as it was.
  const uni::rename_result renamed = name_is_source(target, ctx.copy_dest, sources)
                                         ? uni::rename_result::failed
                                         : uni::rename_output(temp, target);
  if (renamed == uni::rename_result::renamed) {
    if (holds_copy(target, made)) return true;
    // Named but not whole there: the name, which was free, is taken back.
    remove_file_w(target);
  } else {
    remove_file_w(temp);
    // A copy made before is one only when it is whole.
    if (renamed == uni::rename_result::taken && holds_copy(target, made)) return true;
  }
  ctx.copy_dest.clear();
  return false;
}

void report_entry_streams(const inode_attributes& rec, std::ostream& out, user_ctx& ctx) {
  ctx.clear_copy_result();
  const si_record* si = rec.si_records.empty() ? nullptr : &rec.si_records.begin()->second;
  if (rec.parents.empty()) {
    write_entry_report(rec, out, ctx, nullptr, nullptr, false);
    return;
  }
  std::set<ulong64> copied;
  for (const auto& pkv : rec.parents) {
    const parent_record& parent = pkv.second;
    if (rec.attributes.empty() || ctx.omit_clusterinfo) {
      if (ctx.copy_files && si != nullptr) {
        for (const auto& akv : rec.attributes) {
          ctx.clear_copy_result();
          const attribute_record& attr = akv.second;
          if (!ctx.unnamed_stream || !attr.name.empty() || attr.label != "unnamed data") continue;
          ctx.copy_dest = parent.name;
          copied.insert(akv.first);
          if (extract_stream_copy(rec, ctx, si, &attr)) break;
          ctx.copy_dest.clear();
        }
      }
      write_entry_report(rec, out, ctx, &parent, nullptr, true);
      continue;
    }
    for (const auto& akv : rec.attributes) {
      ctx.clear_copy_result();
      const attribute_record& attr = akv.second;
      if (ctx.copy_files && si != nullptr && copied.count(akv.first) == 0 && stream_choice_takes(ctx, attr)) {
        ctx.copy_dest = parent.name;
        copied.insert(akv.first);
        if (!extract_stream_copy(rec, ctx, si, &attr)) ctx.copy_dest.clear();
      }
      write_entry_report(rec, out, ctx, &parent, &attr, false);
    }
  }
}
