#include "app/source_open.h"

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "app/cmdline_parser.h"
#include "utils/file_handle.h"
#include "utils/output_reach.h"

namespace {

// The engine is validated by the factory; initialise only reports that and
// hands back the $MFT position.
bool adopt_engine(user_ctx& ctx) {
  if (ctx.ntfs == nullptr || !ctx.ntfs->initialise(ctx.mft_pos)) return false;
  ctx.is_open = true;
  ctx.mft_entry_count = ctx.ntfs->get_inode_count();
  return true;
}

std::wstring describe_vmdk_chain(const std::vector<std::wstring>& files) {
  std::wstring desc = L"vmdk file";
  if (files.size() >= 2) desc += L"s";
  desc += L": ";
  for (size_t i = 0; i < files.size(); ++i) {
    if (i != 0) desc += L"; ";
    desc += L"'" + files[i] + L"'";
  }
  return desc;
}

}  // namespace

bool initialize_mft(user_ctx& ctx) {
  if (ctx.is_open) return true;

  if (!ctx.mftfile.empty()) {
    if (ctx.mft_reader == nullptr) {
      ctx.mft_reader = new uni::file_handle(ctx.mftfile, false, false);
      if (!ctx.mft_reader->is_open()) {
        delete ctx.mft_reader;
        ctx.mft_reader = nullptr;
        return false;
      }
    }
    ctx.source_desc = ctx.mftfile;
    ctx.is_open = true;
    // The file holds records of the size record 0 gives (1 KiB or 4 KiB).
    std::vector<byte> record0;
    ctx.read_mft_entry(record0, 0);
    const long64 size = ctx.mft_reader->current_size();
    ctx.mft_entry_count = size > 0 ? static_cast<ulong64>(size) / ctx.record_size : 0;
    return true;
  }

  if (ctx.ntfs != nullptr) {
    if (adopt_engine(ctx)) return true;
    // A factory below would overwrite the pointer; an engine we own and
    // cannot use must not leak.
    if (ctx.owns_ntfs) delete ctx.ntfs;
    ctx.ntfs = nullptr;
  }

  if (ctx.vmdk_files.empty()) {
    if (ctx.drivenum == -1) {
      if (!ctx.resolved_image.empty()) {
        ctx.source_desc = ctx.resolved_image;
        open_ntfs_image(ctx.resolved_image, ctx.volume_offset, ctx.ntfs, false, false);
      } else if (!ctx.image.empty()) {
        ctx.source_desc = ctx.image;
        open_ntfs_image(ctx.image, ctx.volume_offset, ctx.ntfs, false, false);
      } else if (!ctx.partition.empty()) {
        ctx.source_desc = L"partition: " + ctx.partition;
        open_ntfs_by_drive_letter(ctx.partition, ctx.ntfs, false, false);
      }
    } else {
      ctx.source_desc = L"physical drive: " + std::to_wstring(ctx.drivenum);
      open_ntfs_by_drive_number(static_cast<uint32>(ctx.drivenum), ctx.volume_offset, ctx.ntfs,
                                false, false);
    }
  } else {
    ctx.source_desc = describe_vmdk_chain(ctx.vmdk_files);
    open_ntfs_vmdk_chain(ctx.vmdk_files, ctx.volume_offset, ctx.ntfs, false);
  }

  if (!adopt_engine(ctx)) return ctx.is_open;
  return true;
}

bool reopen_source(int argc, char** argv, reopened_source& held, uni::file_identities& out) {
  source_reading reading = source_reading::not_a_disk;
  try {
    const std::vector<std::string> files = cmdline_source_files(argc, argv, &reading);
    if (reading == source_reading::not_a_disk) return true;
    for (const std::string& file : files) {
      uni::held_descriptor fd(uni::open_source_descriptor(file, false, true));
      if (fd.fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) return false;
      if (fd.fd < 0 || reading != source_reading::disk) continue;
      held.disk.reset(new disk_handle(fd.fd, file));
      fd.release();
    }
    if (reading == source_reading::vmdk_chain) held.disk.reset(new disk_handle(files, false, false));
    if (!held.disk || !held.disk->m_is_open) return true;
    std::vector<std::unique_ptr<CNtfs>> found;
    open_ntfs_disk_volumes(*held.disk, ~0ULL, found, true);
    if (!found.empty()) held.volume = std::move(found.front());
    if (held.volume != nullptr) held.volume->source_identities(out);
    else held.disk->source_identities(out);
    return true;
  } catch (const std::bad_alloc&) {
    held.volume.reset();
    held.disk.reset();
    return false;
  }
}
