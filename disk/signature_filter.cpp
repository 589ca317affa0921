// Selecting files by signature.
//
// How the tests combine: a file is selected when some signature has all of
// its applicable tests passing. A signature's attribute tests (extension,
// size range, time) always apply. Its content tests (region, block, tail)
// apply only as their own conditions say (a pattern given, lengths in range,
// a file large enough). A signature without patterns selects on its
// attributes alone; a signature with patterns also needs at least one of
// its content tests to apply, so that a file too small for any of them (an
// empty file, say) is not taken for a match it was never searched for.
// Signatures are tried in order; the first that selects a file ends its
// examination.
#include "disk/signature_filter.h"

#include "disk/file_info.h"
#include "utils/buffer_scan.h"
#include "utils/file_handle.h"

namespace {

// Every read goes into one buffer of this size, reused for all files.
const uint32 piece_bytes = 16384;
const uint32 block_step = 512;
const uint32 max_block_length = 511;
const uint32 max_tail_length = 16383;

enum test_outcome { not_applicable, hit, miss };

// The file under examination, opened on the first content test that needs it.
class examined_file {
 public:
  explicit examined_file(const std::string& path) : m_path(path) {}
  uni::file_handle* handle() {
    if (!m_tried) {
      m_tried = true;
      m_handle.open(m_path, false);
    }
    return m_handle.is_open() ? &m_handle : nullptr;
  }

 private:
  const std::string& m_path;
  uni::file_handle m_handle;
  bool m_tried = false;
};

bool attributes_pass(const file_signature& sig, const file_info_w& facts) {
  if (!sig.ext.empty() && facts.ext != sig.ext) return false;
  if (facts.size < sig.min_size || facts.size > sig.max_size) return false;
  return !(facts.created < sig.time_threshold && facts.altered < sig.time_threshold);
}

bool find_in(const byte* data, uint32 length, const std::vector<byte>& pattern) {
  ulong64 at = 0;
  return find_pattern(data, length, pattern, at, 0);
}

test_outcome region_test(const file_signature& sig, uint64 size, uni::file_handle& file, byte* buf) {
  if (sig.region_pattern.empty() || sig.region_end == 0 || size <= sig.region_start) return not_applicable;
  // Pieces overlap by one byte less than the pattern, so a pattern lying
  // across two pieces is still found.
  const uint32 overlap =
      sig.region_pattern.size() < piece_bytes ? static_cast<uint32>(sig.region_pattern.size() - 1) : 0;
  ulong64 at = sig.region_start;
  const ulong64 end = sig.region_end;
  while (at < end) {
    const uint32 want = end - at < piece_bytes ? static_cast<uint32>(end - at) : piece_bytes;
    uint32 got = want;
    if (!file.read_at(buf, got, at) || got == 0) return miss;
    if (find_in(buf, got, sig.region_pattern)) return hit;
    if (got < want || at + got >= end) return miss;
    at += got - overlap;
  }
  return miss;
}

test_outcome block_test(const file_signature& sig, uint64 size, uni::file_handle& file, byte* buf) {
  if (sig.block_pattern.empty() || sig.block_length == 0 || sig.block_length > max_block_length || size == 0)
    return not_applicable;
  // A piece holds whole blocks, and a block's searched bytes never cross
  // into the next block, so each block is searched exactly as if read alone.
  for (ulong64 at = 0; at < size; at += piece_bytes) {
    uint32 got = size - at < piece_bytes ? static_cast<uint32>(size - at) : piece_bytes;
    if (!file.read_at(buf, got, at) || got == 0) return miss;
    for (uint32 b = 0; b < got; b += block_step) {
      const uint32 n = got - b < sig.block_length ? got - b : sig.block_length;
      if (find_in(buf + b, n, sig.block_pattern)) return hit;
    }
    if (got < piece_bytes) break;
  }
  return miss;
}

test_outcome tail_test(const file_signature& sig, uint64 size, uni::file_handle& file, byte* buf) {
  if (sig.tail_pattern.empty() || sig.tail_length == 0 || sig.tail_length > max_tail_length) return not_applicable;
  const ulong64 start = size > sig.tail_length ? size - sig.tail_length : 0;
  uint32 got = static_cast<uint32>(size - start);
  if (got == 0 || !file.read_at(buf, got, start)) return miss;
  return find_in(buf, got, sig.tail_pattern) ? hit : miss;
}

bool signature_selects(const file_signature& sig, const file_info_w& facts, examined_file& file, byte* buf) {
  if (!attributes_pass(sig, facts)) return false;
  if (sig.region_pattern.empty() && sig.block_pattern.empty() && sig.tail_pattern.empty()) return true;
  uni::file_handle* handle = file.handle();
  if (!handle) return false;
  bool searched = false;
  for (auto test : {region_test, block_test, tail_test}) {
    const test_outcome outcome = test(sig, facts.size, *handle, buf);
    if (outcome == miss) return false;
    if (outcome == hit) searched = true;
  }
  return searched;
}

}  // namespace

bool filter_files_by_signature(std::vector<std::string>& paths, const std::vector<file_signature>& signatures) {
  if (paths.empty()) return false;
  if (signatures.empty()) return true;
  std::vector<byte> buffer(piece_bytes);
  std::vector<std::string> kept;
  file_info_w facts;
  for (std::string& path : paths) {
    if (!get_file_info_w(path.c_str(), facts)) continue;
    examined_file file(path);
    for (const file_signature& sig : signatures) {
      if (signature_selects(sig, facts, file, buffer.data())) {
        kept.push_back(std::move(path));
        break;
      }
    }
  }
  paths.swap(kept);
  return !paths.empty();
}
