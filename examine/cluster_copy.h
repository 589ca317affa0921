#pragma once
// Copies of a range of clusters of a volume (on a physical drive, in an
// image or device, or in a VMDK chain) into a file, cluster by cluster, with
// an optional log that describes the volume and says of each cluster whether
// it was copied. Each cluster keeps its place in the copy: a cluster that
// cannot be read leaves a hole of one whole cluster, and one read short
// leaves a hole for its missing tail.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "utils/types.h"

// False when no volume could be opened, the copy cannot be created or its
// buffer cannot be had, or the copy or its log would be a file the volume
// is read from (by any name: that file is left untouched); then no log is
// left that this call made. False too when the copy stops taking the data
// part way (a full disk, a FIFO whose reader went): the copy ends there,
// the log calls that cluster failed, and "write failed: <path>" goes to
// standard error, as it does for a log that could not be written whole.
// Otherwise true once every cluster was tried, read or not. An empty log
// path writes no log.
bool copy_drive_clusters_w(uint32 drive_number, ulong64 volume_offset, ulong64 first_lcn, ulong64 count,
                           const std::wstring& out_path, const std::wstring& log_path);
bool copy_drive_clusters(uint32 drive_number, ulong64 volume_offset, ulong64 first_lcn, ulong64 count,
                         const std::string& out_path, const std::string& log_path);
bool copy_image_clusters_w(const std::vector<std::wstring>& vmdk_files, const std::wstring& image,
                           ulong64 volume_offset, ulong64 first_lcn, ulong64 count, const std::wstring& out_path,
                           const std::wstring& log_path);
bool copy_image_clusters(const std::vector<std::string>& vmdk_files, const std::string& image, ulong64 volume_offset,
                         ulong64 first_lcn, ulong64 count, const std::string& out_path, const std::string& log_path);

// Reads one cluster into the buffer; `length` (the cluster size on entry)
// becomes the bytes read. False when nothing could be read.
typedef std::function<bool(ulong64 lcn, byte* buffer, uint32& length)> cluster_reader;

// What the log's header says of the volume.
struct cluster_copy_volume {
  std::string source;  // the drive number or the image path
  ulong64 volume_offset = 0;
  ulong64 partition_start = 0;
  uint32 bytes_per_sector = 0;
  uint32 cluster_size = 0;
};

// The copy loop over any reader; `log` may be null. A cluster is logged as
// copied only once `out` took it. False when the cluster buffer cannot be
// had, or when `out` fails: the copy stops at that cluster.
bool copy_cluster_range(const cluster_reader& read, const cluster_copy_volume& volume, ulong64 first_lcn,
                        ulong64 count, std::ostream& out, std::ostream* log);
