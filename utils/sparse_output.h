#pragma once
// Content written to an output stream as bytes and runs of zeros. When the
// stream is a regular file written at its end, a run of zeros is left as a
// hole (a seek past it, its last byte written), so a copy of sparse data
// takes the disk space of its data only; anywhere else (a pipe, a string,
// the console, a device, a file written in its middle or appended to) the
// zeros are written. The MD5 of the whole content, zeros included, can be
// taken on the way: a digest cannot skip a run of zeros, so that part costs
// time, not disk.
#include <iosfwd>

#include "utils/md5.h"
#include "utils/types.h"

class sparse_output {
 public:
  // `md5` (initialised by the caller) takes every byte; null: no digest.
  sparse_output(std::ostream& out, md5_context* md5);

  bool write(const byte* data, uint32 length);
  bool zeros(ulong64 length);
  // Leaves a last hole, flushes, and, in a file with holes, checks that
  // every byte landed where it belongs; false when not, or when the stream
  // failed. The content, and its digest, are whole only after it.
  bool finish();

 private:
  std::ostream& m_out;
  md5_context* m_md5;
  bool m_holes = false;   // holes are left by seeking
  long long m_start = 0;  // the stream's position at the start
  ulong64 m_written = 0;  // bytes of content so far, holes included
  ulong64 m_pending = 0;  // zeros of a hole not yet left in the file

  bool leave_hole();
  void hash_zeros(ulong64 length);
};
